"""`show`: a book file or a folder as an indented tree."""
import argparse
import os
from typing import List, Optional

from yol_vovoruze import Parameter, ParameterBook, ParameterDirectory

from yolpt import disk, errors, loading
from yolpt.command import Command
from yolpt.output import to_json

INDENT = "  "


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("path", metavar="PATH", help="a book file or a folder")
    parser.add_argument("--lang", metavar="LANG",
                        help="language of the descriptions (its entry, else \"default\"); "
                             "without it, the system's language")


def run(args: argparse.Namespace) -> int:
    item = loading.load(args.path)
    lines: List[str] = []
    if isinstance(item, ParameterDirectory):
        lines.append(args.path.rstrip(os.sep) + os.sep)
        _directory_lines(item, 1, args.lang, lines)
    else:
        lines.append(args.path)
        _book_lines(item, 1, args.lang, lines)
    print("\n".join(lines))
    return errors.OK


COMMAND = Command("show", "Show a book file or a folder as a tree.",
                  "Folders end in '/', books are listed with their parameters, each with its\n"
                  "description and its attributes as JSON.",
                  add_arguments, run)


def _directory_lines(directory: ParameterDirectory, depth: int, lang: Optional[str], lines: List[str]) -> None:
    items = sorted(directory.items(), key=lambda pair: pair[0])
    if not items:
        lines.append(INDENT * depth + "(empty)")
    for name, item in items:
        if isinstance(item, ParameterDirectory):
            lines.append(INDENT * depth + label(name) + "/")
            _directory_lines(item, depth + 1, lang, lines)
        else:
            lines.append(INDENT * depth + label(disk.book_file_name(name)))
            _book_lines(item, depth + 1, lang, lines)


def _book_lines(book: ParameterBook, depth: int, lang: Optional[str], lines: List[str]) -> None:
    if not list(book.names()):
        lines.append(INDENT * depth + "(no parameters)")
    for name, parameter in book.items():
        text = description(parameter, lang)
        head = INDENT * depth + label(name)
        lines.append(head + " - " + text.replace("\n", "\n" + " " * (len(head) + 3)) if text else head)
        for attribute, value in parameter.items():
            lines.append(INDENT * (depth + 1) + label(attribute) + ": " + to_json(value, sort_keys=False))


def description(parameter: Parameter, lang: Optional[str]) -> str:
    """The text in language `lang` (else "default"), or in the system's language."""
    try:
        if lang is None:
            text = parameter.description
        else:
            table = parameter.all_descriptions()
            text = table[lang] if lang in table else table["default"]
    except (KeyError, TypeError):
        return ""
    return text if isinstance(text, str) else ""


def label(name: str) -> str:
    """A name as it stands, or quoted where blanks or control characters would hide it."""
    if name and name.strip() == name and name.isprintable():
        return name
    return to_json(name)
