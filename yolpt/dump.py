"""`dump`: the whole tree as one JSON document, keys sorted."""
import argparse

from yolpt import errors, forms, loading
from yolpt.command import Command
from yolpt.output import to_json


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("path", metavar="PATH", help="a book file or a folder")


def run(args: argparse.Namespace) -> int:
    print(to_json(forms.tree_form(loading.load(args.path)), indent=4))
    return errors.OK


COMMAND = Command("dump", "Print the whole tree as one JSON document.",
                  "Keys are sorted. A folder is {\"books\": {...}, \"directories\": {...}}, a book\n"
                  "{\"parameters\": {...}}, a parameter {\"description\": {...}, \"attributes\": {...}}.",
                  add_arguments, run)
