"""Instances whose table is missing (made without running __init__, or whose
table was deleted): every member that needs the table raises AttributeError
naming it, and nothing is written on the instance or to disk."""
import collections
import copy
import os
import pickle

import pytest

from support import entries
from yol_vovoruze import Parameter, ParameterBook, ParameterDirectory


class SubParameter(Parameter):
    pass


class SubBook(ParameterBook):
    pass


class SubDirectory(ParameterDirectory):
    pass


# Per class: its subclass, the table that its messages name, a value that it
# stores, the line of its __getattr__, the members only it has, and the names
# that a member misses first where that is not the table.
Kind = collections.namedtuple("Kind", "cls subclass table value getattr_line extra_operations missing")

DESCRIPTION_TABLE = "_Parameter__description"
COMMON_OPERATIONS = {
    "item": lambda x, kind: x["x"],
    "iter": lambda x, kind: list(x),
    "setattr": lambda x, kind: setattr(x, "x", kind.value),
    "setitem": lambda x, kind: x.__setitem__("x", kind.value),
    "delattr": lambda x, kind: delattr(x, "x"),
    "delitem": lambda x, kind: x.__delitem__("x"),
    "names": lambda x, kind: x.names(),
    "items": lambda x, kind: x.items(),
    "clear": lambda x, kind: x.clear(),
    "clone": lambda x, kind: x.clone(),
}
TABLE_OPERATIONS = {  # the members that books and directories add
    "rename": lambda x, kind: x.rename("x", "y"),
    "save": lambda x, kind: x.save("motor"),
    "copy": lambda x, kind: kind.cls(x),
}
KINDS = {
    Parameter: Kind(Parameter, SubParameter, "_Parameter__attributes", 1, 91, {
        "get": lambda p, kind: p.get("x"),
        "description": lambda p, kind: p.description,
        "get_description": lambda p, kind: p.get_description(),
        "set_description": lambda p, kind: p.set_description("t"),
        "all_descriptions": lambda p, kind: p.all_descriptions(),
        "to_dict": lambda p, kind: p.to_dict("n"),
    }, dict(dict.fromkeys(["clone", "get_description", "set_description", "all_descriptions", "to_dict"],
                          DESCRIPTION_TABLE), description="description")),
    ParameterBook: Kind(ParameterBook, SubBook, "_ParameterBook__parameters", Parameter(), 222,
                        dict(TABLE_OPERATIONS, str=lambda b, kind: str(b)), {}),
    ParameterDirectory: Kind(ParameterDirectory, SubDirectory, "_ParameterDirectory__parameters", ParameterBook(), 341,
                             TABLE_OPERATIONS, {}),
}


def unconstructed(cls):
    return cls.__new__(cls)


def unconstructed_subclass(cls):
    return unconstructed(KINDS[cls].subclass)


def table_deleted(cls):
    made = cls({"a": KINDS[cls].value})
    delattr(made, KINDS[cls].table)  # through the class's own attribute routing
    return made


# A parameter's private names reach its attribute table, so its tables cannot be deleted by name.
MAKERS = [(cls, make) for cls in KINDS for make in (unconstructed, unconstructed_subclass, table_deleted)
          if not (cls is Parameter and make is table_deleted)]
CASES = [(cls, make, operation) for cls, make in MAKERS
         for operation in ["attribute"] + sorted(COMMON_OPERATIONS) + sorted(KINDS[cls].extra_operations)]


def message(instance, missing, table):
    return "'%s' object has no attribute '%s': it has no table '%s' (was it made without __init__?)" % (
        type(instance).__name__, missing, table)


@pytest.mark.parametrize("cls, make, operation", CASES,
                         ids=["%s-%s-%s" % (c.__name__, m.__name__, o) for c, m, o in CASES])
def test_members_that_need_the_table_raise_attribute_error(tmp_path, monkeypatch, cls, make, operation):
    monkeypatch.chdir(str(tmp_path))
    kind = KINDS[cls]
    instance = make(cls)
    if operation == "attribute":
        with pytest.raises(AttributeError) as info:
            instance.anything
        assert str(info.value) == message(instance, "anything", kind.table)
        assert entries(info) == [("yol_vovoruze.%s.__getattr__" % cls.__name__, kind.getattr_line)]
    else:
        run = COMMON_OPERATIONS.get(operation) or kind.extra_operations[operation]
        with pytest.raises(AttributeError) as info:
            run(instance, kind)
        assert str(info.value) == message(instance, kind.missing.get(operation, kind.table), kind.table)
    assert type(info.value) is AttributeError
    assert vars(instance) == {}
    assert hasattr(instance, "x") is False
    assert os.listdir(".") == []


@pytest.mark.parametrize("cls, make", [(cls, make) for cls, make in MAKERS if cls is not Parameter],
                         ids=["%s-%s" % (c.__name__, m.__name__) for c, m in MAKERS if c is not Parameter])
def test_rename_to_the_same_name_needs_no_table(cls, make):
    instance = make(cls)
    assert instance.rename("x", "x") is None
    assert vars(instance) == {}


def form(item):
    """A comparable form of a parameter, book or directory."""
    if isinstance(item, Parameter):
        return item.to_dict("")
    return {name: form(sub) for name, sub in item.items()}


@pytest.mark.parametrize("cls, arguments, keywords", [
    (Parameter, ("d",), {"a": 1}),
    (ParameterBook, ({"a": Parameter("p", v=[1])},), {}),
    (ParameterDirectory, ({"a": ParameterBook({"p": Parameter()})},), {}),
])
def test_the_constructor_can_run_later(cls, arguments, keywords):
    instance = unconstructed(cls)
    instance.__init__(*arguments, **keywords)
    made = cls(*arguments, **keywords)
    assert list(instance.names()) == ["a"]
    assert list(vars(instance)) == list(vars(made))
    assert form(instance) == form(made)


@pytest.mark.parametrize("cls", list(KINDS))
def test_copies_of_an_unconstructed_instance_are_unconstructed(cls):
    instance = unconstructed(cls)
    for result in (copy.copy(instance), copy.deepcopy(instance), pickle.loads(pickle.dumps(instance))):
        assert type(result) is cls
        with pytest.raises(AttributeError):
            result.x
