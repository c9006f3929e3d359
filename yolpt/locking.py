"""The advisory lock through which saves and loads of one folder take turns."""
import os
from typing import Optional

from yolpt import errors

try:
    import fcntl
    LOCKS = True
except ImportError:  # no advisory locks on this platform: nothing to take turns with
    LOCKS = False


class FolderLock:
    """Holds a folder's lock, shared or exclusive, from construction to release.

    The lock is taken on a descriptor of the folder itself, as the module's
    directory saves (exclusive) and loads (shared) take it. Raises OSError
    when the folder cannot be opened."""

    def __init__(self, folder: str, exclusive: bool) -> None:
        self._descriptor: Optional[int] = None
        if not LOCKS:
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
