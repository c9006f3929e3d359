"""Addresses of values: `dir/sub/book.parameter.attribute` below a folder, or
`parameter.attribute` in a book file.

Folders are separated by "/"; the book is the part of the last segment before
its first "." (book names have no "." once saved); what follows names a
parameter and an attribute. Since those two may hold "." themselves, the split
between them is the one that names an existing parameter and attribute,
trying the earliest "." first. An address that ends in "/" names a folder.

A description is not addressed by a name of its own (any name could be an
attribute's): `--description LANG` after an address that names a parameter
reaches its text in the language LANG ("default" for the default text)."""
import os
from typing import Any, List, Optional, Sequence, Tuple

from yol_vovoruze import Parameter, ParameterBook

from yolpt import disk, hints
from yolpt.errors import Error, NotFound, UsageError
from yolpt.hints import Wording


class Place:
    """Where an address leads: a book file and what inside it, or a whole folder."""

    def __init__(self, folder: str, address: str, book_file: Optional[str] = None, inside: Optional[str] = None,
                 directory: Optional[str] = None, book: Optional[str] = None, last: Optional[str] = None) -> None:
        self.folder = folder          # the folder that holds the book file
        self.address = address        # the address as written
        self.book_file = book_file    # the book file (not yet on disk when it is to be created)
        self.inside = inside          # "parameter.attribute", "parameter", or None for the whole book
        self.directory = directory    # a folder named as a whole, instead of a book
        self.book = book              # the book name still to be looked up in the folder (find_book)
        self.last = last              # the last segment of the address, as written

    def file(self) -> str:
        """The book file, once find_book has found it."""
        assert self.book_file is not None
        return self.book_file


def aim(path: str, address: str, creating: bool = False, wording: Wording = hints.READING) -> Place:
    """The place of `address` as far as its names and the folders tell it,
    without looking at book files: a command that changes the book takes the
    folder's lock before find_book, since a save of the folder renames its
    book files to backups while it runs."""
    if not address:
        raise UsageError("the NAME is empty: write dir/book.parameter.attribute below a folder, "
                         "parameter.attribute in a book file")
    if not os.path.isdir(path):
        folder = os.path.dirname(path) or os.curdir
        if not os.path.isdir(folder):
            raise NotFound(no_such_path(path))
        return Place(folder, address, book_file=path, inside=address)
    segments = address.split("/")
    names_folder = segments[-1] == ""
    if names_folder:
        segments.pop()
    if any(segment in ("", ".", "..") for segment in segments):
        raise UsageError("%r: folder names in an address are non-empty and not '.' or '..'" % address)
    if names_folder:
        return Place(path, address, directory=_folders(path, segments, len(segments), False, wording))
    folder = _folders(path, segments, len(segments) - 1, creating, wording)
    last = segments[-1]
    book = disk.book_name(last)
    inside = last[len(book) + 1:] if "." in last else None
    return Place(folder, address, inside=inside, book=book, last=last)


def _folders(path: str, segments: Sequence[str], count: int, creating: bool, wording: Wording) -> str:
    """The folder that the first `count` of the `segments` of an address name
    below `path`: it exists, or is to be created."""
    folder = path
    for index, segment in enumerate(segments[:count]):
        below = os.path.join(folder, segment)
        if os.path.isdir(below):
            folder = below
            continue
        if creating:
            return os.path.join(folder, *segments[index:count])
        if _book_files(folder, segment):
            rest = ".".join(segments[index + 1:]) or "parameter"
            written = "/".join(list(segments[:index]) + [segment + "." + rest])
            raise NotFound("%s: %r is a book, not a folder: the book ends the folders of an address, "
                           "and its parameter follows after a '.', as in %s" % (folder, segment, written))
        if os.path.lexists(below):
            raise NotFound("%s: %r is a file that is not a book, not a folder" % (folder, segment))
        raise NotFound("%s: %s" % (folder, hints.missing("folder", segment, _sub_folders(folder),
                                                          create=wording.create)))
    return folder


def find_book(place: Place, creating: bool = False, wording: Wording = hints.READING) -> Place:
    """The place with its book file looked up in its folder."""
    if place.directory is not None:
        return place
    if place.book is None:  # PATH is the book file itself
        if not os.path.lexists(place.file()):
            raise NotFound(no_such_path(place.file()))
        return place
    folder, book, inside, last = place.folder, place.book, place.inside, place.last or place.book
    found = _book_files(folder, book)
    if len(found) > 1:
        raise Error("%s: the files %s all give the book %r; `yolpt check` tells more"
                    % (folder, ", ".join(found), book))
    if found:
        return Place(folder, place.address, book_file=os.path.join(folder, found[0]), inside=inside, book=book)
    if inside is None and os.path.isdir(os.path.join(folder, last)):
        return Place(folder, place.address, directory=os.path.join(folder, last))
    if os.path.isdir(os.path.join(folder, book)):
        raise NotFound("%s: %r is a folder, not a book: folders are separated by '/', as in %s"
                       % (folder, book, _as_folders(folder, place.address, last)))
    book_file = os.path.join(folder, disk.book_file_name(book))
    if os.path.isfile(disk.backup_name(book_file)):
        raise Error("%s: the book %r exists only as its backup %s (a save did not finish); "
                    "run `yolpt recover --apply` first" % (folder, book, disk.backup_name(book_file)))
    if not creating:
        books = [disk.book_name(entry) for entry in _entries(folder) if _is_book_file(folder, entry)]
        raise NotFound("%s: %s" % (folder, hints.missing("book", book, books, create=wording.create)))
    return Place(folder, place.address, book_file=book_file, inside=inside, book=book)


def _as_folders(folder: str, address: str, last: str) -> str:
    """The address with the "." after each leading folder name of its last segment made a "/"."""
    parts = last.split(".")
    taken: List[str] = []
    while len(parts) > 1 and os.path.isdir(os.path.join(folder, *(taken + parts[:1]))):
        taken.append(parts.pop(0))
    return address[:len(address) - len(last)] + "/".join(taken) + "/" + ".".join(parts)


def no_such_path(path: str) -> str:
    """A missing PATH, with the book file or folder it may have been meant for."""
    text = "%s: no such book file or folder" % path
    with_extension = disk.book_file_name(path)
    if os.path.isfile(with_extension):
        return text + "; did you mean %s? (a book file's name ends in .%s)" % (with_extension, disk.extension())
    parent, name = os.path.split(path.rstrip(os.sep))
    while parent and not os.path.isdir(parent):  # the first missing folder on the way
        parent, name = os.path.split(parent)
    if name:
        near = hints.nearest(name, [entry for entry in _entries(parent or os.curdir)
                                    if _is_book_file(parent or os.curdir, entry)
                                    or os.path.isdir(os.path.join(parent or os.curdir, entry))])
        if near:
            missing = os.path.join(parent, name)
            return text + "; %sdid you mean %s?" % ("" if missing == path else "%s is missing: " % missing,
                                                    " or ".join(os.path.join(parent, entry) for entry in near))
    return text


def _entries(folder: str) -> List[str]:
    try:
        return sorted(os.listdir(folder))
    except OSError:
        return []


def _is_book_file(folder: str, entry: str) -> bool:
    return disk.is_book_file(os.path.join(folder, entry))


def _sub_folders(folder: str) -> List[str]:
    return [entry for entry in _entries(folder) if os.path.isdir(os.path.join(folder, entry))]


def _book_files(folder: str, book: str) -> List[str]:
    return [entry for entry in _entries(folder) if _is_book_file(folder, entry) and disk.book_name(entry) == book]


def split_inside(book: ParameterBook, inside: str, attribute_needed: bool, creating: bool = False,
                 wording: Wording = hints.READING, book_address: Optional[str] = None) -> Tuple[str, Optional[str]]:
    """(parameter name, attribute name or None) that `inside` names in `book`.
    Raises NotFound with what is missing (where is the caller's to add);
    `book_address`, the address of the book, lets it show the address meant."""
    cuts = [index for index, character in enumerate(inside) if character == "."]
    if attribute_needed and not cuts:
        raise UsageError("%r names no attribute: write parameter.attribute" % inside)
    candidates: List[Tuple[str, Optional[str]]] = [(inside[:cut], inside[cut + 1:]) for cut in cuts]
    if not attribute_needed:
        candidates.append((inside, None))
    names = book.names()
    parameters = [(name, attribute) for name, attribute in candidates if name in names]
    for name, attribute in parameters:
        if attribute is None or attribute in book[name].names():
            return name, attribute
    if creating:
        # A new attribute of the parameter with the longest existing name, else a new parameter.
        return max(parameters, key=lambda pair: len(pair[0])) if parameters else candidates[0]
    if parameters:
        name, attribute = parameters[0]
        assert attribute is not None
        raise NotFound(hints.missing("attribute", attribute, book[name].names(), owner="parameter %r" % name,
                                     create=wording.create))
    text = hints.missing("parameter", candidates[0][0], names, create=wording.create)
    extension = disk.extension() + "."
    if book_address is not None and inside.startswith(extension):
        text += "; an address names a book without its file's extension: %s.%s" % (book_address,
                                                                                   inside[len(extension):])
    raise NotFound(text)


def description_text(parameter: Parameter, language: str, where: str) -> Any:
    """The text of the description in `language` (the object stored), which must have one."""
    table = parameter.all_descriptions()
    if language in table:
        return table[language]
    languages = sorted(table, key=str)
    text = "%s has no description in %r: programs in that language read the 'default' one" % (where, language)
    near = [other for other in languages if str(other).startswith(language + "_")]
    near += [other for other in hints.nearest(language, languages) if other not in near]
    if near:
        raise NotFound(text + "; did you mean %s?" % " or ".join(repr(other) for other in near))
    raise NotFound(text + " (its languages: %s)" % ", ".join(repr(other) for other in languages))
