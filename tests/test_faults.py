"""Real faults met while files are written: an encoder that gives up, a write
that the operating system cuts short, a process killed in the middle of a save."""
import errno
import json
import os
import random
import signal
import time

import pytest

import yol_vovoruze as yv
from support import child_result, read_bytes, read_line, run_python, start_python, stop, write_bytes

pytestmark = pytest.mark.skipif(os.name != "posix", reason="needs POSIX signals and resource limits")


def taken_as_book_file(name, ext=None):
    """Whether a folder entry of this name is taken for a book file by a
    directory's load (a name ending in "." + ext) or by its backup step (the
    text after the last "." is ext; the whole name when it has no ".")."""
    ext = yv.ParameterBook.ExtName if ext is None else ext
    return name.endswith("." + ext) or name.rsplit(".", 1)[-1] == ext


# ------------------------------------------------------------------- books


# Code shared by this process and the children: a large book whose every
# parameter holds one shared list, so that one assignment switches the whole
# book between two versions.
BIG_BOOK_CODE = """
import yol_vovoruze

def big_book(count):
    version = ["A"]
    book = yol_vovoruze.ParameterBook()
    for i in range(count):
        parameter = yol_vovoruze.Parameter("parameter %d" % i, value=i)
        parameter["version"] = version
        book["p%05d" % i] = parameter
    return book, version
"""

BIG_COUNT = 20000


@pytest.fixture(scope="module")
def big():
    """The large book and its two texts, as this process builds them."""
    space = {}
    exec(BIG_BOOK_CODE, space)
    book, version = space["big_book"](BIG_COUNT)
    text_a = str(book)
    version[0] = "B"
    text_b = str(book)
    return text_a, text_b


class TestBookEncoderFailure:
    def test_value_rejected_late_in_a_large_book(self, tmp_path, monkeypatch):
        monkeypatch.chdir(str(tmp_path))
        write_bytes("motor.yolpt", b"old content")
        os.utime("motor.yolpt", (1000000000, 1000000000))
        before = os.stat("motor.yolpt")
        book = yv.ParameterBook({"p%04d" % i: yv.Parameter(v="x" * 50) for i in range(3000)})
        book["zzz"] = yv.Parameter()
        book["zzz"]["bad"] = {1, 2}  # stored as it is; the encoder rejects it
        with pytest.raises(TypeError) as info:
            book.save("motor")
        assert "set" in str(info.value) and "JSON serializable" in str(info.value)
        after = os.stat("motor.yolpt")
        assert read_bytes("motor.yolpt") == b"old content"
        assert (after.st_mtime_ns, after.st_ino, after.st_size) == (before.st_mtime_ns, before.st_ino, before.st_size)
        assert os.listdir(".") == ["motor.yolpt"]


class TestBookWriteCutShort:
    """The file size limit makes the write fail with EFBIG part-way through."""

    CODE = """
import errno, json, resource, signal, sys
import yol_vovoruze as yv
from support import entries
LIMIT, NAME = int(sys.argv[1]), sys.argv[2]
book = yv.ParameterBook({"p%04d" % i: yv.Parameter("d", value="x" * 100) for i in range(2000)})
assert len(str(book).encode()) > 4 * LIMIT
signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
resource.setrlimit(resource.RLIMIT_FSIZE, (LIMIT, LIMIT))
try:
    book.save(NAME)
except OSError as error:
    print(json.dumps({"errno": error.errno, "entries": entries(error)}))
else:
    print(json.dumps({"errno": None}))
"""

    @pytest.mark.parametrize("limit", [4096, 65536])
    def test_write_fails_with_efbig_and_old_file_stays(self, tmp_path, limit):
        old = str(yv.ParameterBook({"old": yv.Parameter("kept", v=1)})).encode()
        write_bytes(tmp_path / "motor.yolpt", old)
        os.chmod(str(tmp_path / "motor.yolpt"), 0o640)
        result = child_result(run_python(self.CODE, [limit, "motor"], cwd=tmp_path, timeout=60))
        assert result["errno"] == errno.EFBIG
        assert result["entries"] == [["yol_vovoruze.ParameterBook.save", 294]]
        assert read_bytes(tmp_path / "motor.yolpt") == old
        assert os.stat(str(tmp_path / "motor.yolpt")).st_mode & 0o777 == 0o640
        assert os.listdir(str(tmp_path)) == ["motor.yolpt"]

    def test_new_file_is_not_created(self, tmp_path):
        result = child_result(run_python(self.CODE, [4096, "data/motor"], cwd=tmp_path, timeout=60))
        assert result["errno"] == errno.EFBIG
        assert os.listdir(str(tmp_path)) == ["data"]
        assert os.listdir(str(tmp_path / "data")) == []


class TestBookKilledWhileSaving:
    """A child saves the two versions of a large book in turn, without end,
    until it is killed with SIGKILL: some kills come after a random delay,
    others the moment the folder shows that a write has begun."""

    CODE = BIG_BOOK_CODE + """
import sys
book, version = big_book(int(sys.argv[1]))
print("ready", flush=True)
while True:
    version[0] = "B"
    book.save("big.yolpt")
    version[0] = "A"
    book.save("big.yolpt")
"""

    ROUNDS = 4

    @staticmethod
    def _state(folder, target):
        """What a watcher sees of the folder: its entries and the target's identity."""
        status = os.stat(target)
        return sorted(os.listdir(folder)), status.st_ino, status.st_size, status.st_mtime_ns

    def _kill_when(self, child, folder, target, delay):
        """Kills `child` after `delay` seconds, or (delay None) as soon as the
        folder or the target changes; returns what the wait was."""
        if delay is not None:
            time.sleep(delay)
            reason = "after %.3f s" % delay
        else:
            start = self._state(folder, target)
            deadline = time.time() + 10
            while self._state(folder, target) == start and time.time() < deadline:
                pass
            reason = "when the folder changed"
        if child.poll() is not None:
            _, err = child.communicate()
            raise AssertionError("the saving child ended by itself (%s); stderr:\n%s" % (reason, err))
        child.send_signal(signal.SIGKILL)
        child.communicate()
        assert child.returncode == -signal.SIGKILL
        return reason

    def test_target_is_always_one_whole_version(self, tmp_path, big):
        text_a, text_b = big
        folder = str(tmp_path)
        target = os.path.join(folder, "big.yolpt")
        write_bytes(target, text_a.encode("utf-8"))
        small = yv.ParameterBook({"small": yv.Parameter("after a kill")})
        chance = random.Random()
        for round_ in range(self.ROUNDS):
            child = start_python(self.CODE, [BIG_COUNT], cwd=folder)
            try:
                assert read_line(child) == "ready"
                delay = chance.uniform(0.0, 0.9) if round_ % 2 == 0 else None
                reason = self._kill_when(child, folder, target, delay)
            finally:
                stop(child)
            text = read_bytes(target).decode("utf-8")
            assert isinstance(json.loads(text), list), reason
            assert text in (text_a, text_b), "round %d, killed %s: the book file is neither version" % (round_, reason)
            strays = [name for name in os.listdir(folder) if name != "big.yolpt"]
            assert not [name for name in strays if taken_as_book_file(name)], (reason, strays)
            assert not [name for name in strays if name.endswith("-")], (reason, strays)
            # The book can be saved again after the crash, whatever the crash left behind.
            small.save(target)
            assert read_bytes(target) == str(small).encode("utf-8"), reason
            write_bytes(target, text_a.encode("utf-8"))
        # What the kills left is invisible to a directory's load and backup step.
        small.save(target)
        assert list(yv.ParameterDirectory.load(folder).names()) == ["big"]
        backups = yv.ParameterDirectory._backup_books_in_this_directory(folder)
        assert backups == [target + "-"]
