"""A command of `yolpt`: its name, its help, the arguments it takes and what it does.

Each command's module defines its Command; cli.py lists them and builds the
parser from the list."""
import argparse
from typing import Callable


class Command:
    """`summary` is the line that `yolpt --help` lists and that begins the
    command's own help, `details` the text that follows it there (as written:
    line breaks are kept). `add_arguments` adds the command's arguments to its
    parser; `run` does what the arguments ask and returns the exit status, or
    raises an error that the command line reports (errors.report)."""

    def __init__(self, name: str, summary: str, details: str,
                 add_arguments: Callable[[argparse.ArgumentParser], None],
                 run: Callable[[argparse.Namespace], int]) -> None:
        self.name = name
        self.summary = summary
        self.details = details
        self.add_arguments = add_arguments
        self.run = run
