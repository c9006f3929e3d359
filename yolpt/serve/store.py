"""The folder that `serve` shows: its tree as read from disk, with a version
of each book file, and changes of one value, refused where the book file
changed since its version was read."""
import hashlib
import json
import os
from typing import Any, Dict, List, Optional

from yol_vovoruze import ParameterBook

from yolpt import check, disk, findings, hints, loading, value_types
from yolpt.address import aim, find_book
from yolpt.errors import Error, NotFound, UsageError, describe
from yolpt.scan import walk
from yolpt.values import refuse_unloadable

# How the messages of `set`'s rules name the page's controls.
WORDING = hints.Wording("the value", "the description", type="the type %s", string="the type string")

# Reads of a book file that a save outside the folder's lock keeps changing.
READ_ATTEMPTS = 5


class Refusal(Exception):
    """A request that is not carried out: its HTTP status and message. Nothing was written."""

    def __init__(self, status: int, message: str, **details: Any) -> None:
        super().__init__(message)
        self.status = status
        self.details = details

    def __str__(self) -> str:
        return str(self.args[0])


class Conflict(Refusal):
    """The book file is no longer the version the page read."""

    def __init__(self, message: str, book: "BookView", theirs: Any, present: bool) -> None:
        super().__init__(409, message)
        self.book = book
        self.theirs = theirs      # the value on disk now
        self.present = present    # whether the attribute is still there


class BookView:
    """A book file as read: its address in the tree, the bytes' version, and
    the book (or why it does not load)."""

    def __init__(self, address: str, path: str, inside: bool) -> None:
        self.address = address    # "motors/left"
        self.path = path          # the file, below the folder served
        self.inside = inside      # not reached through a link out of the folder
        self.version = ""
        self.book: Optional[ParameterBook] = None
        self.problem: Optional[str] = None

    def read(self) -> bytes:
        """Loads the book through the module, with the version of the bytes it
        loaded (read before and after: a save that runs meanwhile is seen)."""
        for _ in range(READ_ATTEMPTS):
            before = _read_bytes(self.path)
            book, failure = loading.read_book(self.path)
            if _read_bytes(self.path) == before:
                self.version = version_of(before)
                self.book = book
                self.problem = None if failure is None else loading.why_not_loading(self.path, failure)
                return before
        raise Refusal(503, "%s: changes while it is read; try again" % self.address)


class FolderView:
    def __init__(self, address: str, name: str) -> None:
        self.address = address    # "" for the folder served, "motors/" below it
        self.name = name
        self.folders: List["FolderView"] = []
        self.books: List[BookView] = []
        self.problem: Optional[str] = None


def version_of(data: bytes) -> str:
    return hashlib.sha256(data).hexdigest()


def _read_bytes(path: str) -> bytes:
    with open(path, "rb") as handle:
        return handle.read()


class Store:
    def __init__(self, root: str) -> None:
        self.root = root
        self._real_root = os.path.realpath(root)

    def inside(self, path: str) -> bool:
        """Whether a path leads to a place in the folder served, links followed."""
        real = os.path.realpath(path)
        return real == self._real_root or real.startswith(self._real_root.rstrip(os.sep) + os.sep)

    def tree(self) -> FolderView:
        """Every folder and book file, each folder read under its shared lock."""
        top = FolderView("", os.path.basename(os.path.abspath(self.root)))
        folders: Dict[str, FolderView] = {self.root: top}
        for scan in walk(self.root):
            view = folders.get(scan.folder)
            if view is None:  # a sub-folder: its parent was yielded first
                parent = folders[os.path.dirname(scan.folder)]
                name = os.path.basename(scan.folder)
                view = FolderView(parent.address + name + "/", name)
                parent.folders.append(view)
                folders[scan.folder] = view
            view.problem = scan.problem
            for entry in scan.books:
                path = scan.path(entry)
                book = BookView(view.address + disk.book_name(entry), path, self.inside(path))
                try:
                    book.read()
                except OSError as exc:
                    book.problem = describe(exc)
                except Refusal as exc:
                    book.problem = str(exc)
                view.books.append(book)
        return top

    def findings(self) -> List[findings.Finding]:
        return check.check_folder(self.root)[0]

    def change(self, book_address: str, parameter_name: str, attribute: str, text: str,
               type_name: Optional[str], version: str) -> BookView:
        """Sets one attribute as `yolpt set` would, if the book file is still
        the `version` that the page read; returns the book as written."""
        try:
            return self._change(book_address, parameter_name, attribute, text, type_name, version)
        except NotFound as exc:
            raise Refusal(404, str(exc))
        except UsageError as exc:
            raise Refusal(400, str(exc))
        except Error as exc:
            raise Refusal(409, str(exc))
        except OSError as exc:
            raise Refusal(500, "%s: %s" % (book_address, describe(exc)))

    def _change(self, book_address: str, parameter_name: str, attribute: str, text: str,
                type_name: Optional[str], version: str) -> BookView:
        if type_name is not None and type_name not in value_types.TYPES:
            raise Refusal(400, "unknown type %r: the types are %s" % (type_name, ", ".join(value_types.TYPES)))
        where = "%s.%s.%s" % (book_address, parameter_name, attribute)
        try:
            reading = value_types.read(text, type_name, WORDING)
            value_types.refuse_non_finite(reading, False, WORDING)
        except UsageError as exc:
            raise Refusal(422, _sentence(str(exc)))
        place = aim(self.root, self._checked_address(book_address))
        with disk.FolderLock(place.folder, exclusive=True):
            place = find_book(place)
            if place.directory is not None:
                raise Refusal(404, "%r is a folder, not a book" % book_address)
            view = BookView(book_address, place.file(), True)
            if not self.inside(view.path):
                raise Refusal(403, "%s: the book file lies outside the folder served (through a link): "
                                   "it is shown, not changed" % book_address)
            view.read()
            if view.version != version:
                raise self._conflict(view, parameter_name, attribute)
            book = view.book
            if book is None:
                raise Refusal(409, "%s: does not load: %s" % (book_address, view.problem))
            if parameter_name not in book.names():
                raise Refusal(404, "%s: %s" % (book_address, hints.missing("parameter", parameter_name,
                                                                           book.names())))
            parameter = book[parameter_name]
            if attribute not in parameter.names():
                raise Refusal(404, "%s.%s: %s" % (book_address, parameter_name,
                                                  hints.missing("attribute", attribute, parameter.names())))
            try:
                parameter[attribute] = value_types.fit(reading, type_name, (where, parameter[attribute]), WORDING)
                refuse_unloadable(book, book_address)
            except Error as exc:
                raise Refusal(422, _sentence(str(exc)))
            try:
                # The module writes a temporary file and renames it over the book file.
                book.save(view.path, False)
            except Exception as exc:
                raise Refusal(500, "%s: not saved: %s" % (book_address, describe(exc)))
            view.read()
        return view

    def _checked_address(self, address: str) -> str:
        """A book's address as the page writes it: names of the tree only."""
        segments = address.split("/")
        for segment in segments:
            if segment in ("", ".", "..") or "\0" in segment:
                raise Refusal(400, "%r is not the address of a book: folder and book names separated by '/', "
                                   "none of them empty, '.' or '..'" % address)
        if "." in segments[-1]:
            raise Refusal(400, "%r is not the address of a book: a book's name has no '.'" % address)
        return address

    def _conflict(self, view: BookView, parameter_name: str, attribute: str) -> Conflict:
        theirs: Any = None
        present = False
        book = view.book
        if book is not None and parameter_name in book.names() and attribute in book[parameter_name].names():
            theirs, present = book[parameter_name][attribute], True
        return Conflict("%s changed on disk since this page read it: not saved" % view.address, view, theirs,
                        present)


def _sentence(message: str) -> str:
    """A message of `set`'s rules, its way out starting a sentence as the page writes it."""
    return message.replace(". the type ", ". The type ")


def editor_text(value: Any) -> str:
    """The text an edit field starts with: what `set` reads back as the same
    value, a string as it is wherever it reads back as that string."""
    if isinstance(value, str):
        try:
            reading = value_types.read(value)
        except UsageError:
            reading = None
        if reading is not None and reading.bare:
            return value
        return json_text(value)
    return json_text(value, indent=2 if isinstance(value, (list, dict)) and value else None)


def json_text(value: Any, indent: Optional[int] = None) -> str:
    """JSON as a book file writes it: non-ASCII text as itself."""
    return json.dumps(value, indent=indent, ensure_ascii=False)

