"""How `set` (and the Python functions that assign) read a value: VALUE as
JSON, or a bare word as a string; of the JSON type of the value it replaces
unless another type is named; and with finite numbers only unless others are
asked for."""
import json
import math
import os
import sys
from typing import Any, Optional, Tuple

from yolpt.errors import UsageError
from yolpt import hints
from yolpt.hints import Wording
from yolpt.loading import holds_null
from yolpt.output import to_json

# The JSON types that --type names (integers and floats apart, as programs
# that read a book tell them apart).
TYPES = ("integer", "float", "boolean", "string", "array", "object")

# Names that no attribute of a book that loads can have: the parameter's
# constructor takes them as its own arguments.
RESERVED_ATTRIBUTES = ("description", "self")


def reserved_attribute(attribute: str, parameter_address: str, wording: Wording) -> str:
    text = "no attribute can be named %r: a book holding one would not load" % attribute
    if attribute == "description":
        text += ("; the address %s with %s sets the parameter's description in the language LANG "
                 "('default' for its default text)" % (parameter_address, wording.description))
    return text


def type_of(value: object) -> Optional[str]:
    """The JSON type of a value as --type names it, or None for a value JSON has no type for."""
    if isinstance(value, bool):  # before int, of which bool is a kind
        return "boolean"
    for python_type, name in ((int, "integer"), (float, "float"), (str, "string"), (list, "array"), (dict, "object")):
        if isinstance(value, python_type):
            return name
    return None


def a(type_name: str) -> str:
    return ("an " if type_name[0] in "aeiou" else "a ") + type_name


class Reading:
    """A value to store, as read: what was written (`text`, for VALUE on the
    command line; None for a Python value), the value, and whether the text
    was a bare word (not JSON) taken as a string."""

    def __init__(self, text: Optional[str], value: Any, bare: bool = False) -> None:
        self.text, self.value, self.bare = text, value, bare

    def shown(self) -> str:
        """The value as a message quotes it."""
        return repr(self.text) if self.text is not None else _shortened(repr(self.value))


class _TooManyDigits(Exception):
    pass


def read(text: str, type_name: Optional[str] = None, wording: Wording = hints.COMMAND) -> Reading:
    """VALUE as JSON, or as the text itself for --type string, or for a bare
    word (not JSON and not meant as an array, object or quoted string)."""
    text = as_typed(text)
    if type_name == "string":
        return Reading(text, text)
    try:
        reading = Reading(text, json.loads(text, parse_int=_integer))
    except _TooManyDigits as exc:
        raise UsageError(_too_many_digits(str(exc), wording))
    except ValueError as exc:
        if text.strip()[:1] in ('[', '{', '"'):
            raise UsageError("%s %r is not valid JSON: %s%s" % (wording.value, text, exc,
                                                               _way(wording.string, "stores it as text")))
        return Reading(text, text, bare=True)
    if holds_null(reading.value):
        raise UsageError("%s %r holds null, which no parameter can hold" % (wording.value, text))
    return reading


def _way(phrase: Optional[str], does: str) -> str:
    return " (%s %s)" % (phrase, does) if phrase else ""


def as_typed(text: str) -> str:
    """An argument as the user typed it, also where the interpreter could not
    decode it (under the C locale of 3.6): its bytes read as UTF-8."""
    try:
        return os.fsencode(text).decode("utf-8")
    except UnicodeError:
        return text


def _integer(digits: str) -> int:
    try:
        return int(digits)
    except ValueError:  # more digits than the interpreter converts (3.11 on)
        raise _TooManyDigits(digits.lstrip("-"))


def _too_many_digits(digits: str, wording: Wording) -> str:
    limit = getattr(sys, "get_int_max_str_digits", lambda: 0)()
    return ("%s holds an integer of %d digits, more than this interpreter converts between text and "
            "integers (%d): a book holding it would not load. PYTHONINTMAXSTRDIGITS=0 lifts that limit, "
            "for yolpt and for the programs that load the book" % (wording.value, len(digits), limit))


def json_problem(value: object) -> Optional[Tuple[object, str]]:
    """What in a value no book file can hold, and why (None, which no
    parameter holds; what JSON has no form for), or None."""
    if value is None:
        return value, "null"
    if isinstance(value, (bool, int, float, str)):
        return None
    if isinstance(value, list):
        items: Any = value
    elif isinstance(value, dict):
        keys = [key for key in value if not isinstance(key, str)]
        if keys:
            return keys[0], "a key that is not a string"
        items = value.values()
    else:
        return value, "%s, which JSON has no form for%s" % (
            a(type(value).__name__), " (a list is an array)" if isinstance(value, tuple) else "")
    for item in items:
        problem = json_problem(item)
        if problem:
            return problem
    return None


def python_value(value: object) -> Reading:
    """A value given in Python, which must be one that a book file holds."""
    problem = json_problem(value)
    if value is None:
        raise UsageError("the value is None (null in a book), which no parameter can hold")
    if problem:
        piece, why = problem
        raise UsageError("the value %s %s %s: a book file cannot hold it" % (
            _shortened(repr(value)), "is" if piece is value else "holds %s," % _shortened(repr(piece)), why))
    return Reading(None, value)


def refuse_non_finite(reading: Reading, allowed: bool, wording: Wording = hints.COMMAND) -> None:
    """Stops a value holding NaN or an infinity (1e400 reads as one): books
    write them as NaN, Infinity and -Infinity, which most JSON readers other
    than Python's refuse."""
    number = first_non_finite(reading.value)
    if number is None or allowed:
        return
    written = to_json(number)
    how = "holds " + written if reading.text is None or written.lstrip("-") in reading.text else \
        "would be written as %s (too large for a float)" % written
    raise UsageError("%s %s %s, a number that most JSON readers other than Python's refuse: not changed%s"
                     % (wording.value, reading.shown(), how, _way(wording.non_finite, "stores it all the same")))


def first_non_finite(value: object) -> Optional[float]:
    """The first NaN or infinity in a value, arrays and objects searched, or None."""
    if isinstance(value, float):
        return None if math.isfinite(value) else value
    items: Any = value.values() if isinstance(value, dict) else value if isinstance(value, list) else ()
    for item in items:
        found = first_non_finite(item)
        if found is not None:
            return found
    return None


def fit(reading: Reading, type_name: Optional[str], replacing: Optional[Tuple[str, object]] = None,
        wording: Wording = hints.COMMAND) -> Any:
    """The value to store: the value read, of the type that `type_name`
    names, else of the type of the value it replaces (`replacing`: where it
    is, and the value), else of its own type (a new attribute). Where a float
    is wanted, an integer is stored as the float of exactly its value."""
    where, stored = replacing or (None, None)
    wanted = type_name or type_of(stored)
    value = reading.value
    if wanted == "float" and type_of(value) == "integer":
        value = _exact_float(reading, type_name is None, wording)
    found = type_of(value)
    if wanted is None or found == wanted:
        return value
    assert found is not None, "a value that JSON holds"
    if type_name is not None:
        raise UsageError("%s %s %s, not %s%s" % (wording.value, reading.shown(), _what(reading, found), a(type_name),
                                                 " (%s)" % wording.as_type(type_name) if wording.type else ""))
    if wording.type is None:
        ways = "Write %s." % a(wanted)
    else:
        ways = "%s stores it as %s" % (wording.as_type(found), a(found))
        if found == "string":
            if wording.string and wording.string != wording.as_type("string"):
                ways += " (or %s)" % wording.string
        elif wording.string:
            ways += ", %s as text" % wording.string
    raise UsageError("%s holds %s (%s); %s %s %s: not changed, as that changes the type. %s"
                     % (where, a(wanted), _shortened(to_json(stored)), wording.value, reading.shown(),
                        _what(reading, found), ways))


def _what(reading: Reading, found: str) -> str:
    return "is not JSON, so it would be stored as a string" if reading.bare else "is " + a(found)


def _shortened(text: str, longest: int = 60) -> str:
    return text if len(text) <= longest else text[:longest - 3] + "..."


def _exact_float(reading: Reading, kept: bool, wording: Wording) -> float:
    number = reading.value
    try:
        exact = float(number) == number
    except OverflowError:
        exact = False
    if not exact:
        why = "the value it replaces is a float" if kept else "a float is asked for"
        raise UsageError("%s %s has no float of exactly its value, and %s: not changed%s"
                         % (wording.value, _shortened(reading.shown()), why,
                            _way(wording.as_type("integer"), "stores it as an integer")))
    return float(number)
