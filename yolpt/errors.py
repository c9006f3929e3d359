"""Errors, exit statuses and the lines that yolpt writes to stderr.

The errors are those of the Python functions of the package as well: an
address that names nothing raises NotFound (a KeyError, as a missing name in
the module's tables does), a value or an address that cannot be taken raises
UsageError (a ValueError); both are kinds of Error. A command that fails
ends in report(), which says why on stderr and gives the exit status."""
import argparse
import os
import sys
from typing import Optional, Tuple

# Exit statuses of the commands, all of them here.
OK = 0            # success: done, clean, no difference
FOUND = 1         # check found a problem, diff a difference, recover left what it cannot fix
FAILED = 1        # an operation failed: a name not found, a book that does not load, a save refused
USAGE = 2         # the command line asks for what cannot be, or VALUE is refused
TROUBLE = 2       # diff: A or B cannot be loaded (as for diff(1), 1 means only "they differ")
INTERRUPTED = 130  # Ctrl-C

# What `yolpt --help` says of them.
STATUSES = (
    (OK, "success: done, clean, no difference"),
    (FOUND, "check found a problem, diff a difference, recover left what it cannot fix; "
            "or an operation failed (a name not found, a book that does not load)"),
    (USAGE, "a usage error or a refused VALUE; for diff, A or B cannot be loaded"),
    (INTERRUPTED, "interrupted (Ctrl-C)"),
)


class Error(Exception):
    """An operation failed: for a command, the message goes to stderr and
    `status` is the exit status."""

    def __init__(self, message: str, status: int = FAILED) -> None:
        super().__init__(message)
        self.status = status

    def __str__(self) -> str:
        return str(self.args[0]) if self.args else ""


class UsageError(Error, ValueError):
    """What is asked for cannot be: a malformed address, a value of another
    type than the one it replaces, a number that JSON readers refuse."""

    def __init__(self, message: str) -> None:
        super().__init__(message, status=USAGE)


class NotFound(Error, KeyError):
    """An address names a folder, book, parameter, attribute or description
    that does not exist. Its text says which, and suggests the nearest names."""

    def __init__(self, message: str) -> None:
        super().__init__(message, status=FAILED)


# The command that runs, for the lines written to stderr ("yolpt" before one is known).
_command: Optional[str] = None


def running(command: Optional[str]) -> None:
    global _command
    _command = command


def tell(kind: str, message: str) -> None:
    """Writes `yolpt COMMAND: KIND: MESSAGE` to stderr: KIND is error, warning or note."""
    program = "yolpt" if _command is None else "yolpt " + _command
    print("%s: %s: %s" % (program, kind, message), file=sys.stderr, flush=True)


def report(exc: BaseException, parser: Optional[argparse.ArgumentParser] = None) -> int:
    """Says why a command failed with `exc` and returns its exit status: an
    Error's own (a UsageError after the usage line of `parser`), FAILED for
    an OSError, INTERRUPTED for Ctrl-C."""
    if isinstance(exc, KeyboardInterrupt):
        return INTERRUPTED
    if isinstance(exc, BrokenPipeError):
        # The reader went away (`yolpt dump DIR | head`): no more output, no complaint.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return FAILED
    if isinstance(exc, Error):
        if isinstance(exc, UsageError) and parser is not None:
            parser.print_usage(sys.stderr)
        tell("error", str(exc))
        return exc.status
    tell("error", describe(exc))
    return FAILED


def describe(exc: BaseException) -> str:
    """One line for an exception raised by the module or the file system."""
    if isinstance(exc, OSError) and exc.strerror:
        text = exc.strerror
        if exc.filename is not None:
            text += ": " + str(exc.filename)
    else:
        text = type(exc).__name__
        if str(exc):
            text += ": " + str(exc)
    for note in getattr(exc, "__notes__", ()):
        text += " (" + str(note) + ")"
    return text


def statuses() -> Tuple[str, ...]:
    return tuple("%d %s" % pair for pair in STATUSES)
