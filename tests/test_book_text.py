"""The text form of a book against the json module: over generated values, on
errors, where the text is left to whatever the module names _json, and under a
host's changes to the json package."""
import builtins
import enum
import inspect
import json
import json.encoder
import sys
import threading
import types

import pytest
from hypothesis import given, settings, strategies as st

from support import GENERAL_PATH_ONLY, book_text_outcomes, child_result, entries, outcome, run_python
from yol_vovoruze import Parameter, ParameterBook


def book_of(*values, description=""):
    """A book with one parameter that holds each value itself (an item
    assignment stores it without a copy)."""
    parameter = Parameter(description)
    for i, value in enumerate(values):
        parameter["v%d" % i] = value
    book = ParameterBook()
    book["p"] = parameter
    return book


def assert_text_of_json(book):
    ours, theirs = book_text_outcomes(book)
    assert ours == theirs


_code_points = st.one_of(
    st.integers(0x20, 0x7E), st.integers(0, 0x1F), st.sampled_from([0x22, 0x5C, 0x7F]), st.integers(0x80, 0xFF),
    st.integers(0x100, 0xFFFF), st.integers(0xD800, 0xDFFF), st.integers(0x10000, 0x10FFFF),
)
_strings = st.one_of(
    st.lists(_code_points, max_size=8).map(lambda points: "".join(map(chr, points))),
    # one byte a character, mostly plain, with an escape anywhere among runs of every length
    st.lists(st.one_of(st.integers(0x20, 0x7E), st.sampled_from([0x0A, 0x1F, 0x22, 0x5C, 0xE9])), max_size=24)
    .map(lambda points: "".join(map(chr, points))),
)
_ints = st.one_of(
    st.integers(), st.integers(-2 ** 1100, 2 ** 1100),
    st.sampled_from([2 ** 63 - 1, 2 ** 63, -2 ** 63, -2 ** 63 - 1, 2 ** 1024 - 1, -2 ** 1024]),
    st.builds(pow, st.just(10), st.just(5000)),  # longer than newer interpreters write by default
)
_floats = st.one_of(st.floats(), st.sampled_from([0.0, -0.0, 5e-324, 2.2250738585072014e-308, 1e16, 1e-7, 1e-4,
                                                  1e15, 1.7976931348623157e308]),
                   # decimals of few digits, and their neighbours
                   st.sampled_from([0.5, -2.25, 1500.0, 0.0001, 0.00015, 9.5e-05, 999999999999999.0,
                                    999999999999999.9, 123456.789, 0.1, 0.000001, 1.0000000000000002]))
_scalars = st.one_of(_strings, _ints, _floats, st.booleans(), st.none())
_values = st.recursive(_scalars, lambda inner: st.one_of(
    st.lists(inner, max_size=4), st.lists(inner, max_size=4).map(tuple), st.dictionaries(_scalars, inner, max_size=4),
), max_leaves=16)


@settings(max_examples=300, deadline=None, database=None)
@given(st.lists(_values, max_size=3), _strings)
def test_text_of_generated_values_is_that_of_json(values, description):
    assert_text_of_json(book_of(*values, description=description))


class Number(int):
    pass


class Colour(enum.IntEnum):
    RED = 1


class Text(str):
    pass


def _circular_list():
    value = [1]
    value.append([value])
    return value


def _circular_dict():
    value = {}
    value["self"] = {"again": value}
    return value


def _nested(depth):
    value = []
    for _ in range(depth):
        value = [value]
    return value


# Nesting far deeper than any limit. Up to 3.13 json's encoder, which indents
# in Python, stops at the recursion limit. From 3.14 it indents in C, whose
# recursion stops only where the stack ends, and on the way down it writes the
# indentation of every level, four spaces more at each: 100,000 levels would
# take tens of gigabytes. There the text is made in a thread with a small
# stack, which ends it within a few thousand levels.
_TOO_DEEP = _nested(100000)
_SMALL_STACK = 256 * 1024


def outcomes_on_a_small_stack(book):
    found = []
    previous = threading.stack_size(_SMALL_STACK)
    try:
        thread = threading.Thread(target=lambda: found.append(book_text_outcomes(book)))
        thread.start()
    finally:
        threading.stack_size(previous)
    thread.join()
    return found[0]


@pytest.mark.parametrize("value", [
    '"\\\n\x01\x7fé' * 1000, "\ud800\U0001f600\x1f" * 2000,  # long strings are measured before they are written
    complex(1, 2), {(1, 2): 1}, {b"key": 1}, [1, {"k": object()}], _circular_list(), _circular_dict(),
    _TOO_DEEP, Number(3), [Colour.RED], {Colour.RED: Text("a")}, Text("b\n"), [1.5, type("Real", (float,), {})(2)],
], ids=lambda value: type(value).__name__)
def test_long_strings_errors_and_other_types_are_those_of_json(value):
    if value is _TOO_DEEP:
        outcomes = outcomes_on_a_small_stack if sys.version_info >= (3, 14) else book_text_outcomes
        assert outcomes(book_of(value)) == [(RecursionError,)] * 2
    else:
        assert_text_of_json(book_of(value))


def test_nesting_around_the_recursion_limit_gives_json_text_or_recursion_error():
    depth = len(inspect.stack(0))
    limit = sys.getrecursionlimit()
    sys.setrecursionlimit(depth + 60)
    try:
        found = [book_text_outcomes(book_of(_nested(nesting), 0.5)) for nesting in range(0, 80, 3)]
    finally:
        sys.setrecursionlimit(limit)
    assert isinstance(found[0][0], str)
    assert all(ours == theirs or ours == (RecursionError,) for ours, theirs in found)


def test_a_replaced_json_or_dumps_makes_the_text(namespace_guard, monkeypatch):
    calls = []

    def dumps(value, **options):
        calls.append((value, options))
        return "text %d" % len(calls)

    book = book_of(1)
    namespace_guard["_json"] = types.SimpleNamespace(dumps=dumps)
    assert str(book) == "text 1"
    namespace_guard["_json"] = json
    monkeypatch.setattr(json, "dumps", dumps)
    assert str(book) == "text 2"
    monkeypatch.undo()
    assert_text_of_json(book)
    assert [options for _, options in calls] == [{"indent": 4, "ensure_ascii": False}] * 2
    assert calls[0][0] == [book["p"].to_dict("p")]


def test_subclass_values_anywhere_go_through_json():
    seen = []

    class Table(dict):
        def items(self):
            seen.append(self)
            return super().items()

    inner = Table(k=1)
    assert_text_of_json(book_of({"a": [2, {"b": inner}]}))
    assert seen == [inner, inner]  # once for str(book), once for the reference


def test_the_comparison_tells_a_different_text_apart():
    class Changing(Parameter):
        def to_dict(self, name):
            self["calls"] = self.get("calls", 0) + 1
            return Parameter.to_dict(self, name)

    book = ParameterBook()
    book["p"] = Changing()
    ours, theirs = book_text_outcomes(book)
    assert isinstance(ours, str) and isinstance(theirs, str) and ours != theirs


def test_each_form_is_the_to_dict_that_an_attribute_lookup_finds():
    shadowed, named = book_of(1), ParameterBook()
    shadowed["p"].__dict__["to_dict"] = lambda name: {"name": name, "description": {}, "attributes": {"own": 2}}
    assert json.loads(str(shadowed))[0]["attributes"] == {"own": 2}
    named[Text("p")] = Parameter()  # the module's to_dict takes an exact str only
    with pytest.raises(TypeError, match="^Argument 'name' has incorrect type \\(expected str, got Text\\)$"):
        str(named)
    unmade = ParameterBook()
    unmade["p"] = Parameter.__new__(Parameter)
    with pytest.raises(AttributeError) as info:
        str(unmade)
    assert [name for name, _ in entries(info)] == ["yol_vovoruze.ParameterBook.__str__",
                                                   "yol_vovoruze.Parameter.to_dict",
                                                   "yol_vovoruze.Parameter.__getattr__"]


def test_a_value_that_empties_its_own_table_while_json_writes_it():
    # The interpreter's encoder (3.12 on) walks a dict through borrowed
    # references; emptied under it, it would read freed values.
    result = run_python("""
        import json, yol_vovoruze as yv
        class Emptying(list):
            def __iter__(self):
                book["p"].clear()
                return list.__iter__(self)
        book = yv.ParameterBook({"p": yv.Parameter()})
        book["p"]["a"] = {}
        book["p"]["b"] = Emptying(["-" + "."])
        print(json.dumps(json.loads(str(book))[0]["attributes"]))
    """)
    assert child_result(result) == {"a": {}, "b": ["-."]}


# ----------------------------------------------- books of every kind
#
# Books that other tests make and leave as they are: parameters of a subclass,
# forms of their own, tables changed through the raw dicts, many parameters.
# Each gives the text, or the error, that json gives for the same forms.

_TABLE = "_ParameterBook__parameters"


class _Sub(Parameter):
    pass


class _SubBook(ParameterBook):
    pass


def _book(parameters, cls=ParameterBook):
    """A book that holds the parameters themselves, under names of any kind."""
    book = cls()
    for name, parameter in parameters.items():
        book[name] = parameter
    return book


def _own_form(make_form):
    """A parameter (with a value) whose to_dict is make_form(self, name)."""
    parameter = type("Own", (Parameter,), {"to_dict": make_form})("own", v=[1, {"k": "é"}])
    return _book({"a": Parameter("first", v=1), "own": parameter, "z": Parameter("last", v=2)})


def _emptying_itself(self, name):
    self.clear()
    return Parameter.to_dict(self, name)


def _raising(self, name):
    raise ValueError("no form for " + name)


def _with_raw_table(table):
    """A book whose table is `table`, or which has none (None)."""
    book = _book({"a": Parameter("a", v=1)})
    del vars(book)[_TABLE]
    if table is not None:
        vars(book)[_TABLE] = table
    return book


def _with_parameter_tables(**tables):
    parameter = Parameter("d", v=1)
    for name, table in tables.items():
        if table is None:
            del vars(parameter)["_Parameter__" + name]
        else:
            vars(parameter)["_Parameter__" + name] = table
    return _book({"p": parameter})


class _Mapping(dict):
    def __getitem__(self, name):
        return Parameter("read through __getitem__", name=name)


def _replacing_a_later_parameter():
    def replacing(self, name):
        book["z"] = Parameter("put in while the text is written", v=name)
        return Parameter.to_dict(self, name)
    book = _own_form(replacing)
    return book


_ODD = [None, (1, (2,)), float("nan"), [float("inf"), -float("inf")], {1: "int", 2.5: "float", False: "bool", None: 0},
        Text("str subclass"), 10 ** 40]

_BOOKS = {  # what makes the book, and the kind of its text (str) or error
    "parameters of a subclass": (lambda: _book({"a": _Sub({"default": "d", "de_DE": "D"}, v=1), "b": _Sub(w=[])}), str),
    "a book of a subclass": (lambda: _book({"a": _Sub("d", v=1), "b": Parameter()}, _SubBook), str),
    "one parameter under two names": (lambda: _book(dict.fromkeys("ab", Parameter("shared", v=[1]))), str),
    "values json writes its own way": (lambda: book_of(*_ODD), str),
    "a value json refuses": (lambda: book_of(1, {1, 2}), TypeError),
    "a to_dict of its own": (lambda: _own_form(lambda self, name: dict(Parameter.to_dict(self, name), more=[1])), str),
    "a to_dict that gives no dict": (lambda: _own_form(lambda self, name: [name, 1.5, None]), str),
    "a to_dict that raises": (lambda: _own_form(_raising), ValueError),
    "a to_dict that empties its parameter": (lambda: _own_form(_emptying_itself), str),
    "a to_dict that replaces a later parameter": (_replacing_a_later_parameter, str),
    "many parameters": (lambda: ParameterBook({"p%04d" % i: Parameter("d%d" % i, v=i, w=[i / 7, "é" * (i % 5)])
                                               for i in range(1000)}), str),
    "names of a str subclass": (lambda: _book({Text("a"): Parameter()}), TypeError),
    "names that are no str": (lambda: _with_raw_table({2: Parameter(), 1: Parameter()}), TypeError),
    "names that do not sort": (lambda: _with_raw_table({"a": Parameter(), 1: Parameter()}), TypeError),
    "a value that is no parameter": (lambda: _with_raw_table({"a": Parameter(), "b": 5}), AttributeError),
    "a table of a dict subclass": (lambda: _with_raw_table(_Mapping(a=None, b=None)), str),
    "a table that is a list": (lambda: _with_raw_table(["a"]), TypeError),
    "no table": (lambda: _with_raw_table(None), AttributeError),
    "a parameter's tables of other kinds": (lambda: _with_parameter_tables(
        attributes=_Mapping(v=[1]), description=[("default", "d")]), str),
    "a parameter without its attribute table": (lambda: _with_parameter_tables(attributes=None), AttributeError),
}


@pytest.mark.parametrize("make, kind", list(_BOOKS.values()), ids=list(_BOOKS))
def test_every_kind_of_book_writes_the_text_of_json(make, kind):
    ours, theirs = book_text_outcomes(make())
    assert ours == theirs
    assert type(ours) is str if kind is str else ours[0] is kind


# --------------------------------------------------- a host's changes to json
#
# The text is json.dumps(forms, indent=4, ensure_ascii=False) whatever a host
# has done to the json package: whenever json would consult anything that is
# no longer as it was imported, the text comes from the call itself, and once
# the change is undone it is written without the call again.

def _other_dumps(obj, *, skipkeys=False, ensure_ascii=True, check_circular=True, allow_nan=True, cls=None,
                 indent=None, separators=None, default=None, sort_keys=False, **kw):
    return "the text of another dumps"


class _EqualsEncoder(json.JSONEncoder):
    key_separator = " = "


def _sorted_keys(monkeypatch):
    monkeypatch.setattr(json.dumps, "__kwdefaults__", dict(json.dumps.__kwdefaults__, sort_keys=True))


def _init_with_indent_2(monkeypatch):
    init = json.JSONEncoder.__init__
    monkeypatch.setattr(json.JSONEncoder, "__init__", lambda self, **options: init(self, **dict(options, indent=2)))


def _key_separator_from_getattribute(monkeypatch):
    def getattribute(self, name):
        return " = " if name == "key_separator" else object.__getattribute__(self, name)
    monkeypatch.setattr(json.JSONEncoder, "__getattribute__", getattribute, raising=False)


def _isinstance_taking_the_forms_for_a_str(monkeypatch):
    isinstance_ = builtins.isinstance

    def taking(value, kinds):
        if kinds is str and type(value) is list and value and type(value[0]) is dict and "attributes" in value[0]:
            return True
        return isinstance_(value, kinds)
    monkeypatch.setattr(builtins, "isinstance", taking)


def _hex_ints(monkeypatch):
    defaults = json.encoder._make_iterencode.__defaults__  # none from 3.15 on
    monkeypatch.setattr(json.encoder._make_iterencode, "__defaults__", defaults[:-1] + (hex,) if defaults else (0,))


def _encoder_call_replaced(monkeypatch):
    if not isinstance(json.encoder.c_make_encoder, type) or json.encoder.c_make_encoder.__flags__ & (1 << 9) == 0:
        pytest.skip("the interpreter's encoder class cannot be changed here")
    monkeypatch.setattr(json.encoder.c_make_encoder, "__call__", lambda self, value, level: ("called",))


def _module_class_with_dumps(monkeypatch):
    dumps = json.dumps

    class Json(types.ModuleType):
        @property
        def dumps(self):
            return lambda value, **options: dumps(value, sort_keys=True, **options)
    monkeypatch.setattr(json, "__class__", Json)


class _FailingKey:
    failing = False

    def __init__(self, name):
        self.name = name

    def __hash__(self):
        return hash(self.name)

    def __eq__(self, other):
        if self.failing:
            raise ValueError("this key does not compare")
        return self is other


def _failing_key_before_infinity(monkeypatch):
    namespace, infinity = vars(json.encoder), json.encoder.INFINITY
    monkeypatch.delitem(namespace, "INFINITY")
    monkeypatch.setitem(namespace, _FailingKey("INFINITY"), 0)  # met first by a lookup of the name
    monkeypatch.setitem(namespace, "INFINITY", infinity)
    monkeypatch.setattr(_FailingKey, "failing", True)


_OLD_ENCODER = sys.version_info < (3, 13)  # the interpreter's encoder writes no indented text before 3.13

# (what the host does, whether json then writes another text than before on this interpreter)
_HOST_CHANGES = {
    "key_separator": (lambda mp: mp.setattr(json.JSONEncoder, "key_separator", " = "), True),
    "dumps.__kwdefaults__ replaced": (_sorted_keys, True),
    "dumps.__kwdefaults__ changed": (lambda mp: mp.setitem(json.dumps.__kwdefaults__, "separators", (",", " = ")),
                                     True),
    "dumps.__code__": (lambda mp: mp.setattr(json.dumps, "__code__", _other_dumps.__code__), True),
    "encode_basestring": (lambda mp: mp.setattr(json.encoder, "encode_basestring",
                                                json.encoder.encode_basestring_ascii), True),
    "JSONEncoder rebound": (lambda mp: mp.setattr(json, "JSONEncoder", _EqualsEncoder), True),
    "JSONEncoder not a class": (lambda mp: mp.setattr(json, "JSONEncoder", 5), True),
    "JSONEncoder deleted": (lambda mp: mp.delattr(json, "JSONEncoder"), True),
    "JSONEncoder.encode": (lambda mp: mp.setattr(json.JSONEncoder, "encode", lambda self, value: "encoded"), True),
    "JSONEncoder.iterencode": (lambda mp: mp.setattr(json.JSONEncoder, "iterencode",
                                                     lambda self, value, _one_shot=False: ["iter", "encoded"]), True),
    "JSONEncoder.__init__": (_init_with_indent_2, True),
    "JSONEncoder.__getattribute__ added": (_key_separator_from_getattribute, True),
    "_make_iterencode": (lambda mp: mp.setattr(json.encoder, "_make_iterencode",
                                               lambda *options: lambda value, level: iter(["made"])), _OLD_ENCODER),
    "_make_iterencode.__defaults__": (_hex_ints, _OLD_ENCODER),
    "c_make_encoder": (lambda mp: mp.setattr(json.encoder, "c_make_encoder",
                                             lambda *options: lambda value, level: ("made",)), not _OLD_ENCODER),
    "c_make_encoder.__call__": (_encoder_call_replaced, not _OLD_ENCODER),
    "INFINITY": (lambda mp: mp.setattr(json.encoder, "INFINITY", "inf"), True),
    "a key that fails to compare": (_failing_key_before_infinity, True),
    "list shadowed in json.encoder": (lambda mp: mp.setattr(json.encoder, "list", lambda chunks: ["listed"],
                                                            raising=False), True),
    "builtins.isinstance": (_isinstance_taking_the_forms_for_a_str, True),
    "json.__class__": (_module_class_with_dumps, True),
}


def _json_code_run_by(make):
    """The names of the functions of the json package that make() runs, whether it fails or not."""
    run = []

    def profile(frame, event, argument):
        if event == "call" and frame.f_globals.get("__name__") in ("json", "json.encoder"):
            run.append(frame.f_code.co_name)
    sys.setprofile(profile)
    try:
        outcome(make)
    finally:
        sys.setprofile(None)
    return run


def _json_writes(book):
    """Whether str(book) runs code of the json package: where the module leaves
    the text to json.dumps, and always on the general path."""
    return _json_code_run_by(lambda: str(book)) != []


def _saved_text(book, path):
    book.save(str(path))
    with open(str(path) + ".yolpt", encoding="utf8") as file:
        return file.read()


@pytest.mark.parametrize("change, visible", list(_HOST_CHANGES.values()), ids=list(_HOST_CHANGES))
def test_a_host_change_to_json_reaches_the_text_until_it_is_undone(change, visible, monkeypatch, tmp_path):
    book = book_of("é\n", 1, -2.5, [True, False, []], {"z": {"a": 0.5}}, description="Speed")
    before = str(book)
    assert _json_writes(book) == GENERAL_PATH_ONLY
    change(monkeypatch)
    ours, theirs = book_text_outcomes(book)
    assert ours == theirs
    assert outcome(lambda: _saved_text(book, tmp_path / "b")) == theirs
    assert (theirs != before) == visible
    assert _json_writes(book)
    monkeypatch.undo()
    assert _json_writes(book) == GENERAL_PATH_ONLY
    assert str(book) == before
    assert_text_of_json(book)


def test_a_json_changed_before_the_import_reaches_the_text():
    result = run_python("""
        import json
        json.JSONEncoder.key_separator = " = "
        import yol_vovoruze as yv
        book = yv.ParameterBook({"p": yv.Parameter("Speed", value=1)})
        print(json.dumps(str(book) == json.dumps([book["p"].to_dict("p")], indent=4, ensure_ascii=False)))
    """)
    assert child_result(result) is True


class _SpacedEncoder(json.JSONEncoder):  # a class of the host's own: JSONEncoder stays as it is
    key_separator = " : "


# What json.dumps(forms, indent=4, ensure_ascii=False) does not read.
_CHANGES_JSON_DOES_NOT_READ = {
    "json.encoder deleted": lambda mp: mp.delattr(json, "encoder"),
    "encode_basestring_ascii": lambda mp: mp.setattr(json.encoder, "encode_basestring_ascii", lambda text: "?"),
    "_default_encoder": lambda mp: mp.setattr(json, "_default_encoder", _SpacedEncoder()),
    "a name json does not use": lambda mp: mp.setattr(json.encoder, "unused", 1, raising=False),
    "an unused builtin": lambda mp: mp.setattr(builtins, "_yol_unused", 1, raising=False),
}


@pytest.mark.parametrize("change", list(_CHANGES_JSON_DOES_NOT_READ.values()), ids=list(_CHANGES_JSON_DOES_NOT_READ))
def test_a_change_that_json_does_not_read_leaves_the_text_to_the_module(change, monkeypatch):
    book = book_of("é\n", 1, -2.5, [True, False, []], {"z": {"a": 0.5}}, description="Speed")
    change(monkeypatch)
    assert _json_writes(book) == GENERAL_PATH_ONLY
    assert_text_of_json(book)
