"""The text form of a book against the json module: over generated values, on
errors, and where the text is left to whatever the module names _json."""
import enum
import inspect
import json
import sys
import threading
import types

import pytest
from hypothesis import given, settings, strategies as st

from support import book_text_outcomes, child_result, entries, run_python
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
_strings = st.lists(_code_points, max_size=8).map(lambda points: "".join(map(chr, points)))
_ints = st.one_of(
    st.integers(), st.integers(-2 ** 1100, 2 ** 1100),
    st.sampled_from([2 ** 63 - 1, 2 ** 63, -2 ** 63, -2 ** 63 - 1, 2 ** 1024 - 1, -2 ** 1024]),
    st.builds(pow, st.just(10), st.just(5000)),  # longer than newer interpreters write by default
)
_floats = st.one_of(st.floats(), st.sampled_from([0.0, -0.0, 5e-324, 2.2250738585072014e-308, 1e16, 1e-7, 1e-4,
                                                  1e15, 1.7976931348623157e308]))
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
