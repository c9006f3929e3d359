"""Loads a book file or a folder through the module, turning its failures into
messages that name the file and say what is wrong with it."""
import contextlib
import json
import os
import warnings
from typing import Iterator, Optional, Tuple, Union

from yol_vovoruze import ParameterBook, ParameterDirectory

from yolpt import disk, errors
from yolpt.address import no_such_path
from yolpt.errors import Error, NotFound, describe


@contextlib.contextmanager
def reported_warnings() -> Iterator[None]:
    """Shows the module's warnings as the tool's own lines on stderr."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        yield
    for warning in caught:
        errors.tell("warning", str(warning.message))


def load(path: str) -> Union[ParameterBook, ParameterDirectory]:
    """The ParameterBook of a book file or the ParameterDirectory of a folder."""
    if os.path.isdir(path):
        return load_directory(path)
    if os.path.lexists(path):
        return load_book(path)
    raise NotFound(no_such_path(path))


def load_book(path: str) -> ParameterBook:
    try:
        with reported_warnings():
            return ParameterBook.load(path)
    except Exception as exc:
        raise Error("%s: does not load: %s" % (path, why_not_loading(path, exc)))


def load_directory(path: str) -> ParameterDirectory:
    try:
        with reported_warnings():
            return ParameterDirectory.load(path)
    except Exception as exc:
        culprit = _first_unloadable_book(path)
        if culprit:
            raise Error("%s: does not load: %s" % culprit)
        raise Error("%s: does not load: %s" % (path, describe(exc)))


def _first_unloadable_book(root: str) -> Optional[Tuple[str, str]]:
    for folder, _, files in os.walk(root, followlinks=True):
        for entry in sorted(files):
            path = os.path.join(folder, entry)
            if disk.is_book_file(path):
                failure = book_failure(path)
                if failure:
                    return path, why_not_loading(path, failure)
    return None


def read_book(path: str) -> Tuple[Optional[ParameterBook], Optional[Exception]]:
    """(the book, None) for a book file that loads, else (None, the error)."""
    try:
        return ParameterBook.load(path), None
    except Exception as exc:
        return None, exc


def book_failure(path: str) -> Optional[Exception]:
    """The error with which a book file does not load, or None when it loads."""
    return read_book(path)[1]


def why_not_loading(path: str, exc: BaseException) -> str:
    if isinstance(exc, UnicodeDecodeError):
        return "not UTF-8 text (byte 0x%02x at offset %d)" % (exc.object[exc.start], exc.start)
    if isinstance(exc, json.JSONDecodeError):
        if not exc.doc.strip():
            return ("the file is %s: a book file holds a JSON array of parameters, [] for none; restore the "
                    "book from a copy, or remove the file" % ("empty" if not exc.doc else "only blank space"))
        return "not JSON: %s (line %d, column %d)" % (exc.msg, exc.lineno, exc.colno)
    if isinstance(exc, (AssertionError, TypeError)):
        found = _form_problem(path)
        if found:
            return found
    return describe(exc)


def _form_problem(path: str) -> Optional[str]:
    """What in the file's JSON a book load refuses, as far as its form shows it."""
    if not os.path.isfile(path):
        return "not a regular file"
    try:
        with open(path, encoding="utf8") as handle:
            forms = json.load(handle)
    except (OSError, ValueError):
        return None
    if not isinstance(forms, list):
        return "the top level is %s, not an array of parameters" % _kind(forms)
    for index, form in enumerate(forms):
        where = "parameter %d" % (index + 1)
        if not isinstance(form, dict):
            return "%s is %s, not an object" % (where, _kind(form))
        for key, expected in (("name", str), ("description", dict), ("attributes", dict)):
            if key not in form:
                return '%s has no "%s"' % (where, key)
            if not isinstance(form[key], expected):
                return '%s: "%s" is %s' % (where, key, _kind(form[key]))
        where = "parameter %s" % json.dumps(form["name"], ensure_ascii=False)
        if not isinstance(form["description"].get("default"), str):
            return '%s: the description has no "default" text' % where
        if holds_null(form["description"]):
            return "%s: the description holds null" % where
        for name, value in form["attributes"].items():
            if name in ("description", "self"):
                return '%s: an attribute may not be named "%s"' % (where, name)
            if holds_null(value):
                return "%s: attribute %s holds null, which no parameter can hold" % (
                    where, json.dumps(name, ensure_ascii=False))
    return None


def holds_null(value: object) -> bool:
    if value is None:
        return True
    if isinstance(value, list):
        return any(holds_null(item) for item in value)
    if isinstance(value, dict):
        return any(holds_null(item) for item in value.values())
    return False


def _kind(value: object) -> str:
    for kind, name in ((dict, "an object"), (list, "an array"), (str, "a string"), (bool, "a boolean")):
        if isinstance(value, kind):
            return name
    return "null" if value is None else "a number"
