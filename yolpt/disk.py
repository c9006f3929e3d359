"""What the module's saves and loads do in a folder, as far as the tool relies on it.

- A book item N is the file N.yolpt (ParameterBook.ExtName); a directory load
  reads every regular file whose name ends in ".yolpt" (links followed, case
  counted) as the book named after the part of its name before the first ".",
  and every sub-folder as a directory. It refuses a folder in which two book
  files give one item name, or an entry gives the name under which a
  directory keeps its own table; it passes over a sub-folder that a book file
  names too.
- A directory save renames each book file it replaces to its backup (the name
  + "-") and removes the backups once the folder is written.
- A book save writes ".<book file>.<pid>.<n>.tmp" beside its target and
  renames it over the target; the book file part is cut short, in bytes,
  where the whole would pass 255 bytes.
- Saves (exclusive) and loads (shared) of a folder take turns through
  `flock` on a read-only descriptor of the folder itself."""
import os
import re
from typing import Dict, Iterable, List, Optional, Tuple

from yol_vovoruze import ParameterBook

from yolpt import errors

# The item name under which a directory keeps its own table: a load refuses it.
RESERVED_ITEM_NAME = "_ParameterDirectory__parameters"

BACKUP_SUFFIX = "-"

# The longest entry name, in bytes, that a book save's temporary file takes.
LONGEST_ENTRY = 255

_TEMPORARY = re.compile(r"\A\.(.*)\.([0-9]+)\.[0-9]+\.tmp\Z", re.DOTALL)


def extension() -> str:
    """The extension of book files, without its "." (read at each use, as the module reads it)."""
    return ParameterBook.ExtName


def book_file_name(item_name: str) -> str:
    """The file that a directory save writes for the book item `item_name`."""
    return item_name + "." + extension()


def is_book_file_name(entry: str) -> bool:
    """A name that a load reads as a book, and the backup step of a save
    renames, when the entry is a regular file."""
    return entry.endswith("." + extension())


def is_book_file(path: str) -> bool:
    """Whether a load reads `path` as a book file: a regular file (or a link to one) named like one."""
    return is_book_file_name(os.path.basename(path)) and os.path.isfile(path)


def book_name(entry: str) -> str:
    """The item name a load gives the book in `entry`: the part before the first "."."""
    return entry.split(".")[0]


def backup_name(book_file: str) -> str:
    """The name under which a directory save keeps `book_file` until the folder is written."""
    return book_file + BACKUP_SUFFIX


def backed_up_file(entry: str) -> Optional[str]:
    """The file whose backup `entry` is, or None. Besides book files, saves
    once backed up a file named just the extension; such a backup counts too."""
    if not entry.endswith(BACKUP_SUFFIX):
        return None
    original = entry[:-len(BACKUP_SUFFIX)]
    return original if is_book_file_name(original) or original == extension() else None


def temporary_name(book_file: str, pid: int, number: int) -> str:
    """The temporary file that process `pid` writes for `book_file` (the file
    itself, not a link to it), `number` counting the names it has tried."""
    suffix = ".%d.%d.tmp" % (pid, number)
    base = os.fsencode(book_file)[:LONGEST_ENTRY - 1 - len(suffix)]
    return "." + os.fsdecode(base) + suffix


def temporary_file(entry: str) -> Optional[Tuple[str, int]]:
    """(the book file it was written for, the saving process id) for a book
    save's temporary file, or None. A book file name cut short is returned as
    it stands. Book saves write a name that ends in the extension as it is,
    so a file named just the extension has temporary files too."""
    match = _TEMPORARY.match(entry)
    if not match:
        return None
    target = match.group(1)
    shortened = len(os.fsencode(entry)) >= LONGEST_ENTRY
    if not (shortened or is_book_file_name(target) or target == extension()):
        return None
    return target, int(match.group(2))


class ItemNames:
    """What a directory load makes of the sub-folders and book files of a folder."""

    def __init__(self, folders: Iterable[str], book_files: Iterable[str]) -> None:
        self.folders = list(folders)
        # item name -> the book files that give it, in the order given
        self.giving: Dict[str, List[str]] = {}
        for entry in book_files:
            self.giving.setdefault(book_name(entry), []).append(entry)

    def clashes(self) -> List[List[str]]:
        """The book files that give one item name, for each name given twice."""
        return [entries for _, entries in sorted(self.giving.items()) if len(entries) > 1]

    def reserved(self) -> List[str]:
        """The entries that give the name of a directory's own table."""
        return ([entry for entry in self.giving.get(RESERVED_ITEM_NAME, [])]
                + [entry for entry in self.folders if entry == RESERVED_ITEM_NAME])

    def shadowed(self) -> List[str]:
        """The sub-folders passed over because a book file gives their name."""
        return [entry for entry in self.folders if entry in self.giving]

    def refused(self) -> bool:
        return bool(self.clashes() or self.reserved())

    def loaded_from(self) -> Dict[str, str]:
        """Item name -> the entry it loads from, for a folder that loads."""
        loaded = {entry: entry for entry in self.folders}
        loaded.update((name, entries[0]) for name, entries in self.giving.items())
        return loaded


class FolderLock:
    """Holds a folder's lock, shared or exclusive, from construction to release.

    The lock is taken on a descriptor of the folder itself, as the module's
    directory saves (exclusive) and loads (shared) take it. Raises OSError
    when the folder cannot be opened."""

    def __init__(self, folder: str, exclusive: bool) -> None:
        self._descriptor: Optional[int] = None
        try:
            import fcntl
        except ImportError:  # no advisory locks on this platform: nothing to take turns with
            return
        descriptor = os.open(folder, os.O_RDONLY)
        try:
            mode = fcntl.LOCK_EX if exclusive else fcntl.LOCK_SH
            try:
                fcntl.flock(descriptor, mode | fcntl.LOCK_NB)
            except BlockingIOError:
                errors.tell("note", "waiting for %s: another process is saving or loading it" % folder)
                fcntl.flock(descriptor, mode)
        except BaseException:
            os.close(descriptor)
            raise
        self._descriptor = descriptor

    def release(self) -> None:
        if self._descriptor is not None:
            os.close(self._descriptor)  # closing the last descriptor releases the lock
            self._descriptor = None

    def __enter__(self) -> "FolderLock":
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.release()
