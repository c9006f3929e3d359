"""`check`: loads a book file or a folder tree and reports what stands in the way
of loading it, what interrupted saves left behind, and numbers that most JSON
readers other than Python's refuse. Exit status 0 only when clean.

Files that neither loads nor saves touch (a README, notes) are not reported."""
import os
import argparse
import warnings
from typing import List, Optional, Tuple

from yol_vovoruze import ParameterDirectory

from yolpt import errors, findings
from yolpt.address import no_such_path
from yolpt.command import Command
from yolpt.disk import FolderLock
from yolpt.errors import NotFound, describe
from yolpt.output import plural
from yolpt.scan import scan_folder, walk


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("path", metavar="PATH", help="a book file or a folder")


def run(args: argparse.Namespace) -> int:
    path = args.path
    if os.path.isdir(path):
        found, books, folders = check_folder(path)
        clean = "clean: %s in %s" % (plural(books, "book"), plural(folders, "folder"))
    elif os.path.lexists(path):
        found = check_book_file(path)
        clean = "clean"
    else:
        raise NotFound(no_such_path(path))
    for finding in found:
        print(finding)
    faults = sum(finding.fault for finding in found)
    if faults:
        print("%s: %s" % (path, plural(faults, "problem")))
        return errors.FOUND
    print("%s: %s" % (path, clean))
    return errors.OK


COMMAND = Command("check", "Report what is wrong with a book file or a folder.",
                  "Reports, each with its file: book files that do not load and why, backups\n"
                  "(NAME.yolpt-) and temporary files of saves that did not finish, entries that\n"
                  "loads refuse or skip, names that look like book files but are not read, and\n"
                  "numbers that most JSON readers other than Python's refuse (NaN, Infinity,\n"
                  "-Infinity), each with its parameter and attribute or description.\n"
                  "Other files (a README) are not reported. Exit status 0 only when clean.",
                  add_arguments, run)


def check_folder(root: str) -> Tuple[List[findings.Finding], int, int]:
    found: List[findings.Finding] = []
    books = folders = 0
    for scan in walk(root):
        found += findings.judge(scan)
        books += len(scan.books)
        folders += 1
    failure = _folder_failure(root)
    already_told = {(type(f.subject), str(f.subject)) for f in found if f.kind == findings.UNLOADABLE}
    if failure is not None and (type(failure), str(failure)) not in already_told:
        found.append(findings.Finding(root, findings.UNLOADABLE, "loading the folder fails: " + describe(failure)))
    return found, books, folders


def _folder_failure(root: str) -> Optional[Exception]:
    # The module's warnings repeat what the scan has found: they are not shown twice.
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        try:
            ParameterDirectory.load(root)
        except Exception as exc:
            return exc
    return None


def check_book_file(path: str) -> List[findings.Finding]:
    """The book file itself, and the backups and temporary files that saves left beside it."""
    found = findings.book_findings(path)
    folder, name = os.path.split(path)
    folder = folder or os.curdir
    with FolderLock(folder, exclusive=False):
        beside = findings.judge(scan_folder(folder), load_books=False)
    for finding in beside:
        temporary = finding.kind in (findings.DEAD_TEMPORARY, findings.SAVE_RUNNING)
        if finding.subject == name or temporary and finding.book_file() and name.startswith(finding.book_file()):
            found.append(finding)
    return found
