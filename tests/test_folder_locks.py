"""Directory saves and loads that meet each other: one folder reached twice by
the same save, and several savers and loaders of one folder at once, in
threads and in processes."""
import errno
import json
import os
import subprocess
import sys
import threading

import pytest

import yol_vovoruze
from support import child_env, run_child
from yol_vovoruze import ParameterDirectory

pytestmark = pytest.mark.skipif(os.name != "posix", reason="needs symbolic links and flock")

TREES = """
from yol_vovoruze import Parameter, ParameterBook, ParameterDirectory

def tree(tag):
    # The same folders for every tag; the books differ in name and content.
    def books(where):
        return {"%s_%d_%d" % (where, tag, j): ParameterBook({"p": Parameter("d", v=[tag] * 40)}) for j in range(6)}
    items = books("top")
    items.update(("s%d" % i, ParameterDirectory(books("s%d" % i))) for i in range(3))
    return ParameterDirectory(items)
"""
_space = {}
exec(TREES, _space)
tree = _space["tree"]

SAVES = 5


def form(item):
    if isinstance(item, ParameterDirectory):
        return {name: form(sub) for name, sub in item.items()}
    return str(item)


def leftovers(folder):
    return [name for _, _, files in os.walk(folder) for name in files
            if name.endswith("-") or name.endswith(".tmp")]


@pytest.mark.parametrize("link, target", [("y", "x"), ("y", os.path.join("x", "inner"))])
def test_a_save_refuses_a_folder_it_has_written(tmp_path, link, target):
    folder = str(tmp_path / "t")
    os.makedirs(os.path.join(folder, "x", "inner"))
    os.symlink(os.path.join(folder, target), os.path.join(folder, link))
    x = tree(1)["s0"]
    x["inner"] = tree(1)["s1"]
    with pytest.raises(OSError) as info:
        ParameterDirectory({"x": x, link: tree(2)["s2"]}).save(folder)
    assert info.value.errno == errno.ELOOP and info.value.filename == folder + os.sep + link
    assert info.value.strerror == "a symbolic link leads to a folder this save has written"
    assert form(ParameterDirectory.load(os.path.join(folder, "x"))) == form(x)


def save_in_processes(folder):
    """Two processes saving trees 1 and 2 into `folder`; returns (running, finish):
    finish() waits and gives the errors."""
    code = TREES + "import sys\nfor _ in range(%d): tree(int(sys.argv[2])).save(sys.argv[1])\n" % SAVES
    savers = [subprocess.Popen([sys.executable, "-c", code, folder, str(tag)], env=child_env(),
                               stderr=subprocess.PIPE, universal_newlines=True) for tag in (1, 2)]

    def finish():
        outcomes = [saver.communicate(timeout=120) for saver in savers]
        return [err for saver, (_, err) in zip(savers, outcomes) if saver.returncode]
    return lambda: any(saver.poll() is None for saver in savers), finish


def save_in_threads(folder):
    """The same with two threads of this process."""
    errors = []

    def save(tag):
        try:
            for _ in range(SAVES):
                tree(tag).save(folder)
        except Exception as error:  # reported by finish()
            errors.append(repr(error))
    savers = [threading.Thread(target=save, args=(tag,)) for tag in (1, 2)]
    for saver in savers:
        saver.start()

    def finish():
        for saver in savers:
            saver.join(120)
        return errors
    return lambda: any(saver.is_alive() for saver in savers), finish


@pytest.mark.parametrize("start", [save_in_processes, save_in_threads])
def test_savers_take_turns_and_loads_see_whole_trees(tmp_path, start):
    wholes = [form(tree(tag)) for tag in (0, 1, 2)]
    for run in range(3):
        folder = str(tmp_path / str(run) / "t")
        if run == 2:
            tree(0).save(folder)  # else missing: both savers create it
        running, finish = start(folder)
        while running():
            try:
                loaded = form(ParameterDirectory.load(folder))
            except FileNotFoundError:
                continue
            assert loaded in wholes or (loaded == {} and run < 2), "a load saw a save half done"
        assert finish() == []
        assert form(ParameterDirectory.load(folder)) in wholes[1:]
        assert leftovers(folder) == []


REENTERING = """
import json
import yol_vovoruze as yv
seen, original = [], yv.Parameter

class Hook(original):
    def to_dict(self, name):  # runs while the save holds the folder
        seen.append(sorted(yv.ParameterDirectory.load("t").names()))
        try:
            yv.ParameterDirectory().save("t")
        except OSError as error:
            seen.append(error.strerror)
        return original.to_dict(self, name)

    @staticmethod
    def from_dict(form):  # runs while the load holds the folder
        yv.ParameterDirectory({"c": yv.ParameterBook()}).save("t")
        return original.from_dict(form)

yv.ParameterDirectory({"a": yv.ParameterBook()}).save("t")
yv.ParameterDirectory({"b": yv.ParameterBook({"p": Hook("d")})}).save("t")
yv.Parameter = Hook
seen.append(sorted(yv.ParameterDirectory.load("t").names()))
print(json.dumps(seen))
"""


def test_a_thread_does_not_wait_for_a_folder_it_holds(tmp_path):
    completed = run_child(REENTERING, cwd=tmp_path, timeout=60)
    assert completed.returncode == 0, completed.stderr
    assert json.loads(completed.stdout) == [[], "a symbolic link leads back to a folder being saved", ["b"]]
    assert sorted(os.listdir(str(tmp_path / "t"))) == ["c.yolpt"]


class RacingOs:
    """Stands for `os`: makedirs finds the folder made by someone else just before."""

    def __init__(self, made_as):
        self.made_as = made_as

    def __getattr__(self, name):
        return getattr(os, name)

    def makedirs(self, path):
        self.made_as(path)
        raise FileExistsError(errno.EEXIST, "File exists", path)


SAVES_INTO = {"directory": lambda folder: tree(1).save(folder),
              "book": lambda folder: tree(1)["s0"]["s0_1_0"].save(os.path.join(folder, "b"))}


@pytest.mark.parametrize("what", sorted(SAVES_INTO))
@pytest.mark.parametrize("made_as, saved", [(os.makedirs, True), (lambda path: os.symlink("nowhere", path), False)],
                         ids=["folder", "dangling link"])
def test_a_folder_made_at_the_same_moment(tmp_path, monkeypatch, what, made_as, saved):
    monkeypatch.setattr(yol_vovoruze, "_os", RacingOs(made_as))
    folder = str(tmp_path / "t")
    if saved:
        SAVES_INTO[what](folder)
        assert os.listdir(folder)
    else:
        with pytest.raises(FileExistsError):
            SAVES_INTO[what](folder)
