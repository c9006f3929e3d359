"""What is wrong, or worth knowing, about the entries of a scanned folder."""
import os

from yolpt import loading, naming, processes, value_types
from yolpt.output import to_json

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
    def __init__(self, path, kind, detail, fault=True, subject=None):
        self.path = path        # the file or folder it concerns
        self.kind = kind
        self.detail = detail
        self.fault = fault      # False for a note, which leaves the folder clean
        self.subject = subject  # the book file of a backup or a temporary file; the error of a book

    def __str__(self):
        return "%s: %s%s: %s" % (self.path, "" if self.fault else "note: ", self.kind, self.detail)


def judge(scan, load_books=True):
    """The findings about one scanned folder, in entry order within each kind."""
    if scan.problem:
        return [Finding(scan.folder, LINK_LOOP if scan.loops else UNREADABLE, scan.problem)]
    found = []
    found += _item_names(scan)
    if load_books:
        for entry in scan.books:
            found += book_findings(scan.path(entry))
    found += _backups(scan)
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
              for entry in scan.folders if naming.is_book_file_name(entry)]
    return found


def book_findings(path):
    """Why a book file does not load, or the numbers in it that most JSON
    readers other than Python's refuse (NaN, Infinity, -Infinity)."""
    book, failure = loading.read_book(path)
    if failure is not None:
        return [Finding(path, UNLOADABLE, loading.why_not_loading(path, failure), subject=failure)]
    return [Finding(path, NON_FINITE, "parameter %s, %s %s holds %s, which most JSON readers other than Python's "
                    "refuse" % (to_json(name), table, to_json(key), to_json(number)))
            for name, table, key, number in _non_finite_numbers(book)]


def _non_finite_numbers(book):
    for name, parameter in book.items():
        for table, pairs in (("description", parameter.all_descriptions().items()), ("attribute", parameter.items())):
            for key, value in pairs:
                number = value_types.first_non_finite(value)
                if number is not None:
                    yield name, table, key, number


def _item_names(scan):
    """Entries that a load refuses or skips for the item name they give."""
    giving = {}
    for entry in scan.books:
        giving.setdefault(naming.book_name(entry), []).append(entry)
    found = []
    for name, entries in sorted(giving.items()):
        for entry in entries[1:]:
            found.append(Finding(scan.path(entry), CLASH, "gives the book name %r, as %s does: loads refuse the folder"
                                 % (name, entries[0])))
        if name in scan.folders:
            found.append(Finding(scan.path(name), SHADOWED,
                                 "the book file %s gives the same item name: loads take the book, not this folder"
                                 % entries[0]))
    for entry in scan.books + scan.folders:
        name = naming.book_name(entry) if entry in scan.books else entry
        if name == naming.RESERVED_ITEM_NAME:
            found.append(Finding(scan.path(entry), RESERVED, "gives the item name %r, which loads refuse" % name))
    return found


def _backups(scan):
    found = []
    for entry in scan.backups:
        book_file = entry[:-1]
        book_path = scan.path(book_file)
        if os.path.isfile(book_path):
            found.append(Finding(scan.path(entry), BACKUP,
                                 "an older version of %s, left by a save that did not finish; it keeps later saves "
                                 "from backing up that book" % book_file, subject=book_file))
        elif not os.path.lexists(book_path):
            found.append(Finding(scan.path(entry), ORPHAN_BACKUP,
                                 "the book exists only as this backup (a save stopped before rewriting %s); "
                                 "loads do not read it" % book_file, subject=book_file))
        else:
            found.append(Finding(scan.path(entry), STUCK_BACKUP,
                                 "%s exists and is not a regular file: restore this backup by hand" % book_file))
    return found
