"""Repeated operations, successful and failing, must not leave references or memory behind."""
import contextlib
import importlib
import inspect
import pickle
import sys
import weakref

import pytest

import yol_vovoruze as yv
from support import assert_no_leak, expect_error, namespace_kept, outcome, unhashable_key_message

P, B, D = yv.Parameter, yv.ParameterBook, yv.ParameterDirectory
clone = yv._clone_attribute


def failing(kind, call, *arguments, message=None):
    """An action that calls call(*arguments) and expects it to raise `kind` (with `message`)."""
    return lambda: expect_error(kind, call, *arguments, message=message)


class ListSub(list):
    pass


class DictSub(dict):
    pass


class Items(dict):
    def __init__(self, *elements):
        dict.__init__(self)
        self.elements = list(elements)

    def items(self):
        return self.elements


class Parts(complex):
    @property
    def real(self):
        return 1.5

    @property
    def imag(self):
        return 2.5


class BrokenParts(complex):
    @property
    def imag(self):
        return [][0]  # IndexError


class MyStr(str):
    pass


def run(action, watched=(), rounds=200, **how):
    """What a named operation yields: the arguments of assert_no_leak()."""
    return dict(how, action=action, watched=tuple(watched), rounds=rounds)


# Each operation: a context manager that yields the arguments of assert_no_leak().
OPERATIONS = {}


def operation(name):
    def register(factory):
        OPERATIONS[name] = contextlib.contextmanager(factory)
        return factory

    return register


def _simple(name, make):
    """Registers an operation without set-up: `make()` returns its run()."""

    @operation(name)
    def factory():
        yield make()


# Successful clones.

_nested = {"a": [1, 2.5, "x", 3 + 4j, {"b": [True, [], {}]}], "c": {"d": ["e", -1]}}
_simple("clone-nested", lambda: run(lambda: clone(_nested), (_nested, _nested["a"], _nested["a"][4], "x", clone)))
_shared = [1, [2]]
_simple("clone-shared", lambda: run(lambda: clone([_shared, _shared, {"k": _shared}]), (_shared, _shared[1])))
_subclasses = [ListSub([1, DictSub(a=[2])]), Items(("k", [3]), ["l", 4]), Parts(0, 0)]
_simple("clone-subclasses", lambda: run(lambda: clone(_subclasses), _subclasses))
_simple("clone-scalars", lambda: run(lambda: (clone(5), clone("s"), clone(1.5), clone(True), clone(2j)), (clone,)))
_deep = [0]
for _ in range(300):
    _deep = [_deep]
_simple("clone-deep", lambda: run(lambda: clone(_deep), (_deep, _deep[0]), 20))


@operation("clone-through-wrapper")
def _through_wrapper():
    value = [1, {"a": [2, 3]}]

    def wrapper(item):
        return clone(item)

    with namespace_kept():
        yv._clone_attribute = wrapper
        yield run(lambda: clone(value), (value, value[1], wrapper))


# Refused values.

for _name, _value, _kind, _message in [
    ("reject-none", None, TypeError, "Error: Unsupported attribute type: <class 'NoneType'>"),
    ("reject-tuple", (1, 2), TypeError, "Error: Unsupported attribute type: <class 'tuple'>"),
    ("reject-set", {1}, TypeError, "Error: Unsupported attribute type: <class 'set'>"),
    ("reject-bytes", b"x", TypeError, "Error: Unsupported attribute type: <class 'bytes'>"),
    ("reject-in-list", [1, [2, None]], TypeError, "Error: Unsupported attribute type: <class 'NoneType'>"),
    ("reject-in-dict", {"a": {"b": None}}, TypeError, "Error: Unsupported attribute type: <class 'NoneType'>"),
    ("reject-key", {(1, 2): "x"}, TypeError, "Error: Unsupported attribute type: <class 'tuple'>"),
    ("reject-in-subclass", ListSub([1, b"x"]), TypeError, "Error: Unsupported attribute type: <class 'bytes'>"),
    ("unpack-too-many", Items(("a", 1, 2)), ValueError, "too many values to unpack (expected 2)"),
    ("unpack-one", Items(("a",)), ValueError, "need more than 1 value to unpack"),
    ("unpack-none", Items(()), ValueError, "need more than 0 values to unpack"),
    ("unhashable-key", Items((["k"], 1)), TypeError, unhashable_key_message(["k"])),
    ("complex-part-raises", [BrokenParts(1, 2)], IndexError, None),
]:
    _simple(_name, lambda value=_value, kind=_kind, message=_message: run(
        failing(kind, clone, value, message=message), (value,) if value is not None else ()))


def _self_containing():
    value = [1, {"k": "v"}]
    value.append(value)
    return value


_looping = _self_containing()
_simple("recursion-error", lambda: run(failing(RecursionError, clone, _looping), (_looping,), 10))
_too_deep = {"k": 1}
for _ in range(sys.getrecursionlimit() + 50):
    _too_deep = [_too_deep]
_simple("recursion-too-deep", lambda: run(failing(RecursionError, clone, _too_deep), (_too_deep,), 10))


@operation("name-missing")
def _name_missing():
    value = [1]
    with namespace_kept():
        del yv._clone_attribute
        yield run(failing(NameError, clone, value, message="name '_clone_attribute' is not defined"), (value,))


# Argument binding and type checks.

p = object.__new__(P)
book = object.__new__(B)

for _name, _thunk, _message in [
    ("single-none-given", lambda: P.clone(), "clone() takes exactly one argument (0 given)"),
    ("single-two-given", lambda: p.clone(1), "clone() takes exactly one argument (2 given)"),
    ("single-keyword", lambda: p.clone(x=1), "clone() takes no keyword arguments"),
    ("single-static", lambda: P.from_dict(), "from_dict() takes exactly one argument (0 given)"),
    ("too-few", lambda: p.to_dict(), "to_dict() takes exactly 2 positional arguments (1 given)"),
    ("at-least", lambda: p.get(), "get() takes at least 2 positional arguments (1 given)"),
    ("at-most", lambda: p.get("a", 1, True, 4), "get() takes at most 4 positional arguments (5 given)"),
    ("missing-by-keyword", lambda: B.rename(self=book, new="x"),
     "rename() takes exactly 3 positional arguments (1 given)"),
    ("multiple-values", lambda: p.get("a", name="b"), "get() got multiple values for keyword argument 'name'"),
    ("unexpected-keyword", lambda: p.get("a", nme=1), "get() got an unexpected keyword argument 'nme'"),
    ("init-multiple-values", lambda: P(description="", self=1),
     "__init__() got multiple values for keyword argument 'self'"),
    ("keyword-not-str", lambda: p.get("a", **{1: 2}), None),
    ("type-bytes", lambda: p.get(b"x"), "Argument 'name' has incorrect type (expected str, got bytes)"),
    ("type-subclass", lambda: p.to_dict(MyStr("n")), "Argument 'name' has incorrect type (expected str, got MyStr)"),
    ("type-second", lambda: book.rename(None, 1), "Argument 'new' has incorrect type (expected str, got int)"),
    ("type-dict", lambda: P.from_dict([]), "Argument 'data' has incorrect type (expected dict, got list)"),
]:
    _simple(_name, lambda thunk=_thunk, message=_message: run(
        failing(TypeError, thunk, message=message), (p, book, P.get, P.clone, P.to_dict, B.rename, P.from_dict)))


def _members(getters=True):
    found = [yv._clone_attribute]
    for cls in (P, B, D):
        for value in vars(cls).values():
            if isinstance(value, staticmethod):
                found.append(value.__func__)
            elif isinstance(value, property):
                if getters:
                    found.append(value.fget)
            elif callable(value) and not isinstance(value, type):
                found.append(value)
    return found


def _signatures():
    for member in _members():
        inspect.signature(member)


def _attributes():
    for member in _members():
        (member.__name__, member.__qualname__, member.__module__, member.__doc__, member.__defaults__,
         member.__kwdefaults__, member.__annotations__, member.__code__)


def _references():
    for member in _members(getters=False):  # a getter is reached through its property, not by name
        pickle.loads(pickle.dumps(member))
        weakref.ref(member)
        repr(member)


_simple("signatures", lambda: run(_signatures, _members(), 30))
_simple("attributes", lambda: run(_attributes, _members(), 50))
# Unpickling settles the interpreter's own caches only after a few hundred rounds, and some
# interpreters still allocate a block now and then; a leak would cost a block per member and round.
_simple("pickle-weakref-repr", lambda: run(_references, _members(), 30, warmup=300,
                                           blocks=len(_members()) * 2))
_simple("bind-method", lambda: run(lambda: (p.clone, p.get, book.save, p.from_dict), (p, book, P.clone, P.get)))


# The text of a book: written by the module, or left to json.


def _book_text(*values):
    parameter = P("d")
    for i, value in enumerate(values):
        parameter["v%d" % i] = value
    book = B()
    book["p"] = parameter
    return str(book)


_text_values = ["é\ud800\U0001f600\n", 2 ** 70, -1.5e300, float("nan"), (1, None), {1.5: True, None: [{}]}]
_simple("book-text", lambda: run(lambda: _book_text(*_text_values), _text_values))
_simple("book-text-left-to-json", lambda: run(lambda: _book_text(2 ** 2000, DictSub(a=1)), ()))
_simple("book-text-circular", lambda: run(
    failing(ValueError, _book_text, _looping, message="Circular reference detected"), (_looping,), 20))


# Instances whose constructor never ran.


def _unconstructed(cls):
    def action():
        instance = cls.__new__(cls)
        expect_error(AttributeError, getattr, instance, "x")
        expect_error(AttributeError, instance.names)
        expect_error(AttributeError, instance.clone)
        outcome(lambda: str(instance))  # a book's text needs the table, the others' is object's

    return action


for _cls in (P, B, D):
    _simple("unconstructed-" + _cls.__name__, lambda cls=_cls: run(_unconstructed(cls), (cls,)))


# Imports of the module that is already there.


def _reimport():
    del sys.modules["yol_vovoruze"]
    try:
        assert importlib.import_module("yol_vovoruze") is yv
    finally:
        sys.modules["yol_vovoruze"] = yv


_simple("import-again", lambda: run(lambda: importlib.import_module("yol_vovoruze"), (yv,)))
_simple("reload", lambda: run(lambda: importlib.reload(yv), (yv, P), 50))
# The import system's own caches move by a few dozen blocks over a hundred imports;
# a leak of ours would keep at least one block per import.
_simple("import-after-removal", lambda: run(_reimport, (yv, P), 100, blocks=50))


@pytest.mark.parametrize("name", sorted(OPERATIONS))
def test_repeated_operation_leaves_nothing_behind(name):
    with OPERATIONS[name]() as arguments:
        assert_no_leak(**arguments)


# Under PYTHONMALLOC=malloc (the sanitizer run) the interpreter counts no
# blocks; LeakSanitizer watches the memory there.
COUNTS_BLOCKS = sys.getallocatedblocks() > 0


@pytest.mark.parametrize("leak", [
    pytest.param(lambda kept, target: kept.append([target]), id="both"),
    pytest.param(lambda kept, target: kept.append(target), id="reference"),
    pytest.param(lambda kept, target: kept.append([]), id="memory",
                 marks=pytest.mark.skipif(not COUNTS_BLOCKS, reason="the interpreter counts no memory blocks")),
])
def test_a_leak_is_noticed(leak):
    kept = []
    target = object()
    with pytest.raises(pytest.fail.Exception):
        assert_no_leak(lambda: leak(kept, target), (target,), rounds=50, warmup=5)
