"""Parameter.clone() of plain scalars, which the module makes without calling
the class while that call would run only its own code: the copy is what the
call gives, and every change of the class or of _clone_attribute is seen."""
import pytest

import yol_vovoruze as yv

P = yv.Parameter
TABLES = ("_Parameter__description", "_Parameter__attributes")


@pytest.mark.parametrize("description, attributes", [
    ("d", {}),
    ({"default": "d", "en_US": "e", 3: 4.5}, {"a": 1, "b": 2.5, "c": "t", "d": True}),
    ({"default": "d"}, {"z": 1, "a": 2, "m": 3}),
])
def test_the_copy_is_what_the_call_gives(description, attributes):
    p = P(description, **attributes)
    q = p.clone()
    called = P(p.all_descriptions(), **dict(p.items()))
    assert type(q) is P and vars(q) == vars(called)
    assert [list(table) for table in vars(q).values()] == [list(table) for table in vars(called).values()]
    assert all(vars(q)[name] is not vars(p)[name] for name in TABLES)
    assert all(q[name] is p[name] for name in p.names())


def _recording_init(calls):
    init = P.__init__

    def __init__(self, *args, **kwargs):
        calls.append("__init__")
        init(self, *args, **kwargs)
    return __init__


def _recording_setattr(calls):
    setattr_ = P.__setattr__

    def __setattr__(self, name, value):
        calls.append(name)
        setattr_(self, name, value)
    return __setattr__


def _recording_table(calls):
    def store(self, value):
        calls.append("stored")
        vars(self)[TABLES[1]] = value
    return property(lambda self: vars(self)[TABLES[1]], store)


@pytest.mark.parametrize("name, make, expected", [
    ("__init__", _recording_init, ["__init__"]),
    ("__setattr__", _recording_setattr, list(TABLES)),
    (TABLES[1], _recording_table, ["stored"]),
])
def test_a_change_of_the_class_after_a_copy_is_seen(monkeypatch, name, make, expected):
    p = P("d", a=1)
    p.clone()
    calls = []
    monkeypatch.setattr(P, name, make(calls), raising=False)
    q = p.clone()
    assert calls == expected and q.a == 1


def test_a_replaced_clone_attribute_after_a_copy_is_seen(namespace_guard):
    p = P({"default": "d"}, a=1)
    p.clone()
    seen = []
    namespace_guard["_clone_attribute"] = lambda value: seen.append(value) or value
    q = p.clone()
    assert seen == [{"default": "d"}, 1] and q.all_descriptions() is p.all_descriptions()
