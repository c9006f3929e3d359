"""Errors that end a command with a message instead of a traceback."""


class ToolError(Exception):
    """An operation failed: the message goes to stderr, the status is the exit status."""

    def __init__(self, message, status=1):
        super().__init__(message)
        self.status = status


class UsageError(ToolError):
    """The command line asks for something that cannot be: exit status 2."""

    def __init__(self, message):
        super().__init__(message, status=2)


def describe(exc):
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
