"""ParameterBook: its table of parameters, the access protocol, the text form
and the book file (save and load)."""
import errno
import json
import math
import os
import pathlib
import stat
import sys
import tempfile

import pytest
from hypothesis import given, settings, strategies as st

import yol_vovoruze as yv
from support import assert_no_leak, entries, expect_error, json_notes, read_bytes, write_bytes
from yol_vovoruze import Parameter, ParameterBook

TABLE = "_ParameterBook__parameters"


# ----------------------------------------------------------------- helpers


def at(member, line):
    return ("yol_vovoruze.ParameterBook." + member, line)


def listing(folder="."):
    return sorted(os.listdir(str(folder)))




def encoder_message(value):
    """The message of the json encoder's TypeError for `value` on this interpreter."""
    with pytest.raises(TypeError) as info:
        json.dumps(value)
    return str(info.value)


def same(a, b):
    """Equality that also holds the types (True is not 1) and the key order."""
    if type(a) is not type(b):
        return False
    if isinstance(a, dict):
        return list(a) == list(b) and all(same(a[k], b[k]) for k in a)
    if isinstance(a, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if isinstance(a, float) and math.isnan(a):
        return math.isnan(b)
    return a == b


def containers(value, found=None):
    """The ids of every dict and list reachable from `value`."""
    found = set() if found is None else found
    if isinstance(value, (dict, list)):
        found.add(id(value))
        for item in (value.values() if isinstance(value, dict) else value):
            containers(item, found)
    return found


def objects_of(book):
    """The ids of every parameter, table and container that `book` holds."""
    found = {id(vars(book)[TABLE])}
    for name, parameter in book.items():
        form = parameter.to_dict(name)  # a new dict around the parameter's own tables
        found.add(id(parameter))
        containers(form["description"], found)
        containers(form["attributes"], found)
    return found


def forms(book):
    return [parameter.to_dict(name) for name, parameter in book.items()]


class Name(str):
    pass


class Pairs:
    """Anything with items() feeds the constructor."""

    def __init__(self, pairs):
        self.pairs = pairs

    def items(self):
        return iter(self.pairs)


class _TuplePairs(dict):
    def items(self):
        return (("v", None),)


SPEED_TEXT = """[
    {
        "name": "speed",
        "description": {
            "default": "Speed"
        },
        "attributes": {
            "value": 10,
            "unit": "rpm"
        }
    }
]"""


def speed_book():
    return ParameterBook({"speed": Parameter("Speed", value=10, unit="rpm")})


@pytest.fixture
def workdir(tmp_path, monkeypatch):
    """An empty working folder inside tmp_path, so that stray files next to it show too."""
    folder = tmp_path / "work"
    folder.mkdir()
    monkeypatch.chdir(str(folder))
    return folder


@pytest.fixture
def book():
    return ParameterBook({"a": Parameter("A", v=[1]), "b": Parameter("B", w={"k": 2}), "c": Parameter("C")})


# --------------------------------------------------------------- ownership


class TestOwnership:
    def test_constructor_stores_deep_copies(self):
        p = Parameter("d", v=[1, {"k": [2]}])
        b = ParameterBook({"a": p})
        assert b["a"] is not p
        assert b["a"].v == [1, {"k": [2]}]
        assert not containers(b["a"].v) & containers(p.v)
        p.v.append(3)
        p.w = 1
        assert b["a"].v == [1, {"k": [2]}]
        assert list(b["a"].names()) == ["v"]

    @pytest.mark.parametrize("how", ["item", "attribute"])
    def test_assignment_stores_the_object(self, how):
        p = Parameter(v=[1])
        b = ParameterBook()
        if how == "item":
            b["c"] = p
        else:
            b.c = p
        assert b["c"] is p and b.c is p and dict(b.items())["c"] is p
        p.v.append(2)
        assert b.c.v == [1, 2]

    def test_one_parameter_shared_by_two_books(self):
        p = Parameter(v=1)
        first, second = ParameterBook(), ParameterBook()
        first["x"] = p
        second.y = p
        first.x.v = 5
        assert second.y.v == 5

    def test_clone_is_deep_and_keeps_order(self, book):
        copy = book.clone()
        assert type(copy) is ParameterBook and copy is not book
        assert list(copy.names()) == ["a", "b", "c"]
        assert all(same(x, y) for x, y in zip(forms(copy), forms(book)))
        assert not objects_of(copy) & objects_of(book)
        copy.a.v.append(9)
        del copy["b"]
        assert book.a.v == [1] and list(book.names()) == ["a", "b", "c"]

    def test_constructor_from_a_book_copies_deeply_in_its_order(self):
        other = ParameterBook()
        for name in ("z", "a", "m"):
            other[name] = Parameter(name, v=[name])
        copy = ParameterBook(other)
        assert list(copy.names()) == ["z", "a", "m"]
        assert all(same(x, y) for x, y in zip(forms(copy), forms(other)))
        assert not objects_of(copy) & objects_of(other)

    def test_clone_runs_the_constructor_checks_again(self, book):
        book["bad"] = Parameter()
        book["bad"]["x"] = None  # stored uncopied, cannot be cloned
        with pytest.raises(TypeError) as info:
            book.clone()
        assert str(info.value) == "Error: Unsupported attribute type: <class 'NoneType'>"
        assert entries(info.value)[:2] == [at("clone", 202), at("__init__", 194)]
        assert entries(info.value)[-1] == ("yol_vovoruze._clone_attribute", 40)
        assert list(book.names()) == ["a", "b", "c", "bad"]


# ------------------------------------------------------------------ table


class TestTable:
    @pytest.mark.parametrize("arguments", [(), (None,)])
    def test_new_book_is_empty(self, arguments):
        b = ParameterBook(*arguments)
        assert list(b.names()) == [] and list(b.items()) == []
        assert vars(b) == {TABLE: {}}

    def test_replacing_keeps_the_position_and_readding_moves_to_the_end(self, book):
        p = Parameter()
        book["a"] = p
        assert list(book.names()) == ["a", "b", "c"] and book.a is p
        del book.a
        book.a = p
        assert list(book.names()) == ["b", "c", "a"]

    def test_views_are_live(self, book):
        names, items = book.names(), book.items()
        p = Parameter()
        book.x = p
        assert list(names) == ["a", "b", "c", "x"]
        assert list(items)[-1] == ("x", p) and list(items)[-1][1] is p
        del book["a"]
        assert list(names) == ["b", "c", "x"] and len(items) == 3

    def test_clear_empties_the_same_table(self, book):
        table = vars(book)[TABLE]
        names = book.names()
        held = book.a
        assert book.clear() is None
        assert list(names) == [] and vars(book)[TABLE] is table and table == {}
        assert held.v == [1]

    def test_instance_dictionary_holds_only_the_table(self):
        b = ParameterBook()
        p = Parameter()
        b.x = p
        b["y"] = p
        assert list(vars(b)) == [TABLE]
        assert vars(b)[TABLE] == {"x": p, "y": p}

    @pytest.mark.parametrize("name", ["save", "load", "names", "items", "clone", "clear", "rename", "__str__"])
    @pytest.mark.parametrize("how", ["item", "attribute"])
    def test_member_names_are_stored_as_parameters(self, name, how):
        b = ParameterBook()
        p = Parameter()
        if how == "item":
            b[name] = p
        else:
            setattr(b, name, p)
        assert b[name] is p
        assert getattr(b, name) is not p
        assert getattr(b, name) == ParameterBook.__dict__[name].__get__(b, ParameterBook)
        assert list(vars(b)) == [TABLE]

    @pytest.mark.parametrize("how", ["item", "attribute"])
    def test_ext_name_stays_the_class_attribute(self, how):
        b = ParameterBook()
        p = Parameter()
        if how == "item":
            b["ExtName"] = p
        else:
            b.ExtName = p
        assert b.ExtName == "yolpt" and b["ExtName"] is p

    def test_member_named_parameters_are_saved_under_their_names(self, workdir):
        b = ParameterBook()
        b.save = Parameter("s")
        b.ExtName = Parameter("e")
        assert b.save("motor") is None
        assert listing() == ["motor.yolpt"]
        assert list(ParameterBook.load("motor.yolpt").names()) == ["ExtName", "save"]

    def test_init_again_replaces_the_table(self, book):
        names = book.names()
        p = Parameter()
        book.__init__({"z": p})
        assert list(names) == ["a", "b", "c"]
        assert list(book.names()) == ["z"] and book.z is not p

    def test_init_again_that_fails_keeps_what_it_stored(self, book):
        with pytest.raises(AssertionError):
            book.__init__({"x": Parameter(), "y": 5, "z": Parameter()})
        assert list(book.names()) == ["x"]

    def test_no_length_and_old_iteration_protocol(self, book):
        with pytest.raises(TypeError):
            len(book)
        with pytest.raises(KeyError) as info:
            "a" in book
        assert info.value.args == (0,)


# ------------------------------------------------------------- rejections


def _unclonable():
    p = Parameter()
    p["x"] = (1, 2)
    return p


@pytest.mark.parametrize(
    "make, error, where",
    [
        (lambda: ParameterBook({"a": 5}), AssertionError, [at("__init__", 193)]),
        (lambda: ParameterBook({3: Parameter()}), AssertionError, [at("__init__", 192)]),
        (lambda: ParameterBook({"a": ParameterBook()}), AssertionError, [at("__init__", 193)]),
        (lambda: ParameterBook(5), AttributeError, [at("__init__", 191)]),
        (lambda: ParameterBook([("a", Parameter())]), AttributeError, [at("__init__", 191)]),
        (lambda: ParameterBook(Pairs([("a",)])), ValueError, [at("__init__", 191)]),
        (lambda: ParameterBook(Pairs([("a", Parameter(), 1)])), ValueError, [at("__init__", 191)]),
        (lambda: ParameterBook({}, None), TypeError, [at("__init__", 188)]),
    ],
    ids=["value", "name", "book-as-value", "no-items", "list", "short-pair", "long-pair", "binding"],
)
def test_constructor_rejections(make, error, where):
    with pytest.raises(error) as info:
        make()
    assert entries(info.value) == where
    if error is AssertionError:
        assert info.value.args == ()


def test_constructor_rejects_a_parameter_that_cannot_be_cloned():
    with pytest.raises(TypeError) as info:
        ParameterBook({"a": _unclonable()})
    assert str(info.value) == "Error: Unsupported attribute type: <class 'tuple'>"
    assert entries(info.value)[0] == at("__init__", 194)


class _Members(dict):
    """A dict whose entries the constructor walks through items()."""


@pytest.mark.parametrize(
    "change, message",
    [
        (lambda m: m.__setitem__("c", Parameter()), "dictionary changed size during iteration"),
        pytest.param(lambda m: (m.pop("a"), m.__setitem__("c", Parameter())),
                     "dictionary keys changed during iteration",
                     marks=pytest.mark.skipif(sys.version_info < (3, 8), reason="items() counts entries from 3.8")),
    ],
    ids=["grown", "keys-changed"],
)
def test_constructor_walk_of_a_dict_changed_by_a_clone(change, message):
    # An exact dict is walked without its items(), which must change nothing.
    outcomes = []
    for members_type in (dict, _Members):
        class Changing(Parameter):
            def clone(self):
                change(members)
                return Parameter()

        members = members_type(a=Changing(), b=Parameter())
        with pytest.raises(RuntimeError) as info:
            ParameterBook(members)
        outcomes.append((str(info.value), entries(info.value)))
    assert outcomes[0] == outcomes[1] and outcomes[0][0] == message


@pytest.mark.parametrize(
    "store, where",
    [
        (lambda b: b.__setitem__("a", 5), at("__setitem__", 244)),
        (lambda b: b.__setitem__(3, Parameter()), at("__setitem__", 243)),
        (lambda b: b.__setitem__(Name("a"), 5), at("__setitem__", 244)),
        (lambda b: setattr(b, "a", 5), at("__setattr__", 229)),
        (lambda b: setattr(b, "a", {"default": "x"}), at("__setattr__", 229)),
    ],
    ids=["item-value", "item-key", "item-subclass-key-value", "attribute", "attribute-dict"],
)
def test_assignment_rejections(book, store, where):
    before = dict(book.items())
    with pytest.raises(AssertionError) as info:
        store(book)
    assert info.value.args == () and entries(info.value) == [where]
    assert dict(book.items()) == before and list(book.names()) == ["a", "b", "c"]


@pytest.mark.parametrize(
    "access, where",
    [
        (lambda b: b.missing, at("__getattr__", 222)),
        (lambda b: getattr(b, "missing"), at("__getattr__", 222)),
        (lambda b: getattr(b, "missing", None), at("__getattr__", 222)),
        (lambda b: hasattr(b, "missing"), at("__getattr__", 222)),
        (lambda b: delattr(b, "missing"), at("__delattr__", 237)),
        (lambda b: b.__delitem__("missing"), at("__delitem__", 248)),
        (lambda b: b["missing"], at("__getitem__", 240)),
    ],
    ids=["attribute", "getattr", "getattr-default", "hasattr", "delattr", "delitem", "item"],
)
def test_missing_names_raise_key_error(book, access, where):
    with pytest.raises(KeyError) as info:
        access(book)
    assert info.value.args == ("missing",)
    assert entries(info.value) == [where]
    assert list(book.names()) == ["a", "b", "c"]


# ------------------------------------------ module names used at call time


class Special(Parameter):
    pass


class OtherBook(ParameterBook):
    ExtName = "other"


@pytest.fixture
def ext_cfg():
    """ParameterBook.ExtName rebound to "cfg" for the test."""
    saved = ParameterBook.__dict__["ExtName"]
    ParameterBook.ExtName = "cfg"
    yield "cfg"
    ParameterBook.ExtName = saved


class TestModuleNames:
    def test_parameter_class_is_looked_up_at_each_call(self, monkeypatch):
        b = ParameterBook()
        monkeypatch.setattr(yv, "Parameter", Special)
        with pytest.raises(AssertionError):
            b["a"] = Parameter()
        with pytest.raises(AssertionError):
            b.a = Parameter()
        with pytest.raises(AssertionError) as info:
            ParameterBook({"a": Parameter()})
        assert entries(info.value) == [at("__init__", 193)]
        b["s"] = Special()
        monkeypatch.setattr(yv, "Parameter", Parameter)
        b["a"] = Parameter()
        assert list(b.names()) == ["s", "a"]

    def test_load_builds_through_the_parameter_name(self, workdir, monkeypatch):
        saved = speed_book()
        saved.save("motor")
        monkeypatch.setattr(yv, "Parameter", Special)
        loaded = ParameterBook.load("motor.yolpt")
        assert type(loaded.speed) is Special
        assert same(forms(loaded), forms(saved))

    def test_book_class_is_looked_up_at_each_call(self, workdir, monkeypatch):
        book = speed_book()
        book.save("motor.yolpt")
        monkeypatch.setattr(yv, "ParameterBook", OtherBook)
        assert type(book.clone()) is OtherBook
        assert type(ParameterBook.load("motor.yolpt")) is OtherBook
        book.save("motor")
        assert listing() == ["motor.other", "motor.yolpt"]
        monkeypatch.setattr(yv, "ParameterBook", ParameterBook)
        assert type(book.clone()) is ParameterBook
        assert type(ParameterBook.load("motor.yolpt")) is ParameterBook

    @pytest.mark.parametrize(
        "given, written",
        [("motor", "motor.cfg"), ("motor.cfg", "motor.cfg"), ("motorcfg", "motorcfg"), ("motor.yolpt", "motor.yolpt.cfg")],
    )
    def test_ext_name_is_read_from_the_class_at_each_save(self, workdir, ext_cfg, given, written):
        b = speed_book()
        assert b.ExtName == "cfg"
        b.save(given)
        assert listing() == [written]
        assert read_bytes(written) == SPEED_TEXT.encode()

    def test_ext_name_is_passed_to_endswith_as_it_is(self, workdir, monkeypatch):
        monkeypatch.setattr(ParameterBook, "ExtName", ("yolpt", "json"))  # str.endswith takes a tuple of suffixes
        speed_book().save("motor.json")
        assert listing() == ["motor.json"]

    def test_ext_name_of_an_instance_class_is_not_used(self, workdir):
        b = OtherBook({"speed": Parameter("Speed", value=10, unit="rpm")})
        b.save("motor")
        assert listing() == ["motor.yolpt"]


# -------------------------------------------------------------- text form


class TestTextForm:
    def test_example(self, capsys):
        b = speed_book()
        assert str(b) == SPEED_TEXT
        print(b)
        assert capsys.readouterr().out == SPEED_TEXT + "\n"
        assert repr(b).startswith("<yol_vovoruze.ParameterBook object at ")

    def test_sorted_by_name(self, workdir):
        b = ParameterBook()
        for name in ("b", "A", "a"):
            b[name] = Parameter(name)
        assert [form["name"] for form in json.loads(str(b))] == ["A", "a", "b"]
        assert list(b.names()) == ["b", "A", "a"]
        b.save("motor")
        assert list(ParameterBook.load("motor.yolpt").names()) == ["A", "a", "b"]

    def test_empty_book(self, workdir):
        b = ParameterBook()
        assert str(b) == "[]"
        b.save("empty")
        assert read_bytes("empty.yolpt") == b"[]"
        loaded = ParameterBook.load("empty.yolpt")
        assert list(loaded.names()) == [] and type(loaded) is ParameterBook

    def test_non_ascii_is_written_as_itself(self, workdir):
        p = Parameter({"default": "Geschwindigkeit", "zh_CN": "速度"}, Größe="µm ✓", liste=["é", {"ключ": "значение"}])
        b = ParameterBook({"名前": p})
        b.save("motor")
        data = read_bytes("motor.yolpt")
        assert data == str(b).encode("utf-8")
        assert b"\\u" not in data and not data.startswith(b"\xef\xbb\xbf") and data.endswith(b"]")
        for text in ("速度", "Größe", "µm ✓", "ключ", "значение", "名前"):
            assert text.encode("utf-8") in data
        loaded = ParameterBook.load("motor.yolpt")
        assert same(loaded["名前"].to_dict("名前"), p.to_dict("名前"))

    def test_escapes_only_quotes_backslashes_and_controls(self):
        b = ParameterBook({'q"\\': Parameter("line\nfeed\ttab", s="\r\x01/")})
        text = str(b)
        assert '"name": "q\\"\\\\"' in text
        assert '"default": "line\\nfeed\\ttab"' in text
        assert '"s": "\\r\\u0001/"' in text

    def test_non_finite_floats(self, workdir):
        p = Parameter()
        p.pos, p.neg, p.nan, p.nested = float("inf"), float("-inf"), float("nan"), [float("inf")]
        b = ParameterBook({"f": p})
        text = str(b)
        for line in ('"pos": Infinity,', '"neg": -Infinity,', '"nan": NaN,', "    Infinity\n"):
            assert line in text
        b.save("f")
        attributes = ParameterBook.load("f.yolpt").f.to_dict("f")["attributes"]
        assert attributes["pos"] == float("inf") and attributes["neg"] == float("-inf")
        assert isinstance(attributes["nan"], float) and math.isnan(attributes["nan"])
        assert attributes["nested"] == [float("inf")]

    def test_non_str_keys_are_written_as_text(self, workdir):
        p = Parameter(m={7: "a", 2.5: "b", True: "c", False: "d"})
        b = ParameterBook({"k": p})
        text = str(b)
        for line in ('"7": "a",', '"2.5": "b",', '"true": "c",', '"false": "d"\n'):
            assert line in text
        b.save("k")
        loaded = ParameterBook.load("k.yolpt")
        assert same(loaded.k.m, {"7": "a", "2.5": "b", "true": "c", "false": "d"})

    def test_a_book_that_cannot_be_read_back_still_saves(self, workdir):
        b = ParameterBook({"a": Parameter({})})
        b.save("motor")
        assert json.loads(read_bytes("motor.yolpt").decode()) == [{"name": "a", "description": {}, "attributes": {}}]
        with pytest.raises(AssertionError) as info:
            ParameterBook.load("motor.yolpt")
        assert entries(info.value) == [at("load", 312), ("yol_vovoruze.Parameter.from_dict", 180)]


_keys = st.text(max_size=6)
_scalars = st.one_of(
    st.integers(), st.floats(allow_nan=False, allow_infinity=False), st.booleans(), st.text(max_size=10)
)
_values = st.recursive(
    _scalars, lambda inner: st.one_of(st.lists(inner, max_size=3), st.dictionaries(_keys, inner, max_size=3)),
    max_leaves=8,
)
_descriptions = st.builds(
    lambda default, others: dict([("default", default)] + list(others.items())),
    st.text(max_size=8),
    st.dictionaries(_keys, st.text(max_size=8), max_size=2),
)
_attributes = st.dictionaries(_keys.filter(lambda k: k not in ("description", "self")), _values, max_size=4)
_books = st.dictionaries(st.text(max_size=8), st.tuples(_descriptions, _attributes), max_size=5)


@settings(max_examples=30, deadline=None, database=None)
@given(_books)
def test_text_form_and_round_trip(content):
    book = ParameterBook()
    for name, (description, attributes) in content.items():
        book[name] = Parameter(description, **attributes)
    expected = [
        {"name": name, "description": content[name][0], "attributes": content[name][1]} for name in sorted(content)
    ]
    text = str(book)
    assert text == json.dumps(expected, indent=4, ensure_ascii=False)
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "book.yolpt")
        book.save(path)
        assert read_bytes(path) == text.encode("utf-8")
        loaded = ParameterBook.load(path)
    assert list(loaded.names()) == sorted(content)
    assert all(same(form, want) for form, want in zip(forms(loaded), expected))
    assert not objects_of(loaded) & objects_of(book)


# ------------------------------------------------------------- file names


@pytest.mark.parametrize(
    "given, append, written",
    [
        ("motor", True, "motor.yolpt"),
        ("motor.yolpt", True, "motor.yolpt"),
        ("motoryolpt", True, "motoryolpt"),
        ("motor.YOLPT", True, "motor.YOLPT.yolpt"),
        ("motor.json", True, "motor.json.yolpt"),
        ("motor", False, "motor"),
        ("motor", 0, "motor"),
        ("motor", "", "motor"),
        ("motor", None, "motor"),
        ("motor", [1], "motor.yolpt"),
    ],
)
def test_file_name_of_a_save(workdir, given, append, written):
    speed_book().save(given, append)
    assert listing() == [written]
    assert read_bytes(written) == SPEED_TEXT.encode()


def test_save_defaults_and_keywords(workdir):
    b = speed_book()
    b.save("a")
    b.save(filename="b", auto_append_extend_name=False)
    b.save(auto_append_extend_name=True, filename="c")
    assert listing() == ["a.yolpt", "b", "c.yolpt"]
    with pytest.raises(TypeError) as info:
        b.save()
    assert str(info.value) == "save() takes at least 2 positional arguments (1 given)"
    with pytest.raises(TypeError) as info:
        b.save("d", True, 3)
    assert str(info.value) == "save() takes at most 3 positional arguments (4 given)"
    assert entries(info.value) == [at("save", 278)]


class TestFolders:
    def test_trailing_separator_names_the_folder(self, workdir):
        speed_book().save("out/")
        assert listing() == ["out"] and listing("out") == [".yolpt"]

    def test_missing_folders_are_created(self, workdir):
        speed_book().save("data/sub/motor")
        assert listing() == ["data"] and listing("data") == ["sub"] and listing("data/sub") == ["motor.yolpt"]
        assert read_bytes("data/sub/motor.yolpt") == SPEED_TEXT.encode()

    def test_absolute_path(self, workdir, tmp_path):
        target = str(tmp_path / "elsewhere" / "motor")
        speed_book().save(target)
        assert listing(tmp_path / "elsewhere") == ["motor.yolpt"]

    def test_folder_part_that_is_a_file(self, workdir):
        write_bytes("motor", b"keep")
        with pytest.raises(AssertionError) as info:
            speed_book().save("motor/speed")
        assert info.value.args == () and entries(info.value) == [at("save", 289)]
        assert info.value.__notes__ == ["ParameterBook.save: 'motor' exists and is not a folder, so 'motor/speed' "
                                        "cannot be written"]
        assert listing() == ["motor"] and read_bytes("motor") == b"keep"

    def test_folder_that_cannot_be_made(self, workdir):
        write_bytes("motor", b"keep")
        with pytest.raises(OSError) as info:
            speed_book().save("motor/sub/speed")
        assert info.value.errno == errno.ENOTDIR
        assert entries(info.value) == [at("save", 287)]
        assert listing() == ["motor"]


# ------------------------------------------------ how a save replaces files


def _old_file(name, text=b"old text"):
    write_bytes(name, text)
    os.utime(name, (1000000000, 1000000000))
    return os.stat(name)


class TestReplacing:
    def test_a_save_leaves_exactly_the_one_file(self, workdir, tmp_path):
        b = speed_book()
        b.save("motor")
        b.speed.value = 11
        b.save("motor")
        assert listing() == ["motor.yolpt"]
        assert listing(tmp_path) == ["work"]
        assert read_bytes("motor.yolpt") == SPEED_TEXT.replace("10", "11").encode()

    @pytest.mark.parametrize("mode", [0o640, 0o600, 0o604, 0o444])
    def test_existing_file_keeps_its_permission_bits(self, workdir, mode):
        _old_file("motor.yolpt")
        os.chmod("motor.yolpt", mode)
        speed_book().save("motor")
        assert stat.S_IMODE(os.stat("motor.yolpt").st_mode) == mode
        assert read_bytes("motor.yolpt") == SPEED_TEXT.encode()

    def test_new_file_gets_the_mode_of_a_plain_write(self, workdir):
        mask = os.umask(0o027)
        try:
            speed_book().save("motor")
            with open("plain", "w"):
                pass
        finally:
            os.umask(mask)
        assert stat.S_IMODE(os.stat("motor.yolpt").st_mode) == stat.S_IMODE(os.stat("plain").st_mode) == 0o640

    def test_symbolic_link_is_written_through(self, workdir, tmp_path):
        real = tmp_path / "real"
        real.mkdir()
        _old_file(str(real / "motor.yolpt"))
        os.chmod(str(real / "motor.yolpt"), 0o640)
        os.symlink(os.path.join("..", "real", "motor.yolpt"), "motor.yolpt")
        speed_book().save("motor")
        assert os.path.islink("motor.yolpt")
        assert os.readlink("motor.yolpt") == os.path.join("..", "real", "motor.yolpt")
        assert read_bytes(real / "motor.yolpt") == SPEED_TEXT.encode()
        assert stat.S_IMODE(os.stat(str(real / "motor.yolpt")).st_mode) == 0o640
        assert listing() == ["motor.yolpt"] and listing(real) == ["motor.yolpt"]

    def test_dangling_symbolic_link_creates_its_target(self, workdir):
        os.mkdir("real")
        os.symlink(os.path.join("real", "motor.yolpt"), "motor.yolpt")
        speed_book().save("motor.yolpt")
        assert os.path.islink("motor.yolpt")
        assert read_bytes("real/motor.yolpt") == SPEED_TEXT.encode()
        assert listing() == ["motor.yolpt", "real"] and listing("real") == ["motor.yolpt"]

    def test_symbolic_link_loop_is_refused_as_by_a_plain_write(self, workdir):
        os.symlink("b.yolpt", "a.yolpt")
        os.symlink("a.yolpt", "b.yolpt")
        with pytest.raises(OSError) as info:
            speed_book().save("a")
        assert info.value.errno == errno.ELOOP
        assert entries(info.value) == [at("save", 293)]
        assert listing() == ["a.yolpt", "b.yolpt"]
        assert os.path.islink("a.yolpt") and os.path.islink("b.yolpt")

    def test_name_at_the_length_limit(self, workdir):
        longest = os.pathconf(".", "PC_NAME_MAX")
        name = "n" * (longest - len(".yolpt")) + ".yolpt"
        speed_book().save(name)
        assert listing() == [name]
        assert read_bytes(name) == SPEED_TEXT.encode()

    @pytest.mark.parametrize("name, code", [("", errno.ENOENT), (".", errno.EISDIR), ("sub", errno.EISDIR)])
    def test_target_that_cannot_be_opened(self, workdir, tmp_path, name, code):
        os.mkdir("sub")
        with pytest.raises(OSError) as info:
            speed_book().save(name, False)
        assert info.value.errno == code
        assert entries(info.value) == [at("save", 293)]
        assert listing() == ["sub"] and listing("sub") == [] and listing(tmp_path) == ["work"]

    def test_complex_value_leaves_an_existing_file_untouched(self, workdir):
        before = _old_file("motor.yolpt")
        b = speed_book()
        b.speed.gain = 1 + 2j
        with pytest.raises(TypeError) as info:
            b.save("motor")
        assert str(info.value) == encoder_message(1j)
        assert entries(info.value)[:2] == [at("save", 290), at("__str__", 276)]
        assert info.value.__notes__ == json_notes(b) + [
            "while saving the book file 'motor.yolpt', parameter 'speed', attribute 'gain'"]
        after = os.stat("motor.yolpt")
        assert read_bytes("motor.yolpt") == b"old text"
        assert (after.st_mtime_ns, after.st_ino) == (before.st_mtime_ns, before.st_ino)
        assert listing() == ["motor.yolpt"]

    def test_complex_value_creates_no_file(self, workdir):
        b = ParameterBook({"c": Parameter(z=[1j])})
        with pytest.raises(TypeError):
            b.save("new/motor")
        assert listing() == ["new"] and listing("new") == []

    def test_text_that_cannot_be_encoded_leaves_the_old_file(self, workdir):
        before = _old_file("motor.yolpt")
        b = speed_book()
        b.speed.unit = "r\ud800m"
        with pytest.raises(UnicodeEncodeError) as info:
            b.save("motor")
        assert entries(info.value) == [at("save", 294)]
        assert info.value.__notes__ == ["while saving the book file 'motor.yolpt', parameter 'speed', attribute 'unit'"]
        after = os.stat("motor.yolpt")
        assert read_bytes("motor.yolpt") == b"old text"
        assert (after.st_mtime_ns, after.st_ino) == (before.st_mtime_ns, before.st_ino)
        assert listing() == ["motor.yolpt"]

    def test_a_failed_write_blames_no_text_that_the_file_leaves_out(self, workdir):
        class Terse(Parameter):
            def to_dict(self, name):
                return {"name": name, "description": {}, "attributes": {}}

        b = ParameterBook()
        b["speed"] = Terse("d", unit="r\ud800m")
        os.makedirs(os.path.join("motor.yolpt", "x"))  # a folder stands at the file's name
        with pytest.raises(IsADirectoryError) as info:
            b.save("motor")
        assert entries(info.value) == [at("save", 293)]
        assert info.value.__notes__ == ["while saving the book file 'motor.yolpt'"]

    @pytest.mark.parametrize("store, place", [
        (lambda p: p.__setitem__("v", None), "attribute 'v'"),
        (lambda p: p.__setitem__("v", [1, {"k": (2, None)}]), "attribute 'v'"),
        (lambda p: p.set_description(None, "fr"), "description 'fr'"),
        # items() of a table may give a tuple, which 3.6 passes on as it is
        (lambda p: p.__dict__.__setitem__("_Parameter__attributes", _TuplePairs(v=None)), "attribute 'v'"),
    ])
    def test_value_that_load_refuses_leaves_the_old_file(self, workdir, store, place):
        _old_file("motor.yolpt")
        b = speed_book()
        store(b.speed)
        with pytest.raises(TypeError) as info:
            b.save("motor")
        assert str(info.value) == "parameter 'speed': its %s holds None, which ParameterBook.load refuses" % place
        assert info.value.__notes__ == ["while saving the book file 'motor.yolpt'"]
        assert entries(info.value) == [at("save", 290)]
        assert read_bytes("motor.yolpt") == b"old text" and "null" in str(b)

    def test_the_refusal_names_the_first_parameter_in_table_order(self, workdir):
        b = ParameterBook({"zeta": Parameter(), "alpha": Parameter()})
        b.zeta["v"] = None
        b.alpha["v"] = [None]
        with pytest.raises(TypeError) as info:
            b.save("motor")
        assert str(info.value) == "parameter 'zeta': its attribute 'v' holds None, which ParameterBook.load refuses"

    def test_none_as_a_key_is_saved(self, workdir):
        b = speed_book()
        b.speed["v"] = {None: 1}
        b.save("motor")
        assert '"null": 1' in read_bytes("motor.yolpt").decode()

    # The text is made first: what its to_dict does to another parameter
    # meanwhile is what the check sees, whether the text shows it or not.
    @pytest.mark.parametrize("meddle, in_text", [
        (lambda other: other.__setitem__("v", None), True),
        (lambda other: other.__dict__.__setitem__("_Parameter__attributes", {"v": None}), False),
    ])
    def test_the_check_sees_what_the_text_made_meanwhile(self, workdir, meddle, in_text):
        other = []

        class Meddling(Parameter):
            def to_dict(self, name):
                meddle(other[-1])
                return Parameter.to_dict(self, name)

        def book():
            made = ParameterBook({"a": Parameter(v=1), "b": Meddling(w=2)})
            other.append(made.a)
            return made

        with pytest.raises(TypeError) as info:
            book().save("motor")
        assert str(info.value) == "parameter 'a': its attribute 'v' holds None, which ParameterBook.load refuses"
        assert ("null" in str(book())) == in_text
        assert listing() == []

    def test_a_text_form_of_its_own_answers_for_itself(self, workdir):
        class OwnText(ParameterBook):
            def __str__(self):
                return "[]"

        b = OwnText()
        b["p"] = Parameter()
        b["p"]["v"] = None
        b.save("motor")
        assert read_bytes("motor.yolpt") == b"[]"

    def test_failing_truth_test_of_the_append_flag(self, workdir):
        class Undecided:
            def __bool__(self):
                raise ValueError("undecided")

        with pytest.raises(ValueError) as info:
            speed_book().save("motor", Undecided())
        assert entries(info.value) == [at("save", 291)]
        assert listing() == []


# ------------------------------------------------------------------- load


def _element(name="a", description=None, attributes=None):
    return {
        "name": name,
        "description": {"default": "d"} if description is None else description,
        "attributes": {} if attributes is None else attributes,
    }


def _json_bytes(value):
    return json.dumps(value).encode()


class TestLoad:
    def test_round_trip_shares_nothing(self, workdir):
        b = ParameterBook({"speed": Parameter({"default": "S", "de_DE": "G"}, value=10, lim=[0, {"hi": 9.5}])})
        b.save("motor")
        loaded = ParameterBook.load("motor.yolpt")
        assert type(loaded) is ParameterBook
        assert all(same(x, y) for x, y in zip(forms(loaded), forms(b)))
        assert not objects_of(loaded) & objects_of(b)

    def test_through_an_instance(self, workdir):
        b = speed_book()
        b.save("motor")
        loaded = b.load("motor.yolpt")
        assert loaded is not b and list(loaded.names()) == ["speed"]
        assert same(forms(loaded), forms(b))

    def test_keeps_the_order_of_the_file(self, workdir):
        write_bytes("m.yolpt", _json_bytes([_element("z"), _element("a"), _element("m")]))
        assert list(ParameterBook.load("m.yolpt").names()) == ["z", "a", "m"]

    def test_duplicate_names_keep_the_later_at_the_earlier_position(self, workdir):
        write_bytes(
            "m.yolpt",
            _json_bytes([_element("a", attributes={"v": 1}), _element("b"), _element("a", attributes={"v": 2})]),
        )
        loaded = ParameterBook.load("m.yolpt")
        assert list(loaded.names()) == ["a", "b"]
        assert loaded.a.v == 2

    @pytest.mark.parametrize(
        "content, error, where, notes",
        [
            (b"{}", AssertionError, [at("load", 308)], [": its content is not a JSON array"]),
            (b"null", AssertionError, [at("load", 308)], [": its content is not a JSON array"]),
            (b"", ValueError, [at("load", 307)], [""]),
            (b"\xef\xbb\xbf[]", ValueError, [at("load", 307)], [""]),
            (b"[] []", ValueError, [at("load", 307)], [""]),
            (b"[\xff]", UnicodeDecodeError, [at("load", 306)], [""]),
            (b"[1]", AssertionError, [at("load", 311)], [": the element at index 0 is not a JSON object"]),
            (_json_bytes([_element(), []]), AssertionError, [at("load", 311)],
             [": the element at index 1 is not a JSON object"]),
            (
                _json_bytes([{"name": "a", "description": {"default": "d"}}]),
                AssertionError,
                [at("load", 312), ("yol_vovoruze.Parameter.from_dict", 173)],
                ['Parameter.from_dict: the form has no "attributes"', ", parameter 'a'"],
            ),
            (
                _json_bytes([_element(name=5)]),
                AssertionError,
                [at("load", 312), ("yol_vovoruze.Parameter.from_dict", 177)],
                ['Parameter.from_dict: "name" is not a str', ""],
            ),
            (
                _json_bytes([_element(description={"en_US": "x"})]),
                AssertionError,
                [at("load", 312), ("yol_vovoruze.Parameter.from_dict", 180)],
                ['Parameter.from_dict: the description has no "default" text', ", parameter 'a'"],
            ),
        ],
        ids=["object", "null", "empty", "bom", "two-documents", "utf8", "number", "list-element", "no-attributes",
             "name", "default"],
    )
    def test_rejections(self, workdir, content, error, where, notes):
        write_bytes("m.yolpt", content)
        with pytest.raises(error) as info:
            ParameterBook.load("m.yolpt")
        assert entries(info.value) == where
        # The last note names the file; a note of the form's own check comes before it.
        assert info.value.__notes__ == notes[:-1] + ["while loading the book file 'm.yolpt'" + notes[-1]]
        if error is ValueError:
            assert isinstance(info.value, json.JSONDecodeError)
        if error is AssertionError:
            assert info.value.args == ()

    def test_null_attribute_value(self, workdir):
        write_bytes("m.yolpt", _json_bytes([_element(attributes={"ok": 1, "v": None})]))
        with pytest.raises(TypeError) as info:
            ParameterBook.load("m.yolpt")
        assert str(info.value) == "Error: Unsupported attribute type: <class 'NoneType'>"
        where = entries(info.value)
        assert where[:2] == [at("load", 312), ("yol_vovoruze.Parameter.from_dict", 182)]
        assert where[-1] == ("yol_vovoruze._clone_attribute", 40)
        assert info.value.__notes__ == ["while loading the book file 'm.yolpt', parameter 'a', attribute 'v'"]

    def test_attribute_named_description(self, workdir):
        write_bytes("m.yolpt", _json_bytes([_element(attributes={"description": 1})]))
        with pytest.raises(TypeError) as info:
            ParameterBook.load("m.yolpt")
        assert str(info.value) == "__init__() got multiple values for keyword argument 'description'"

    @pytest.mark.parametrize("make, given, note", [
        (lambda: None, "m.yolpt", "ParameterBook.load: 'm.yolpt' is not a file"),
        (lambda: os.mkdir("m.yolpt"), "m.yolpt", "ParameterBook.load: 'm.yolpt' is not a file"),
        (lambda: speed_book().save("cfg/m"), "cfg/m",
         "ParameterBook.load: 'cfg/m' is not a file (load does not add the extension '.yolpt')"),
    ], ids=["missing", "folder", "without-extension"])
    def test_not_a_file(self, workdir, make, given, note):
        make()
        with pytest.raises(AssertionError) as info:
            ParameterBook.load(given)
        assert info.value.args == () and entries(info.value) == [at("load", 303)]
        assert info.value.__notes__ == [note]

    def test_binding(self, workdir):
        speed_book().save("x")
        with pytest.raises(TypeError) as info:
            ParameterBook.load(filename="x.yolpt")
        assert str(info.value) == "load() takes no keyword arguments"
        with pytest.raises(TypeError) as info:
            ParameterBook.load()
        assert str(info.value) == "load() takes exactly one argument (0 given)"
        with pytest.raises(TypeError) as info:
            ParameterBook.load("x.yolpt", "y")
        assert str(info.value) == "load() takes exactly one argument (2 given)"


@pytest.mark.parametrize(
    "make",
    [
        lambda: pathlib.Path("data/motor"),
        lambda: pathlib.PurePath("data/motor"),
        lambda: Name("data/motor"),
        lambda: b"data/motor",
        lambda: 5,
    ],
    ids=["path", "pure-path", "str-subclass", "bytes", "int"],
)
@pytest.mark.parametrize("member", ["save", "load"])
def test_filename_type_check(workdir, make, member):
    filename = make()
    if member == "load":
        speed_book().save("data/motor")
    before = [listing(), listing("data") if os.path.isdir("data") else None]
    with pytest.raises(TypeError) as info:
        if member == "save":
            speed_book().save(filename)
        else:
            ParameterBook.load(filename)
    expected = "Argument 'filename' has incorrect type (expected str, got %s)" % type(filename).__name__
    assert str(info.value) == expected
    assert entries(info.value) == []
    assert [listing(), listing("data") if os.path.isdir("data") else None] == before


@pytest.mark.parametrize("member", ["save", "load"])
def test_filename_none_reaches_the_path_functions(workdir, member):
    with pytest.raises(TypeError) as info:
        if member == "save":
            speed_book().save(None)
        else:
            ParameterBook.load(None)
    assert entries(info.value) == ([at("save", 285)] if member == "save" else [at("load", 303)])
    assert listing() == []


# ------------------------------------------------------------- subclasses


class Book(ParameterBook):
    def count(self):
        return len(self.names())


class DeeperBook(Book):
    pass


class TestSubclasses:
    @pytest.mark.parametrize("cls", [Book, DeeperBook])
    def test_table_and_access(self, cls):
        p = Parameter("d", v=[1])
        b = cls({"a": p})
        assert b.a is not p and b["a"].v == [1]
        b.x = p
        b["y"] = p
        assert b.x is p and b.y is p and b.count() == 3
        assert list(b.names()) == ["a", "x", "y"]
        assert not any(name in vars(b) for name in ("a", "x", "y"))
        del b.x
        b.rename("y", "z")
        assert list(b.names()) == ["a", "z"]
        with pytest.raises(KeyError) as info:
            b.missing
        assert info.value.args == ("missing",)
        with pytest.raises(AssertionError):
            b.bad = 5

    @pytest.mark.parametrize("cls", [Book, DeeperBook])
    def test_clone_keeps_the_class(self, cls):
        b = cls({"a": Parameter(v=[1]), "b": Parameter()})
        copy = b.clone()
        assert type(copy) is cls
        assert list(copy.names()) == ["a", "b"]
        assert not objects_of(copy) & objects_of(b)
        assert copy.count() == 2

    def test_save_print_and_load(self, workdir, capsys):
        b = Book({"speed": Parameter("Speed", value=10, unit="rpm")})
        assert str(b) == SPEED_TEXT
        print(b)
        assert capsys.readouterr().out == SPEED_TEXT + "\n"
        b.save("motor")
        assert read_bytes("motor.yolpt") == SPEED_TEXT.encode()
        assert same(forms(ParameterBook.load("motor.yolpt")), forms(b))

    def test_subclass_with_its_own_constructor(self):
        class Named(ParameterBook):
            def __init__(self, parameters=None, prefix="p"):
                super().__init__(parameters)
                self[prefix + "0"] = Parameter("added")

        b = Named({"a": Parameter()}, prefix="q")
        assert list(b.names()) == ["a", "q0"]
        copy = b.clone()
        assert type(copy) is Named and list(copy.names()) == ["a", "q0", "p0"]

    def test_a_book_as_copy_source_for_a_subclass(self):
        b = ParameterBook({"a": Parameter(v=[1])})
        copy = Book(b)
        assert type(copy) is Book and copy.a.v == [1] and copy.a is not b.a


# ------------------------------------------------------------ references


def _access(book):
    p = Parameter(v=1)
    book.x = p
    book["y"] = p
    assert book.x is book["y"]
    list(book.names())
    list(book.items())
    book.rename("x", "z")
    del book.z
    del book["y"]


def _missing(book):
    expect_error(KeyError, getattr, book, "missing")
    expect_error(KeyError, hasattr, book, "missing")
    expect_error(KeyError, book.__getitem__, "missing")
    expect_error(KeyError, book.__delitem__, "missing")
    expect_error(KeyError, delattr, book, "missing")
    expect_error(KeyError, book.rename, "missing", "other")
    expect_error(KeyError, book.rename, "a", "b")


def _rejected(book):
    expect_error(AssertionError, ParameterBook, {"a": 5})
    expect_error(AssertionError, ParameterBook, {3: Parameter()})
    expect_error(AttributeError, ParameterBook, 5)
    expect_error(ValueError, ParameterBook, Pairs([("a",)]))
    expect_error(AssertionError, book.__setitem__, "a", 5)
    expect_error(AssertionError, setattr, book, "a", 5)
    expect_error(AssertionError, book.rename, "a", "")
    expect_error(TypeError, book.rename, 1, "b")
    expect_error(TypeError, book.save, Name("x"))
    expect_error(TypeError, ParameterBook.load, pathlib.Path("x"))
    expect_error(TypeError, lambda: ParameterBook.load(filename="x"))


def _save_and_load(book):
    book.save("motor")
    loaded = ParameterBook.load("motor.yolpt")
    assert list(loaded.names()) == list(book.names())


def _failed_saves(book):
    bad = ParameterBook({"c": Parameter(z=1j)})
    expect_error(TypeError, bad.save, "motor")
    bad.c.z = "\ud800"
    expect_error(UnicodeEncodeError, bad.save, "motor")
    bad.c.z = [None]
    expect_error(TypeError, bad.save, "motor")
    expect_error(AssertionError, book.save, "motor.yolpt/x")
    expect_error(IsADirectoryError, book.save, "folder", False)


def _failed_loads(book):
    for name, error in [("object.yolpt", AssertionError), ("empty.yolpt", ValueError), ("utf8.yolpt", ValueError),
                        ("null.yolpt", TypeError), ("form.yolpt", AssertionError), ("none.yolpt", AssertionError)]:
        expect_error(error, ParameterBook.load, name)


def _subclass(book):
    copy = Book(book).clone()
    assert type(copy) is Book


@pytest.mark.parametrize(
    "operation",
    [
        lambda book: ParameterBook(book).clone(),
        _access,
        _missing,
        _rejected,
        str,
        _save_and_load,
        _failed_saves,
        _failed_loads,
        _subclass,
    ],
    ids=["copy", "access", "missing", "rejected", "str", "save-load", "failed-saves", "failed-loads",
         "subclass"],
)
def test_no_memory_growth(workdir, book, operation):
    os.mkdir("folder")
    write_bytes("object.yolpt", b"{}")
    write_bytes("empty.yolpt", b"")
    write_bytes("utf8.yolpt", b"[\xff]")
    write_bytes("null.yolpt", _json_bytes([_element(attributes={"v": None})]))
    write_bytes("form.yolpt", _json_bytes([{"name": "a"}]))
    book.save("motor")
    assert_no_leak(lambda: operation(book), (book,), rounds=200, warmup=20, attempts=1, blocks=49)


def test_reference_counts_come_back(workdir, book):
    p = Parameter(v=[1])
    name = "".join(["na", "me"])
    other = "".join(["oth", "er"])
    filename = "".join(["mo", "tor"])
    full = "".join(["motor", ".yolpt"])
    watched = [p, name, other, filename, full, book, ParameterBook, Parameter]
    book.save(filename)

    def step():
        book[name] = p
        setattr(book, other, p)
        book.rename(name, "renamed")
        book.rename("renamed", name)
        expect_error(KeyError, book.rename, name, other)
        del book[name]
        expect_error(KeyError, book.__getitem__, name)
        expect_error(KeyError, getattr, book, name)
        delattr(book, other)
        ParameterBook({name: p}).clone()
        expect_error(AssertionError, ParameterBook, {name: 5})
        book.save(filename)
        book.save(full, False)
        ParameterBook.load(full)
        expect_error(TypeError, book.save, Name(filename))

    assert_no_leak(step, watched, rounds=50, warmup=50, attempts=1)
