"""Addresses in a tree in memory: what `find` reads and `assign` changes.

The addresses are those of `yolpt get` and `yolpt set`, relative to the tree
they are given: `dir/sub/book.parameter.attribute` in a ParameterDirectory
(`dir/` names a folder, `dir/book` a book, `dir/book.parameter` a
parameter), `parameter.attribute` in a ParameterBook, `attribute` in a
Parameter. Where a name holds a ".", the split is the one that names what
exists, the earliest "." first, as in a book file's folder. A description
is reached with `description=LANG` beside the address of its parameter."""
from typing import Any, List, Optional, Tuple, Union

from yol_vovoruze import Parameter, ParameterBook, ParameterDirectory

from yolpt import hints, value_types
from yolpt.address import description_text, split_inside
from yolpt.errors import Error, NotFound, UsageError
from yolpt.hints import Wording

# What the functions of the package take as a tree.
Tree = Union[ParameterDirectory, ParameterBook, Parameter]


class Spot:
    """Where an address leads in a tree. What is still to be created (with
    create=True) is None, with its name; `whole` is what an address that
    stops at a folder, book or parameter names."""

    def __init__(self, address: str) -> None:
        self.address = address                         # the address, as the names found write it
        self.directory: Optional[ParameterDirectory] = None
        self.folders: List[str] = []
        self.book_name: Optional[str] = None
        self.book: Optional[ParameterBook] = None
        self.parameter_name: Optional[str] = None
        self.parameter: Optional[Parameter] = None
        self.attribute: Optional[str] = None
        self.whole: Optional[Tree] = None

    def holder(self) -> Parameter:
        """The parameter, made with its book and folders where they are missing."""
        if self.parameter is not None:
            return self.parameter
        book = self.book
        if book is None:
            assert self.directory is not None and self.book_name is not None
            directory: ParameterDirectory = self.directory
            for name in self.folders:
                directory = _made(directory, name, ParameterDirectory, self.address)
            book = _made(directory, self.book_name, ParameterBook, self.address)
        assert self.parameter_name is not None
        if self.parameter_name not in book.names():
            book[self.parameter_name] = Parameter()
        parameter: Parameter = book[self.parameter_name]
        return parameter


def _made(directory: ParameterDirectory, name: str, kind: Any, address: str) -> Any:
    """The item `name` of `directory`, a new one of `kind` where there is none."""
    if name not in directory.names():
        directory[name] = kind()
    item: Union[ParameterBook, ParameterDirectory] = directory[name]
    if not isinstance(item, kind):
        raise Error("%s: cannot create %r: there is a %s of that name" % (address, name, _kind(item)))
    return item


def _kind(item: object) -> str:
    return "folder" if isinstance(item, ParameterDirectory) else "book" if isinstance(item, ParameterBook) \
        else "parameter"


def locate(tree: Tree, address: str, attribute_needed: bool, creating: bool = False,
           wording: Wording = hints.PYTHON) -> Spot:
    """The spot of `address` in `tree`. Raises NotFound for what is missing
    (unless creating), UsageError for an address that cannot be one."""
    if not isinstance(address, str):
        raise UsageError("an address is a str, not %s" % type(address).__name__)
    if not address:
        raise UsageError("the address is empty: write dir/book.parameter.attribute in a folder's tree, "
                         "parameter.attribute in a book, attribute in a parameter")
    if isinstance(tree, Parameter):
        spot = Spot(address)
        spot.parameter, spot.attribute = tree, address
        if address not in tree.names() and not creating:
            raise NotFound(hints.missing("attribute", address, tree.names(), owner="the parameter",
                                         create=wording.create))
        return spot
    if isinstance(tree, ParameterBook):
        return _in_book(Spot(address), tree, address, address, "", attribute_needed, creating, wording)
    if isinstance(tree, ParameterDirectory):
        return _in_directory(tree, address, attribute_needed, creating, wording)
    raise UsageError("a tree is a ParameterDirectory, a ParameterBook or a Parameter, not %s"
                     % type(tree).__name__)


def _in_directory(tree: ParameterDirectory, address: str, attribute_needed: bool, creating: bool,
                  wording: Wording) -> Spot:
    segments = address.split("/")
    names_folder = segments[-1] == ""
    if names_folder:
        segments.pop()
    if any(segment == "" for segment in segments):
        raise UsageError("%r: the folder names of an address are not empty" % address)
    spot = Spot(address)
    directory = tree
    count = len(segments) if names_folder else len(segments) - 1
    for index, name in enumerate(segments[:count]):
        item = _item(directory, name)
        if isinstance(item, ParameterDirectory):
            directory = item
            continue
        where = _where(segments[:index])
        if item is not None:
            written = "/".join(segments[:index] + [name + "." + (".".join(segments[index + 1:]) or "parameter")])
            raise NotFound("%s: %r is a book, not a folder: the book ends the folders of an address, and its "
                           "parameter follows after a '.', as in %s" % (where, name, written))
        if not creating or names_folder:
            raise NotFound("%s: %s" % (where, hints.missing("folder", name, _names(directory, ParameterDirectory),
                                                            create=None if names_folder else wording.create)))
        spot.directory, spot.folders = directory, segments[index:count]
        return _new_book(spot, segments[-1], attribute_needed, wording)
    if names_folder:
        if attribute_needed:
            raise UsageError("%r names a folder, not an attribute" % address)
        spot.whole = directory
        return spot
    spot.directory = directory
    last = segments[-1]
    prefix = "/".join(segments[:-1] + [""])
    whole = _item(directory, last)
    if isinstance(whole, ParameterDirectory) and not attribute_needed:
        spot.whole = whole
        return spot
    cuts = [index for index, character in enumerate(last) if character == "."] + [len(last)]
    for cut in cuts:  # the book: the shortest name that one has, as a book file's name gives it
        book = _item(directory, last[:cut])
        if isinstance(book, ParameterBook):
            spot.book_name = last[:cut]
            return _in_book(spot, book, last[cut + 1:] if cut < len(last) else None, address, prefix + last[:cut],
                            attribute_needed, creating, wording)
    first = last[:cuts[0]]
    if isinstance(_item(directory, first), ParameterDirectory):
        raise NotFound("%s: %r is a folder, not a book: folders are separated by '/', as in %s"
                       % (_where(segments[:-1]), first, prefix + _as_folders(directory, last)))
    if not creating:
        raise NotFound("%s: %s" % (_where(segments[:-1]), hints.missing("book", first, _names(directory, ParameterBook),
                                                                       create=wording.create)))
    return _new_book(spot, last, attribute_needed, wording)


def _new_book(spot: Spot, last: str, attribute_needed: bool, wording: Wording) -> Spot:
    """A book to create, named as its file would name it: up to the first "."."""
    book, _, inside = last.partition(".")
    spot.book_name = book
    if not inside:
        raise UsageError("%r names a book, not an attribute: write %s.parameter.attribute" % (spot.address, last))
    return _in_book(spot, ParameterBook(), inside, spot.address, "", attribute_needed, True, wording, new=True)


def _in_book(spot: Spot, book: ParameterBook, inside: Optional[str], address: str, book_address: str,
             attribute_needed: bool, creating: bool, wording: Wording, new: bool = False) -> Spot:
    if not new:
        spot.book = book
    if inside is None:
        if attribute_needed:
            raise UsageError("%r names a book, not an attribute: write %s.parameter.attribute" % (address, address))
        spot.whole = book
        return spot
    try:
        name, attribute = split_inside(book, inside, attribute_needed, creating, wording)
    except NotFound as exc:
        raise NotFound("%s: %s" % (book_address or "the book", exc))
    spot.parameter_name, spot.attribute = name, attribute
    spot.parameter = book[name] if name in book.names() else None
    if attribute is None:
        spot.whole = spot.parameter
    return spot


def _item(directory: ParameterDirectory, name: str) -> Optional[Union[ParameterBook, ParameterDirectory]]:
    if name not in directory.names():
        return None
    item: Union[ParameterBook, ParameterDirectory] = directory[name]
    return item


def _names(directory: ParameterDirectory, kind: Any) -> List[str]:
    return [name for name, item in directory.items() if isinstance(item, kind)]


def _where(folders: List[str]) -> str:
    return "/".join(folders) + "/" if folders else "the tree"


def _as_folders(directory: ParameterDirectory, last: str) -> str:
    parts = last.split(".")
    taken: List[str] = []
    item: Any = directory
    while len(parts) > 1 and isinstance(_item(item, parts[0]), ParameterDirectory):
        item = _item(item, parts[0])
        taken.append(parts.pop(0))
    return "/".join(taken) + "/" + ".".join(parts)


def parameter_of(tree: Tree, address: str, creating: bool, wording: Wording) -> Spot:
    """The spot of the parameter that `address` names as a whole (for a description)."""
    if isinstance(tree, Parameter):
        raise UsageError("a description is addressed in a book or a folder's tree; in a parameter, "
                         "get_description and set_description read and write it")
    spot = locate(tree, address, False, creating, wording)
    if spot.parameter_name is not None and spot.attribute is not None:
        # The whole address may name a parameter that holds a "." (or be one to create).
        book = spot.book or ParameterBook()
        inside = address[len(address) - len(spot.parameter_name) - len(spot.attribute) - 1:]
        if inside in book.names() or creating:
            spot.parameter_name, spot.attribute = inside, None
            spot.parameter = book[inside] if inside in book.names() else None
            return spot
        raise UsageError("%r names the attribute %r of the parameter %r; a description belongs to a parameter: "
                         "give its address, %s" % (address, spot.attribute, spot.parameter_name,
                                                    address[:len(address) - len(spot.attribute) - 1]))
    if spot.parameter_name is None:
        raise UsageError("%r names a %s; a description belongs to a parameter: give its address"
                         % (address, _kind(spot.whole)))
    return spot


def find(tree: Tree, address: str, description: Optional[str] = None) -> Any:
    """What `address` names in `tree`: the value of an attribute (the object
    stored, not a copy), or the folder, book or parameter itself. With
    `description`, the address names a parameter, and the result is its
    description in that language ("default" for its default text).

    Raises NotFound (a KeyError) for what is missing, with the nearest names,
    and UsageError (a ValueError) for an address that cannot be one."""
    if description is not None:
        spot = parameter_of(tree, address, False, hints.FINDING)
        assert spot.parameter is not None
        return description_text(spot.parameter, description, spot.address)
    spot = locate(tree, address, attribute_needed=False, wording=hints.FINDING)
    if spot.attribute is None:
        return spot.whole
    assert spot.parameter is not None
    return spot.parameter[spot.attribute]


def assign(tree: Tree, address: str, value: object, as_type: Optional[str] = None, non_finite: bool = False,
           create: bool = False, description: Optional[str] = None) -> Any:
    """Stores `value` under `address` in `tree`, with the rules of `yolpt set`,
    and returns what it stored. The value must be one that a book file holds
    (JSON: no None, tuple or complex number). It keeps the JSON type of the
    value it replaces (where a float is, an integer is stored as that float)
    unless `as_type` names the type to store ("integer", "float", "boolean",
    "string", "array", "object"); NaN and the infinities are refused unless
    `non_finite`; `create` makes a missing attribute, parameter, book and
    folders. With `description`, the address names a parameter and `value`
    is its description text in that language ("default" for its default text).

    Raises NotFound (a KeyError) for what is missing, UsageError (a
    ValueError) for an address or a value that cannot be taken; the tree is
    then unchanged."""
    if description is not None:
        if not isinstance(value, str):
            raise UsageError("a description is a str, not %s" % type(value).__name__)
        if not isinstance(description, str):
            raise UsageError("the language of a description is a str, not %s" % type(description).__name__)
        spot = parameter_of(tree, address, create, hints.PYTHON)
        spot.holder().set_description(value, description)
        return value
    if as_type is not None and as_type not in value_types.TYPES:
        raise UsageError("as_type is one of %s, not %r" % (", ".join(value_types.TYPES), as_type))
    reading = value_types.python_value(value)
    spot = locate(tree, address, attribute_needed=True, creating=create)
    stored = fitted(spot, reading, as_type, non_finite, hints.PYTHON)
    spot.holder()[_attribute(spot)] = stored
    return stored


def _attribute(spot: Spot) -> str:
    assert spot.attribute is not None
    return spot.attribute


def fitted(spot: Spot, reading: value_types.Reading, as_type: Optional[str], non_finite: bool,
           wording: Wording) -> Any:
    """The value to store at `spot` (an attribute), by the rules of `yolpt set`."""
    attribute = _attribute(spot)
    if attribute in value_types.RESERVED_ATTRIBUTES:
        raise UsageError("%s: %s" % (spot.address, value_types.reserved_attribute(
            attribute, spot.address[:len(spot.address) - len(attribute) - 1], wording)))
    value_types.refuse_non_finite(reading, non_finite, wording)
    parameter = spot.parameter
    replacing: Optional[Tuple[str, object]] = None
    if parameter is not None and attribute in parameter.names():
        replacing = (spot.address, parameter[attribute])
    return value_types.fit(reading, as_type, replacing, wording)
