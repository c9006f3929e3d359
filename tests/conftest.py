"""Session-wide hooks for the yol_vovoruze test suite."""
import gc
import json
import os

import pytest

import yol_vovoruze as yv
from support import book_text_outcomes, leak_check, namespace_kept

_JSON_DUMPS = json.dumps
# Larger books are left out of the check after each test, which keeps it quick.
_LARGEST_CHECKED_BOOK = 100
# Each check sets the objects alive aside (gc.freeze), so that the next only
# meets the objects made since. Without that (3.6), every check would walk every
# object of the session: there the check is left out.
_FREEZE = hasattr(gc, "freeze")


def _live_books():
    classes = [yv.ParameterBook]
    for cls in classes:
        classes.extend(cls.__subclasses__())
    # Instances of a class defined in Python refer to it, so the referrers of
    # the classes hold every live book.
    return [o for o in gc.get_referrers(*classes) if isinstance(o, yv.ParameterBook)]


def _small(book):
    try:
        return len(getattr(book, "_ParameterBook__parameters")) <= _LARGEST_CHECKED_BOOK
    except Exception:  # noqa: BLE001 - an unusual table is checked whatever its size
        return True


@pytest.fixture(autouse=True)
def books_write_the_text_of_json():
    """After each test, every book still alive gives the text (or the error)
    that json.dumps gives for its forms, while the module uses the json module
    it imported."""
    yield
    if not _FREEZE:
        return
    try:
        if yv._json is json and json.dumps is _JSON_DUMPS:
            for book in filter(_small, _live_books()):  # garbage not yet collected included
                ours, json_text = book_text_outcomes(book)
                assert ours == json_text, "a live book's text is not json's"
    finally:
        gc.collect()
        gc.freeze()


@pytest.fixture
def namespace_guard():
    """The module namespace, put back exactly as it was after the test, order included."""
    with namespace_kept() as namespace:
        yield namespace


# The leak check of the sanitizer run (.ci/run sets YOL_LEAK_CHECK=1), once
# the session is over: see support.leak_check.
_leak_check_result = []


def pytest_sessionfinish(session):
    if _FREEZE:
        gc.unfreeze()
    if os.environ.get("YOL_LEAK_CHECK") != "1":
        return
    _leak_check_result.append(leak_check())
    if _leak_check_result[0] != "clean":
        session.exitstatus = 1  # pytest.ExitCode.TESTS_FAILED


def pytest_terminal_summary(terminalreporter):
    for result in _leak_check_result:
        terminalreporter.write_line("yol leak check: " + result, red=result != "clean", green=result == "clean")
