"""ParameterBook.load against its general path (json.loads, from_dict, the
constructors), which runs where the module's _json is not the json module it
imported: over generated and broken files, and under a host's changes."""
import builtins
import json
import json.decoder
import random
import sys
import types

import pytest
from hypothesis import given, settings, strategies as st

from support import GENERAL_PATH_ONLY, assert_no_leak, child_result, entries, namespace_kept, run_python, write_bytes
import yol_vovoruze as yv
from yol_vovoruze import Parameter, ParameterBook

_CONSTANTS = (json.decoder.NaN, json.decoder.PosInf, json.decoder.NegInf)


def shape(value):
    """`value` with every type, order and float bit spelt out, and whether a
    float is one of json's own constant objects."""
    if isinstance(value, dict):
        return type(value), [(shape(k), shape(v)) for k, v in value.items()]
    if isinstance(value, list):
        return type(value), [shape(item) for item in value]
    if isinstance(value, float):
        return type(value), repr(value), any(value is c for c in _CONSTANTS)
    return type(value), value


def book_shape(book):
    table = vars(book)["_ParameterBook__parameters"]
    return (type(book), list(vars(book)), [(name, type(p), list(vars(p)), shape(vars(p)["_Parameter__description"]),
                                            shape(vars(p)["_Parameter__attributes"])) for name, p in table.items()])


def load_outcome(path):
    """What ParameterBook.load(path) gives: the book's shape, or its error's
    type, message, notes and traceback entries."""
    try:
        return book_shape(ParameterBook.load(str(path)))
    except Exception as error:  # noqa: BLE001 - the error is the outcome
        if isinstance(error, RecursionError):  # its message names where the limit was met
            return RecursionError, entries(error)
        return type(error), str(error), getattr(error, "__notes__", None), entries(error)


def json_run_by(make):
    """Whether make() runs any code of the json package."""
    run = []

    def profile(frame, event, argument):
        if event == "call" and frame.f_globals.get("__name__", "").startswith("json"):
            run.append(frame.f_code.co_name)
    sys.setprofile(profile)
    try:
        make()
    finally:
        sys.setprofile(None)
    return bool(run)


def general_outcome(path):
    with namespace_kept() as namespace:
        namespace["_json"] = types.ModuleType("json")
        namespace["_json"].loads = json.loads
        return load_outcome(path)


def assert_load_is_general(path, native=None):
    """The load of `path` gives what its general path gives; `native` tells
    whether it must (True) or must not (False) leave json out."""
    if native is not None:
        assert json_run_by(lambda: load_outcome(path)) != (native and not GENERAL_PATH_ONLY)
    assert load_outcome(path) == general_outcome(path)


# --------------------------------------------------- generated book files

class Token(str):
    """Text written into the file as it is."""


class Pairs(list):
    """A JSON object written from (key, value) pairs, which may repeat a key."""


_code_points = st.one_of(
    st.integers(0x20, 0x7E), st.integers(0, 0x1F), st.sampled_from([0x22, 0x2F, 0x5C, 0x7F]),
    st.integers(0x80, 0xFFFF), st.integers(0xD800, 0xDFFF), st.integers(0x10000, 0x10FFFF),
)
_strings = st.lists(_code_points, max_size=8).map(lambda points: "".join(map(chr, points)))
_ints = st.one_of(st.integers(), st.integers(-2 ** 200, 2 ** 200),
                  st.sampled_from([2 ** 63, -2 ** 63 - 1, 10 ** 18, -10 ** 18 + 1, 10 ** 19, 10 ** 4299]))
_floats = st.one_of(st.floats(), st.sampled_from([-0.0, 5e-324, 2.2250738585072014e-308, 1.7976931348623157e308]))
_numbers = st.one_of(_ints, _floats, st.sampled_from(["1E400", "-1e-400", "0.1e+1", "12345678901234567890.5e-3",
                                                      "-0", "0.000000000000000000000000000001"]).map(Token))
_scalars = st.one_of(_strings, _numbers, st.booleans())


_values = st.recursive(_scalars, lambda inner: st.one_of(
    st.lists(inner, max_size=4), st.lists(st.tuples(_strings, inner), max_size=4).map(Pairs),
), max_leaves=12)
_attribute_names = st.one_of(_strings.filter(lambda name: name not in ("self", "description")),
                             st.sampled_from(["value", "name", "default", "attributes", "_Parameter__attributes"]))


def _form(name, description, attributes, duplicate):
    pairs = [("name", name), ("description", Pairs([("default", description[0])] + description[1])),
             ("attributes", Pairs(attributes))]
    if duplicate:  # a key given twice keeps its first place and its last value
        pairs.insert(0, ("attributes", Pairs([("earlier", 1)])))
    return Pairs(pairs)


_forms = st.builds(_form, _strings, st.tuples(_strings, st.lists(st.tuples(_strings, _values), max_size=2)),
                   st.lists(st.tuples(_attribute_names, _values), max_size=5), st.booleans())


def _escaped(text, rng):
    """A JSON string of `text` with some characters escaped in every way json reads."""
    out = []
    for character in text:
        code = ord(character)
        if character in '"\\' or code < 0x20 or 0xD800 <= code < 0xE000 or rng.random() < 0.2:
            short = {'"': '\\"', "\\": "\\\\", "/": "\\/", "\b": "\\b", "\f": "\\f", "\n": "\\n", "\r": "\\r",
                     "\t": "\\t"}.get(character)
            if short and rng.random() < 0.5:
                out.append(short)
            elif code > 0xFFFF:
                high, low = 0xD800 + ((code - 0x10000) >> 10), 0xDC00 + ((code - 0x10000) & 0x3FF)
                out.append("\\u%04X\\u%04x" % (high, low))
            else:
                out.append(("\\u%04x" if rng.random() < 0.5 else "\\u%04X") % code)
        else:
            out.append(character)
    return '"' + "".join(out) + '"'


def written(value, rng):
    """JSON text of `value`, with whitespace of every kind json allows between tokens."""
    def space():
        return "".join(rng.choice(" \t\n\r") for _ in range(rng.choice([0, 0, 1, 2, 5])))
    if isinstance(value, Token):
        return str(value)
    if isinstance(value, str):
        plain = rng.random() < 0.5 and not any(0xD800 <= ord(c) < 0xE000 for c in value)
        return json.dumps(value, ensure_ascii=False) if plain else _escaped(value, rng)
    if isinstance(value, Pairs):
        return "{" + space() + ("," + space()).join(
            written(k, rng) + space() + ":" + space() + written(v, rng) + space() for k, v in value) + "}"
    if isinstance(value, list):
        return "[" + space() + ("," + space()).join(written(item, rng) + space() for item in value) + "]"
    return json.dumps(value)


@settings(max_examples=150, deadline=None, database=None)
@given(st.lists(_forms, max_size=4), st.integers(0, 2 ** 32))
def test_files_in_any_json_form_load_as_on_the_general_path(tmp_path_factory, forms, seed):
    path = tmp_path_factory.mktemp("load") / "b.yolpt"
    rng = random.Random(seed)
    with open(str(path), "w", encoding="utf8") as file:
        file.write(rng.choice(["", " ", "\n\t\r "]) + written(forms, rng) + rng.choice(["", "\n", " \r\n"]))
    assert_load_is_general(path)


@settings(max_examples=60, deadline=None, database=None)
@given(st.lists(st.tuples(_strings, _strings, st.lists(st.tuples(_attribute_names, _values), max_size=4)),
                max_size=5))
def test_books_saved_by_the_module_load_without_json(tmp_path_factory, parameters):
    book = ParameterBook()
    for name, description, attributes in parameters:
        parameter = Parameter({"default": description, "de_DE": name})
        for attribute, value in attributes:
            parameter[attribute] = json.loads(written(value, random.Random(0)))
        book[name] = parameter
    path = tmp_path_factory.mktemp("saved") / "b.yolpt"
    try:
        book.save(str(path), False)
    except UnicodeEncodeError:  # a lone surrogate: no file
        return
    assert_load_is_general(path, native=True)


# --------------------------------------------------------- broken files

_GOOD = '[{"name": "p", "description": {"default": "d"}, "attributes": {"v": [1, 2.5, "x", {"k": true}]}}]'

_BROKEN = {
    "BOM": "\ufeff" + _GOOD,
    "not an array": '{"name": "p"}',
    "element not an object": '[1]',
    "no name": '[{"description": {"default": "d"}, "attributes": {}}]',
    "name not a str": '[{"name": 1, "description": {"default": "d"}, "attributes": {}}]',
    "no default": '[{"name": "p", "description": {"en": "d"}, "attributes": {}}]',
    "default not a str": '[{"name": "p", "description": {"default": 1}, "attributes": {}}]',
    "attributes not an object": '[{"name": "p", "description": {"default": "d"}, "attributes": []}]',
    "an attribute named self": _GOOD.replace('"v"', '"self"'),
    "an attribute named description": _GOOD.replace('"v"', '"description"'),
    "another key": _GOOD.replace('"name"', '"extra": 1, "name"'),
    "null in attributes": _GOOD.replace("true", "null"),
    "null in the description": _GOOD.replace('"d"', 'null'),
    "null in another key": _GOOD.replace('"name"', '"extra": null, "name"'),
    "bad escape": _GOOD.replace('"x"', '"\\x"'),
    "bad unicode escape": _GOOD.replace('"x"', '"\\u12G4"'),
    "surrogate then bad escape": _GOOD.replace('"x"', '"\\ud800\\u12G4"'),
    "surrogate then other escape": _GOOD.replace('"x"', '"\\ud800\\u0041\\udc00"'),
    "control character": _GOOD.replace('"x"', '"\x01"'),
    "raw line feed in a string": _GOOD.replace('"x"', '"a\nb"'),
    "leading zero": _GOOD.replace("2.5", "02.5"),
    "bare point": _GOOD.replace("2.5", "2."),
    "bare exponent": _GOOD.replace("2.5", "2e"),
    "plus sign": _GOOD.replace("2.5", "+2"),
    "trailing comma": _GOOD.replace("true}", "true,}"),
    "extra data": _GOOD + "]",
    "single quotes": _GOOD.replace('"x"', "'x'"),
    "nan, infinities": _GOOD.replace("2.5", "NaN, Infinity, -Infinity, -0, -0.0, 1e400"),
    "NAN": _GOOD.replace("2.5", "NAN"),
    "int too long for int()": _GOOD.replace("2.5", "9" * 5000),
    "float of many digits": _GOOD.replace("2.5", "1." + "0" * 5000 + "1e-5"),
    "name repeated": "[" + _GOOD[1:-1] + ", " + _GOOD[1:-1].replace("2.5", "3") + "]",
    "deep nesting": _GOOD.replace("true", "[" * 100000 + "]" * 100000),
    "empty": "",
    "empty array": "[]",
    "vertical tab": _GOOD.replace(", ", ",\x0b"),
    "non-breaking space": _GOOD.replace(", ", ",\xa0"),
    "line ends of every kind, then an error": _GOOD.replace(", ", ",\r\n\r").replace("true", "\r\ntru"),
}


@pytest.mark.parametrize("text", list(_BROKEN.values()), ids=list(_BROKEN))
def test_unusual_and_broken_files_load_as_on_the_general_path(text, tmp_path):
    path = tmp_path / "b.yolpt"
    write_bytes(path, text.encode("utf8"))
    assert_load_is_general(path)


@pytest.mark.parametrize("data", [b"\xff" + _GOOD.encode(), _GOOD.encode().replace(b"x", b"\xed\xa0\x80"),
                                  _GOOD.encode()[:-1] + b"\xc3"], ids=["invalid", "surrogate", "cut"])
def test_bytes_that_are_not_utf8_fail_as_on_the_general_path(data, tmp_path):
    write_bytes(tmp_path / "b.yolpt", data)
    assert_load_is_general(tmp_path / "b.yolpt")


@settings(max_examples=150, deadline=None, database=None)
@given(st.integers(0, 2 ** 32))
def test_damaged_files_load_as_on_the_general_path(tmp_path_factory, seed):
    rng = random.Random(seed)
    text = _BROKEN["nan, infinities"].replace('"x"', '"\\u00e9\\ud83d\\ude00 \u20ac"')
    at = rng.randrange(len(text))
    text = rng.choice([text[:at], text[:at] + rng.choice('"\\{}[],:0-.eE tnf\x00\x1f\u2028') + text[at:],
                       text[:at] + text[at + 1:]])
    path = tmp_path_factory.mktemp("damaged") / "b.yolpt"
    write_bytes(path, text.encode("utf8"))
    assert_load_is_general(path)


def test_a_declined_file_leaks_nothing(tmp_path):
    # Each is read almost to its end before it goes the general way.
    forms = [_GOOD[1:-1]] * 50
    for name, last in (("error", _BROKEN["null in attributes"]), ("book", _BROKEN["another key"])):
        write_bytes(tmp_path / (name + ".yolpt"), ("[" + ", ".join(forms + [last[1:-1]]) + "]").encode())
    error, book = str(tmp_path / "error.yolpt"), str(tmp_path / "book.yolpt")

    def load_both():
        pytest.raises(TypeError, ParameterBook.load, error)
        ParameterBook.load(book)
    assert_no_leak(load_both, rounds=50)


# ------------------------------------------------ a host's changes

def _constants_changed(mp):
    if not isinstance(json.decoder._CONSTANTS, dict):
        pytest.skip("the constants cannot be changed here")
    mp.setitem(json.decoder._CONSTANTS, "NaN", 7.5)


class _Book(ParameterBook):
    pass


_HOST_CHANGES = {
    "loads": lambda mp: mp.setattr(json, "loads", lambda text: json.decoder.JSONDecoder().decode(text)),
    "loads.__kwdefaults__": lambda mp: mp.setitem(json.loads.__kwdefaults__, "parse_int", float),
    "_default_decoder": lambda mp: mp.setattr(json, "_default_decoder", json.JSONDecoder(parse_float=str)),
    "decode": lambda mp: mp.setattr(json.JSONDecoder, "decode", lambda self, text: []),
    "scan_once": lambda mp: mp.setattr(json._default_decoder, "scan_once",
                                       json.scanner.py_make_scanner(json._default_decoder)),
    "len": lambda mp: mp.setattr(builtins, "len", lambda value: 0),
    "_CONSTANTS": _constants_changed,
    "from_dict": lambda mp: mp.setattr(Parameter, "from_dict",
                                       staticmethod(lambda data: (data["name"] + "!", Parameter("x")))),
    "Parameter.__init__": lambda mp: mp.setattr(Parameter, "__init__", lambda self, *a, **k: None),
    "Parameter.clone": lambda mp: mp.setattr(Parameter, "clone", lambda self: Parameter("cloned")),
    "_clone_attribute": lambda mp: mp.setattr(yv, "_clone_attribute", lambda value: 0),
    "ParameterBook": lambda mp: mp.setattr(yv, "ParameterBook", _Book),
    "Parameter.__del__": lambda mp: mp.setattr(Parameter, "__del__", lambda self: None, raising=False),
}


@pytest.mark.parametrize("change", list(_HOST_CHANGES.values()), ids=list(_HOST_CHANGES))
def test_a_host_change_reaches_the_load_until_it_is_undone(change, monkeypatch, tmp_path):
    path = tmp_path / "b.yolpt"
    write_bytes(path, _BROKEN["nan, infinities"].encode())
    before = load_outcome(path)
    change(monkeypatch)
    changed, general = load_outcome(path), general_outcome(path)
    monkeypatch.undo()
    assert changed == general
    assert json_run_by(lambda: load_outcome(path)) == GENERAL_PATH_ONLY
    assert load_outcome(path) == before == general_outcome(path)


def test_files_are_opened_and_refused_as_open_does(tmp_path):
    # Without assertions nothing checks the path first; the audit events are those of open().
    result = run_python("""
        import json, os, sys, types, yol_vovoruze as yv
        folder = sys.argv[1]
        events = []
        if hasattr(sys, "addaudithook"):
            sys.addaudithook(lambda event, arguments: events.append(arguments) if event == "open" else None)
        def outcome(path):
            del events[:]
            try:
                yv.ParameterBook.load(path)
                found = ["loaded"]
            except Exception as error:
                found = [type(error).__name__, str(error), getattr(error, "__notes__", None)]
            return [found, [[str(a) for a in arguments] for arguments in events if folder in str(arguments[0])]]
        paths = [folder, os.path.join(folder, "missing.yolpt"), os.path.join(folder, "b.yolpt"), folder + "\\0x"]
        with open(paths[2], "wb") as file:
            file.write(b'[{"name": "p", "description": {"default": "\\\\u00e9\\xc3\\xa9"}, "attributes": {}}]\\r\\n')
        native = [outcome(path) for path in paths]
        json_module = types.ModuleType("json")
        json_module.loads = json.loads
        yv._json = json_module
        print(json.dumps([native, [outcome(path) for path in paths]]))
    """, [tmp_path], options=["-O"])
    native, general = child_result(result)
    assert native == general
    assert [found[0] for found, _ in native] == ["IsADirectoryError", "FileNotFoundError", "loaded", "ValueError"]
