"""Saves that meet each other."""
import errno
import os

import pytest

import yol_vovoruze

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
