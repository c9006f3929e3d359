"""Addresses of values: `dir/sub/book.parameter.attribute` below a folder, or
`parameter.attribute` in a book file.

Folders are separated by "/"; the book is the part of the last segment before
its first "." (book names have no "." once saved); what follows names a
parameter and an attribute. Since those two may hold "." themselves, the split
between them is the one that names an existing parameter and attribute,
trying the earliest "." first."""
import os

from yolpt import naming
from yolpt.errors import Error, UsageError


class Place:
    """Where an address leads: a book file and what inside it, or a whole folder."""

    def __init__(self, folder, book_file=None, inside=None, directory=None, book=None, last=None):
        self.folder = folder          # the folder that holds the book file
        self.book_file = book_file    # the book file (not yet on disk when it is to be created)
        self.inside = inside          # "parameter.attribute", "parameter", or None for the whole book
        self.directory = directory    # a folder named as a whole, instead of a book
        self.book = book              # the book name still to be looked up in the folder (find_book)
        self.last = last              # the last segment of the address, as written


def aim(path, address, creating=False):
    """The place of `address` as far as its names and the folders tell it,
    without looking at book files: a command that changes the book takes the
    folder's lock before find_book, since a save of the folder renames its
    book files to backups while it runs."""
    if not address:
        raise UsageError("the NAME is empty")
    if not os.path.isdir(path):
        folder = os.path.dirname(path) or os.curdir
        if not os.path.isdir(folder):
            raise Error("%s: no such book file or folder" % path)
        return Place(folder, book_file=path, inside=address)
    segments = address.split("/")
    names_folder = segments[-1] == ""
    if names_folder:
        segments.pop()
    if any(segment in ("", ".", "..") for segment in segments):
        raise UsageError("%r: folder names in an address are non-empty and not '.' or '..'" % address)
    if names_folder:
        return Place(path, directory=os.path.join(path, *segments))
    folder = os.path.join(path, *segments[:-1])
    if not os.path.isdir(folder) and not creating:
        raise Error("%s: no such folder" % folder)
    last = segments[-1]
    book = naming.book_name(last)
    inside = last[len(book) + 1:] if "." in last else None
    return Place(folder, inside=inside, book=book, last=last)


def find_book(place, creating=False):
    """The place with its book file looked up in its folder."""
    if place.directory is not None:
        return place
    if place.book is None:  # PATH is the book file itself
        if not os.path.lexists(place.book_file):
            raise Error("%s: no such book file or folder" % place.book_file)
        return place
    folder, book, inside = place.folder, place.book, place.inside
    found = _book_files(folder, book)
    if len(found) > 1:
        raise Error("%s: the files %s all give the book %r; `yolpt check` tells more"
                        % (folder, ", ".join(found), book))
    if found:
        return Place(folder, book_file=os.path.join(folder, found[0]), inside=inside)
    if inside is None and os.path.isdir(os.path.join(folder, place.last)):
        return Place(folder, directory=os.path.join(folder, place.last))
    book_file = os.path.join(folder, book + "." + naming.extension())
    if os.path.isfile(book_file + "-"):
        raise Error("%s: the book %r exists only as its backup %s (a save did not finish); "
                        "run `yolpt recover --apply` first" % (folder, book, book_file + "-"))
    if not creating:
        raise Error("%s: no book %r (--create makes it)" % (folder, book))
    return Place(folder, book_file=book_file, inside=inside)


def _book_files(folder, book):
    try:
        entries = sorted(os.listdir(folder))
    except FileNotFoundError:
        return []
    return [entry for entry in entries
            if naming.is_book_file_name(entry) and naming.book_name(entry) == book
            and os.path.isfile(os.path.join(folder, entry))]


def split_inside(book, inside, attribute_needed, creating=False):
    """(parameter name, attribute name or None) that `inside` names in `book`."""
    cuts = [index for index, character in enumerate(inside) if character == "."]
    if attribute_needed and not cuts:
        raise UsageError("%r names no attribute: write parameter.attribute" % inside)
    candidates = [(inside[:cut], inside[cut + 1:]) for cut in cuts]
    if not attribute_needed:
        candidates.append((inside, None))
    parameters = [(name, attribute) for name, attribute in candidates if name in book.names()]
    for name, attribute in parameters:
        if attribute is None or attribute in book[name].names():
            return name, attribute
    if creating:
        # A new attribute of the parameter with the longest existing name, else a new parameter.
        return max(parameters, key=lambda pair: len(pair[0])) if parameters else candidates[0]
    if parameters:
        name, attribute = parameters[0]
        raise Error("parameter %r has no attribute %r (--create adds it)" % (name, attribute))
    raise Error("no parameter %r (--create adds it)" % candidates[0][0])
