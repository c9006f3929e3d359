"""What is wrong, or worth knowing, about the entries of a scanned folder."""
import os
from typing import Iterator, List, Optional, Tuple, Union

from yol_vovoruze import ParameterBook

from yolpt import disk, loading, processes, value_types
from yolpt.output import to_json
from yolpt.scan import FolderScan

# Kinds of finding; the first three are what `recover` repairs.
ORPHAN_BACKUP = "orphan backup"
BACKUP = "backup"
DEAD_TEMPORARY = "dead temporary file"
UNLOADABLE = "does not load"
NON_FINITE = "non-finite number"
CLASH = "clash"
SHADOWED = "skipped folder"
RESERVED = "reserved name"
IGNORED = "ignored"
UNREADABLE = "unreadable"
LINK_LOOP = "link loop"
STUCK_BACKUP = "stuck backup"
# Notes: reported, but the folder is still clean.
SAVE_RUNNING = "save in progress"
FOLDER_NAMED_LIKE_BOOK = "folder"


class Finding:
    def __init__(self, path: str, kind: str, detail: str, fault: bool = True,
                 subject: Union[str, BaseException, None] = None,
                 unfixable: Optional[str] = None) -> None:
        self.path = path        # the file or folder it concerns
        self.kind = kind
        self.detail = detail
        self.fault = fault      # False for a note, which leaves the folder clean
        self.subject = subject  # the book file of a backup or a temporary file; the error of a book
        self.unfixable = unfixable  # why `recover` leaves what it would otherwise repair

    def book_file(self) -> str:
        """The book file that a backup or a temporary file is for (the subject's name)."""
        return self.subject if isinstance(self.subject, str) else ""

    def __str__(self) -> str:
        return "%s: %s%s: %s" % (self.path, "" if self.fault else "note: ", self.kind, self.detail)


def judge(scan: FolderScan, load_books: bool = True) -> List[Finding]:
    """The findings about one scanned folder, in entry order within each kind."""
    if scan.problem:
        return [Finding(scan.folder, LINK_LOOP if scan.loops else UNREADABLE, scan.problem)]
    found: List[Finding] = []
    found += _item_names(scan)
    if load_books:
        for entry in scan.books:
            found += book_findings(scan.path(entry))
    found += _backups(scan, load_books)
    for entry, book_file, pid in scan.temporaries:
        if processes.is_running(pid):
            found.append(Finding(scan.path(entry), SAVE_RUNNING, "written by process %d, which is running" % pid,
                                 fault=False, subject=book_file))
        else:
            found.append(Finding(scan.path(entry), DEAD_TEMPORARY,
                                 "left by a save of %s by process %d, which is no longer running" % (book_file, pid),
                                 subject=book_file))
    found += [Finding(scan.path(entry), IGNORED, why) for entry, why in scan.ignored]
    found += [Finding(scan.path(entry), FOLDER_NAMED_LIKE_BOOK,
                      "loads as a folder named %r, not as a book" % entry, fault=False)
              for entry in scan.folders if disk.is_book_file_name(entry)]
    return found


def book_findings(path: str) -> List[Finding]:
    """Why a book file does not load, or the numbers in it that most JSON
    readers other than Python's refuse (NaN, Infinity, -Infinity)."""
    book, failure = loading.read_book(path)
    if failure is not None:
        return [Finding(path, UNLOADABLE, loading.why_not_loading(path, failure), subject=failure)]
    assert book is not None
    return [Finding(path, NON_FINITE, "parameter %s, %s %s holds %s, which most JSON readers other than Python's "
                    "refuse" % (to_json(name), table, to_json(key), to_json(number)))
            for name, table, key, number in _non_finite_numbers(book)]


def _non_finite_numbers(book: ParameterBook) -> Iterator[Tuple[str, str, str, float]]:
    for name, parameter in book.items():
        for table, pairs in (("description", parameter.all_descriptions().items()), ("attribute", parameter.items())):
            for key, value in pairs:
                number = value_types.first_non_finite(value)
                if number is not None:
                    yield name, table, key, number


def _item_names(scan: FolderScan) -> List[Finding]:
    """Entries that a load refuses or skips for the item name they give."""
    names = disk.ItemNames(scan.folders, scan.books)
    found = []
    for name, entries in sorted(names.giving.items()):
        for entry in entries[1:]:
            found.append(Finding(scan.path(entry), CLASH, "gives the book name %r, as %s does: loads refuse the folder"
                                 % (name, entries[0])))
        if name in scan.folders:
            found.append(Finding(scan.path(name), SHADOWED,
                                 "the book file %s gives the same item name: loads take the book, not this folder"
                                 % entries[0]))
    for entry in names.reserved():
        found.append(Finding(scan.path(entry), RESERVED, "gives the item name %r, which loads refuse"
                             % disk.RESERVED_ITEM_NAME))
    return found


def _backups(scan: FolderScan, load_books: bool) -> List[Finding]:
    found: List[Finding] = []
    orphans = [pair for pair in scan.backups if not os.path.lexists(scan.path(pair[1]))]
    for entry, book_file in scan.backups:
        book_path = scan.path(book_file)
        if os.path.isfile(book_path):
            found.append(Finding(scan.path(entry), BACKUP,
                                 "an older version of %s, left by a save that did not finish; it keeps later saves "
                                 "from backing up that book" % book_file, subject=book_file))
        elif not os.path.lexists(book_path):
            found.append(_orphan_backup(scan, entry, book_file, orphans, load_books))
        else:
            found.append(Finding(scan.path(entry), STUCK_BACKUP,
                                 "%s exists and is not a regular file: restore this backup by hand" % book_file))
    return found


def _orphan_backup(scan: FolderScan, entry: str, book_file: str, orphans: List[Tuple[str, str]],
                   load_books: bool) -> Finding:
    unfixable = _why_not_renamed_back(scan, entry, book_file, orphans, load_books)
    if unfixable is None:
        detail = ("the book exists only as this backup (a save stopped before rewriting %s); loads do not read it"
                  % book_file)
    else:
        detail = "%s is missing, and renaming this backup back would not do: %s" % (book_file, unfixable)
    return Finding(scan.path(entry), ORPHAN_BACKUP, detail, subject=book_file, unfixable=unfixable)


def _why_not_renamed_back(scan: FolderScan, entry: str, book_file: str, orphans: List[Tuple[str, str]],
                          load_books: bool) -> Optional[str]:
    """Why the book file that an orphan backup would give back would make the
    folder load worse, as loads read the names beside it (or None): a folder
    that loaded would no longer load, or an entry would be hidden."""
    if not disk.is_book_file_name(book_file):
        return "loads never read a file named %r" % book_file
    name = disk.book_name(book_file)
    two_files = "and loads refuse a folder with two files for one book"
    for other in scan.books:
        if disk.book_name(other) == name:
            return "%s gives the book %r as well, %s" % (other, name, two_files)
    for other, other_file in orphans:
        if other != entry and disk.is_book_file_name(other_file) and disk.book_name(other_file) == name:
            return "the backup %s would give the book %r as well, %s" % (other, name, two_files)
    if name in scan.folders:
        return "the book %r would hide the sub-folder %s: loads take the book and skip the folder" % (name, name)
    if disk.book_file_name(name) in scan.folders:
        return ("the book %r beside the sub-folder %s, named like its file, would make a tree that saves refuse"
                % (name, disk.book_file_name(name)))
    if name == disk.RESERVED_ITEM_NAME:
        return "it would give the item name %r, which loads refuse" % name
    if load_books:
        failure = loading.book_failure(scan.path(entry))
        if failure is not None:
            return "it does not load: " + loading.why_not_loading(scan.path(entry), failure)
    return None
