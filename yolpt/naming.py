"""How a directory load and save read the names of folder entries."""
import os
import re
from typing import Optional, Tuple

from yol_vovoruze import ParameterBook

# The item name under which a directory keeps its own table: a load refuses it.
RESERVED_ITEM_NAME = "_ParameterDirectory__parameters"

# ".<book file>.<pid>.<n>.tmp": what a book save writes before it renames the
# file over its target. The book file part is cut short when the whole name
# would pass the longest entry name a folder can hold.
_TEMPORARY = re.compile(r"\A\.(.*)\.([0-9]+)\.[0-9]+\.tmp\Z", re.DOTALL)
LONGEST_ENTRY = 255


def extension() -> str:
    return ParameterBook.ExtName


def is_book_file_name(entry: str) -> bool:
    """A name that a load reads as a book (when the entry is a regular file)."""
    return entry.endswith("." + extension())


def book_name(entry: str) -> str:
    """The item name a load gives the book in `entry`: the part before the first "."."""
    return entry.split(".")[0]


def is_backed_up_name(entry: str) -> bool:
    """A name that the backup step of a save renames (when the entry is a regular file)."""
    return entry.split(".")[-1] == extension()


def backed_up_file(entry: str) -> Optional[str]:
    """The book file whose backup `entry` is, or None."""
    if entry.endswith("-") and is_backed_up_name(entry[:-1]):
        return entry[:-1]
    return None


def temporary_file(entry: str) -> Optional[Tuple[str, int]]:
    """(the book file it was written for, the saving process id) for a save's
    temporary file, or None. A shortened book file name is returned as it stands."""
    match = _TEMPORARY.match(entry)
    if not match:
        return None
    target = match.group(1)
    shortened = len(os.fsencode(entry)) >= LONGEST_ENTRY
    if not (shortened or is_backed_up_name(target)):
        return None
    return target, int(match.group(2))


def is_book_like(entry: str) -> bool:
    """A name that a person would take for a book file, whatever a load makes of it."""
    lowered = entry.lower()
    ext = extension().lower()
    return lowered == ext or lowered.endswith("." + ext)
