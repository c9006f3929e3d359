"""Folder trees that are safe to trust: a directory save refuses, before it
touches the disk, a tree that it could not write whole or that a load would
not give back; a load refuses what it cannot read back faithfully and tells
what it passes over; errors name the file at fault."""
import json
import os
import warnings

import pytest

import yol_vovoruze as yv
from support import backups_only_warning, json_notes
from yol_vovoruze import Parameter, ParameterBook, ParameterDirectory

SEP = os.sep
PD = "yol_vovoruze.ParameterDirectory."
TABLE = "_ParameterDirectory__parameters"
OWN_TABLE = "a loaded directory keeps its own table under this name"
LOADS_AS_TABLE = "it would load under the name %r, under which a loaded directory keeps its own table"
LOADS_AS = "it would load under the name %r, as the book item %r beside it does"
HIDES = "it would load under the name %r and hide the directory item of that name"
SKIPPED = "ParameterDirectory.load: skipped the sub-folder %r: the book file %r beside it gives the same item name %r"


def book(**values):
    return ParameterBook({"p": Parameter("d", **values)})


def files(root):
    """{relative path: content} of everything below `root`; folders end with the separator."""
    found = {}
    for folder, folders, names in os.walk(root):
        for name in folders:
            found[os.path.relpath(os.path.join(folder, name), root) + SEP] = None
        for name in names:
            with open(os.path.join(folder, name), "rb") as handle:
                found[os.path.relpath(os.path.join(folder, name), root)] = handle.read()
    return found


def saved(tmp_path):
    """A folder holding a saved tree: books a and s/b."""
    folder = str(tmp_path / "tree")
    ParameterDirectory({"a": book(v=1), "s": ParameterDirectory({"b": book(v=2)})}).save(folder)
    return folder


def entries(error):
    """The module's traceback entries: (name, line), outermost first."""
    found, tb = [], error.__traceback__
    while tb is not None:
        if tb.tb_frame.f_code.co_filename == "vovoruze.py":
            found.append((tb.tb_frame.f_code.co_name, tb.tb_lineno))
        tb = tb.tb_next
    return found


def assert_refused(tree, folder, name, reason):
    before = files(folder)
    with pytest.raises(ValueError) as info:
        tree.save(folder)
    assert str(info.value) == "cannot save the item at %r: %s" % (folder + SEP + name, reason)
    assert entries(info.value) == [(PD + "save", 416)]
    assert files(folder) == before


def load_warnings(folder):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        loaded = ParameterDirectory.load(folder)
    return loaded, [str(w.message) for w in caught if w.category is RuntimeWarning]


class Sub(ParameterDirectory):
    pass


class ListingOs:
    """Stands for `os`, listing every folder in sorted or reversed order."""

    def __init__(self, reverse):
        self.reverse = reverse

    def __getattr__(self, name):
        return getattr(os, name)

    def listdir(self, path):
        return sorted(os.listdir(path), reverse=self.reverse)


# ---------------------------------------------------------------- names a load would not give back


@pytest.mark.parametrize("make, name, reason", [
    (lambda: ParameterDirectory({TABLE: ParameterDirectory()}), TABLE, OWN_TABLE),
    (lambda: ParameterDirectory({TABLE + ".v2": book()}), TABLE + ".v2", LOADS_AS_TABLE % TABLE),
    (lambda: Sub({"_Sub__parameters": ParameterDirectory()}), "_Sub__parameters", OWN_TABLE),
    (lambda: ParameterDirectory({"a": book(), "a.b": book()}), "a.b", LOADS_AS % ("a", "a")),
    (lambda: ParameterDirectory({".x": book(), "": book()}), "", LOADS_AS % ("", ".x")),
    (lambda: ParameterDirectory({"a.b": book(), "a": ParameterDirectory()}), "a.b", HIDES % "a"),
], ids=["table-directory", "table-book", "subclass-table", "two-books", "empty-name", "book-hides-directory"])
def test_save_refuses_trees_that_would_not_load_back(tmp_path, make, name, reason):
    assert_refused(make(), saved(tmp_path), name, reason)


@pytest.mark.parametrize("cls, entry", [
    (ParameterDirectory, TABLE), (ParameterDirectory, TABLE + ".yolpt"), (ParameterDirectory, TABLE + ".v2.yolpt"),
    (Sub, "_Sub__parameters"), (Sub, TABLE + ".yolpt"),
])
def test_load_refuses_an_entry_named_like_the_table(tmp_path, monkeypatch, cls, entry):
    folder = saved(tmp_path)
    path = os.path.join(folder, "s", entry)
    os.mkdir(path) if "." not in entry else book().save(path)
    monkeypatch.setattr(yv, "ParameterDirectory", cls)
    with pytest.raises(ValueError) as info:
        ParameterDirectory.load(folder)
    assert str(info.value) == ("cannot load the folder %r: the entry %r would give the item name %r, under which the "
                               "directory keeps its own table" % (folder + SEP + "s", entry, entry.split(".")[0]))
    monkeypatch.undo()
    if cls is Sub and entry.startswith("_Sub"):  # an ordinary name for any other class
        assert type(ParameterDirectory.load(folder)["s"][entry]) is ParameterDirectory


class Fickle(str):
    """An item name whose text changes from one rendering to the next."""

    def __str__(self):
        self.renderings = getattr(self, "renderings", 0) + 1
        return self.texts[min(self.renderings, len(self.texts)) - 1]


@pytest.mark.parametrize("texts", [["fine", ".." + SEP + "victim"], [".." + SEP + "victim", "fine"]])
def test_a_name_is_rendered_once_for_its_check_and_its_path(tmp_path, texts):
    name = Fickle("x")
    name.texts = texts
    folder = str(tmp_path / "out" / "tree")
    tree = ParameterDirectory()
    tree[name] = book()
    if texts[0] == "fine":
        tree.save(folder)
        assert files(str(tmp_path)) == {"out" + SEP: None, os.path.join("out", "tree") + SEP: None,
                                        os.path.join("out", "tree", "fine.yolpt"): str(tree[name]).encode()}
    else:
        with pytest.raises(ValueError):
            tree.save(folder)
        assert os.listdir(str(tmp_path)) == []
    assert name.renderings == 1


@pytest.mark.parametrize("reverse", [False, True])
def test_a_book_that_replaced_a_sub_directory_is_the_item(tmp_path, monkeypatch, reverse):
    folder = saved(tmp_path)
    tree = ParameterDirectory.load(folder)
    tree["s"] = book(v=3)
    tree.save(folder)  # no save removes a sub-folder: s/ stays beside s.yolpt
    monkeypatch.setattr(yv, "_os", ListingOs(reverse))
    loaded, warned = load_warnings(folder)
    assert warned == [SKIPPED % (folder + SEP + "s", folder + SEP + "s.yolpt", "s")]
    assert type(loaded["s"]) is ParameterBook and loaded["s"].p.v == 3
    before = files(folder)
    loaded.save(folder)
    assert files(folder) == before and os.path.join("s", "b.yolpt") in before


# ---------------------------------------------------------------- failures known before the backup step


def test_names_the_folder_cannot_hold_are_refused(tmp_path):
    folder = saved(tmp_path)
    limit = os.pathconf(folder, "PC_NAME_MAX")
    longest = "n" * (limit - len(".yolpt-"))
    tree = ParameterDirectory({longest: book()})
    tree.save(folder)
    tree.save(folder)  # its backup name fits too
    too_long = "é" * (len(longest) // 2 + 1)  # bytes are counted, not characters
    backup = too_long + ".yolpt-"
    assert_refused(ParameterDirectory({too_long: book()}), folder, too_long,
                   "the name of its backup %r takes %d bytes, more than the %d that its folder allows"
                   % (backup, len(backup.encode()), limit))
    assert_refused(ParameterDirectory({"d" * (limit + 1): ParameterDirectory()}), folder, "d" * (limit + 1),
                   "its name %r takes %d bytes, more than the %d that its folder allows"
                   % ("d" * (limit + 1), limit + 1, limit))
    assert_refused(ParameterDirectory({"\ud800": book()}), folder, "\ud800",
                   "the file system encoding cannot encode its name")


@pytest.mark.parametrize("value, error, at_fault", [
    (1j, TypeError, ", parameter 'p', attribute 'bad'"),
    ("\ud800", UnicodeEncodeError, ", parameter 'p', attribute 'bad'"),
    ([1, {"k": None}], TypeError, ""),  # the message names the parameter
])
def test_values_that_cannot_be_saved_leave_the_folder_as_it_was(tmp_path, value, error, at_fault):
    folder = saved(tmp_path)
    before = files(folder)
    tree = ParameterDirectory({"a": book(v=3), "s": ParameterDirectory({"b": book()})})
    tree["s"]["b"]["p"]["bad"] = value  # assigned: a constructor would refuse None
    with pytest.raises(error) as info:
        tree.save(folder)
    assert files(folder) == before
    assert info.value.__notes__ == json_notes(tree["s"]["b"]) + [
        "while saving the book file %r%s" % (os.path.join(folder, "s", "b.yolpt"), at_fault)]
    assert entries(info.value)[0] == (PD + "save", 416)


class TextlessJson:
    """Stands for `json`, with a dumps that gives no text."""

    def __getattr__(self, name):
        return getattr(json, name)

    def dumps(self, *args, **keywords):
        return 5


def _store(value):
    def spoil(tree, folder, monkeypatch):
        tree["b"]["p"]["bad"] = value
    return spoil


def _textless_json(tree, folder, monkeypatch):
    monkeypatch.setattr(yv, "_json", TextlessJson())


def _folder_at_the_file(tree, folder, monkeypatch):
    os.makedirs(os.path.join(folder, "b.yolpt", "x"))


@pytest.mark.parametrize("spoil, line", [
    (_store(None), 416),
    (_store(1j), 416),
    (_store("\ud800"), 416),
    (_textless_json, 416),
    (_folder_at_the_file, 427),
])
def test_a_book_that_fails_a_directory_save_fails_as_its_own_save_does(tmp_path, monkeypatch, spoil, line):
    folder = str(tmp_path / "tree")
    tree = ParameterDirectory({"b": book(v=1)})
    spoil(tree, folder, monkeypatch)
    with pytest.raises(Exception) as within:
        tree.save(folder)
    with pytest.raises(Exception) as alone:
        tree["b"].save(os.path.join(folder, "b.yolpt"))
    assert (type(within.value), str(within.value), within.value.__notes__) == (
        type(alone.value), str(alone.value), alone.value.__notes__)
    assert entries(within.value) == [(PD + "save", line)] + entries(alone.value)


def test_own_save_and_text_forms_run_when_their_item_is_written(tmp_path, monkeypatch):
    folder = saved(tmp_path)
    book().save(os.path.join(folder, "b.yolpt"))
    log = []

    class LoggingOs:
        def __getattr__(self, name):
            return getattr(os, name)

        def rename(self, source, target):
            log.append(("rename", os.path.basename(source)))
            os.rename(source, target)

    class LoggingJson:
        def __getattr__(self, name):
            return getattr(json, name)

        def dumps(self, *args, **keywords):
            log.append("dumps")
            return json.dumps(*args, **keywords)

    class TextBook(ParameterBook):
        def __str__(self):
            log.append("str")
            return super().__str__()

    class FormParameter(Parameter):
        def to_dict(self, name):
            log.append("to_dict")
            return super().to_dict(name)

    class SavingDirectory(ParameterDirectory):
        def save(self, directory):
            log.append(("save", os.path.basename(directory)))
            super().save(directory)

    formed = ParameterBook()
    formed["p"] = FormParameter("d", v=1)
    tree = ParameterDirectory({"a": book(), "b": TextBook(book()), "c": formed,
                               "d": SavingDirectory({"e": book()})})
    monkeypatch.setattr(yv, "_os", LoggingOs())
    monkeypatch.setattr(yv, "_json", LoggingJson())
    tree.save(folder)
    # The plain book's text first, then the backup step, then each item in turn.
    assert log[0] == "dumps" and sorted(log[1:3]) == [("rename", "a.yolpt"), ("rename", "b.yolpt")]
    assert log[3:] == ["str", "dumps", "to_dict", "dumps", ("save", "d"), "dumps"]
    assert sorted(ParameterDirectory.load(folder).names()) == ["a", "b", "c", "d", "s"]


# ---------------------------------------------------------------- what a load passes over, and where errors come from


def test_load_tells_of_books_left_only_as_backups(tmp_path):
    folder = str(tmp_path / "tree")
    ParameterDirectory({"a": book(), "b": book(), "s": ParameterDirectory({"c": book(), "d": book()})}).save(folder)
    for relative in ("a.yolpt", "b.yolpt", os.path.join("s", "d.yolpt"), os.path.join("s", "c.yolpt")):
        path = os.path.join(folder, relative)
        os.rename(path, path + "-")
    book().save(os.path.join(folder, "b.yolpt"))  # written again: its backup is no book file's only copy
    loaded, warned = load_warnings(folder)
    assert sorted(loaded.names()) == ["b", "s"] and list(loaded["s"].names()) == []
    assert warned == [backups_only_warning(folder, ["a.yolpt"]),
                      backups_only_warning(folder + SEP + "s", ["d.yolpt", "c.yolpt"])]


def test_load_tells_of_a_book_left_only_as_a_backup_where_a_folder_stands(tmp_path):
    folder = str(tmp_path / "tree")
    ParameterDirectory({"a": book(), "b": book()}).save(folder)
    path = os.path.join(folder, "b.yolpt")
    os.rename(path, path + "-")
    os.mkdir(path)  # what a save stopped by IsADirectoryError leaves
    loaded, warned = load_warnings(folder)
    assert sorted(loaded.names()) == ["a", "b.yolpt"]
    assert warned == ["ParameterDirectory.load: the folder %r holds the book files ['b.yolpt'] only as backups "
                      "(name + \"-\"), and something that is not a book file stands at each of their names; they "
                      "were not loaded. Move what stands there aside, then restore each by removing the \"-\"."
                      % folder]


def test_a_broken_book_deep_in_a_folder_is_named_once(tmp_path):
    folder = str(tmp_path / "tree")
    ParameterDirectory({"s": ParameterDirectory({"t": ParameterDirectory({"b": book()})})}).save(folder)
    broken = os.path.join(folder, "s", "t", "b.yolpt")
    with open(broken, "w") as handle:
        handle.write("[\n    {")
    with pytest.raises(ValueError) as info:
        ParameterDirectory.load(folder)
    assert info.value.__notes__ == ["while loading the book file %r" % broken]
    assert [line for name, line in entries(info.value)][:3] == [444, 444, 446]
