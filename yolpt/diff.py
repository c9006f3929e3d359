"""`diff`: what differs between two books or two folders, parameter by
parameter; and the same as data, for programs (`differences`, `same`).

Each difference is "+" (only in B), "-" (only in A) or "~" (changed), with
the address of the thing as `get` and `set` (and `find` and `assign`) take
it. Values compare as a book file writes them: 1, 1.0 and true differ, and
NaN is the same as NaN."""
import argparse
from typing import Any, Iterable, List, NamedTuple, Optional

from yol_vovoruze import Parameter, ParameterBook, ParameterDirectory

from yolpt import errors, loading
from yolpt.command import Command
from yolpt.errors import Error, UsageError
from yolpt.output import plural, to_json
from yolpt.tree import Tree
from yolpt.value_types import type_of

ONLY_IN_B = "+"
ONLY_IN_A = "-"
CHANGED = "~"


class Difference(NamedTuple):
    """One difference between two trees. `kind` is what differs: "folder",
    "book" or "parameter" (there only in one of them: `old` or `new` is the
    object itself, the other None), "attribute" or "description" (a value;
    None where it is missing). `language` is that of a description."""

    sign: str
    address: str
    kind: str
    old: Any
    new: Any
    language: Optional[str] = None

    def __str__(self) -> str:
        """The line that `yolpt diff` prints."""
        where = self.address
        if self.kind == "description":
            where = (where + " " if where else "") + "--description %s" % self.language
        if self.kind in ("folder", "book", "parameter"):
            return "%s %s  (%s)" % (self.sign, where, _summary(self.old if self.new is None else self.new))
        if self.sign == CHANGED:
            return "%s %s: %s -> %s" % (self.sign, where, to_json(self.old), to_json(self.new))
        return "%s %s: %s" % (self.sign, where, to_json(self.old if self.new is None else self.new))


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("a", metavar="A", help="a book file or a folder")
    parser.add_argument("b", metavar="B", help="a book file or a folder")


def run(args: argparse.Namespace) -> int:
    try:
        old, new = loading.load(args.a), loading.load(args.b)
    except Error as exc:
        raise Error(str(exc), status=errors.TROUBLE)
    if isinstance(old, ParameterDirectory) != isinstance(new, ParameterDirectory):
        raise Error("cannot compare a book file with a folder", status=errors.TROUBLE)
    found = differences(old, new)
    for difference in found:
        print(difference)
    return errors.FOUND if found else errors.OK


COMMAND = Command("diff", "Show what differs between two books or two folders.",
                  "Lines start with '+' (only in B), '-' (only in A) or '~' (changed), followed\n"
                  "by the address as get and set take it (a description's as\n"
                  "book.parameter --description LANG). Values differ by their JSON text: 1,\n"
                  "1.0 and true differ. Exit status 0 when they are the same, 1 when they\n"
                  "differ, 2 when one of them cannot be loaded.",
                  add_arguments, run)


def differences(a: Tree, b: Tree) -> List[Difference]:
    """What differs between two folders' trees, two books or two parameters,
    in the order in which `yolpt diff` prints it (names sorted). Raises
    UsageError (a ValueError) for two things of different kinds."""
    found: List[Difference] = []
    if isinstance(a, ParameterDirectory) and isinstance(b, ParameterDirectory):
        _directories(a, b, "", found)
    elif isinstance(a, ParameterBook) and isinstance(b, ParameterBook):
        _books(a, b, "", found)
    elif isinstance(a, Parameter) and isinstance(b, Parameter):
        _parameters(a, b, "", found)
    else:
        raise UsageError("cannot compare %s with %s" % (_noun(a), _noun(b)))
    return found


def same(a: Tree, b: Tree) -> bool:
    """Whether two folders' trees, two books or two parameters hold the same
    names, descriptions and values, compared as book files write them (in
    any order). Things of different kinds are not the same."""
    if not any(isinstance(a, kind) and isinstance(b, kind) for kind in (ParameterDirectory, ParameterBook, Parameter)):
        return False
    return not differences(a, b)


def _noun(item: object) -> str:
    for kind, noun in ((ParameterDirectory, "a folder's tree"), (ParameterBook, "a book"), (Parameter, "a parameter")):
        if isinstance(item, kind):
            return noun
    return type(item).__name__


def _sorted(names: Iterable[Any]) -> List[Any]:
    return sorted(set(names), key=lambda name: (not isinstance(name, str), str(name)))


def _directories(old: ParameterDirectory, new: ParameterDirectory, prefix: str, found: List[Difference]) -> None:
    olds, news = dict(old.items()), dict(new.items())
    for name in _sorted(list(olds) + list(news)):
        a, b = olds.get(name), news.get(name)
        folders = [item if isinstance(item, ParameterDirectory) else None for item in (a, b)]
        books = [item if isinstance(item, ParameterBook) else None for item in (a, b)]
        if folders[0] is not None and folders[1] is not None:
            _directories(folders[0], folders[1], prefix + name + "/", found)
        else:
            _only_one(folders, prefix + name + "/", "folder", found)
        if books[0] is not None and books[1] is not None:
            _books(books[0], books[1], prefix + name, found)
        else:
            _only_one(books, prefix + name, "book", found)


def _only_one(pair: List[Any], address: str, kind: str, found: List[Difference]) -> None:
    a, b = pair
    if a is not None or b is not None:
        found.append(Difference(ONLY_IN_A if b is None else ONLY_IN_B, address, kind, a, b))


def _books(old: ParameterBook, new: ParameterBook, book: str, found: List[Difference]) -> None:
    prefix = book + "." if book else ""
    olds, news = dict(old.items()), dict(new.items())
    for name in _sorted(list(olds) + list(news)):
        address = prefix + name
        a, b = olds.get(name), news.get(name)
        if a is not None and b is not None:
            _parameters(a, b, address, found)
            continue
        _only_one([a, b], address, "parameter", found)
        _parameters(a or Parameter({}), b or Parameter({}), address, found, attributes_only=True)


def _parameters(old: Parameter, new: Parameter, address: str, found: List[Difference],
                attributes_only: bool = False) -> None:
    tables = [("description", old.all_descriptions(), new.all_descriptions())] if not attributes_only else []
    for kind, olds, news in tables + [("attribute", dict(old.items()), dict(new.items()))]:
        for key in _sorted(list(olds) + list(news)):
            where = address if kind == "description" else (address + "." if address else "") + key
            language = key if kind == "description" else None
            if key not in news:
                found.append(Difference(ONLY_IN_A, where, kind, olds[key], None, language))
            elif key not in olds:
                found.append(Difference(ONLY_IN_B, where, kind, None, news[key], language))
            elif not same_value(olds[key], news[key]):
                found.append(Difference(CHANGED, where, kind, olds[key], news[key], language))


def same_value(a: object, b: object) -> bool:
    """Whether two values are written alike in a book file: of the same JSON
    type (1, 1.0 and true differ), floats by their text (NaN is NaN, -0.0 is
    not 0.0), objects whatever the order of their keys."""
    kind = type_of(a)
    if kind != type_of(b):
        return False
    if kind == "float":
        return repr(a) == repr(b)
    if isinstance(a, list) and isinstance(b, list):
        return len(a) == len(b) and all(same_value(x, y) for x, y in zip(a, b))
    if isinstance(a, dict) and isinstance(b, dict):
        return a.keys() == b.keys() and all(same_value(a[key], b[key]) for key in a)
    if kind is None:  # what no book file holds (a complex number, a tuple): as Python compares it
        return type(a) is type(b) and (a == b or repr(a) == repr(b))
    return a == b


def _summary(item: object) -> str:
    if isinstance(item, ParameterBook):
        return "book, " + plural(len(item.names()), "parameter")
    if isinstance(item, ParameterDirectory):
        books = sum(isinstance(entry, ParameterBook) for _, entry in item.items())
        return "folder, %s, %s" % (plural(books, "book"), plural(len(item.names()) - books, "folder"))
    return "parameter"
