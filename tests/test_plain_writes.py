"""A book file keeps what a plain write to it keeps: its other hard links, its
owner and group, and its being writable where its folder takes no new file."""
import os
import stat
import subprocess

import pytest

import yol_vovoruze as yv
from support import child_result, read_bytes, run_python, write_bytes

pytestmark = pytest.mark.skipif(os.name != "posix", reason="needs hard links, owners and fork")

ROOT = os.name == "posix" and os.geteuid() == 0
NOBODY = 65534
BOOK = yv.ParameterBook({"p": yv.Parameter("d", v=1)})


def old_file(folder, mode=0o644, owner=None):
    path = os.path.join(folder, "motor.yolpt")
    write_bytes(path, b"old")
    if owner is not None:
        os.chown(path, *owner)
    os.chmod(path, mode)  # after chown, which clears the set-id bits
    return path, os.stat(path)


def test_other_hard_links_see_the_new_text(tmp_path):
    path, before = old_file(str(tmp_path))
    os.link(path, str(tmp_path / "other"))
    BOOK.save(path)
    after = os.stat(path)
    assert read_bytes(tmp_path / "other") == read_bytes(path) == str(BOOK).encode()
    assert (after.st_ino, after.st_nlink) == (before.st_ino, 2)
    assert sorted(os.listdir(str(tmp_path))) == ["motor.yolpt", "other"]


@pytest.mark.skipif(not ROOT, reason="giving a file to another owner needs root")
def test_owner_and_group_are_kept(tmp_path):
    path, before = old_file(str(tmp_path), 0o6750, (1234, 5678))
    BOOK.save(path)
    after = os.stat(path)
    assert after.st_ino != before.st_ino  # replaced whole, as before
    assert (after.st_uid, after.st_gid, stat.S_IMODE(after.st_mode)) == (1234, 5678, 0o6750)


def save_as_another_user(folder):
    """Saves BOOK into `folder` from a child process that, when this one is
    root, acts as the user nobody; returns the child's exit status (0 saved,
    13 PermissionError)."""
    pid = os.fork()
    if pid == 0:  # pragma: no cover (child)
        status = 1
        try:
            os.chdir(folder)
            if ROOT:
                os.setgroups([])
                os.setgid(NOBODY)
                os.setuid(NOBODY)
            try:
                BOOK.save("motor")
                status = 0
            except PermissionError:
                status = 13
        finally:
            os._exit(status)
    return os.waitpid(pid, 0)[1] >> 8


@pytest.mark.parametrize("folder_mode, owner, file_mode, status, in_place", [
    (0o555, "child", 0o666, 0, True),        # no new file in the folder: written in place
    (0o1777, (0, 0), 0o666, 0, True),        # sticky folder, another's file: not replaced, written
    (0o555, (0, 0), 0o644, 13, None),        # neither the folder nor the file writable
    (0o777, (NOBODY, 0), 0o664, 0, False),   # a group the child may not give: replaced all the same
], ids=["read-only folder", "sticky folder", "nothing writable", "foreign group"])
def test_a_folder_that_refuses_new_files(tmp_path, folder_mode, owner, file_mode, status, in_place):
    if owner != "child" and not ROOT:
        pytest.skip("a file of another user needs root")
    folder = str(tmp_path / "folder")
    os.mkdir(folder)
    path, before = old_file(folder, file_mode, (NOBODY, NOBODY) if owner == "child" and ROOT else
                            None if owner == "child" else owner)
    os.chmod(folder, folder_mode)
    try:
        assert save_as_another_user(folder) == status
    finally:
        os.chmod(folder, 0o755)
    after = os.stat(path)
    assert os.listdir(folder) == ["motor.yolpt"]
    assert read_bytes(path) == (b"old" if status else str(BOOK).encode())
    if status == 0:
        assert (after.st_ino == before.st_ino) == in_place


# A book written in place (it has a second hard link) on a disk that fills up,
# or past the size limit of a file, in a child: the old text stays whole.
FAILING_WRITE = """
import errno, json, os, resource, sys
import yol_vovoruze as yv

folder, condition = sys.argv[1:]
path = os.path.join(folder, "motor.yolpt")
yv.ParameterBook({"speed": yv.Parameter("d", v=1)}).save(path)
os.link(path, os.path.join(folder, "other"))
with open(path, "rb") as file:
    old = file.read()
if condition == "full disk":
    with open(os.path.join(folder, "filler"), "wb", buffering=0) as filler:
        try:
            while True:
                filler.write(b"x" * 512)
        except OSError:
            pass
else:
    resource.setrlimit(resource.RLIMIT_FSIZE, (4096, resource.RLIM_INFINITY))
try:
    yv.ParameterBook({"speed": yv.Parameter("d", v="y" * 100000)}).save(path)
    failure = None
except OSError as error:
    failure = errno.errorcode[error.errno]
with open(path, "rb") as file:
    kept = file.read() == old
print(json.dumps({"failure": failure, "old text kept": kept, "loads": list(yv.ParameterBook.load(path).names())}))
"""


@pytest.mark.parametrize("condition, failure", [("full disk", "ENOSPC"), ("size limit", "EFBIG")])
def test_a_failed_write_in_place_keeps_the_old_book(tmp_path, condition, failure):
    folder = str(tmp_path)
    if condition == "full disk":
        if not ROOT:
            pytest.skip("mounting a small file system needs root")
        folder = str(tmp_path / "small")
        os.mkdir(folder)
        if subprocess.call(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", folder]) != 0:
            pytest.skip("cannot mount a small file system here")
    try:
        result = child_result(run_python(FAILING_WRITE, [folder, condition]))
    finally:
        if folder != str(tmp_path):
            subprocess.call(["umount", folder])
    assert result == {"failure": failure, "old text kept": True, "loads": ["speed"]}
