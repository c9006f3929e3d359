"""Session-wide hooks for the yol_vovoruze test suite."""
import gc
import json
import os

import pytest

import yol_vovoruze as yv
from support import book_text_outcomes, namespace_kept

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


# Leak check of the sanitizer run (.ci/run sets YOL_LEAK_CHECK=1, preloads
# AddressSanitizer and turns LeakSanitizer's own check at exit off). At exit it
# would list everything the interpreter never frees, and since libpython is a
# shared library, a suppression by module could not tell those blocks from
# ours. Here, with the interpreter still alive and holding what it uses, a
# block that nothing points at any more is one somebody forgot to release,
# such as an object whose last reference our C++ dropped on the floor.
# LeakSanitizer does not scan the interpreter's frame stacks (mmap'ed, not
# malloc'ed), so the frame objects of the calls still running, and their
# locals, are pinned from this module while the check runs.
_leak_check_result = []
_pinned = []


def pytest_sessionfinish(session):
    if _FREEZE:
        gc.unfreeze()
    if os.environ.get("YOL_LEAK_CHECK") != "1":
        return
    import ctypes
    import sys

    for _ in range(3):  # cycles that are garbage but not yet collected are not leaks
        gc.collect()
    sys.stdout.flush()
    sys.stderr.flush()
    check = getattr(ctypes.CDLL(None), "__lsan_do_recoverable_leak_check", None)
    if check is None:
        _leak_check_result.append("failed: LeakSanitizer is not loaded (preload libasan)")
    else:
        for frame in sys._current_frames().values():
            while frame is not None:
                locals_ = frame.f_locals  # kept as is, and copied where it is a view (3.13)
                _pinned.append((frame, locals_, dict(locals_)))
                frame = frame.f_back
        leaked = check()
        del _pinned[:]
        _leak_check_result.append("failed: LeakSanitizer reported leaks, see its report above" if leaked else "clean")
    if _leak_check_result[0] != "clean":
        session.exitstatus = 1  # pytest.ExitCode.TESTS_FAILED


def pytest_terminal_summary(terminalreporter):
    for result in _leak_check_result:
        terminalreporter.write_line("yol leak check: " + result, red=result != "clean", green=result == "clean")
