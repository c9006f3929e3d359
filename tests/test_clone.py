"""_clone_attribute: deep copies of attribute values, and the values it refuses."""
import builtins
import collections
import copy
import enum
import fractions
import functools
import itertools
import math
import sys
import traceback

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import yol_vovoruze as yv
from support import unhashable_key_message

clone = yv._clone_attribute  # the module's own function, whatever the name is rebound to in a test
SOURCE_FILE = "vovoruze.py"
ENTRY = "yol_vovoruze._clone_attribute"
RECURSION_MESSAGE = "maximum recursion depth exceeded while calling a Python object"


def at(*lines):
    """Traceback entries of _clone_attribute at these lines, outermost first."""
    return [(ENTRY, SOURCE_FILE, line) for line in lines]


def clone_failure(value):
    """Clones `value`, which must fail; returns the exception and the traceback entries below this frame."""
    try:
        clone(value)
    except Exception as error:
        return error, [(e.name, e.filename, e.lineno) for e in traceback.extract_tb(error.__traceback__)[1:]]
    raise AssertionError("no exception was raised")


def module_entries(entries):
    return [e for e in entries if e[1] == SOURCE_FILE]


def containers(value, found=None):
    """The ids of every list and dict inside `value`, `value` included, in walk order."""
    found = [] if found is None else found
    if isinstance(value, list):
        found.append(id(value))
        for item in value:
            containers(item, found)
    elif isinstance(value, dict):
        found.append(id(value))
        for key, item in value.items():
            containers(key, found)
            containers(item, found)
    return found


class IntSub(int):
    pass


class FloatSub(float):
    pass


class StrSub(str):
    pass


class Colour(enum.IntEnum):
    RED = 1


class ListSub(list):
    pass


class DictSub(dict):
    pass


# ---------------------------------------------------------------------------
# Values that are their own clone


@pytest.mark.parametrize("value", [
    0, -5, 2 ** 100, True, False, 1.5, -0.0, float("inf"), float("nan"), "", "x", "ünï 字",
    IntSub(3), FloatSub(2.5), StrSub("s"), Colour.RED,
], ids=repr)
def test_scalars_are_returned_themselves(value):
    assert clone(value) is value


def test_an_empty_keyword_mapping_is_no_keyword():
    value = [1, {"a": 2}]
    assert clone(*[value], **{}) == value


# ---------------------------------------------------------------------------
# Complex numbers


@pytest.mark.parametrize("value", [2 + 3j, 0j, complex(-0.0, 1e308), complex(float("inf"), -2)], ids=repr)
def test_complex_is_a_new_equal_complex(value):
    result = clone(value)
    assert type(result) is complex
    assert result == value
    assert result is not value
    assert math.copysign(1, result.real) == math.copysign(1, value.real)


def test_complex_keeps_nan_and_signed_zero():
    result = clone(complex(float("nan"), -0.0))
    assert math.isnan(result.real)
    assert result.imag == 0 and math.copysign(1, result.imag) == -1


def test_complex_subclass_becomes_plain_complex():
    class ComplexSub(complex):
        pass

    result = clone(ComplexSub(1, 2))
    assert type(result) is complex
    assert result == 1 + 2j


def test_complex_subclass_parts_are_read_as_attributes():
    reads = []

    class Odd(complex):
        @property
        def real(self):
            reads.append("real")
            return 10

        @property
        def imag(self):
            reads.append("imag")
            return 20.5

    result = clone(Odd(1, 2))
    assert type(result) is complex
    assert result == complex(10, 20.5)
    assert reads == ["real", "imag"]


def test_complex_part_that_raises():
    class Broken(complex):
        @property
        def real(self):
            raise ValueError("no real part")

    value = [Broken(1, 2)]
    error, entries = clone_failure(value)
    assert type(error) is ValueError
    assert str(error) == "no real part"
    assert module_entries(entries) == at(32, 28)
    assert entries[:2] == at(32, 28)
    assert entries[2][0] == "real"


def test_complex_part_of_the_wrong_kind():
    class Wordy(complex):
        @property
        def imag(self):
            return "i"

    error, entries = clone_failure(Wordy(1, 2))
    assert type(error) is TypeError
    assert entries == at(28)


# ---------------------------------------------------------------------------
# Lists and dicts


def test_nested_list_is_copied():
    value = [1, [2, 3], "a"]
    result = clone(value)
    assert result == [1, [2, 3], "a"]
    assert type(result) is list and type(result[1]) is list
    assert result is not value and result[1] is not value[1]
    assert result[0] is value[0] and result[2] is value[2]
    value[1].append(4)
    value.append(5)
    assert result == [1, [2, 3], "a"]


def test_empty_containers_are_new():
    empty_list, empty_dict = [], {}
    assert clone(empty_list) == [] and clone(empty_list) is not empty_list
    assert clone(empty_dict) == {} and clone(empty_dict) is not empty_dict


def test_nested_dict_is_copied_in_order():
    value = {"b": [1], "a": {"c": 2}, 3: 4.5, 1 + 1j: "x"}
    result = clone(value)
    assert result == value
    assert list(result) == ["b", "a", 3, 1 + 1j]
    assert type(result) is dict and type(result["a"]) is dict
    assert set(containers(result)).isdisjoint(containers(value))
    value["a"]["c"] = 99
    value["b"].append(2)
    assert result == {"b": [1], "a": {"c": 2}, 3: 4.5, 1 + 1j: "x"}


def test_keys_are_cloned():
    key = 1 + 2j
    result = clone({key: 1, "k": 2})
    (complex_key,) = [k for k in result if isinstance(k, complex)]
    assert complex_key == key and complex_key is not key and type(complex_key) is complex
    assert list(result)[1] == "k"


@pytest.mark.parametrize("value, expected", [
    (ListSub([1, [2]]), [1, [2]]),
    ([ListSub([1]), DictSub(a=ListSub())], [[1], {"a": []}]),
    (DictSub(a=1, b=DictSub(c=[2])), {"a": 1, "b": {"c": [2]}}),
    (collections.OrderedDict([("z", 1), ("a", 2)]), {"z": 1, "a": 2}),
    (collections.defaultdict(list, {"k": [1]}), {"k": [1]}),
], ids=["list-subclass", "nested-subclasses", "dict-subclass", "ordered-dict", "default-dict"])
def test_subclass_instances_become_plain(value, expected):
    result = clone(value)
    assert result == expected
    assert [type(c) for c in _walk(result)] == [type(c) for c in _walk(expected)]
    assert list(result) == list(expected)


def _walk(value):
    yield value
    children = value.values() if isinstance(value, dict) else value if isinstance(value, list) else ()
    for child in children:
        yield from _walk(child)


def test_list_subclass_is_walked_through_its_own_iterator():
    class Reversed(list):
        def __iter__(self):
            return reversed(list(super().__iter__()))

    assert clone(Reversed([1, 2, [3]])) == [[3], 2, 1]


def test_list_subclass_iterator_can_yield_anything_cloneable():
    class Odd(list):
        def __iter__(self):
            yield "a"
            yield {"b": 1}

    assert clone(Odd([1, 2, 3])) == ["a", {"b": 1}]


def test_dict_subclass_items_are_used():
    class Custom(dict):
        def items(self):
            return [("x", 1), ["y", [2]], iter(("z", 3))]

    result = clone(Custom(a=0))
    assert result == {"x": 1, "y": [2], "z": 3}
    assert list(result) == ["x", "y", "z"]


def test_items_is_looked_up_on_the_object():
    value = DictSub(a=1)
    value.items = lambda: [("from", "instance")]
    assert clone(value) == {"from": "instance"}


def test_items_generator_order_is_kept():
    class Sorted(dict):
        def items(self):
            return ((k, self[k]) for k in sorted(self))

    assert list(clone(Sorted(c=3, a=1, b=2))) == ["a", "b", "c"]


def test_the_same_list_twice_gives_two_copies():
    inner = [1, {"k": [2]}]
    result = clone([inner, inner, {"a": inner, "b": inner}])
    copies = [result[0], result[1], result[2]["a"], result[2]["b"]]
    assert all(c == inner for c in copies)
    assert len({id(c) for c in copies}) == 4
    assert len(set(containers(result))) == len(containers(result))
    assert set(containers(result)).isdisjoint(containers(inner))


def test_the_same_dict_twice_gives_two_copies():
    inner = {"k": 1}
    result = clone({"a": inner, "b": [inner]})
    assert result["a"] == result["b"][0] == inner
    assert result["a"] is not result["b"][0]
    assert result["a"] is not inner and result["b"][0] is not inner


# ---------------------------------------------------------------------------
# Values that are refused


class Meta(type):
    def __str__(cls):
        return "Named by its metaclass"


class Labelled(metaclass=Meta):
    pass


@pytest.mark.parametrize("value, shown", [
    (None, "<class 'NoneType'>"),
    ((1, 2), "<class 'tuple'>"),
    ((), "<class 'tuple'>"),
    ({1}, "<class 'set'>"),
    (frozenset(), "<class 'frozenset'>"),
    (b"x", "<class 'bytes'>"),
    (bytearray(b"x"), "<class 'bytearray'>"),
    (range(2), "<class 'range'>"),
    (object(), "<class 'object'>"),
    (int, "<class 'type'>"),
    (Ellipsis, "<class 'ellipsis'>"),
    (fractions.Fraction(1, 3), "<class 'fractions.Fraction'>"),
    (object.__new__(yv.Parameter), "<class 'yol_vovoruze.Parameter'>"),
    (object.__new__(yv.ParameterBook), "<class 'yol_vovoruze.ParameterBook'>"),
    (object.__new__(yv.ParameterDirectory), "<class 'yol_vovoruze.ParameterDirectory'>"),
    (Labelled(), "Named by its metaclass"),
], ids=lambda v: type(v).__name__ if not isinstance(v, str) else None)
def test_unsupported_value(value, shown):
    error, entries = clone_failure(value)
    assert type(error) is TypeError
    assert str(error) == "Error: Unsupported attribute type: " + shown
    assert error.args == ("Error: Unsupported attribute type: " + shown,)
    assert entries == at(40)


@pytest.mark.parametrize("value, shown, lines", [
    ([1, None], "NoneType", (32, 40)),
    ([[None]], "NoneType", (32, 32, 40)),
    ({"a": None}, "NoneType", (37, 40)),
    ({(1, 2): "x"}, "tuple", (36, 40)),
    ({"a": [1, {"b": {2}}]}, "set", (37, 32, 37, 40)),
    ([{"k": [1, 2, b"x"]}], "bytes", (32, 37, 32, 40)),
    ({1: {frozenset(): 1}}, "frozenset", (37, 36, 40)),
    (ListSub([1, (2,)]), "tuple", (32, 40)),
    (DictSub(a=DictSub(b=None)), "NoneType", (37, 37, 40)),
], ids=repr)
def test_unsupported_nested_value(value, shown, lines):
    snapshot = copy.deepcopy(value)
    error, entries = clone_failure(value)
    assert type(error) is TypeError
    assert str(error) == "Error: Unsupported attribute type: <class '%s'>" % shown
    assert entries == at(*lines)
    assert value == snapshot


def test_the_first_unsupported_value_in_walk_order_is_reported():
    error, _ = clone_failure([1, {"a": b"x"}, None])
    assert str(error) == "Error: Unsupported attribute type: <class 'bytes'>"
    error, _ = clone_failure({(): None})
    assert str(error) == "Error: Unsupported attribute type: <class 'tuple'>"


def _items(*elements):
    class Custom(dict):
        def items(self):
            return list(elements)

    return Custom()


@pytest.mark.parametrize("value, message", [
    (_items(("a", 1, 2)), "too many values to unpack (expected 2)"),
    (_items("abc"), "too many values to unpack (expected 2)"),
    (_items(itertools.count()), "too many values to unpack (expected 2)"),
    (_items(("a",)), "need more than 1 value to unpack"),
    (_items(["a"]), "need more than 1 value to unpack"),
    (_items(()), "need more than 0 values to unpack"),
    (_items(""), "need more than 0 values to unpack"),
    (_items(iter([])), "need more than 0 values to unpack"),
    (_items(("k", 1), ("a",)), "need more than 1 value to unpack"),
], ids=["three", "three-letters", "endless", "one", "one-in-list", "none", "empty-str", "empty-iterator",
        "second"])
def test_items_element_that_does_not_unpack(value, message):
    error, entries = clone_failure(value)
    assert type(error) is ValueError
    assert str(error) == message
    assert entries == at(35)


def test_items_element_that_is_not_iterable():
    error, entries = clone_failure(_items(5))
    assert type(error) is TypeError
    assert entries == at(35)


def test_items_failures_are_reported_at_the_items_line():
    class Raising(dict):
        def items(self):
            raise LookupError("no items")

    class NotIterable(dict):
        def items(self):
            return 42

    class Midway(dict):
        def items(self):
            yield ("a", 1)
            raise LookupError("midway")

    for value, kind in [(Raising(), LookupError), (NotIterable(), TypeError), (Midway(), LookupError)]:
        error, entries = clone_failure(value)
        assert type(error) is kind
        assert module_entries(entries) == at(35)
        assert entries[0] == at(35)[0]


def test_unhashable_key_clone_fails_at_the_store():
    error, entries = clone_failure(_items((["a"], 1)))
    assert type(error) is TypeError
    assert str(error) == unhashable_key_message(["a"])
    assert entries == at(38)


def test_list_subclass_iteration_failures():
    class Raising(list):
        def __iter__(self):
            raise LookupError("no iterator")

    class Midway(list):
        def __iter__(self):
            yield 1
            raise LookupError("midway")

    for value in (Raising([1]), Midway([1])):
        error, entries = clone_failure(value)
        assert type(error) is LookupError
        assert module_entries(entries) == at(31)
        assert entries[0] == at(31)[0]


# ---------------------------------------------------------------------------
# Nested values go through the module-level name


def test_nested_values_are_cloned_through_the_module_name(namespace_guard):
    calls = []

    def counting(value):
        calls.append(value)
        return clone(value)

    yv._clone_attribute = counting
    inner_list, inner_dict = [2, 3], {"k": "v"}
    value = [1, inner_list, inner_dict]
    assert clone(value) == [1, [2, 3], {"k": "v"}]
    assert calls == [1, [2, 3], 2, 3, {"k": "v"}, "k", "v"]
    assert calls[1] is inner_list and calls[4] is inner_dict


def test_top_level_values_do_not_go_through_the_name(namespace_guard):
    calls = []
    yv._clone_attribute = calls.append
    assert clone(5) == 5
    assert clone(1j) == 1j
    assert clone([]) == [] and clone({}) == {}
    assert calls == []


def test_a_replacement_decides_the_nested_clones(namespace_guard):
    yv._clone_attribute = lambda value: "X"
    assert clone([1, [2], (3,), None]) == ["X", "X", "X", "X"]
    assert clone({"a": 1}) == {"X": "X"}
    assert clone(ListSub([1, 2])) == ["X", "X"]


def test_a_replacement_that_raises(namespace_guard):
    def refuse(value):
        raise KeyError(value)

    yv._clone_attribute = refuse
    error, entries = clone_failure([7])
    assert type(error) is KeyError and error.args == (7,)
    assert entries[0] == at(32)[0]
    assert entries[1][0] == "refuse"
    error, entries = clone_failure({"k": 1})
    assert error.args == ("k",)
    assert module_entries(entries) == at(36)


def test_a_replacement_that_is_not_callable(namespace_guard):
    yv._clone_attribute = 5
    error, entries = clone_failure([1])
    assert type(error) is TypeError
    assert str(error) == "'int' object is not callable"
    assert entries == at(32)


def test_values_without_nested_calls_need_no_name(namespace_guard):
    del yv._clone_attribute
    assert clone("s") == "s" and clone(2j) == 2j
    assert clone([]) == []
    assert clone({}) == {}
    assert clone(ListSub()) == [] and clone(DictSub()) == {}


def test_name_missing_everywhere(namespace_guard):
    del yv._clone_attribute
    for value, lines in [([1], (32,)), ({"a": 1}, (36,)), ([[]], (32,)), (ListSub([1]), (32,))]:
        error, entries = clone_failure(value)
        assert type(error) is NameError
        assert str(error) == "name '_clone_attribute' is not defined"
        assert entries == at(*lines)


def test_name_found_in_the_builtins(namespace_guard, monkeypatch):
    calls = []

    def from_builtins(value):
        calls.append(value)
        return clone(value)

    del yv._clone_attribute
    monkeypatch.setattr(builtins, "_clone_attribute", from_builtins, raising=False)
    assert clone([1, [2]]) == [1, [2]]
    assert calls == [1, [2], 2]


def test_the_module_name_wins_over_the_builtins(namespace_guard, monkeypatch):
    monkeypatch.setattr(builtins, "_clone_attribute", lambda value: "builtin", raising=False)
    assert clone([1]) == [1]
    yv._clone_attribute = lambda value: "module"
    assert clone([1]) == ["module"]


def _rebinding(calls):
    """A dict subclass whose items() rebinds the module name to a recording wrapper."""

    def recording(value):
        calls.append(value)
        return clone(value)

    class Rebinding(dict):
        def items(self):
            yv._clone_attribute = recording
            return []

    return Rebinding()


def test_rebinding_during_a_list_walk_applies_to_the_next_elements(namespace_guard):
    calls = []
    value = [_rebinding(calls), 1, "x", 2.5]
    assert clone(value) == [{}, 1, "x", 2.5]
    assert calls == [1, "x", 2.5]


def test_rebinding_during_a_dict_walk_applies_to_the_next_entries(namespace_guard):
    calls = []
    value = {"a": _rebinding(calls), "b": 2}
    assert clone(value) == {"a": {}, "b": 2}
    assert calls == ["b", 2]


def test_rebinding_during_a_nested_walk_applies_to_the_outer_walk(namespace_guard):
    calls = []
    value = [[_rebinding(calls), 1], 2]
    assert clone(value) == [[{}, 1], 2]
    assert calls == [1, 2]


def test_a_lookup_of_the_name_that_empties_the_walked_list(namespace_guard):
    # A key of the namespace that the lookup of the name compares with runs
    # code: here it empties the list, whose element was held by it alone.
    value = [int("12345678901"), 2]
    armed = []

    class Colliding(str):
        def __hash__(self):
            return hash("_clone_attribute")

        def __eq__(self, other):
            if armed:
                value.clear()
            return False

    own = namespace_guard.pop("_clone_attribute")
    namespace_guard[Colliding("colliding")] = None
    calls = []
    namespace_guard["_clone_attribute"] = lambda item: calls.append(item) or own(item)
    armed.append(True)
    assert own(value) == [12345678901] and calls == [12345678901]


# ---------------------------------------------------------------------------
# The walk of an exact list follows its current length


def _hook(action):
    class Hook(dict):
        def items(self):
            action()
            return []

    return Hook()


def test_list_grown_during_the_walk():
    value = [1]
    value.insert(0, _hook(lambda: value.append("tail")))
    assert clone(value) == [{}, 1, "tail"]


def test_list_shrunk_during_the_walk():
    value = [None, 1, (2,)]
    value[0] = _hook(lambda: value.__delitem__(slice(1, None)))
    assert clone(value) == [{}]


def test_list_element_replaced_during_the_walk():
    value = [None, (1,)]
    value[0] = _hook(lambda: value.__setitem__(1, "new"))
    assert clone(value) == [{}, "new"]


def test_dict_grown_during_the_walk():
    value = {}
    value["a"] = _hook(lambda: value.__setitem__("b", 1))
    error, entries = clone_failure(value)
    assert type(error) is RuntimeError
    assert str(error) == "dictionary changed size during iteration"
    assert entries == at(35)


# ---------------------------------------------------------------------------
# Recursion


def _nested_list(depth):
    value = 0
    for _ in range(depth):
        value = [value]
    return value


def _nested_dict(depth):
    value = 0
    for _ in range(depth):
        value = {"k": value}
    return value


def _self_containing_list():
    value = [1]
    value.append(value)
    return value


def _self_containing_dict():
    value = {"a": 1}
    value["self"] = value
    return value


def _self_containing_list_subclass():
    value = ListSub([1])
    value.append(value)
    return value


@pytest.mark.parametrize("make", [
    _self_containing_list, _self_containing_dict, _self_containing_list_subclass,
    lambda: _nested_list(sys.getrecursionlimit() + 50), lambda: _nested_dict(sys.getrecursionlimit() + 50),
], ids=["list", "dict", "list-subclass", "deep-list", "deep-dict"])
def test_recursion_ends_in_recursion_error(make):
    value = make()
    for _ in range(3):
        with pytest.raises(RecursionError) as caught:
            clone(value)
        assert str(caught.value) == RECURSION_MESSAGE
    assert clone([1, [2]]) == [1, [2]]


def test_self_containing_value_is_left_as_it_was():
    value = _self_containing_list()
    with pytest.raises(RecursionError):
        clone(value)
    assert len(value) == 2 and value[0] == 1 and value[1] is value


def test_nesting_within_the_limit_is_cloned_after_recursion_errors():
    depth = sys.getrecursionlimit() // 2
    for _ in range(3):
        with pytest.raises(RecursionError):
            clone(_self_containing_list())
    for make in (_nested_list, _nested_dict):
        value = make(depth)
        result = clone(value)
        assert result == value
        assert set(containers(result)).isdisjoint(containers(value))


@pytest.mark.parametrize("replacement", [lambda value: clone(value), functools.partial(clone)],
                         ids=["python", "partial"])
def test_recursion_through_a_replacement_ends_in_recursion_error(namespace_guard, replacement):
    yv._clone_attribute = replacement
    with pytest.raises(RecursionError):
        clone(_self_containing_list())
    assert clone([1, [2, [3]]]) == [1, [2, [3]]]


# ---------------------------------------------------------------------------
# Properties over generated values

scalars = st.one_of(
    st.integers(), st.booleans(), st.floats(allow_nan=False), st.text(max_size=5),
    st.complex_numbers(allow_nan=False),
)
keys = st.one_of(st.integers(), st.text(max_size=5), st.floats(allow_nan=False), st.booleans())
values = st.recursive(
    scalars,
    lambda children: st.one_of(
        st.lists(children, max_size=4),
        st.dictionaries(keys, children, max_size=4),
        st.lists(children, max_size=3).map(lambda items: [items, items]),  # one list in two places
    ),
    max_leaves=20,
)


def _same_shape(result, value):
    if isinstance(value, list):
        assert type(result) is list and len(result) == len(value)
        for r, v in zip(result, value):
            _same_shape(r, v)
    elif isinstance(value, dict):
        assert type(result) is dict and list(result) == list(value)
        for (rk, rv), (vk, vv) in zip(result.items(), value.items()):
            _same_shape(rk, vk)
            _same_shape(rv, vv)
    elif isinstance(value, complex):
        assert type(result) is complex and result == value
    else:
        assert result is value


@settings(max_examples=150, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(values)
def test_clone_equals_the_value_and_shares_no_container(value):
    snapshot = copy.deepcopy(value)
    before = containers(value)
    result = clone(value)
    assert result == value
    _same_shape(result, value)
    after = containers(result)
    assert len(set(after)) == len(after)
    assert set(after).isdisjoint(before)
    assert value == snapshot
    assert containers(value) == before
