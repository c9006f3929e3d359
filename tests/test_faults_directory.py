"""Crash safety of ParameterDirectory.save: a process that saves a tree over an
earlier version of it is killed at random moments; after every kill each book
of either version can be restored whole from its book file or its backup."""
import json
import os
import random
import re
import time
import warnings

import pytest

from support import SUB_DIRECTORIES, backups_only_warning, book_texts, go, start_saver, stop, version_tree
from yol_vovoruze import ParameterDirectory

pytestmark = pytest.mark.skipif(os.name != "posix", reason="needs SIGKILL")

KILLS = 55
TEMPORARY = re.compile(r"^\.(.+\.yolpt)\..+\.tmp$")  # "." + book file + "." ... ".tmp"


def read(path):
    with open(path, encoding="utf8") as handle:
        return handle.read()


def recover(folder, versions):
    """Examines a folder that a killed save left behind.

    Checks that every book file and every backup parses and holds one of the two
    versions of its book whole, that every book has at least one of them, and
    that the folder holds nothing but sub-folders, book files, backups and
    temporary files of the atomic writes. Restores, per sub-folder, as a host
    would after a crash: when some book file is missing the save was stopped
    before it had written every book, so each book comes from its backup where
    there is one; otherwise every book was written and comes from its book file.
    Returns a dict with "restored": {book: index of the restored version},
    "current": {book: index of the version in its book file, or None},
    "backups": {backup path: its text}, "temporary": the set of temporary files.
    """
    found = {"restored": {}, "current": {}, "backups": {}, "temporary": set()}
    held_backup = {}
    for relative in sorted(versions[0]):
        path = os.path.join(folder, relative)
        held = {}
        for candidate in (path, path + "-"):
            if not os.path.lexists(candidate):
                continue
            assert os.path.isfile(candidate) and not os.path.islink(candidate), candidate
            text = read(candidate)
            json.loads(text)  # a half-written file fails here or in the comparison below
            matching = [index for index, texts in enumerate(versions) if texts[relative] == text]
            assert matching, "%s holds neither version of its book" % candidate
            held[candidate] = matching[0]
            if candidate != path:
                found["backups"][candidate] = text
        assert held, "book %s is lost: neither %s nor its backup exists" % (relative, path)
        found["current"][relative] = held.get(path)
        held_backup[relative] = held.get(path + "-")
    book_files = set(versions[0])
    assert sorted(os.listdir(folder)) == sorted("sub%d" % i for i in range(SUB_DIRECTORIES))
    for i in range(SUB_DIRECTORIES):
        sub = "sub%d" % i
        in_sub = [relative for relative in versions[0] if relative.startswith(sub + os.sep)]
        from_backups = any(found["current"][relative] is None for relative in in_sub)
        for relative in in_sub:
            backup = held_backup[relative]
            found["restored"][relative] = (backup if from_backups and backup is not None
                                           else found["current"][relative])
        for entry in os.listdir(os.path.join(folder, sub)):
            relative = sub + os.sep + entry
            if relative in book_files or relative.endswith("-") and relative[:-1] in book_files:
                continue
            match = TEMPORARY.match(entry)
            assert match and sub + os.sep + match.group(1) in book_files, "unexpected entry %s" % relative
            found["temporary"].add(relative)
    return found


def backups_only_warnings(folder):
    """The warnings that a load of `folder` gives about book files that exist only as backups."""
    expected = []
    for sub in os.listdir(folder):
        path = os.path.join(folder, sub)
        entries = set(os.listdir(path))
        missing = [entry[:-1] for entry in entries if entry.endswith(".yolpt-") and entry[:-1] not in entries]
        if missing:
            expected.append(backups_only_warning(path, missing))
    return sorted(expected)


def complete_save(tree, target, folder, versions, found):
    """A save over what a kill left: it succeeds, writes every book of the
    target version, makes no backups of its own and keeps the leftovers (each
    of which blocked the backup of its book) as they were."""
    tree.save(folder)
    after = recover(folder, versions)
    assert set(after["current"].values()) == {target}
    assert after["backups"] == found["backups"]
    assert after["temporary"] <= found["temporary"]  # no temporary file of its own left


def test_killed_saves_lose_no_book(tmp_path):
    trees = [version_tree(1), version_tree(2)]
    versions = [book_texts(tree) for tree in trees]
    assert all(versions[0][key] != versions[1][key] for key in versions[0])
    folder = str(tmp_path / "tree")
    trees[1].save(folder)
    started = time.perf_counter()
    trees[0].save(folder)
    save_time = time.perf_counter() - started
    rng = random.Random(int.from_bytes(os.urandom(4), "little"))
    on_disk, clean_start, interrupted, checked, warned = 0, True, 0, 0, 0
    saver = start_saver(folder)
    try:
        for kill in range(KILLS):
            go(saver, 1 - on_disk)  # first the version that is not on disk (or not wholly)
            time.sleep(rng.uniform(0, 1.2 * save_time))
            saver.kill()
            saver.communicate()
            saver = start_saver(folder)  # starts up while this one's leftovers are examined

            found = recover(folder, versions)
            current = set(found["current"].values())
            interrupted += bool(found["backups"]) or len(current) > 1
            if clean_start:
                # The save began over one whole version with no backups around: restoring
                # gives every sub-folder one whole version.
                checked += 1
                for i in range(SUB_DIRECTORIES):
                    restored = {index for relative, index in found["restored"].items()
                                if relative.startswith("sub%d%s" % (i, os.sep))}
                    assert len(restored) == 1, "sub%d restores to a mix of versions" % i
            # What a load of the interrupted folder gives is one of the versions, book by book,
            # and it tells of every book that it passes over since only its backup is left.
            with warnings.catch_warnings(record=True) as caught:
                warnings.simplefilter("always")
                loaded = ParameterDirectory.load(folder)
            told = sorted(str(w.message) for w in caught if w.category is RuntimeWarning)
            assert told == backups_only_warnings(folder)
            warned += bool(told)
            for name, sub in loaded.items():
                for book_name, book in sub.items():
                    relative = name + os.sep + book_name + ".yolpt"
                    assert str(book) in (versions[0][relative], versions[1][relative])

            # Now and then a complete save in between, after which the leftover
            # backups are cleared; otherwise the next save meets them.
            clean_start = rng.random() < 0.3
            if clean_start:
                on_disk = rng.randrange(2)
                complete_save(trees[on_disk], on_disk, folder, versions, found)
                for backup in found["backups"]:
                    os.remove(backup)
            else:
                on_disk = found["current"]["sub0" + os.sep + "book00.yolpt"] or 0
        found = recover(folder, versions)
        complete_save(trees[1], 1, folder, versions, found)
    finally:
        stop(saver)
    assert interrupted >= KILLS // 3, "only %d of %d kills interrupted a save" % (interrupted, KILLS)
    assert checked >= 5
    assert warned, "no kill left a book only as its backup"
