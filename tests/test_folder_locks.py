"""Directory saves and loads that meet each other: one folder reached twice by
the same save, re-entered from a callback, created by two savers at once, and
saved and loaded by several threads and processes at once."""
import errno
import json
import os
import threading

import pytest

from support import child_result, read_line, run_python, start_python
from yol_vovoruze import ParameterDirectory

pytestmark = pytest.mark.skipif(os.name != "posix", reason="needs symbolic links and flock")

TREES = """
from yol_vovoruze import Parameter, ParameterBook, ParameterDirectory

def tree(tag):  # the same folders for every tag; the books differ in name and content
    def books(where):
        return {"%s_%d_%d" % (where, tag, j): ParameterBook({"p": Parameter("d", v=[tag] * 40)}) for j in range(6)}
    return ParameterDirectory(dict(books("top"), **{"s%d" % i: ParameterDirectory(books(i)) for i in range(3)}))
"""
_space = {}
exec(TREES, _space)
tree = _space["tree"]


def form(item):
    return {name: form(sub) for name, sub in item.items()} if isinstance(item, ParameterDirectory) else str(item)


@pytest.mark.parametrize("target", ["x", os.path.join("x", "inner")])
def test_a_save_refuses_a_folder_it_has_written(tmp_path, target):
    folder = str(tmp_path)
    os.makedirs(os.path.join(folder, "x", "inner"))
    os.symlink(os.path.join(folder, target), os.path.join(folder, "y"))
    x = tree(1)["s0"]
    x["inner"] = tree(1)["s1"]
    with pytest.raises(OSError) as info:
        ParameterDirectory({"x": x, "y": tree(2)["s2"]}).save(folder)
    assert (info.value.errno, info.value.filename) == (errno.ELOOP, folder + os.sep + "y")
    assert info.value.strerror == "a symbolic link leads to a folder this save has written"
    assert form(ParameterDirectory.load(os.path.join(folder, "x"))) == form(x)


REENTERING = """
import json
import yol_vovoruze as yv
seen, original = [], yv.Parameter

class Hook(original):
    def to_dict(self, name):  # while the save holds the folder
        seen.append(sorted(yv.ParameterDirectory.load("t").names()))
        try:
            yv.ParameterDirectory().save("t")
        except OSError as error:
            seen.append(error.strerror)
        return original.to_dict(self, name)

    @staticmethod
    def from_dict(form):  # while the load holds the folder
        yv.ParameterDirectory({"c": yv.ParameterBook()}).save("t")
        return original.from_dict(form)

yv.ParameterDirectory({"a": yv.ParameterBook()}).save("t")
yv.ParameterDirectory({"b": yv.ParameterBook({"p": Hook("d")})}).save("t")
yv.Parameter = Hook
print(json.dumps(seen + [sorted(yv.ParameterDirectory.load("t").names())]))
"""


def test_a_thread_does_not_wait_for_a_folder_it_holds(tmp_path):
    seen = child_result(run_python(REENTERING, cwd=tmp_path, timeout=60))
    # No link: a save started again from code that the save of the same folder runs.
    assert seen == [[], "a save of this folder is under way on this thread already: this one was started from code "
                        "that it runs", ["b"]]
    assert os.listdir(str(tmp_path / "t")) == ["c.yolpt"]


@pytest.mark.parametrize("what", ["directory", "book"])
@pytest.mark.parametrize("made", ["folder", "dangling link"])
def test_a_folder_made_at_the_same_moment(tmp_path, monkeypatch, what, made):
    make = os.makedirs if made == "folder" else lambda path: os.symlink("nowhere", path)

    def made_by_another(path):
        make(path)
        raise FileExistsError(errno.EEXIST, "File exists", path)
    monkeypatch.setattr(os, "makedirs", made_by_another)
    folder = str(tmp_path / "t")
    save = tree(1).save if what == "directory" else lambda path: tree(1)["top_1_0"].save(path + "/b")
    if made == "folder":
        save(folder)
        assert os.listdir(folder)
    else:
        pytest.raises(FileExistsError, save, folder)


def save_in(how, folder):
    """Two savers (processes or threads) saving trees 1 and 2 into `folder`,
    five times each; returns (running, finish), finish() giving their errors."""
    if how == "processes":
        code = TREES + "import sys\nfor _ in range(5): tree(int(sys.argv[2])).save(sys.argv[1])\n"
        savers = [start_python(code, [folder, tag]) for tag in (1, 2)]

        def finish():
            errors = [saver.communicate(timeout=120)[1] for saver in savers]
            return [error for saver, error in zip(savers, errors) if saver.returncode]
        return lambda: any(saver.poll() is None for saver in savers), finish
    errors = []

    def save(tag):
        try:
            for _ in range(5):
                tree(tag).save(folder)
        except Exception as error:  # given by finish()
            errors.append(repr(error))
    savers = [threading.Thread(target=save, args=(tag,)) for tag in (1, 2)]
    for saver in savers:
        saver.start()
    return lambda: any(saver.is_alive() for saver in savers), lambda: [saver.join(120) for saver in savers] and errors


@pytest.mark.parametrize("how", ["processes", "threads"])
def test_savers_take_turns_and_loads_see_whole_trees(tmp_path, how):
    wholes = [form(tree(tag)) for tag in (0, 1, 2)]
    for run in range(3):
        folder = str(tmp_path / str(run) / "t")
        if run == 2:
            tree(0).save(folder)  # else missing: both savers create it
        running, finish = save_in(how, folder)
        while running():
            try:
                loaded = form(ParameterDirectory.load(folder))
            except FileNotFoundError:
                continue
            assert loaded in wholes or (loaded == {} and run < 2), "a load saw a save half done"
        assert finish() == []
        assert form(ParameterDirectory.load(folder)) in wholes[1:]
        assert [name for _, _, names in os.walk(folder) for name in names if name.endswith(("-", ".tmp"))] == []


CROSSING = TREES + """
import errno, json, sys
top, rounds = sys.argv[1], int(sys.argv[2])
print("ready", flush=True)
sys.stdin.readline()  # both start together
outcomes = {}
for count in range(rounds):
    try:
        ParameterDirectory({"link": tree(count % 2)}).save(top)
        outcome = "done"
    except BlockingIOError as error:
        outcome = [error.errno == errno.EWOULDBLOCK, error.filename, error.filename2]
    except FileExistsError:  # the backups that a refused save left keep a later one from dropping their books
        outcome = "leftovers"
    outcomes[json.dumps(outcome)] = outcomes.get(json.dumps(outcome), 0) + 1
print(json.dumps(outcomes))
"""


def test_saves_of_folders_that_link_into_each_other_never_wait_for_each_other(tmp_path):
    x, y = str(tmp_path / "x"), str(tmp_path / "y")
    os.mkdir(x)
    os.mkdir(y)
    os.symlink(y, os.path.join(x, "link"))
    os.symlink(x, os.path.join(y, "link"))
    savers = [start_python(CROSSING, [top, 60], stdin=True) for top in (x, y)]
    try:
        for saver in savers:
            assert read_line(saver) == "ready"
        for saver in savers:
            saver.stdin.write("go\n")
            saver.stdin.flush()
        results = [saver.communicate(timeout=120) for saver in savers]
    finally:
        for saver in savers:
            saver.kill()
    outcomes = [child_result(type("Done", (), {"returncode": saver.returncode, "stdout": out, "stderr": err}))
                for saver, (out, err) in zip(savers, results)]
    for top, found in zip((x, y), outcomes):
        assert sum(found.values()) == 60
        for outcome in found:
            # A refusal names the folder reached through the link and the folder it was reached from.
            assert json.loads(outcome) in ("done", "leftovers", [True, os.path.join(top, "link"), top]), outcome


HELD_ELSEWHERE = """
import fcntl, json, os, sys
from yol_vovoruze import ParameterDirectory
x, y = sys.argv[1:]
holder = os.open(y, os.O_RDONLY)  # a description of its own: its lock stands against the save's
fcntl.flock(holder, fcntl.LOCK_EX)
try:
    ParameterDirectory({"link": ParameterDirectory()}).save(x)
    print(json.dumps("saved"))
except BlockingIOError as error:
    print(json.dumps([error.filename, error.filename2]))
"""


def test_a_held_folder_reached_through_a_link_elsewhere_is_not_waited_for(tmp_path):
    x, y = str(tmp_path / "x"), str(tmp_path / "y")
    os.mkdir(x)
    os.mkdir(y)
    os.symlink(y, os.path.join(x, "link"))
    assert child_result(run_python(HELD_ELSEWHERE, [x, y], timeout=60)) == [os.path.join(x, "link"), x]
