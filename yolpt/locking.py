"""The advisory lock through which saves and loads of one folder take turns."""
import os

from yolpt import errors

try:
    import fcntl
except ImportError:  # no advisory locks on this platform: nothing to take turns with
    fcntl = None


class FolderLock:
    """Holds a folder's lock, shared or exclusive, from construction to release.

    The lock is taken on a descriptor of the folder itself, as the module's
    directory saves (exclusive) and loads (shared) take it. Raises OSError
    when the folder cannot be opened."""

    def __init__(self, folder, exclusive):
        self._descriptor = None
        if fcntl is None:
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

    def release(self):
        if self._descriptor is not None:
            os.close(self._descriptor)  # closing the last descriptor releases the lock
            self._descriptor = None

    def __enter__(self):
        return self

    def __exit__(self, *exc_info):
        self.release()
