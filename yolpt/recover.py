"""`recover`: puts a folder tree that interrupted saves left back into a state
that loads, without losing a book and without rolling a book back.

- a backup whose book file is missing is renamed back: it is the book's only copy;
  unless the book file would make the folder load worse (a folder that loads
  would no longer load, or an entry would be hidden): then it is left and
  reported, with the reason;
- a backup beside its book file is kept (the book file is the newer version),
  or removed with --discard-backups when that book file loads;
- temporary files of saves whose process no longer runs are removed.

Without --apply nothing changes: the changes are printed as what would be done.
What it cannot decide (two files for one book, a file that does not load) is
listed and left alone. Each folder is changed under its exclusive lock."""
import argparse
import os
from typing import Callable, Optional, Tuple

from yol_vovoruze import ParameterDirectory

from yolpt import disk, errors, findings, loading, processes
from yolpt.command import Command
from yolpt.errors import Error, UsageError, describe
from yolpt.output import plural
from yolpt.scan import walk


class _Change:
    def __init__(self, verb: str, done: str, path: str, why: str, action: Optional[Callable[[], None]] = None) -> None:
        self.verb, self.done, self.path, self.why, self.action = verb, done, path, why, action


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("path", metavar="PATH", help="a folder")
    parser.add_argument("--apply", action="store_true", help="make the changes")
    parser.add_argument("--discard-backups", action="store_true",
                        help="remove backups beside book files that load")


def run(args: argparse.Namespace) -> int:
    root = args.path
    if not os.path.isdir(root):
        raise UsageError("%s: not a folder (recover works on the folder a directory was saved to)" % root)
    changes = failed = left = 0
    for scan in walk(root, exclusive=args.apply):
        for finding in findings.judge(scan):
            change = _plan(finding, args.discard_backups)
            if change is None:
                if finding.fault:
                    left += 1
                    print("cannot fix: %s" % finding)
                continue
            if change.action is not None and args.apply:
                try:
                    change.action()
                except (OSError, Error) as exc:
                    failed += 1
                    errors.tell("error", "could not %s %s: %s" % (change.verb, change.path, describe(exc)))
                    continue
            changes += change.action is not None
            verb = change.done if args.apply else "would " + change.verb
            print("%s %s (%s)" % (verb, change.path, change.why))
    if not args.apply:
        print("%s: %s" % (root, "dry run, nothing changed: run again with --apply" if changes else "nothing to do"))
    else:
        try:
            books, folders = _count(loading.load_directory(root))
            print("%s: %s made; it loads: %s in %s" % (root, plural(changes, "change"), plural(books, "book"),
                                                          plural(folders, "folder")))
        except Error as exc:
            failed += 1
            print("%s: %s made, and it does not load yet" % (root, plural(changes, "change")))
            errors.tell("error", str(exc))
    return errors.FOUND if failed or left else errors.OK


COMMAND = Command("recover", "Repair what interrupted saves left in a folder tree.",
                  "Renames back a backup whose book file is missing, removes temporary files\n"
                  "of saves whose process no longer runs, and keeps a backup beside its book\n"
                  "file (the book file is newer) unless --discard-backups is given. Never rolls\n"
                  "a book back, and never renames a backup back where its book file would make\n"
                  "the folder load worse: where another file or a sub-folder gives the same\n"
                  "name, or the backup does not load. What it leaves it reports as \"cannot\n"
                  "fix\", with the reason, and exits with status 1. Without --apply it only\n"
                  "prints what it would do.",
                  add_arguments, run)


def _plan(finding: findings.Finding, discard_backups: bool) -> Optional[_Change]:
    path, subject = finding.path, finding.book_file()
    folder = os.path.dirname(path)
    if finding.kind == findings.ORPHAN_BACKUP and finding.unfixable is None:
        book_path = os.path.join(folder, subject)
        return _Change("restore", "restored", book_path, "from its backup %s" % os.path.basename(path),
                       lambda: _rename_back(path, book_path))
    if finding.kind == findings.BACKUP:
        if not discard_backups:
            return _Change("keep", "kept", path, "an older version of %s, the book file beside it; "
                           "--discard-backups removes it" % subject)
        if loading.book_failure(os.path.join(folder, subject)) is not None:
            return _Change("keep", "kept", path, "%s beside it does not load" % subject)
        return _Change("remove", "removed", path, "an older version of %s, which loads" % subject,
                       lambda: os.remove(path))
    if finding.kind == findings.DEAD_TEMPORARY:
        return _Change("remove", "removed", path, finding.detail, lambda: _remove_dead_temporary(path))
    if finding.kind == findings.SAVE_RUNNING:
        return _Change("keep", "kept", path, finding.detail)
    return None


def _rename_back(backup: str, book_path: str) -> None:
    if os.path.lexists(book_path):  # written since the scan, by a process that does not take the lock
        raise Error("%s exists now" % book_path)
    os.rename(backup, book_path)


def _remove_dead_temporary(path: str) -> None:
    temporary = disk.temporary_file(os.path.basename(path))
    assert temporary is not None, "a temporary file's name, as the scan found it"
    pid = temporary[1]
    if processes.is_running(pid):
        raise Error("process %d runs again" % pid)
    os.remove(path)


def _count(directory: ParameterDirectory) -> Tuple[int, int]:
    books, folders = 0, 1
    for _, item in directory.items():
        if isinstance(item, ParameterDirectory):
            more_books, more_folders = _count(item)
            books, folders = books + more_books, folders + more_folders
        else:
            books += 1
    return books, folders
