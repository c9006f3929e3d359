"""yolpt.disk held against what the module does in a folder: the entries a load
reads and refuses, the backups and temporary files of saves, and the lock."""
import os
import random
import threading
import warnings

import pytest

from support import backups_only_warning, child_result, run_python
from yol_vovoruze import ParameterBook, ParameterDirectory
from yolpt import disk, errors

pytestmark = pytest.mark.skipif(os.name != "posix", reason="needs symbolic links and flock")

# Entries that a folder may hold, and what each is on the disk.
ENTRIES = [
    ("a.yolpt", "file"), ("a.b.yolpt", "file"), ("a.yolpt.yolpt", "file"), ("c.d.e.yolpt", "file"), ("a", "folder"),
    (".yolpt", "file"), (".a.yolpt", "file"), ("..yolpt", "file"),
    ("yolpt", "file"), ("A.YOLPT", "file"), ("b.yolpt", "folder"), ("c.yolpt ", "file"), ("c", "folder"),
    ("a.yolpt-", "file"), ("q.yolpt-", "file"), ("yolpt-", "file"),
    ("q.yolpt.tmp", "file"), (".q.yolpt.123.1.tmp", "file"),
    ("_ParameterDirectory__parameters.yolpt", "file"), ("_ParameterDirectory__parameters.v2.yolpt", "file"),
    ("_ParameterDirectory__parameters", "folder"),
    ("x" * 249 + ".yolpt", "file"), ("\xe9" * 124 + ".yolpt", "file"),
    ("link.yolpt", "link"), ("dangling.yolpt", "dangling"), ("README", "file"),
]


def make(folder, entries):
    os.makedirs(folder, exist_ok=True)
    for name, kind in entries:
        path = os.path.join(folder, name)
        if kind == "folder":
            os.mkdir(path)
        elif kind == "file":
            with open(path, "w") as file:
                file.write("[]")
        else:
            os.symlink(os.path.join(os.path.dirname(folder), "elsewhere" if kind == "link" else "nowhere"), path)
    with open(os.path.join(os.path.dirname(folder), "elsewhere"), "w") as file:
        file.write("[]")


def predicted(folder):
    """What the tool says a load of `folder` makes of it."""
    listing = sorted(os.listdir(folder))
    return disk.ItemNames([entry for entry in listing if os.path.isdir(os.path.join(folder, entry))],
                          [entry for entry in listing if disk.is_book_file(os.path.join(folder, entry))])


@pytest.mark.parametrize("seed", range(40))
def test_a_load_reads_and_refuses_what_the_tool_predicts(tmp_path, seed):
    folder = str(tmp_path / "f")
    make(folder, random.Random(seed).sample(ENTRIES, 6))
    names = predicted(folder)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        try:
            loaded = ParameterDirectory.load(folder)
        except ValueError:
            loaded = None
    assert (loaded is None) == names.refused()
    if loaded is None:
        return
    kinds = {name: "folder" if isinstance(item, ParameterDirectory) else "book" for name, item in loaded.items()}
    assert kinds == {name: "folder" if entry in names.folders else "book" for name, entry in names.loaded_from().items()}
    messages = [str(warning.message) for warning in caught]
    assert sum("skipped the sub-folder" in message for message in messages) == len(names.shadowed())
    missing = [book_file for book_file in map(disk.backed_up_file, os.listdir(folder))
               if book_file is not None and disk.is_book_file_name(book_file)
               and not os.path.lexists(os.path.join(folder, book_file))]
    assert (backups_only_warning(folder, missing) in messages) == bool(missing)


def saving(seen, then=None):
    """A book whose save, which a directory save runs after its backup step and
    under its lock, adds the folder's listing to `seen`, then calls then(folder)."""
    class Book(ParameterBook):
        def save(self, filename, append=True):
            seen.append(sorted(os.listdir(os.path.dirname(filename))))
            if then is not None:
                then(os.path.dirname(filename))
            ParameterBook.save(self, filename, append)
    return Book()


@pytest.mark.parametrize("seed", range(4))
def test_a_save_backs_up_what_the_tool_names(tmp_path, seed):
    folder = str(tmp_path / "f")
    before = [(name, kind) for name, kind in random.Random(seed).sample(ENTRIES, 12)
              if not name.endswith("-") and len(os.fsencode(disk.backup_name(name))) <= 255]
    make(folder, before + [("x" * 248 + ".yolpt", "file")])
    listing = sorted(os.listdir(folder))
    book_files = [entry for entry in listing if disk.is_book_file(os.path.join(folder, entry))]
    seen = []
    tree = ParameterDirectory()
    tree["w"] = saving(seen)
    tree.save(folder)
    backups = [disk.backup_name(entry) for entry in book_files]
    assert seen == [sorted(set(listing) - set(book_files) | set(backups))]
    assert [disk.backed_up_file(backup) for backup in backups] == book_files
    assert sorted(os.listdir(folder)) == sorted(set(listing) - set(book_files) | {disk.book_file_name("w")})


# A process that has written no book file yet: its first temporary name is
# number 1. It takes the first `taken` names that the tool predicts for the
# file, then saves the book.
CROWDED_SAVE = """
import json, os, sys
from yol_vovoruze import ParameterBook, ParameterDirectory
from yolpt import disk
folder, item, through, taken = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
book_file = disk.book_file_name(item)
os.makedirs(folder)
names = [disk.temporary_name(book_file, os.getpid(), number) for number in range(1, taken + 1)]
for name in names:
    open(os.path.join(folder, name), "x").close()
try:
    if through == "directory":
        ParameterDirectory({item: ParameterBook()}).save(folder)
    else:
        ParameterBook().save(os.path.join(folder, book_file), False)
    outcome = "saved"
except FileExistsError:
    outcome = "refused"
parsed = [disk.temporary_file(name) for name in names]
read_back = all(pid == os.getpid() and os.fsencode(book_file).startswith(os.fsencode(target))
                for target, pid in parsed)
print(json.dumps([outcome, sorted(os.listdir(folder)) == sorted(names + [book_file] * (outcome == "saved")),
                  read_back]))
"""


@pytest.mark.parametrize("item", ["motor", "a.b", "", "x" * 240, "\xe9" * 121, "a" + "\xe9" * 121])
@pytest.mark.parametrize("through", ["book", "directory"])
@pytest.mark.parametrize("taken", [100, 101])
def test_a_save_writes_its_temporary_file_under_the_name_the_tool_predicts(tmp_path, item, through, taken):
    # A book save tries 101 names before it gives up: the save fails exactly
    # when the tool's names took them all.
    done = run_python(CROWDED_SAVE, [tmp_path / "f", item, through, taken])
    assert child_result(done) == ["saved" if taken == 100 else "refused", True, True]


@pytest.fixture
def reached_through_a_link(tmp_path):
    """(a folder, and a tree root whose item `x` is a link to that folder)."""
    held, root = str(tmp_path / "held"), str(tmp_path / "root")
    ParameterDirectory({"b": ParameterBook()}).save(held)
    os.mkdir(root)
    os.symlink(held, os.path.join(root, "x"))
    return held, root


@pytest.mark.parametrize("exclusive, work, refused", [
    (True, "save", True), (True, "load", True), (False, "save", True), (False, "load", False)])
def test_the_tools_lock_is_the_modules(reached_through_a_link, exclusive, work, refused):
    # A folder reached through a link is taken only if it is free at once.
    held, root = reached_through_a_link
    with disk.FolderLock(held, exclusive=exclusive):
        try:
            if work == "save":
                ParameterDirectory({"x": ParameterDirectory({"c": ParameterBook()})}).save(root)
            else:
                ParameterDirectory.load(root)
            outcome = None
        except BlockingIOError as error:
            outcome = error.filename
    assert outcome == (os.path.join(root, "x") if refused else None)


@pytest.mark.parametrize("exclusive", [True, False])
def test_the_tool_waits_for_a_save(tmp_path, monkeypatch, exclusive):
    folder = str(tmp_path / "f")
    ParameterDirectory({"old": ParameterBook()}).save(folder)
    waiting, seen, threads = threading.Event(), [], []
    monkeypatch.setattr(errors, "tell", lambda kind, message: waiting.set())

    def lock(folder):
        with disk.FolderLock(folder, exclusive=exclusive):
            seen.append(sorted(os.listdir(folder)))

    def try_the_lock(folder):  # while the save holds it
        threads.append(threading.Thread(target=lock, args=(folder,)))
        threads[0].start()
        assert waiting.wait(30)

    tree = ParameterDirectory()
    tree["new"] = saving(seen, then=try_the_lock)
    tree.save(folder)
    threads[0].join(30)
    assert seen == [["old.yolpt-"], ["new.yolpt"]]  # the tool's listing comes after the save
