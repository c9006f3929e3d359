"""Session-wide hooks for the yol_vovoruze test suite."""
import os

import pytest

from support import leak_check, namespace_kept


@pytest.fixture
def namespace_guard():
    """The module namespace, put back exactly as it was after the test, order included."""
    with namespace_kept() as namespace:
        yield namespace


# The leak check of the sanitizer run (.ci/run sets YOL_LEAK_CHECK=1), once
# the session is over: see support.leak_check.
_leak_check_result = []


def pytest_sessionfinish(session):
    if os.environ.get("YOL_LEAK_CHECK") != "1":
        return
    _leak_check_result.append(leak_check())
    if _leak_check_result[0] != "clean":
        session.exitstatus = 1  # pytest.ExitCode.TESTS_FAILED


def pytest_terminal_summary(terminalreporter):
    for result in _leak_check_result:
        terminalreporter.write_line("yol leak check: " + result, red=result != "clean", green=result == "clean")
