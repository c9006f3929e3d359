"""Sorts the entries of each folder of a tree into what a load and a save make of them."""
import os
from typing import FrozenSet, Iterator, List, Optional, Tuple

from yolpt import disk
from yolpt.disk import FolderLock


class FolderScan:
    """The entries of one folder, sorted by name, by what they are to the module.

    `problem` is set instead when the folder could not be listed."""

    def __init__(self, folder: str) -> None:
        self.folder = folder
        self.problem: Optional[str] = None           # why the folder could not be listed
        self.loops = False                           # reached again through a link: not listed
        self.folders: List[str] = []                 # sub-folders: directory items under their own name
        self.books: List[str] = []                   # book files: book items under their name before the first "."
        self.backups: List[Tuple[str, str]] = []     # (entry, book file) of backups a directory save made
        self.temporaries: List[Tuple[str, str, int]] = []  # (entry, book file, pid) of book saves' temporary files
        self.ignored: List[Tuple[str, str]] = []     # (entry, why) of names that look like book files but are not read

    def path(self, entry: str) -> str:
        return os.path.join(self.folder, entry)


def scan_folder(folder: str) -> FolderScan:
    scan = FolderScan(folder)
    try:
        entries = sorted(os.listdir(folder))
    except OSError as exc:
        scan.problem = "cannot be listed: %s" % (exc.strerror or exc)
        return scan
    for entry in entries:
        path = scan.path(entry)
        if os.path.isdir(path):
            scan.folders.append(entry)
            continue
        regular = os.path.isfile(path)
        backed_up = disk.backed_up_file(entry) if regular else None
        temporary = disk.temporary_file(entry) if regular else None
        if regular and disk.is_book_file_name(entry):
            scan.books.append(entry)
        elif backed_up is not None:
            scan.backups.append((entry, backed_up))
        elif temporary is not None:
            scan.temporaries.append((entry,) + temporary)
        elif _is_book_like(entry):
            scan.ignored.append((entry, _why_ignored(entry, regular)))
    return scan


def _is_book_like(entry: str) -> bool:
    """A name that a person would take for a book file, whatever a load makes of it."""
    lowered = entry.lower()
    ext = disk.extension().lower()
    return lowered == ext or lowered.endswith("." + ext)


def _why_ignored(entry: str, regular: bool) -> str:
    ext = disk.extension()
    if not regular:
        return "not a regular file (a broken link, a pipe or a device): loads skip it"
    if entry == ext:
        return "a file named just %r: loads skip it, and saves leave it as it is" % ext
    return "the extension is case-sensitive: loads read only %r files" % ("." + ext)


def walk(root: str, exclusive: bool = False) -> Iterator[FolderScan]:
    """Yields the scan of `root` and of every folder below it, top-down, each
    while its folder's lock is held (exclusive or shared): the consumer acts on
    a folder that no save or load of the module is changing meanwhile.

    Follows links to folders as a load does; a link back to a folder on the
    way down yields a scan whose problem says so, and is not entered."""
    pending: List[Tuple[str, FrozenSet[Tuple[int, int]]]] = [(root, frozenset())]
    while pending:
        folder, above = pending.pop()
        scan = FolderScan(folder)
        try:
            status = os.stat(folder)
            identity = (status.st_dev, status.st_ino)
        except OSError as exc:
            scan.problem = "cannot be read: %s" % (exc.strerror or exc)
            yield scan
            continue
        if identity in above:
            scan.problem = "a symbolic link leads back to a folder above it: loading the tree fails"
            scan.loops = True
            yield scan
            continue
        try:
            lock = FolderLock(folder, exclusive)
        except OSError as exc:
            scan.problem = "cannot be opened: %s" % (exc.strerror or exc)
            yield scan
            continue
        with lock:
            scan = scan_folder(folder)
            yield scan
        below = above | {identity}
        pending.extend((scan.path(entry), below) for entry in reversed(scan.folders))
