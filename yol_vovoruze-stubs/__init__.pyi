"""A hierarchical store of named parameters.

- `Parameter` holds named values and a description per language.
- `ParameterBook` groups parameters and is saved as one indented UTF-8 JSON
  file (`*.yolpt`).
- `ParameterDirectory` groups books and sub-directories and is saved as a
  folder tree, with backups so that a failed save never loses the previous
  books.

Rules shared by every class:

- A name that is not there raises `KeyError` with that name, also when it is
  read as an attribute: `hasattr(obj, name)` and `getattr(obj, name, default)`
  raise `KeyError` instead of answering.
- Constructors and `clone()` store deep copies of what they are given;
  attribute and item assignment store the object itself; reads return the
  stored object.
- Arguments annotated `str` are checked on every call: exactly `str` (no
  subclass, no `pathlib.Path`) or None, else `TypeError` "Argument 'NAME' has
  incorrect type (expected str, got TYPE)".
- Checks called assertion checks below raise `AssertionError` without a
  message; they are skipped when Python runs with `-O`.
- Errors from loads and saves carry a note (`__notes__`) naming the file and,
  where one is involved, the parameter.

Typing: what a parameter holds, and what a directory holds, is typed `Any`
when it is read, as `json.loads` types what it reads: the stubs cannot know
what a file holds, so `int(p.value)`, `p.value > 1000`, `p.value.append(4)`
and `tree.arm.motion.speed.value` need no narrowing (see `AttributeValue`).
A read of a book gives a `Parameter`. Arguments are typed exactly: a
`pathlib.Path` where a str is taken, a None value given to a constructor or
stored by item, a book item that is not a `Parameter`, a misspelt keyword or
one argument too many is reported. Attribute assignment to a parameter takes
`Any`, as its reads give (see `Parameter.__setattr__`).
"""

from typing import Any, Callable, ClassVar, ItemsView, Iterator, KeysView, Mapping, TypeVar, Union, overload, type_check_only

from _typeshed import SupportsItems
from typing_extensions import Final, Literal, Protocol, TypeAlias, TypedDict

_T = TypeVar("_T")
_T_co = TypeVar("_T_co", covariant=True)

@type_check_only
class _ListOf(Protocol[_T_co]):
    # A list (or list subclass) of some element type. Unlike Sequence it leaves
    # out tuples, bytes and ranges, which the constructors refuse; unlike
    # list[...] it is covariant, so a list[int] is a list of attribute values.
    def __iter__(self) -> Iterator[_T_co]: ...
    def sort(self, *, key: Callable[[Any], Any], reverse: bool = ...) -> None: ...

AttributeValue: TypeAlias = Any
"""A parameter value as a parameter holds it and reads give it back, typed `Any`.

A parameter holds `bool`, `int`, `float`, `complex` and `str`, and lists and
dicts of these, nested to any depth. Reads of a parameter (`p.value`,
`p["value"]`, `p.get(...)`, `p.items()`) are typed with this alias, which is
`Any`: like `json.loads`, a read cannot know which kind a file held, so the
value is used as it is (`int(p.value)`, `p.value > 1000`,
`p.limits.append(4)`, `2.0 * p.value`). Give it a type by annotating the
variable that takes it (`speed: int = p.value`) or by narrowing with
`isinstance`. What a parameter accepts is typed exactly: see `AttributeInput`.

Dict keys are `str`. Other scalar keys are copied too, but a save writes
every key as a JSON string, so a loaded book has `str` keys. A `complex` value
is copied like the others but cannot be saved: JSON has no complex numbers.

This alias exists for type checkers only: import it under
`typing.TYPE_CHECKING`.
"""

AttributeInput: TypeAlias = Union[
    bool, int, float, complex, str, _ListOf["AttributeInput"], Mapping[str, "AttributeInput"]
]
"""A value that a parameter accepts: the constructor and item assignment take it.

The kinds that `AttributeValue` names, with containers typed so that a
variable declared `list[int]` or `dict[str, float]` is accepted (`list` and
`dict` are invariant, so `list[int]` is no `list[bool | int | ...]`);
`_ListOf[T]` is any list whose elements are of type T. Tuples, sets, bytes
and None are refused, as at run time; so are dicts with keys other than `str`,
which the module copies but a save turns into strings. A `Mapping` that is
not a `dict` passes the type check, but the constructor refuses it at run
time.

This alias exists for type checkers only: import it under
`typing.TYPE_CHECKING`.
"""

@type_check_only
class ParameterDict(TypedDict):
    """The dictionary form of a parameter: `Parameter.to_dict` gives it and
    `Parameter.from_dict` reads it. A book file is a JSON array of these.

    The keys come in this order: `name` (the parameter's name in its book),
    `description` (language code or "default" to text) and `attributes` (name
    to value).

    This class exists for type checkers only: import it under
    `typing.TYPE_CHECKING`.
    """

    name: str
    description: dict[str, str]
    attributes: dict[str, AttributeValue]

LIMIT_MODE_ABSOLUTE: Final = 0
"""Limit mode "absolute", the int 0. Published for hosts; the module does not read it."""

LIMIT_MODE_RELATIVE: Final = 1
"""Limit mode "relative", the int 1. Published for hosts; the module does not read it."""

LIMIT_MODE_RELATIVE_PERCENTAGE: Final = 2
"""Limit mode "relative percentage", the int 2. Published for hosts; the module does not read it."""

InvalidNameCharacters: Final = '.\\/:*?"<>|'
"""The ten characters that names should not contain: `.\\/:*?"<>|`.

Published for hosts: no class checks names against it. (`ParameterDirectory.save`
refuses only the names that would leave or clash in its folder.)
"""

_value_cls_map: dict[str, Callable[..., Any]]
"""Maps the kind names "str", "int", "float", "bool", "dict", "list" and "eval"
to the builtins of those names, as they were at import.

Published for hosts; the module does not read it.
"""

def _clone_attribute(attr: AttributeInput, /) -> AttributeValue:
    """Returns an independent deep copy of one attribute value.

    `int` (so `bool`), `float` and `str` values are returned as they are; a
    `complex` is rebuilt; a list or dict (subclasses included) becomes a new
    plain `list` or `dict` whose elements, keys and values are copied the same
    way. A list or dict that occurs twice inside the value is copied twice.
    Constructors copy every value through this function.

    Args:
        attr: the value; taken by position only.

    Raises:
        TypeError: a value, at any depth, of another kind (None, tuple, set,
            bytes, a `Parameter`, ...): "Error: Unsupported attribute type:
            <class '...'>".
        RecursionError: a list or dict that contains itself, or nesting deeper
            than the recursion limit.
    """

class Parameter:
    """One parameter: named attribute values and a description per language.

    Attributes are reached by attribute (`p.value`), by item (`p["value"]`) and
    through `get()`, and keep the order in which they were first set. An
    attribute named like a member of the class (`names`, `get`, `description`,
    ...) can be stored, but only items and `get()` read it back.

    Reads are typed `AttributeValue`, which is `Any`; the values given are
    typed `AttributeInput`. Since any name may be an attribute, a misspelt
    method called on a parameter (`p.clnoe()`) reads as an attribute and is not
    reported by a type checker; like a misspelt attribute name, it raises
    `KeyError` at run time.

    The class defines no length, iteration, `in`, equality or repr of its
    own: `len(p)` raises `TypeError`, iterating over `p` or `x in p` raises
    `KeyError(0)`; use `names()` and `items()`.
    """

    def __init__(self, description: str | dict[str, str] = '', **kwargs: AttributeInput) -> None:
        """Creates a parameter from a description and attribute values.

        Args:
            description: one text, stored as the "default" description, or a
                dict from language code (such as "de_DE") or "default" to text;
                a dict is deep-copied and, when it is not empty, must hold
                "default".
            **kwargs: the attributes, in the order given; each value is
                deep-copied (see `_clone_attribute`). Attributes named
                `description` or `self` can only be created by item assignment.

        Raises:
            AssertionError: `description` is neither a str nor a dict, or is a
                non-empty dict without "default" (assertion checks; under `-O`
                a description of another type raises `TypeError`).
            TypeError: a value of an unsupported kind, such as None or a tuple.
        """

    def clone(self) -> Parameter:
        """Returns a deep copy that shares no list or dict with this parameter.

        The copy is built by the constructor from the description table and
        the attributes, so the constructor's checks run again.

        Raises:
            TypeError: an attribute holds, by assignment, a value of an
                unsupported kind, or is named `description` or `self` ("got
                multiple values for keyword argument").
            AssertionError: the description table is not empty and has no
                "default" (assertion check).
        """

    def items(self) -> ItemsView[str, AttributeValue]:
        """Returns a live view of the (name, value) pairs of the attributes, in
        order. The values are the stored objects, not copies."""

    def names(self) -> KeysView[str]:
        """Returns a live view of the attribute names, in order."""

    def clear(self) -> None:
        """Removes every attribute, in place (views taken before show the
        parameter empty). The descriptions stay."""

    def __getattr__(self, item: str) -> AttributeValue:
        """Reads the attribute `item` (`p.value`) when no member of the class
        has that name. The value is typed `AttributeValue` (`Any`).

        Raises:
            KeyError: no attribute `item`. It is never `AttributeError`, so
                `hasattr()` and `getattr()` with a default raise it too.
        """

    def __setattr__(self, key: str, value: AttributeValue) -> None:
        """Stores `value` itself, not a copy, as the attribute `key`
        (`p.value = 3`). The value is not checked.

        The value is typed `AttributeValue` (`Any`), as reads are: mypy takes
        an attribute to hold what was last assigned to it, so an exact type
        here would turn `p.value` into a union after `p.value += 100` and
        refuse the next `p.value > 2000`. Item assignment (`p["value"] = v`)
        and the constructor check values exactly.

        Raises:
            AttributeError: `key` is "description", the read-only property.
        """

    def __delattr__(self, item: str) -> None:
        """Removes the attribute `item` (`del p.value`).

        Raises:
            KeyError: no attribute `item`.
            AttributeError: `item` is "description", the read-only property.
        """

    @overload
    def get(self, name: str, default: None = None, raise_if_none: Literal[False] = False) -> AttributeValue | None:
        """Returns the attribute `name`, or a fallback when it is missing.

        Args:
            name: the attribute's name.
            default: returned, itself, when `name` is missing and `default` is
                not None.
            raise_if_none: when true, a missing `name` with no default raises
                `KeyError` instead of giving None.

        Returns:
            The stored value (also when it is None), else `default`, else None.
            Typed `AttributeValue` (`Any`), with the type of `default` or
            None added where the call may give it, as `dict.get` is typed.

        Raises:
            TypeError: `name` is not exactly a str (or None).
            KeyError: `name` is missing, `default` is None and `raise_if_none`
                is true.
        """

    @overload
    def get(self, name: str, default: None, raise_if_none: Literal[True]) -> AttributeValue: ...
    @overload
    def get(self, name: str, *, raise_if_none: Literal[True]) -> AttributeValue: ...
    @overload
    def get(self, name: str, default: _T, raise_if_none: bool = False) -> AttributeValue | _T: ...

    def __getitem__(self, item: str) -> AttributeValue:
        """Returns the attribute stored under `item` (`p["value"]`). Members of
        the class do not hide items: `p["names"]` reads an attribute "names".

        Raises:
            KeyError: no attribute `item`.
        """

    def __setitem__(self, key: str, value: AttributeInput) -> None:
        """Stores `value` itself, not a copy, under `key` (`p["value"] = 3`).
        `p["description"] = text` stores an ordinary attribute.

        Raises:
            AssertionError: `key` is not a str (assertion check).
        """

    def __delitem__(self, key: str) -> None:
        """Removes the attribute `key` (`del p["value"]`).

        Raises:
            KeyError: no attribute `key`.
        """

    @property
    def description(self) -> str:
        """The description in the system's language, read-only.

        The language is asked at every read: the first item of
        `locale.getdefaultlocale()` (such as "de_DE"). Its entry in the
        description table is used when there is one, else the "default" text.
        Change descriptions with `set_description()`.

        Raises:
            KeyError: neither the system's language nor "default" has an entry
                (`KeyError('default')`).
            TypeError: the chosen entry is not exactly a str (or None).
        """

    def get_description(self, local: str = 'default') -> str:
        """Returns the description stored for the language `local`, as stored,
        without falling back to "default".

        Args:
            local: a language code such as "de_DE", or "default".

        Raises:
            TypeError: `local` is not exactly a str (or None).
            KeyError: no entry for `local`.
        """

    def set_description(self, description: str, local: str = 'default') -> None:
        """Stores `description` as the text for the language `local`, replacing
        the entry there (which keeps its place) or adding it at the end.
        Nothing else is checked: the table need not keep a "default" entry.

        Args:
            description: the text.
            local: a language code such as "de_DE", or "default".

        Raises:
            TypeError: `description`, and then `local`, is not exactly a str
                (or None).
        """

    def all_descriptions(self) -> dict[str, str]:
        """Returns the description table itself (language code or "default"
        to text), not a copy: changing it changes the parameter."""

    def to_dict(self, name: str) -> ParameterDict:
        """Returns the dictionary form of this parameter under the name `name`:
        `{"name": name, "description": ..., "attributes": ...}`, in that order.

        The two tables are this parameter's own, not copies: copy the form
        before changing it.

        Raises:
            TypeError: `name` is not exactly a str (or None).
        """

    @staticmethod
    def from_dict(data: ParameterDict | dict[str, Any], /) -> tuple[str, Parameter]:
        """Builds a parameter from a dictionary form and returns the pair
        (name, new parameter).

        The description and the attributes are deep-copied through the
        constructor; keys other than the three are ignored.

        Args:
            data: the form, exactly a dict; taken by position only.

        Raises:
            TypeError: `data` is not exactly a dict; an attribute value of an
                unsupported kind (such as None, from a JSON null); an attribute
                named `description` or `self`.
            AssertionError: a key is missing, the name is not a str, the
                description or the attributes are not dicts, or the description
                has no str "default" text (assertion checks).
        """

class ParameterBook:
    """A table of `Parameter` objects by name, saved as one book file.

    Parameters are reached by attribute (`book.speed`) and by item
    (`book["speed"]`), so `book.speed.value` reads the attribute `value` of the
    parameter `speed`. They keep the order in which they were first stored. A
    parameter named like a member of the class (`save`, `names`, `ExtName`,
    ...) can be stored, but only items read it back.

    Reads are typed `Parameter`, so a misspelt method called on a book
    (`book.sav("motor")`) is reported: a `Parameter` is not callable.

    `str(book)` is the book's text form, exactly what its file holds: the
    dictionary forms of its parameters, sorted by name, as one JSON array
    indented by four spaces, non-ASCII text written as itself. The class
    defines no length, iteration, `in` or equality of its own (iterating or
    `in` raises `KeyError(0)`): use `names()` and `items()`.
    """

    ExtName: ClassVar[str]
    """The extension of book files, "yolpt", without the dot. Saves and
    directory loads read it from the class each time."""

    def __init__(self, parameters: SupportsItems[str, Parameter] | None = None) -> None:
        """Creates a book holding a clone of each parameter given.

        Args:
            parameters: a dict from name to parameter, another book, or any
                object whose `items()` gives (name, parameter) pairs; their
                order is kept.

        Raises:
            AssertionError: a name is not a str, or a value is not a
                `Parameter` (assertion checks).
            TypeError: a parameter's `clone()` fails (see `Parameter.clone`).
        """

    def clone(self) -> ParameterBook:
        """Returns a deep copy: a new book with a clone of every parameter, in
        the same order.

        Raises:
            TypeError: a parameter's `clone()` fails (see `Parameter.clone`).
        """

    def items(self) -> ItemsView[str, Parameter]:
        """Returns a live view of the (name, parameter) pairs, in order. The
        parameters are the stored objects, not copies."""

    def names(self) -> KeysView[str]:
        """Returns a live view of the parameter names, in order."""

    def clear(self) -> None:
        """Removes every parameter, in place (views taken before show the book
        empty). Nothing on disk changes."""

    def __getattr__(self, item: str) -> Parameter:
        """Reads the parameter `item` (`book.speed`) when no member of the
        class has that name.

        Raises:
            KeyError: no parameter `item`. It is never `AttributeError`, so
                `hasattr()` and `getattr()` with a default raise it too.
        """

    def __setattr__(self, key: str, value: Parameter) -> None:
        """Stores the parameter `value` itself, not a copy, under `key`
        (`book.speed = Parameter(...)`).

        Raises:
            AssertionError: `value` is not a `Parameter` (assertion check).
        """

    def __delattr__(self, item: str) -> None:
        """Removes the parameter `item` (`del book.speed`).

        Raises:
            KeyError: no parameter `item`.
        """

    def __getitem__(self, item: str) -> Parameter:
        """Returns the parameter stored under `item` (`book["speed"]`).
        Members of the class do not hide items.

        Raises:
            KeyError: no parameter `item`.
        """

    def __setitem__(self, key: str, value: Parameter) -> None:
        """Stores the parameter `value` itself, not a copy, under `key`
        (`book["speed"] = Parameter(...)`).

        Raises:
            AssertionError: `key` is not a str or `value` is not a `Parameter`
                (assertion checks).
        """

    def __delitem__(self, key: str) -> None:
        """Removes the parameter `key` (`del book["speed"]`).

        Raises:
            KeyError: no parameter `key`.
        """

    def rename(self, old: str, new: str) -> None:
        """Renames the parameter `old` to `new`. The parameter stays the same
        object and moves to the end of the order. Renaming a name to itself
        does nothing, even when it is missing.

        Args:
            old: the current name.
            new: the new name, not empty.

        Raises:
            TypeError: `old`, and then `new`, is not exactly a str (or None).
            KeyError: "Old name `OLD` does not exist." or "New name `NEW`
                already exists."; nothing changes.
            AssertionError: `new` is empty or None (assertion check).
        """

    def __str__(self) -> str:
        """Returns the text form of the book, the content of its file.

        Raises:
            TypeError: a value that JSON cannot represent, such as a complex
                number.
        """

    def save(self, filename: str, auto_append_extend_name: bool = True) -> None:
        """Writes the text form of the book to a file.

        The text is written to a temporary file beside the target (a hidden
        name ending in ".tmp") and renamed over it, so a process killed at any
        moment leaves the target with its old text or its new text, whole. An
        existing file keeps its permission bits; a symbolic link is written
        through.

        Args:
            filename: the file's path. Missing folders of the path are
                created. With `auto_append_extend_name`, "." + `ExtName` is
                appended unless the name already ends with `ExtName`
                ("motor" gives "motor.yolpt"; the test is case-sensitive and
                needs no dot).
            auto_append_extend_name: when false, `filename` is used as given.

        Raises:
            TypeError: `filename` is not exactly a str (a `pathlib.Path` is
                refused); a value that JSON cannot represent (the file is not
                touched).
            AssertionError: the folder part of `filename` exists and is not a
                folder (assertion check).
            OSError: a folder cannot be created or the file cannot be written.
        """

    @staticmethod
    def load(filename: str, /) -> ParameterBook:
        """Reads a book file and returns a new book.

        The parameters come in the file's order (sorted by name for a file
        that `save` wrote); of two elements with one name, the later one is
        kept at the earlier one's place.

        Args:
            filename: the file's path, exactly a str; taken by position only.

        Raises:
            TypeError: `filename` is not exactly a str; an element that
                `Parameter.from_dict` refuses with `TypeError`.
            AssertionError: the path is no regular file, the JSON is not an
                array, or an element is not an object or is refused by
                `Parameter.from_dict` (assertion checks).
            UnicodeDecodeError: the file is not UTF-8.
            ValueError: the file is not one JSON document.
            OSError: the file cannot be read.
        """

class ParameterDirectory:
    """A table of books and sub-directories by name, saved as a folder tree.

    A directory saved to the folder P writes each book item N as the file
    P/N.yolpt and each directory item N as the folder P/N, recursively. Items
    are reached by attribute (`tree.motors`) and by item (`tree["motors"]`)
    and keep the order in which they were first stored. An item named like a
    member of the class (`save`, `names`, ...) can be stored, but only items
    read it back.

    Items are given as `ParameterBook` or `ParameterDirectory` and read back
    typed `Any`, since only the folder knows which a name holds: so
    `tree.arm.motion.speed.value` reads without narrowing. To have a type
    again, annotate (`motion: ParameterBook = tree.arm.motion`) or narrow with
    `isinstance`. Since any name may be an item, a misspelt method called on
    a directory (`tree.sav("cfg")`) reads as an item and is not reported by a
    type checker; like a misspelt item name, it raises `KeyError` at run time.

    The class defines no length, iteration, `in` or equality of its own
    (iterating or `in` raises `KeyError(0)`): use `names()` and `items()`.
    """

    def __init__(self, parameters: SupportsItems[str, ParameterBook | ParameterDirectory] | None = None) -> None:
        """Creates a directory holding a clone of each item given.

        Args:
            parameters: a dict from name to book or directory, another
                directory, or any object whose `items()` gives (name, item)
                pairs; their order is kept.

        Raises:
            AssertionError: a name is not a str, or an item is neither a
                `ParameterBook` nor a `ParameterDirectory` (assertion checks).
        """

    def clone(self) -> ParameterDirectory:
        """Returns a deep copy: a new directory with a clone of every item,
        sub-directories included, in the same order."""

    def items(self) -> ItemsView[str, Any]:
        """Returns a live view of the (name, item) pairs, in order. The items
        are the stored objects, not copies, typed `Any` (see the class)."""

    def names(self) -> KeysView[str]:
        """Returns a live view of the item names, in order."""

    def __getattr__(self, item: str) -> Any:
        """Reads the item `item` (`tree.motors`), a book or a directory typed
        `Any` (see the class), when no member of the class has that name.

        Raises:
            KeyError: no item `item`. It is never `AttributeError`, so
                `hasattr()` and `getattr()` with a default raise it too.
        """

    def __setattr__(self, key: str, value: ParameterBook | ParameterDirectory) -> None:
        """Stores the item `value` itself, not a copy, under `key`
        (`tree.motors = ParameterDirectory()`).

        mypy takes the attribute to hold what was assigned until the name is
        assigned again: after `tree.arm = other.arm` (an `Any` read),
        `tree.arm` is typed `ParameterBook | ParameterDirectory` there, not
        `Any`; `tree["arm"]` still reads `Any`.

        Raises:
            AssertionError: `value` is neither a `ParameterBook` nor a
                `ParameterDirectory` (assertion check).
        """

    def __delattr__(self, item: str) -> None:
        """Removes the item `item` (`del tree.motors`).

        Raises:
            KeyError: no item `item`.
        """

    def __delitem__(self, key: str) -> None:
        """Removes the item `key` (`del tree["motors"]`).

        Raises:
            KeyError: no item `key`.
        """

    def __getitem__(self, item: str) -> Any:
        """Returns the item stored under `item` (`tree["motors"]`), a book or a
        directory typed `Any` (see the class). Members of the class do not
        hide items.

        Raises:
            KeyError: no item `item`.
        """

    def __setitem__(self, key: str, value: ParameterBook | ParameterDirectory) -> None:
        """Stores the item `value` itself, not a copy, under `key`
        (`tree["motors"] = ParameterDirectory()`).

        Raises:
            AssertionError: `key` is not a str, or `value` is neither a
                `ParameterBook` nor a `ParameterDirectory` (assertion checks).
        """

    def clear(self) -> None:
        """Removes every item, in place (views taken before show the directory
        empty). Nothing on disk changes."""

    def rename(self, old: str, new: str) -> None:
        """Renames the item `old` of this directory (not of a sub-directory)
        to `new`. The item stays the same object and moves to the end of the
        order. Renaming a name to itself does nothing, even when it is missing.

        Args:
            old: the current name.
            new: the new name, not empty.

        Raises:
            TypeError: `old`, and then `new`, is not exactly a str (or None).
            KeyError: "Old name `OLD` does not exist." or "New name `NEW`
                already exists."; nothing changes.
            AssertionError: `new` is empty or None (assertion check).
        """

    @staticmethod
    def _backup_books_in_this_directory(directory: str, /) -> list[str]:
        """The backup step of `save`: renames each book file in the folder
        `directory` (a regular file whose name ends in "." + `ExtName`) to its
        name with "-" appended, unless that backup name is taken, and returns
        the paths of the backups it made, in the order it made them.

        Args:
            directory: the folder's path, exactly a str; taken by position
                only.

        Raises:
            TypeError: `directory` is not exactly a str (or None).
            OSError: the folder cannot be listed or a file cannot be renamed.
        """

    def save(self, directory: str) -> None:
        """Writes this directory into the folder `directory`, recursively.

        The folder is created when it is missing. Otherwise every book file
        in it is first renamed to a backup (N.yolpt becomes N.yolpt-); then
        the items are written, each book as N.yolpt (see
        `ParameterBook.save`) and each sub-directory as the folder N by these
        same steps; the backups are removed only when the whole folder is
        written. After a failed or interrupted save every previous book is
        still on disk, as its book file or as its backup. A completed save
        leaves exactly the directory's books as book files: the files of
        books that are gone are removed. Other files, and sub-folders whose
        item is gone, are kept.

        Before it touches the disk, the save checks the names of the whole
        tree and the text of every book. Saves and loads of one folder take
        turns through an advisory lock.

        Args:
            directory: the folder's path.

        Raises:
            ValueError: an item name that would leave or clash in its folder:
                ".", "..", a name with a path separator or a NUL character,
                "" for a directory item, the name
                "_ParameterDirectory__parameters", a directory item named like
                the file of a book beside it, or book names that would load
                as one (such as "a" and "a.b"). The disk is not touched.
            TypeError: `directory` is not exactly a str; a value that JSON
                cannot represent (found before any book file is backed up
                or written).
            AssertionError: `directory` exists and is not a folder
                (assertion check).
            OSError: a folder cannot be created or listed, or a file cannot
                be written, renamed or removed.
        """

    @staticmethod
    def load(directory: str, /) -> ParameterDirectory:
        """Reads the folder `directory` recursively and returns a new directory.

        Every sub-folder becomes a directory item named after it, and every
        regular file whose name ends in ".yolpt" a book named after the part
        of its name before the first "." (so "motor.old.yolpt" loads as
        "motor"). Items come in the order of the folder listing. Backups and
        other files are not read.

        Args:
            directory: the folder's path, exactly a str; taken by position
                only.

        Warns:
            RuntimeWarning: a book that exists only as its backup
                (N.yolpt-, left by a failed save) and so is not loaded; a
                sub-folder skipped beside a book file of the same name.

        Raises:
            TypeError: `directory` is not exactly a str; a book file that
                `ParameterBook.load` refuses with it.
            ValueError: two entries of one folder give one item name (such as
                "a.yolpt" and "a.b.yolpt"); a book file that is not one JSON
                document.
            AssertionError: a book file that `ParameterBook.load` refuses
                (assertion checks).
            OSError: `directory` is missing or no folder, a file cannot be
                read, or a symbolic link leads back into a folder being
                loaded.
        """
