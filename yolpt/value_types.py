"""How `set` reads VALUE: as JSON, or a bare word as a string; of the JSON type
of the value it replaces unless another type is named; and with finite
numbers only unless others are asked for."""
import json
import math
import os
import sys

from yolpt.errors import UsageError
from yolpt.output import to_json

# The JSON types that --type names (integers and floats apart, as programs
# that read a book tell them apart).
TYPES = ("integer", "float", "boolean", "string", "array", "object")


def type_of(value):
    """The JSON type of a value as --type names it, or None for a value JSON has no type for."""
    if isinstance(value, bool):  # before int, of which bool is a kind
        return "boolean"
    for python_type, name in ((int, "integer"), (float, "float"), (str, "string"), (list, "array"), (dict, "object")):
        if isinstance(value, python_type):
            return name
    return None


def a(type_name):
    return ("an " if type_name[0] in "aeiou" else "a ") + type_name


class Reading:
    """VALUE as read: the text typed, the value, and whether the text was a
    bare word (not JSON) taken as a string."""

    def __init__(self, text, value, bare=False):
        self.text, self.value, self.bare = text, value, bare


class _TooManyDigits(Exception):
    pass


def read(text, type_name=None):
    """VALUE as JSON, or as the text itself for --type string, or for a bare
    word (not JSON and not meant as an array, object or quoted string)."""
    text = _as_typed(text)
    if type_name == "string":
        return Reading(text, text)
    try:
        return Reading(text, json.loads(text, parse_int=_integer))
    except _TooManyDigits as exc:
        raise UsageError(_too_many_digits(str(exc)))
    except ValueError as exc:
        if text.strip()[:1] in ('[', '{', '"'):
            raise UsageError("VALUE %r is not valid JSON: %s (--string stores it as text)" % (text, exc))
        return Reading(text, text, bare=True)


def _as_typed(text):
    """An argument as the user typed it, also where the interpreter could not
    decode it (under the C locale of 3.6): its bytes read as UTF-8."""
    try:
        return os.fsencode(text).decode("utf-8")
    except UnicodeError:
        return text


def _integer(digits):
    try:
        return int(digits)
    except ValueError:  # more digits than the interpreter converts (3.11 on)
        raise _TooManyDigits(digits.lstrip("-"))


def _too_many_digits(digits):
    limit = sys.get_int_max_str_digits()
    return ("VALUE holds an integer of %d digits, more than this interpreter converts between text and "
            "integers (%d): a book holding it would not load. PYTHONINTMAXSTRDIGITS=0 lifts that limit, "
            "for yolpt and for the programs that load the book" % (len(digits), limit))


def refuse_non_finite(reading, allowed):
    """Stops a VALUE holding NaN or an infinity (1e400 reads as one): books
    write them as NaN, Infinity and -Infinity, which most JSON readers other
    than Python's refuse."""
    number = first_non_finite(reading.value)
    if number is None or allowed:
        return
    written = to_json(number)
    how = "holds " + written if written.lstrip("-") in reading.text else \
        "would be written as %s (too large for a float)" % written
    raise UsageError("VALUE %r %s, a number that most JSON readers other than Python's refuse: "
                     "not changed (--non-finite stores it all the same)" % (reading.text, how))


def first_non_finite(value):
    """The first NaN or infinity in a value, arrays and objects searched, or None."""
    if isinstance(value, float):
        return None if math.isfinite(value) else value
    items = value.values() if isinstance(value, dict) else value if isinstance(value, list) else ()
    for item in items:
        found = first_non_finite(item)
        if found is not None:
            return found
    return None


def fit(reading, type_name, replacing=None):
    """The value to store: VALUE of the type that --type names, else of the
    type of the value it replaces (`replacing`: where it is, and the value),
    else of its own type (a new attribute). Where a float is wanted, an
    integer VALUE is stored as the float of exactly its value."""
    where, stored = replacing or (None, None)
    wanted = type_name or type_of(stored)
    value = reading.value
    if wanted == "float" and type_of(value) == "integer":
        value = _exact_float(reading, type_name is None)
    found = type_of(value)
    if wanted is None or found == wanted:
        return value
    if type_name is not None:
        raise UsageError("VALUE %r %s, not %s (--type %s)" % (reading.text, _what(reading, found), a(type_name),
                                                              type_name))
    ways = "--type %s stores it as %s" % (found, a(found))
    ways += " (or --string)" if found == "string" else ", --string as text"
    raise UsageError("%s holds %s (%s); VALUE %r %s: not changed, as that changes the type. %s"
                     % (where, a(wanted), _shortened(to_json(stored)), reading.text, _what(reading, found), ways))


def _what(reading, found):
    return "is not JSON, so it would be stored as a string" if reading.bare else "is " + a(found)


def _shortened(text, longest=60):
    return text if len(text) <= longest else text[:longest - 3] + "..."


def _exact_float(reading, kept):
    number = reading.value
    try:
        exact = float(number) == number
    except OverflowError:
        exact = False
    if not exact:
        why = "the value it replaces is a float" if kept else "--type float asks for one"
        raise UsageError("VALUE %r has no float of exactly its value, and %s: not changed "
                         "(--type integer stores it as an integer)" % (_shortened(reading.text), why))
    return float(number)
