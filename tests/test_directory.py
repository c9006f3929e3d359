"""ParameterDirectory: the item table and its access protocol, and the folder
tree that save, load and the backup step read and write."""
import errno
import os
import pathlib
import tempfile
import typing
import warnings

import pytest
from hypothesis import HealthCheck, given, settings, strategies as st

import yol_vovoruze as yv
from support import assert_no_leak, child_result, entries, expect_error, run_python
from yol_vovoruze import Parameter, ParameterBook, ParameterDirectory

SEP = os.sep
FILE = "vovoruze.py"
PD = "yol_vovoruze.ParameterDirectory."
TABLE = "_ParameterDirectory__parameters"

posix_only = pytest.mark.skipif(os.name != "posix", reason="needs POSIX paths and symbolic links")


# ---------------------------------------------------------------- helpers


def make_book(tag=0, **values):
    """A book with one parameter whose value depends on `tag`, plus `values`."""
    parameters = {"speed": Parameter("Speed", value=tag, unit="rpm")}
    for name, value in values.items():
        parameters[name] = Parameter("d " + name, value=value)
    return ParameterBook(parameters)


def write(path, text):
    with open(str(path), "w", encoding="utf8") as handle:
        handle.write(text)


def read(path):
    with open(str(path), encoding="utf8") as handle:
        return handle.read()


def layout(root):
    """Every file and folder below `root`, relative, folders ending with "/"."""
    found = []
    for folder, folders, files in os.walk(root):
        relative = os.path.relpath(folder, root)
        prefix = "" if relative == "." else relative.replace(os.sep, "/") + "/"
        found.extend(prefix + name + "/" for name in folders)
        found.extend(prefix + name for name in files)
    return sorted(found)


def snapshot(root):
    """Layout, contents and inodes of everything below `root` (and root itself)."""
    state = {".": os.stat(root).st_ino}
    for entry in layout(root):
        path = os.path.join(root, entry)
        state[entry] = (os.stat(path).st_ino, None if entry.endswith("/") else read(path))
    return state


def kind_and_form(item):
    """A comparable form of a tree: ("dir", {name: form}) or ("book", {name: dictionary form})."""
    if isinstance(item, ParameterDirectory):
        return ("dir", {name: kind_and_form(sub) for name, sub in item.items()})
    return ("book", {name: parameter.to_dict(name) for name, parameter in item.items()})


def sample_tree():
    """Book a, sub-directory sub holding book b."""
    return ParameterDirectory({"a": make_book(1), "sub": ParameterDirectory({"b": make_book(2)})})


@pytest.fixture
def folder(tmp_path):
    return str(tmp_path / "tree")


@pytest.fixture
def existing(tmp_path):
    path = tmp_path / "tree"
    path.mkdir()
    return str(path)


# ---------------------------------------------------------------- class shape


def test_class_shape():
    assert ParameterDirectory.__bases__ == (object,)
    assert ParameterDirectory.__module__ == "yol_vovoruze"
    assert ParameterDirectory.__doc__ is None
    members = [name for name in vars(ParameterDirectory)
               if name not in ("__module__", "__qualname__", "__dict__", "__weakref__", "__doc__")]
    assert members == ["__init__", "clone", "items", "names", "__getattr__", "__setattr__", "__delattr__",
                       "__delitem__", "__getitem__", "__setitem__", "clear", "rename",
                       "_backup_books_in_this_directory", "save", "load"]
    for name in ("_backup_books_in_this_directory", "load"):
        assert isinstance(vars(ParameterDirectory)[name], staticmethod)
    for name in ("__len__", "__iter__", "__contains__", "__eq__", "__repr__"):
        assert name not in vars(ParameterDirectory)


@pytest.mark.parametrize("name, line, doc", [
    ("clone", 327, "\n\t\t对此参数目录对象执行深度拷贝操作。\n\t\t:return: 深度拷贝出来的参数目录对象\n\t\t"),
    ("clear", 369, "\n\t\t删除该参数目录下的所有子项目。\n\t\t:return: None\n\t\t"),
    ("rename", 376, "\n\t\t对此参数目录下的项目执行重命名操作。\n\t\t注意：只能对本目录下的直接子项目进行操作，不能对子目录下的子项目执行操作。"
                    "\n\t\t:param old: 子项目原名称\n\t\t:param new: 子项目的新名称\n\t\t:return: None\n\t\t"),
    ("save", 410, "\n\t\t将此 ParameterDirectory 对象递归保存的参数指定的目录里面。\n\t\t"
                  ":param directory: 要保存到的目标文件夹路径\n\t\t:return: None\n\t\t"),
    ("load", 433, "\n\t\t递归加载整个文件夹的配置文件\n\t\t:param directory: 要加载的文件夹的路径名称\n\t\t"
                  ":return: 一个 ParameterDirectory 对象\n\t\t"),
    ("_backup_books_in_this_directory", 397, None),
    ("__init__", 318, None),
    ("items", 334, None),
    ("names", 337, None),
])
def test_member_functions(name, line, doc):
    function = getattr(ParameterDirectory, name)
    assert function.__doc__ == doc
    assert function.__qualname__ == "ParameterDirectory." + name
    assert function.__code__.co_filename == FILE
    assert function.__code__.co_firstlineno == line


def test_annotations_and_defaults():
    assert ParameterDirectory.__init__.__annotations__ == {"parameters": typing.Optional[dict]}
    assert ParameterDirectory.__init__.__defaults__ == (None,)
    assert ParameterDirectory.rename.__annotations__ == {"old": "str", "new": "str"}
    assert ParameterDirectory.save.__annotations__ == {"directory": "str"}
    assert ParameterDirectory.load.__annotations__ == {"directory": "str"}
    assert ParameterDirectory._backup_books_in_this_directory.__annotations__ == {
        "directory": "str", "return": typing.List[str]}
    assert ParameterDirectory.rename.__code__.co_varnames[:3] == ("self", "old", "new")


# ---------------------------------------------------------------- construction and ownership


@pytest.mark.parametrize("make", [
    lambda: ParameterDirectory(), lambda: ParameterDirectory(None), lambda: ParameterDirectory(parameters=None),
    lambda: ParameterDirectory({})])
def test_empty_directory(make):
    d = make()
    assert list(d.names()) == [] and list(d.items()) == []
    assert vars(d) == {TABLE: {}}


def test_constructor_copies_what_it_is_given():
    book = make_book(1)
    sub = ParameterDirectory({"b": make_book(2)})
    d = ParameterDirectory({"z": book, "sub": sub, "a": make_book(3)})
    assert list(d.names()) == ["z", "sub", "a"]
    assert d["z"] is not book and d["sub"] is not sub and d["sub"]["b"] is not sub["b"]
    assert kind_and_form(d["z"]) == kind_and_form(book)
    book.speed.value = 99
    sub["b"].speed.value = 98
    sub["new"] = make_book()
    assert d["z"].speed.value == 1
    assert d["sub"]["b"].speed.value == 2
    assert list(d["sub"].names()) == ["b"]


def test_constructor_takes_a_directory_as_a_deep_copy():
    original = sample_tree()
    d = ParameterDirectory(original)
    assert list(d.names()) == ["a", "sub"]
    assert kind_and_form(d) == kind_and_form(original)
    assert d["sub"] is not original["sub"] and d["sub"]["b"] is not original["sub"]["b"]
    assert d["a"].speed is not original["a"].speed


def test_assignment_stores_the_object_itself():
    book, sub = make_book(1), ParameterDirectory()
    d = ParameterDirectory()
    d["b"] = book
    d.s = sub
    d.c = book
    assert d["b"] is book and d.b is book and d["c"] is book
    assert d.s is sub and d["s"] is sub
    assert [(name, item) for name, item in d.items()] == [("b", book), ("s", sub), ("c", book)]
    book.speed.value = 5
    assert d.c.speed.value == 5
    replacement = make_book(2)
    d["b"] = replacement  # an existing name keeps its place
    assert list(d.names()) == ["b", "s", "c"] and d.b is replacement
    del d.b
    d["b"] = book  # a name added again moves to the end
    assert list(d.names()) == ["s", "c", "b"]
    assert vars(d).keys() == {TABLE}


class Pairs:
    def __init__(self, pairs):
        self.pairs = pairs

    def items(self):
        return iter(self.pairs)


def test_constructor_takes_any_object_with_items():
    book = make_book(1)
    d = ParameterDirectory(Pairs([("x", book), ("y", ParameterDirectory())]))
    assert list(d.names()) == ["x", "y"] and d["x"] is not book


@pytest.mark.parametrize("argument, error, line", [
    (5, AttributeError, 321),
    (Pairs([("a", make_book(), "extra")]), ValueError, 321),
    (Pairs(["ab"]), AssertionError, 323),  # unpacks into the name "a" and the item "b", which is none
    ({"a": 5}, AssertionError, 323),
    ({3: make_book()}, AssertionError, 322),
    ({"a": Parameter("not a book")}, AssertionError, 323),
])
def test_constructor_refusals(argument, error, line):
    with pytest.raises(error) as excinfo:
        ParameterDirectory(argument)
    assert entries(excinfo) == [(PD + "__init__", line)]
    if error is AssertionError:
        assert excinfo.value.args == ()


def test_constructor_binding():
    with pytest.raises(TypeError) as excinfo:
        ParameterDirectory(None, None)
    assert str(excinfo.value) == "__init__() takes at most 2 positional arguments (3 given)"
    assert entries(excinfo) == [(PD + "__init__", 318)]
    with pytest.raises(TypeError) as excinfo:
        ParameterDirectory(items={})
    assert str(excinfo.value) == "__init__() got an unexpected keyword argument 'items'"


def test_calling_init_again_replaces_the_table():
    d = ParameterDirectory({"a": make_book()})
    old_view = d.names()
    d.__init__({"b": make_book()})
    assert list(d.names()) == ["b"] and list(old_view) == ["a"]


# ---------------------------------------------------------------- clone


def test_clone_is_deep_down_to_sub_directories():
    original = ParameterDirectory({"a": make_book(1), "sub": ParameterDirectory({
        "b": make_book(2), "deeper": ParameterDirectory({"c": make_book(3)})}), "e": ParameterDirectory()})
    before = kind_and_form(original)
    copy_ = original.clone()
    assert type(copy_) is ParameterDirectory
    assert list(copy_.names()) == ["a", "sub", "e"]
    assert kind_and_form(copy_) == before
    assert copy_["sub"] is not original["sub"]
    assert copy_["sub"]["deeper"]["c"] is not original["sub"]["deeper"]["c"]
    copy_["sub"]["b"].speed.value = 77
    copy_["sub"]["deeper"]["new"] = make_book()
    del copy_["sub"]["deeper"]["c"]
    copy_["e"]["x"] = make_book()
    assert kind_and_form(original) == before


def test_clone_runs_the_constructor_checks_again():
    d = ParameterDirectory()
    d._ParameterDirectory__parameters = {"a": 5}  # the private name replaces the table unchecked
    with pytest.raises(AssertionError) as excinfo:
        d.clone()
    assert entries(excinfo) == [(PD + "clone", 332), (PD + "__init__", 323)]


@pytest.mark.parametrize("call, message", [
    (lambda d: d.clone(1), "clone() takes exactly one argument (2 given)"),
    (lambda d: d.clone(x=1), "clone() takes no keyword arguments"),
    (lambda d: ParameterDirectory.clone(), "clone() takes exactly one argument (0 given)"),
    (lambda d: d.names(1), "names() takes exactly one argument (2 given)"),
    (lambda d: d.items(x=1), "items() takes no keyword arguments"),
    (lambda d: d.clear(1), "clear() takes exactly one argument (2 given)"),
])
def test_single_argument_members(call, message):
    with pytest.raises(TypeError) as excinfo:
        call(ParameterDirectory())
    assert str(excinfo.value) == message
    assert entries(excinfo) == []


# ---------------------------------------------------------------- views and clear


def test_views_are_live_and_clear_empties_the_same_table():
    book = make_book()
    d = ParameterDirectory()
    names, items = d.names(), d.items()
    assert type(names) is type({}.keys()) and type(items) is type({}.items())
    d["a"] = book
    d["b"] = ParameterDirectory()
    assert list(names) == ["a", "b"]
    assert list(items)[0] == ("a", book) and list(items)[0][1] is book
    table = vars(d)[TABLE]
    assert d.clear() is None
    assert list(names) == [] and list(items) == []
    assert vars(d)[TABLE] is table
    assert book.speed.value == 0  # the items themselves are untouched


def test_clear_touches_nothing_on_disk(existing):
    sample_tree().save(existing)
    before = snapshot(existing)
    d = ParameterDirectory.load(existing)
    d.clear()
    assert snapshot(existing) == before


# ---------------------------------------------------------------- attribute and item access


@pytest.mark.parametrize("access, line", [
    (lambda d: d.missing, ("__getattr__", 341)),
    (lambda d: getattr(d, "missing", None), ("__getattr__", 341)),
    (lambda d: hasattr(d, "missing"), ("__getattr__", 341)),
    (lambda d: d["missing"], ("__getitem__", 362)),
    (lambda d: d.__delattr__("missing"), ("__delattr__", 356)),
    (lambda d: d.__delitem__("missing"), ("__delitem__", 359)),
])
def test_missing_names_raise_key_error(access, line):
    d = ParameterDirectory({"present": make_book()})
    with pytest.raises(KeyError) as excinfo:
        access(d)
    assert excinfo.value.args == ("missing",)
    assert entries(excinfo) == [(PD + line[0], line[1])]
    assert list(d.names()) == ["present"]


def test_del_statements_raise_key_error():
    d = ParameterDirectory()
    with pytest.raises(KeyError) as excinfo:
        del d.missing
    assert excinfo.value.args == ("missing",)
    with pytest.raises(KeyError) as excinfo:
        del d["missing"]
    assert excinfo.value.args == ("missing",)


def test_delete_by_attribute_and_by_item():
    d = ParameterDirectory({"a": make_book(), "b": make_book(), "c": make_book()})
    del d.a
    del d["c"]
    assert list(d.names()) == ["b"]


def test_private_name_is_no_item_key():
    d = ParameterDirectory({"a": make_book()})
    with pytest.raises(KeyError) as excinfo:
        d[TABLE]
    assert excinfo.value.args == (TABLE,)
    assert getattr(d, TABLE) is vars(d)[TABLE]


@pytest.mark.parametrize("store, line", [
    (lambda d: d.__setitem__("a", 5), ("__setitem__", 366)),
    (lambda d: d.__setitem__(3, make_book()), ("__setitem__", 365)),
    (lambda d: d.__setitem__("a", Parameter("p")), ("__setitem__", 366)),
    (lambda d: setattr(d, "a", 5), ("__setattr__", 348)),
    (lambda d: setattr(d, "a", None), ("__setattr__", 348)),
])
def test_assertion_failures_of_assignment(store, line):
    d = ParameterDirectory({"keep": make_book()})
    with pytest.raises(AssertionError) as excinfo:
        store(d)
    assert excinfo.value.args == ()
    assert entries(excinfo) == [(PD + line[0], line[1])]
    assert list(d.names()) == ["keep"]


@pytest.mark.parametrize("name", ["save", "load", "names", "items", "clone", "clear", "rename",
                                  "_backup_books_in_this_directory"])
def test_member_names_as_items(name):
    member = getattr(ParameterDirectory, name)
    d = ParameterDirectory()
    book = make_book()
    setattr(d, name, book)
    assert d[name] is book
    assert getattr(d, name) is not book
    assert getattr(type(d), name) is member
    d[name] = sub = ParameterDirectory()
    assert d[name] is sub
    assert list(d.names()) == [name]
    del d[name]
    assert list(d.names()) == []


def test_member_name_items_are_saved_and_loaded(existing):
    d = ParameterDirectory()
    d.save = make_book(1)
    d.names = ParameterDirectory({"load": make_book(2)})
    d.save(existing)
    assert layout(existing) == ["names/", "names/load.yolpt", "save.yolpt"]
    loaded = ParameterDirectory.load(existing)
    assert sorted(loaded.names()) == ["names", "save"]
    assert kind_and_form(loaded) == kind_and_form(d)


def test_truthiness_equality_length_and_iteration():
    d, e = ParameterDirectory(), ParameterDirectory()
    assert bool(d) is True
    assert d == d and d != e and not (d == e)
    full = sample_tree()
    assert full != sample_tree()
    assert hash(d) == object.__hash__(d)
    assert repr(d).startswith("<yol_vovoruze.ParameterDirectory object at ")
    with pytest.raises(TypeError) as excinfo:
        len(full)
    assert str(excinfo.value) == "object of type 'ParameterDirectory' has no len()"
    for probe in (lambda: "a" in full, lambda: list(full), lambda: next(iter(full))):
        with pytest.raises(KeyError) as excinfo:
            probe()
        assert excinfo.value.args == (0,)


# ---------------------------------------------------------------- rename through the item protocol


class Text(str):
    pass


class Recording(ParameterDirectory):
    def __getitem__(self, key):
        vars(self).setdefault("_log", []).append(("get", key))
        return super().__getitem__(key)

    def __delitem__(self, key):
        vars(self).setdefault("_log", []).append(("del", key))
        super().__delitem__(key)

    def __setitem__(self, key, value):
        vars(self).setdefault("_log", []).append(("set", key, value))
        super().__setitem__(key, value)


def test_rename_goes_through_the_item_protocol():
    d = Recording({"a": make_book(1), "b": make_book(2)})
    item = d["a"]
    vars(d)["_log"] = []
    d.rename("a", "z")
    assert vars(d)["_log"] == [("get", "a"), ("del", "a"), ("set", "z", item)]
    assert list(d.names()) == ["b", "z"]


def test_rename_runs_the_assignment_checks_again():
    d = ParameterDirectory()
    d._ParameterDirectory__parameters = {"a": 5}
    with pytest.raises(AssertionError) as excinfo:
        d.rename("a", "b")
    assert entries(excinfo) == [(PD + "rename", 393), (PD + "__setitem__", 366)]


# ---------------------------------------------------------------- subclasses


class Sub(ParameterDirectory):
    pass


def test_subclass_instances_work():
    book = make_book(1)
    s = Sub({"a": book, "inner": Sub({"b": make_book(2)})})
    assert vars(s).keys() == {TABLE}
    assert s["a"] is not book and type(s["inner"]) is Sub
    s.x = book
    s["y"] = ParameterDirectory()
    assert s.x is book and list(s.names()) == ["a", "inner", "x", "y"]
    copy_ = s.clone()
    assert type(copy_) is Sub and type(copy_["inner"]) is Sub
    assert kind_and_form(copy_) == kind_and_form(s) and copy_["inner"] is not s["inner"]
    nested = ParameterDirectory({"s": s}).clone()
    assert type(nested["s"]) is Sub
    s.rename("x", "w")
    assert list(s.names()) == ["a", "inner", "y", "w"]
    with pytest.raises(KeyError) as excinfo:
        s.missing
    assert excinfo.value.args == ("missing",)


def test_subclass_trees_save_and_load(existing):
    s = Sub({"a": make_book(1), "inner": Sub({"b": make_book(2)})})
    s.save(existing)
    assert layout(existing) == ["a.yolpt", "inner/", "inner/b.yolpt"]
    loaded = Sub.load(existing)
    assert type(loaded) is ParameterDirectory and type(loaded["inner"]) is ParameterDirectory
    assert kind_and_form(loaded) == kind_and_form(s)


# ---------------------------------------------------------------- save: layout


def test_save_layout_and_contents(folder):
    tree = sample_tree()
    assert tree.save(folder) is None
    assert layout(folder) == ["a.yolpt", "sub/", "sub/b.yolpt"]
    assert read(os.path.join(folder, "a.yolpt")) == str(tree["a"])
    assert read(os.path.join(folder, "sub", "b.yolpt")) == str(tree["sub"]["b"])


def test_save_layout_of_a_deeper_tree(folder):
    tree = ParameterDirectory({
        "x": make_book(1),
        "empty": ParameterDirectory(),
        "cfg.v2": ParameterDirectory({"y": make_book(2), "deep": ParameterDirectory({"z": make_book(3)})}),
        "": make_book(4),
        "b.old": make_book(5),
    })
    tree.save(directory=folder)
    assert layout(folder) == [".yolpt", "b.old.yolpt", "cfg.v2/", "cfg.v2/deep/", "cfg.v2/deep/z.yolpt",
                              "cfg.v2/y.yolpt", "empty/", "x.yolpt"]
    assert read(os.path.join(folder, ".yolpt")) == str(tree[""])


def test_save_to_a_path_whose_parents_do_not_exist(tmp_path):
    target = str(tmp_path / "p" / "q" / "r")
    sample_tree().save(target)
    assert layout(str(tmp_path)) == ["p/", "p/q/", "p/q/r/", "p/q/r/a.yolpt", "p/q/r/sub/", "p/q/r/sub/b.yolpt"]


def test_save_with_a_relative_path(tmp_path, monkeypatch):
    monkeypatch.chdir(str(tmp_path))
    sample_tree().save("rel")
    assert layout(str(tmp_path)) == ["rel/", "rel/a.yolpt", "rel/sub/", "rel/sub/b.yolpt"]
    assert kind_and_form(ParameterDirectory.load("rel")) == kind_and_form(sample_tree())


def test_save_an_empty_directory_to_a_new_path(folder):
    ParameterDirectory().save(folder)
    assert os.path.isdir(folder) and os.listdir(folder) == []


def test_save_an_empty_directory_into_an_existing_folder(existing):
    for name in ("a.yolpt", "b.yolpt", ".yolpt", "notes.txt", "yolpt", "A.YOLPT", "c.yolpt.bak"):
        write(os.path.join(existing, name), "old " + name)
    os.mkdir(os.path.join(existing, "sub"))
    write(os.path.join(existing, "sub", "s.yolpt"), "[]")
    os.mkdir(os.path.join(existing, "d.yolpt"))
    ParameterDirectory().save(existing)
    assert layout(existing) == ["A.YOLPT", "c.yolpt.bak", "d.yolpt/", "notes.txt", "sub/", "sub/s.yolpt", "yolpt"]
    for name in ("A.YOLPT", "c.yolpt.bak", "notes.txt", "yolpt"):
        assert read(os.path.join(existing, name)) == "old " + name


def test_second_save_after_removing_a_book(existing):
    tree = sample_tree()
    tree.save(existing)
    del tree["a"]
    tree.save(existing)
    assert layout(existing) == ["sub/", "sub/b.yolpt"]


def test_second_save_after_removing_a_sub_directory(existing):
    tree = sample_tree()
    tree.save(existing)
    removed = tree["sub"]
    del tree.sub
    tree["a"] = make_book(10)
    tree.save(existing)
    assert layout(existing) == ["a.yolpt", "sub/", "sub/b.yolpt"]
    assert read(os.path.join(existing, "a.yolpt")) == str(tree["a"])
    loaded = ParameterDirectory.load(existing)
    assert sorted(loaded.names()) == ["a", "sub"]
    assert kind_and_form(loaded["sub"]) == kind_and_form(removed)


def test_save_over_a_previous_version_rewrites_every_book(existing):
    ParameterDirectory({"a": make_book(1), "old": make_book(2), "sub": ParameterDirectory({
        "b": make_book(3), "gone": make_book(4)})}).save(existing)
    new = ParameterDirectory({"sub": ParameterDirectory({"b": make_book(30), "c": make_book(31)}),
                              "a": make_book(10)})
    new.save(existing)
    assert layout(existing) == ["a.yolpt", "sub/", "sub/b.yolpt", "sub/c.yolpt"]
    assert kind_and_form(ParameterDirectory.load(existing)) == kind_and_form(new)


@pytest.mark.parametrize("tree_has_a", [True, False])
def test_leftover_backup_blocks_the_backup_of_its_book(existing, tree_has_a):
    old_a, leftover, old_b = str(make_book(1)), str(make_book(0)), str(make_book(2))
    write(os.path.join(existing, "a.yolpt"), old_a)
    write(os.path.join(existing, "a.yolpt-"), leftover)
    write(os.path.join(existing, "b.yolpt"), old_b)
    tree = ParameterDirectory({"a": make_book(5)} if tree_has_a else {"c": make_book(6)})
    if tree_has_a:
        tree.save(existing)
        assert layout(existing) == ["a.yolpt", "a.yolpt-"]
        assert read(os.path.join(existing, "a.yolpt")) == str(tree["a"])
    else:
        # a.yolpt would outlive the save and come back at the next load: refused, nothing touched.
        with pytest.raises(FileExistsError) as info:
            tree.save(existing)
        assert "the book files ['a.yolpt'] would outlive the save" in str(info.value)
        assert info.value.filename == existing and entries(info) == [(PD + "save", 421)]
        assert layout(existing) == ["a.yolpt", "a.yolpt-", "b.yolpt"]
        assert read(os.path.join(existing, "a.yolpt")) == old_a
    assert read(os.path.join(existing, "a.yolpt-")) == leftover
    if not tree_has_a:
        os.remove(os.path.join(existing, "a.yolpt-"))
        tree.save(existing)
        assert layout(existing) == ["c.yolpt"]


def test_files_that_are_no_book_files_are_kept_and_never_loaded(existing):
    others = {"yolpt": "not json at all", "A.YOLPT": "[", "notes.txt": "text", "x.yolpt.bak": "[",
              "y.Yolpt": "[", "z.yolpt-": "leftover"}
    for name, text in others.items():
        write(os.path.join(existing, name), text)
    for tree in (ParameterDirectory({"a": make_book(1)}), ParameterDirectory(), sample_tree(), sample_tree()):
        tree.save(existing)
        with pytest.warns(RuntimeWarning, match="z.yolpt"):  # z.yolpt exists only as a backup
            loaded = ParameterDirectory.load(existing)
        assert sorted(loaded.names()) == sorted(tree.names())
        for name, text in others.items():
            assert read(os.path.join(existing, name)) == text


def test_save_into_an_existing_file_is_an_assertion_failure(tmp_path):
    target = str(tmp_path / "file")
    write(target, "content")
    with pytest.raises(AssertionError) as excinfo:
        sample_tree().save(target)
    assert entries(excinfo) == [(PD + "save", 420)]
    assert excinfo.value.__notes__ == ["ParameterDirectory.save: %r exists and is not a folder" % target]
    assert read(target) == "content" and layout(str(tmp_path)) == ["file"]


def test_sub_folder_that_is_a_file_fails_the_sub_save(existing):
    write(os.path.join(existing, "sub"), "a file")
    with pytest.raises(AssertionError) as excinfo:
        ParameterDirectory({"sub": ParameterDirectory()}).save(existing)
    assert entries(excinfo) == [(PD + "save", 425), (PD + "save", 420)]


class FailingBook(ParameterBook):
    """A book whose own save fails: a failure that no save can foresee."""

    def save(self, filename, auto_append_extend_name=True):
        raise OSError(errno.EIO, "the disk went away", filename)


@pytest.mark.parametrize("fail_in_sub", [False, True])
def test_save_that_fails_at_its_third_item(existing, fail_in_sub):
    for name in ("a", "c", "z"):
        write(os.path.join(existing, name + ".yolpt"), "old " + name)
    write(os.path.join(existing, "notes.txt"), "notes")
    bad = FailingBook(make_book(9))
    tree = ParameterDirectory()
    tree["a"] = make_book(1)
    tree["sub"] = ParameterDirectory({"b": make_book(2)})
    if fail_in_sub:
        tree["c"] = ParameterDirectory({"ok": make_book(3), "bad": bad, "never": make_book(4)})
    else:
        tree["c"] = bad
    tree["never"] = make_book(5)
    with pytest.raises(OSError) as excinfo:
        tree.save(existing)
    if fail_in_sub:
        assert entries(excinfo) == [(PD + "save", 425), (PD + "save", 427)]
        expected_c, bad_file = ["c/", "c/ok.yolpt"], os.path.join(existing, "c", "bad.yolpt")
    else:
        assert entries(excinfo) == [(PD + "save", 427)]
        expected_c, bad_file = [], os.path.join(existing, "c.yolpt")
    assert excinfo.value.__notes__ == ["while saving the book file %r" % bad_file]
    assert layout(existing) == sorted(["a.yolpt", "a.yolpt-", "c.yolpt-", "notes.txt", "sub/", "sub/b.yolpt",
                                       "z.yolpt-"] + expected_c)
    for name in ("a", "c", "z"):
        assert read(os.path.join(existing, name + ".yolpt-")) == "old " + name
    assert read(os.path.join(existing, "a.yolpt")) == str(tree["a"])


# ---------------------------------------------------------------- save: argument handling


@pytest.mark.parametrize("argument, message", [
    (b"path", "Argument 'directory' has incorrect type (expected str, got bytes)"),
    (Text("path"), "Argument 'directory' has incorrect type (expected str, got Text)"),
    (pathlib.PurePosixPath("path"), "Argument 'directory' has incorrect type (expected str, got PurePosixPath)"),
])
def test_type_checks_of_the_folder_members(argument, message, tmp_path, monkeypatch):
    monkeypatch.chdir(str(tmp_path))
    for call in (sample_tree().save, ParameterDirectory.load, ParameterDirectory._backup_books_in_this_directory):
        with pytest.raises(TypeError) as excinfo:
            call(argument)
        assert str(excinfo.value) == message
        assert entries(excinfo) == []
    assert os.listdir(str(tmp_path)) == []


def test_none_as_folder(tmp_path, monkeypatch):
    monkeypatch.chdir(str(tmp_path))
    write("a.yolpt", "[]")
    os.mkdir("sub")
    with pytest.raises(TypeError):
        sample_tree().save(None)
    assert list(ParameterDirectory.load(None).names()) == []
    assert ParameterDirectory._backup_books_in_this_directory(None) == []
    assert layout(str(tmp_path)) == ["a.yolpt", "sub/"]


@pytest.mark.parametrize("call, message", [
    (lambda d, p: d.save(), "save() takes exactly 2 positional arguments (1 given)"),
    (lambda d, p: d.save(p, p), "save() takes exactly 2 positional arguments (3 given)"),
    (lambda d, p: d.save(folder=p), "save() takes exactly 2 positional arguments (1 given)"),
    (lambda d, p: d.save(p, directory=p), "save() got multiple values for keyword argument 'directory'"),
    (lambda d, p: d.save(directory=p, other=1), "save() got an unexpected keyword argument 'other'"),
])
def test_save_binding(call, message, folder):
    with pytest.raises(TypeError) as excinfo:
        call(sample_tree(), folder)
    assert str(excinfo.value) == message
    assert entries(excinfo) == [(PD + "save", 410)]
    assert not os.path.exists(folder)


@pytest.mark.parametrize("call, message", [
    (lambda p: ParameterDirectory.load(directory=p), "load() takes no keyword arguments"),
    (lambda p: ParameterDirectory.load(), "load() takes exactly one argument (0 given)"),
    (lambda p: ParameterDirectory.load(p, p), "load() takes exactly one argument (2 given)"),
    (lambda p: ParameterDirectory().load(), "load() takes exactly one argument (0 given)"),
    (lambda p: ParameterDirectory._backup_books_in_this_directory(directory=p),
     "_backup_books_in_this_directory() takes no keyword arguments"),
    (lambda p: ParameterDirectory._backup_books_in_this_directory(p, p),
     "_backup_books_in_this_directory() takes exactly one argument (2 given)"),
])
def test_single_argument_folder_members(call, message, existing):
    with pytest.raises(TypeError) as excinfo:
        call(existing)
    assert str(excinfo.value) == message
    assert entries(excinfo) == []


# ---------------------------------------------------------------- save: refused item names


def chain(depth):
    """A tree with `depth` nested sub-directories, each with a book; returns (top, innermost, path parts)."""
    top = ParameterDirectory({"first": make_book(1)})
    inner, parts = top, []
    for level in range(depth):
        child = ParameterDirectory({"first": make_book(level)})
        inner["level%d" % level] = child
        inner, parts = child, parts + ["level%d" % level]
    return top, inner, parts


EMPTY_DIR = "a directory item with an empty name would be its parent's folder itself"
DOTS = "the names '.' and '..' would leave the folder of the item"
SEPARATOR = "an item name must not contain a path separator or a NUL character"
CLASH = "its folder would take the file name of the book item beside it"

REFUSED = [
    ("book", ".", DOTS), ("book", "..", DOTS), ("dir", ".", DOTS), ("dir", "..", DOTS),
    ("dir", "", EMPTY_DIR),
    ("book", "a" + SEP + "b", SEPARATOR), ("dir", "a" + SEP + "b", SEPARATOR),
    ("book", ".." + SEP + "escape", SEPARATOR), ("dir", SEP + "abs", SEPARATOR),
    ("book", "a\0b", SEPARATOR), ("dir", "\0", SEPARATOR),
]


def refused_tree(kind, name, depth):
    top, inner, parts = chain(depth)
    inner[name] = make_book(7) if kind == "book" else ParameterDirectory({"x": make_book(8)})
    inner["last"] = make_book(9)
    return top, parts


def assert_refused(excinfo, path, reason):
    assert str(excinfo.value) == "cannot save the item at %r: %s" % (path, reason)
    assert type(excinfo.value) is ValueError
    assert entries(excinfo)[0] == (PD + "save", 416)


@pytest.mark.parametrize("kind, name, reason", REFUSED)
@pytest.mark.parametrize("depth", [0, 2])
def test_refused_names_create_nothing(kind, name, reason, depth, tmp_path):
    top, parts = refused_tree(kind, name, depth)
    target = str(tmp_path / "new" / "tree")
    with pytest.raises(ValueError) as excinfo:
        top.save(target)
    assert_refused(excinfo, SEP.join([target] + parts + [name]), reason)
    assert os.listdir(str(tmp_path)) == []


@pytest.mark.parametrize("kind, name, reason", REFUSED)
def test_refused_names_change_no_existing_folder(kind, name, reason, existing):
    ParameterDirectory({"first": make_book(0), "level0": ParameterDirectory({"old": make_book(0)})}).save(existing)
    write(os.path.join(existing, "notes.txt"), "notes")
    before = snapshot(existing)
    top, parts = refused_tree(kind, name, 1)
    with pytest.raises(ValueError) as excinfo:
        top.save(existing)
    assert_refused(excinfo, SEP.join([existing] + parts + [name]), reason)
    assert snapshot(existing) == before


@pytest.mark.parametrize("directory_first", [True, False])
@pytest.mark.parametrize("depth", [0, 1])
def test_directory_named_like_the_file_of_a_book_beside_it(directory_first, depth, tmp_path):
    top, inner, parts = chain(depth)
    pair = [("a.yolpt", ParameterDirectory({"x": make_book()})), ("a", make_book())]
    for name, item in (pair if directory_first else pair[::-1]):
        inner[name] = item
    target = str(tmp_path / "tree")
    with pytest.raises(ValueError) as excinfo:
        top.save(target)
    assert_refused(excinfo, SEP.join([target] + parts + ["a.yolpt"]), CLASH)
    assert os.listdir(str(tmp_path)) == []


@pytest.mark.parametrize("directory_first", [True, False])
def test_directory_named_like_the_backup_of_a_book_beside_it(directory_first, tmp_path):
    # Its folder would be in the way of the book's backup during a save into a folder that has the book.
    pair = [("a.yolpt-", ParameterDirectory({"x": make_book()})), ("a", make_book())]
    tree = ParameterDirectory(dict(pair if directory_first else pair[::-1]))
    target = str(tmp_path / "tree")
    with pytest.raises(ValueError) as excinfo:
        tree.save(target)
    assert_refused(excinfo, SEP.join([target, "a.yolpt-"]), "its folder would take the backup name of the book item beside it")
    assert os.listdir(str(tmp_path)) == []


def test_names_that_address_an_entry_of_their_own_are_saved(folder):
    tree = ParameterDirectory({"a": make_book(1), "b.yolpt": ParameterDirectory({"x": make_book(2)}),
                               "...": make_book(3), ".hidden": ParameterDirectory(), "x.y": make_book(4)})
    tree.save(folder)
    assert layout(folder) == ["....yolpt", ".hidden/", "a.yolpt", "b.yolpt/", "b.yolpt/x.yolpt", "x.y.yolpt"]


def test_book_named_empty_round_trip(folder):
    tree = ParameterDirectory({"": make_book(1), "a": make_book(2), "s": ParameterDirectory({"": make_book(3)})})
    tree.save(folder)
    assert layout(folder) == [".yolpt", "a.yolpt", "s/", "s/.yolpt"]
    loaded = ParameterDirectory.load(folder)
    assert sorted(loaded.names()) == ["", "a", "s"] and list(loaded["s"].names()) == [""]
    assert kind_and_form(loaded) == kind_and_form(tree)
    tree.save(folder)  # again, over itself: ".yolpt" is backed up and rewritten
    assert layout(folder) == [".yolpt", "a.yolpt", "s/", "s/.yolpt"]


@posix_only
def test_save_through_a_link_back_into_its_folder_keeps_the_books_it_wrote(existing):
    os.symlink(existing, os.path.join(existing, "sub"))
    tree = ParameterDirectory({"a": make_book(1), "sub": ParameterDirectory({"b": make_book(2)})})
    written = os.path.join(existing, "a.yolpt")
    try:
        tree.save(existing)
    except (OSError, ValueError):
        if sorted(os.listdir(existing)) == ["sub"]:
            return  # refused before it wrote anything
    assert os.path.isfile(written), sorted(os.listdir(existing))
    assert read(written) == str(tree["a"])


# ---------------------------------------------------------------- backup step


@pytest.mark.parametrize("trailing", ["", SEP])
def test_backup_step_on_a_mixed_folder(existing, trailing):
    write(os.path.join(existing, "x.yolpt"), "x")
    os.mkdir(os.path.join(existing, "y.yolpt"))
    write(os.path.join(existing, "y.yolpt", "inner.yolpt"), "inner")
    write(os.path.join(existing, "z.yolpt"), "z")
    write(os.path.join(existing, "z.yolpt-"), "z-")
    for name in ("yolpt", "W.YOLPT", "v.yolpt.txt", "u.yolpt-"):
        write(os.path.join(existing, name), name)
    given = existing + trailing
    result = ParameterDirectory._backup_books_in_this_directory(given)
    assert type(result) is list
    assert result == [given + SEP + "x.yolpt-"]
    assert layout(existing) == ["W.YOLPT", "u.yolpt-", "v.yolpt.txt", "x.yolpt-", "y.yolpt/",
                                "y.yolpt/inner.yolpt", "yolpt", "z.yolpt", "z.yolpt-"]
    assert read(os.path.join(existing, "x.yolpt-")) == "x"
    assert read(os.path.join(existing, "z.yolpt")) == "z" and read(os.path.join(existing, "z.yolpt-")) == "z-"
    assert ParameterDirectory()._backup_books_in_this_directory(existing) == []


def test_backup_step_follows_the_listing_order(existing):
    for name in ("q", "b", "m", "", "a"):
        write(os.path.join(existing, name + ".yolpt"), name)
    listed = [entry for entry in os.listdir(existing)]
    result = ParameterDirectory._backup_books_in_this_directory(existing)
    assert result == [existing + SEP + entry + "-" for entry in listed]


def test_backup_step_of_a_missing_folder(tmp_path):
    with pytest.raises(FileNotFoundError) as excinfo:
        ParameterDirectory._backup_books_in_this_directory(str(tmp_path / "missing"))
    assert entries(excinfo) == [(PD + "_backup_books_in_this_directory", 399)]


# ---------------------------------------------------------------- load


def test_load_round_trip(folder):
    tree = ParameterDirectory({"a": make_book(1, limits=[1, 2.5, "x"], table={"k": [True, False]}),
                               "sub": ParameterDirectory({"b": make_book(2), "deep": ParameterDirectory()})})
    tree["a"]["speed"].set_description("Drehzahl", "de")
    tree.save(folder)
    loaded = ParameterDirectory.load(folder)
    assert type(loaded) is ParameterDirectory and type(loaded["a"]) is ParameterBook
    assert kind_and_form(loaded) == kind_and_form(tree)
    assert loaded["a"] is not tree["a"] and loaded["a"].speed is not tree["a"].speed


def test_load_of_a_folder_with_backups_text_files_and_dotted_names(existing):
    book = make_book(1)
    book.save(os.path.join(existing, "motor.yolpt"))
    write(os.path.join(existing, "motor.yolpt-"), "leftover")
    write(os.path.join(existing, "notes.txt"), "notes")
    make_book(2).save(os.path.join(existing, ".yolpt"))
    os.mkdir(os.path.join(existing, "cfg.old"))
    expected = {"motor.yolpt": "motor", ".yolpt": "", "cfg.old": "cfg.old"}
    loaded = ParameterDirectory.load(existing)
    assert list(loaded.names()) == [expected[entry] for entry in os.listdir(existing) if entry in expected]
    assert type(loaded["cfg.old"]) is ParameterDirectory and list(loaded["cfg.old"].names()) == []
    assert kind_and_form(loaded["motor"]) == kind_and_form(book)
    assert kind_and_form(loaded[""]) == kind_and_form(make_book(2))


def test_sub_folder_with_the_extension_loads_as_a_directory(existing):
    os.mkdir(os.path.join(existing, "x.yolpt"))
    make_book(1).save(os.path.join(existing, "x.yolpt", "inner.yolpt"))
    loaded = ParameterDirectory.load(existing)
    assert list(loaded.names()) == ["x.yolpt"]
    assert type(loaded["x.yolpt"]) is ParameterDirectory and list(loaded["x.yolpt"].names()) == ["inner"]
    ParameterDirectory().save(existing)  # a folder is never backed up
    assert layout(existing) == ["x.yolpt/", "x.yolpt/inner.yolpt"]


def test_dotted_book_file_loads_under_its_first_part_and_comes_back_renamed(existing):
    book = make_book(1)
    book.save(os.path.join(existing, "motor.old.yolpt"))
    text = read(os.path.join(existing, "motor.old.yolpt"))
    loaded = ParameterDirectory.load(existing)
    assert list(loaded.names()) == ["motor"]
    loaded.save(existing)
    assert layout(existing) == ["motor.yolpt"]
    assert read(os.path.join(existing, "motor.yolpt")) == text


def test_item_order_follows_the_listing(existing):
    for name in ("m", "c", "x", "a", "q"):
        make_book(len(name)).save(os.path.join(existing, name + ".yolpt"))
    for name in ("k", "b", "z.d"):
        os.mkdir(os.path.join(existing, name))
    write(os.path.join(existing, "ignored.txt"), "")
    listed = os.listdir(existing)
    expected = [entry[:-len(".yolpt")] if entry.endswith(".yolpt") else entry
                for entry in listed if entry != "ignored.txt"]
    assert list(ParameterDirectory.load(existing).names()) == expected


def test_load_then_save_into_the_same_folder_rewrites_every_file_in_place(existing):
    ParameterDirectory({"a": make_book(1), "b": make_book(2), "sub": ParameterDirectory({
        "c": make_book(3), "deep": ParameterDirectory({"d": make_book(4)})})}).save(existing)
    write(os.path.join(existing, "notes.txt"), "notes")
    before = snapshot(existing)
    ParameterDirectory.load(existing).save(existing)
    after = snapshot(existing)
    assert after.keys() == before.keys()
    for entry in before:
        if entry.endswith(".yolpt"):
            assert after[entry][1] == before[entry][1]
            assert after[entry][0] != before[entry][0], entry  # a new file took the old one's place
        else:
            assert after[entry] == before[entry], entry


def test_load_through_an_instance(existing):
    sample_tree().save(existing)
    d = ParameterDirectory({"keep": make_book(5)})
    items = list(d.items())
    loaded = d.load(existing)
    assert loaded is not d and sorted(loaded.names()) == ["a", "sub"]
    assert list(d.items()) == items


@pytest.mark.parametrize("content, error", [("{}", AssertionError), ("", ValueError), ("[1]", AssertionError)])
@pytest.mark.parametrize("nested", [False, True])
def test_load_of_a_bad_book_file_returns_nothing(existing, content, error, nested):
    where = os.path.join(existing, "sub") if nested else existing
    if nested:
        os.mkdir(where)
    make_book(1).save(os.path.join(existing, "good.yolpt"))
    write(os.path.join(where, "bad.yolpt"), content)
    before = snapshot(existing)
    with pytest.raises(error) as excinfo:
        ParameterDirectory.load(existing)
    found = entries(excinfo)
    expected = [(PD + "load", 444), (PD + "load", 446)] if nested else [(PD + "load", 446)]
    assert found[:len(expected)] == expected
    assert found[len(expected)][0] == "yol_vovoruze.ParameterBook.load"
    assert snapshot(existing) == before


@pytest.mark.parametrize("make, error", [
    (lambda base: base + SEP + "missing", FileNotFoundError),
    (lambda base: write(base + SEP + "file", "x") or base + SEP + "file", NotADirectoryError),
])
def test_load_of_something_that_is_no_folder(existing, make, error):
    with pytest.raises(error) as excinfo:
        ParameterDirectory.load(make(existing))
    assert entries(excinfo) == [(PD + "load", 439)]


# ---------------------------------------------------------------- load: clashing entries


def clash_message(folder_path, groups):
    return "cannot load the folder %r: these entries give the same item name: %r" % (folder_path, groups)


def expected_groups(folder_path, name_of):
    """The entries per item name that two book files give, in the order of the listing."""
    groups = {}
    for entry in os.listdir(folder_path):
        name = name_of(entry)
        if name is not None:
            groups.setdefault(name, []).append(entry)
    return [group for group in groups.values() if sum(entry.endswith(".yolpt") for entry in group) > 1]


def item_name(folder_path):
    def name_of(entry):
        if os.path.isdir(os.path.join(folder_path, entry)):
            return entry
        if entry.endswith(".yolpt"):
            return entry.split(".")[0]
        return None
    return name_of


def create(folder_path, entry):
    if entry.endswith("/"):
        os.mkdir(os.path.join(folder_path, entry[:-1]))
    else:
        make_book(len(entry)).save(os.path.join(folder_path, entry))


@pytest.mark.parametrize("made", [
    ["a.yolpt", "a.b.yolpt"],
    ["a.b.yolpt", "a.yolpt"],
    ["a/", "a.yolpt", "a.b.yolpt"],
    [".yolpt", ".old.yolpt"],
    ["a.yolpt", "a.x.yolpt", "b/", "b.yolpt", "c.yolpt", "a.y.yolpt"],
])
@pytest.mark.parametrize("nested", [False, True])
def test_load_refuses_entries_that_give_one_name(existing, made, nested):
    where = os.path.join(existing, "inner") if nested else existing
    if nested:
        os.mkdir(where)
        make_book(0).save(os.path.join(existing, "top.yolpt"))
    for entry in made + ["notes.txt", "a.yolpt-"]:
        if entry.endswith("/") or entry.endswith(".yolpt"):
            create(where, entry)
        else:
            write(os.path.join(where, entry), "x")
    before = snapshot(existing)
    with pytest.raises(ValueError) as excinfo:
        ParameterDirectory.load(existing)
    groups = expected_groups(where, item_name(where))
    assert groups and all(len(group) > 1 for group in groups)
    assert str(excinfo.value) == clash_message(where, groups)
    expected = [(PD + "load", 444), (PD + "load", 441)] if nested else [(PD + "load", 441)]
    assert entries(excinfo) == expected
    assert snapshot(existing) == before


def test_folder_without_clashes_loads_as_before(existing):
    for entry in ("a.yolpt", "b.yolpt", "c/", "motor.old.yolpt", "a.yolpt-"):
        create(existing, entry) if not entry.endswith("-") else write(os.path.join(existing, entry), "")
    assert sorted(ParameterDirectory.load(existing).names()) == ["a", "b", "c", "motor"]


# ---------------------------------------------------------------- load: links


@posix_only
@pytest.mark.parametrize("link_at, target", [
    (["loop"], []),               # to the folder itself
    (["sub", "up"], []),          # to the parent
    (["sub", "deep", "up"], ["sub"]),
    (["sub", "deep", "top"], []),
])
def test_link_back_to_a_folder_being_loaded(existing, link_at, target):
    os.makedirs(os.path.join(existing, "sub", "deep"))
    make_book(1).save(os.path.join(existing, "sub", "b.yolpt"))
    link = os.path.join(existing, *link_at)
    os.symlink(os.path.join(existing, *target), link)
    before = snapshot(existing)
    with pytest.raises(OSError) as excinfo:
        ParameterDirectory.load(existing)
    error = excinfo.value
    assert error.errno == errno.ELOOP
    assert error.filename == existing + SEP + SEP.join(link_at)
    assert error.strerror == "a symbolic link leads back to a folder being loaded"
    assert str(error) == "[Errno %d] a symbolic link leads back to a folder being loaded: %r" % (
        errno.ELOOP, error.filename)
    assert entries(excinfo) == [(PD + "load", 444)] * (len(link_at) - 1) + [(PD + "load", 444), (PD + "load", 439)]
    assert snapshot(existing) == before
    # the same folder loads again once the link is gone
    os.remove(link)
    assert "b" in ParameterDirectory.load(existing)["sub"].names()


@posix_only
def test_links_to_other_folders_are_followed(existing):
    os.makedirs(os.path.join(existing, "real", "inner"))
    make_book(1).save(os.path.join(existing, "real", "b.yolpt"))
    make_book(2).save(os.path.join(existing, "real", "inner", "c.yolpt"))
    os.symlink(os.path.join(existing, "real"), os.path.join(existing, "alias"))
    os.symlink(os.path.join(existing, "real"), os.path.join(existing, "again"))
    os.symlink(os.path.join(existing, "real", "inner"), os.path.join(existing, "real", "shortcut"))
    loaded = ParameterDirectory.load(existing)
    assert sorted(loaded.names()) == ["again", "alias", "real"]
    assert kind_and_form(loaded["alias"]) == kind_and_form(loaded["real"]) == kind_and_form(loaded["again"])
    assert sorted(loaded["real"].names()) == ["b", "inner", "shortcut"]
    assert kind_and_form(loaded["real"]["shortcut"]) == kind_and_form(loaded["real"]["inner"])


# ---------------------------------------------------------------- module-level names


class Recorder:
    """Stands for a module: records calls of the named functions, overrides attributes."""

    def __init__(self, module, recorded=(), **overrides):
        self._module, self._recorded, self._overrides, self.calls = module, recorded, overrides, []

    def __getattr__(self, name):
        if name in self._overrides:
            return self._overrides[name]
        value = getattr(self._module, name)
        if name not in self._recorded:
            return value

        def record(*args, **keywords):
            self.calls.append((name,) + args)
            return value(*args, **keywords)
        return record


def test_os_is_looked_up_at_each_call(existing, monkeypatch):
    write(os.path.join(existing, "old.yolpt"), "old")
    recorder = Recorder(os, ("listdir", "makedirs", "rename", "remove"))
    monkeypatch.setattr(yv, "_os", recorder)
    ParameterDirectory({"a": make_book(1), "s": ParameterDirectory({"b": make_book(2)})}).save(existing)
    assert recorder.calls == [
        ("listdir", existing),
        ("rename", existing + SEP + "old.yolpt", existing + SEP + "old.yolpt-"),
        ("makedirs", existing + SEP + "s"),
        ("remove", existing + SEP + "old.yolpt-"),
    ]
    assert layout(existing) == ["a.yolpt", "s/", "s/b.yolpt"]
    del recorder.calls[:]
    ParameterDirectory.load(existing)
    assert [call for call in recorder.calls if call[0] == "listdir"] == [
        ("listdir", existing), ("listdir", existing + SEP + "s")]


def test_temporary_file_of_an_interrupted_save_blocks_no_later_save(existing):
    tree = ParameterDirectory({"a": make_book(1), "s": ParameterDirectory({"b": make_book(2)})})
    tree.save(existing)
    # What a save stopped between writing and renaming leaves: a whole temporary file beside the book.
    left = ".a.yolpt.%d.1.tmp" % os.getpid()
    write(os.path.join(existing, left), str(make_book(3)))
    changed = ParameterDirectory({"a": make_book(10), "s": ParameterDirectory({"b": make_book(20)})})
    for _ in range(2):
        changed.save(existing)
        assert sorted(os.listdir(existing)) == sorted(["a.yolpt", "s", left])
        assert kind_and_form(ParameterDirectory.load(existing)) == kind_and_form(changed)

def test_altsep_of_os_is_refused_in_names(folder, monkeypatch):
    monkeypatch.setattr(yv, "_os", Recorder(os, altsep="|"))
    with pytest.raises(ValueError) as excinfo:
        ParameterDirectory({"a|b": make_book()}).save(folder)
    assert_refused(excinfo, folder + SEP + "a|b", SEPARATOR)
    monkeypatch.setattr(yv, "_os", os)
    ParameterDirectory({"a|b": make_book()}).save(folder)
    assert layout(folder) == ["a|b.yolpt"]


def test_path_is_looked_up_at_each_call(existing, monkeypatch):
    make_book(1).save(os.path.join(existing, "seen.yolpt"))
    make_book(2).save(os.path.join(existing, "hidden.yolpt"))
    real_isfile = os.path.isfile
    fake = Recorder(os.path, sep=SEP + SEP,
                    isfile=lambda path: not path.endswith("hidden.yolpt") and real_isfile(path))
    monkeypatch.setattr(yv, "_path", fake)
    assert list(ParameterDirectory.load(existing).names()) == ["seen"]
    assert ParameterDirectory._backup_books_in_this_directory(existing) == [existing + SEP + SEP + "seen.yolpt-"]
    assert sorted(os.listdir(existing)) == ["hidden.yolpt", "seen.yolpt-"]


def test_extension_is_read_at_each_call(existing, monkeypatch):
    write(os.path.join(existing, "old.cfg"), "old")
    write(os.path.join(existing, "keep.yolpt"), "keep")
    monkeypatch.setattr(ParameterBook, "ExtName", "cfg")
    tree = ParameterDirectory({"a": make_book(1), "s": ParameterDirectory({"b": make_book(2)})})
    tree.save(existing)
    assert layout(existing) == ["a.cfg", "keep.yolpt", "s/", "s/b.cfg"]
    loaded = ParameterDirectory.load(existing)
    assert sorted(loaded.names()) == ["a", "s"]
    assert kind_and_form(loaded) == kind_and_form(tree)
    with pytest.raises(ValueError) as excinfo:
        ParameterDirectory({"a": make_book(), "a.cfg": ParameterDirectory()}).save(existing)
    assert_refused(excinfo, existing + SEP + "a.cfg", CLASH)
    ParameterDirectory({"a": make_book(), "a.yolpt": ParameterDirectory()}).save(existing)
    assert layout(existing) == ["a.cfg", "a.yolpt/", "keep.yolpt", "s/", "s/b.cfg"]
    assert read(os.path.join(existing, "keep.yolpt")) == "keep"


def test_classes_are_looked_up_at_each_call(existing, monkeypatch):
    sample_tree().save(existing)

    class OtherDirectory(ParameterDirectory):
        pass

    class OtherBook(ParameterBook):
        loaded = []

        @staticmethod
        def load(filename):
            OtherBook.loaded.append(filename)
            return OtherBook(ParameterBook.load(filename))

    monkeypatch.setattr(yv, "ParameterDirectory", OtherDirectory)
    monkeypatch.setattr(yv, "ParameterBook", OtherBook)
    loaded = ParameterDirectory.load(existing)
    assert type(loaded) is OtherDirectory and type(loaded["sub"]) is OtherDirectory
    assert type(loaded["a"]) is OtherBook
    assert sorted(OtherBook.loaded) == sorted([existing + SEP + "a.yolpt", existing + SEP + "sub" + SEP + "b.yolpt"])
    assert type(ParameterDirectory().clone()) is OtherDirectory
    plain_book = ParameterBook()
    with pytest.raises(AssertionError):
        ParameterDirectory()["x"] = plain_book  # a book no longer counts as an item
    d = ParameterDirectory()
    d["x"] = OtherBook()
    d["y"] = OtherDirectory()
    with pytest.raises(AssertionError):
        d["z"] = ParameterDirectory()  # nor does a plain directory
    monkeypatch.undo()
    assert type(ParameterDirectory.load(existing)) is ParameterDirectory


def test_missing_module_name(monkeypatch, existing):
    monkeypatch.delattr(yv, "_os")
    with pytest.raises(NameError) as excinfo:
        ParameterDirectory.load(existing)
    assert str(excinfo.value) == "name '_os' is not defined"
    assert entries(excinfo) == [(PD + "load", 439)]


# ---------------------------------------------------------------- assertion checks under -O


def test_assertion_checks_are_skipped_under_optimisation(tmp_path):
    script = r"""
import json, os, sys
import yol_vovoruze as yv
from yol_vovoruze import ParameterDirectory, ParameterBook
results = {}
try:
    ParameterDirectory({"a": 5})
except Exception as e:
    results["init"] = type(e).__name__
d = ParameterDirectory()
d["k"] = 5
d[3] = ParameterBook()
d.attr = "text"
results["stored"] = [d["k"], d.attr, 3 in vars(d)["_ParameterDirectory__parameters"]]
d.rename("k", "")
results["renamed"] = list(d.names())
class Sub(ParameterDirectory):
    pass
results["sub"] = type(Sub({"b": ParameterBook()}).clone()).__name__
target = sys.argv[1]
open(target, "w").close()
try:
    ParameterDirectory().save(target)
except Exception as e:
    results["save"] = type(e).__name__
print(json.dumps(results))
"""
    result = child_result(run_python(script, [tmp_path / "file"], options=["-O"], timeout=60))
    assert result == {"init": "AttributeError", "stored": [5, "text", True],
                                      "renamed": [3, "attr", ""],
                                      "sub": "Sub", "save": "NotADirectoryError"}


# ---------------------------------------------------------------- random trees

NAME_CHARS = "abcxyz019_-é"
TEXT = "aZ é€😀 \"\\\n\t"

values = st.recursive(
    st.integers(-10 ** 12, 10 ** 12) | st.floats(allow_nan=False, allow_infinity=False) | st.booleans()
    | st.text(TEXT, max_size=5),
    lambda inner: st.lists(inner, max_size=2) | st.dictionaries(st.text(TEXT, max_size=3), inner, max_size=2),
    max_leaves=3)


@st.composite
def books(draw):
    parameters = {}
    for name in draw(st.lists(st.sampled_from(["p", "q", "rr"]), unique=True, max_size=2)):
        attributes = draw(st.dictionaries(st.sampled_from(["u", "v", "ww"]), values, max_size=2))
        parameter = Parameter(draw(st.text(TEXT, max_size=6)), **attributes)
        if draw(st.booleans()):
            parameter.set_description(draw(st.text(TEXT, max_size=4)), "de")
        parameters[name] = parameter
    return ParameterBook(parameters)


def trees(depth):
    sub_trees = trees(depth - 1) if depth else st.nothing()

    @st.composite
    def build(draw):
        d = ParameterDirectory()
        kinds = draw(st.dictionaries(st.text(NAME_CHARS, max_size=3), st.booleans(), max_size=3))
        for name, is_directory in kinds.items():
            if is_directory and depth and name:
                d[name] = draw(sub_trees)
            else:
                d[name] = draw(books())
        return d
    return build()


@settings(max_examples=25, deadline=None, suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
@given(first=trees(3), second=trees(2))
def test_random_trees_round_trip(first, second):
    with tempfile.TemporaryDirectory() as base:
        target = os.path.join(base, "t")
        first.save(target)
        assert kind_and_form(ParameterDirectory.load(target)) == kind_and_form(first)
        files = layout(target)
        first.save(target)
        assert layout(target) == files  # no backups left, nothing added
        assert kind_and_form(ParameterDirectory.load(target)) == kind_and_form(first)
        fresh = os.path.join(base, "u")
        second.save(fresh)
        assert kind_and_form(ParameterDirectory.load(fresh)) == kind_and_form(second)


# ---------------------------------------------------------------- reference leaks


# The interpreter's own caches fill up over the first few hundred calls: up to
# fifteen batches of forty, until one grows by less than a block per four calls.
REPEATED = dict(rounds=40, warmup=5, attempts=15, blocks=9)


def test_no_leaks_in_clone_rename_and_access():
    tree = sample_tree()
    book = tree["a"]

    def action():
        tree.clone()
        tree.rename("a", "z")
        tree.rename("z", "a")
        tree["b"] = book
        del tree.b
        expect_error(KeyError, tree.rename, "missing", "y")
        expect_error(KeyError, tree.rename, "a", "sub")
        expect_error(KeyError, getattr, tree, "missing")
        expect_error(AssertionError, tree.__setitem__, "x", 5)
    assert_no_leak(action, (tree, book, tree["sub"]), **REPEATED)


def test_no_leaks_in_save_and_load(tmp_path):
    tree = sample_tree()
    book = tree["a"]
    target = str(tmp_path / "t")
    tree.save(target)
    refused = ParameterDirectory({"a": book, "..": make_book()})
    clashing = str(tmp_path / "clash")
    os.mkdir(clashing)
    for name in ("a.yolpt", "a.b.yolpt"):
        book.save(os.path.join(clashing, name))
    looping = str(tmp_path / "loop")
    os.mkdir(looping)
    if os.name == "posix":
        os.symlink(looping, os.path.join(looping, "self"))
    unsaveable = ParameterDirectory({"b": make_book()})
    unsaveable["b"]["speed"]["value"] = [None]
    told = str(tmp_path / "told")  # a load warns of a passed-over sub-folder and of backups
    ParameterDirectory({"a": ParameterDirectory(), "b": book}).save(told)
    book.save(os.path.join(told, "a.yolpt"))
    os.rename(os.path.join(told, "b.yolpt"), os.path.join(told, "b.yolpt-"))
    routed = str(tmp_path / "routed")
    os.makedirs(os.path.join(routed, TABLE))

    def action():
        tree.save(target)
        ParameterDirectory.load(target)
        expect_error(ValueError, refused.save, target)
        expect_error(TypeError, unsaveable.save, target)
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            ParameterDirectory.load(told)
        expect_error(ValueError, ParameterDirectory.load, routed)
        expect_error(ValueError, ParameterDirectory.load, clashing)
        if os.name == "posix":
            expect_error(OSError, ParameterDirectory.load, looping)
    assert_no_leak(action, (tree, book, target, refused), **REPEATED)
