"""Repeated operations, successful and failing, must not leave references or memory behind."""
import contextlib
import gc
import importlib
import inspect
import pickle
import sys
import weakref

import pytest

import yol_vovoruze as yv

P, B, D = yv.Parameter, yv.ParameterBook, yv.ParameterDirectory
clone = yv._clone_attribute


def assert_no_growth(operation, watched=(), repeat=200, warmup=30, attempts=3, block_tolerance=8):
    """Runs `operation` `repeat` times, after a warm-up, and checks that neither the reference
    counts of the `watched` objects nor the number of allocated memory blocks grow.

    A leak grows with every run and shows in every attempt; the interpreter's own caches settle
    during the warm-up, and what little noise remains is absorbed by trying again.
    """
    for _ in range(warmup):
        operation()
    report = []
    for _ in range(attempts):
        gc.collect()
        refs_before = [sys.getrefcount(obj) for obj in watched]
        blocks_before = sys.getallocatedblocks()
        for _ in range(repeat):
            operation()
        gc.collect()
        blocks_after = sys.getallocatedblocks()
        refs_after = [sys.getrefcount(obj) for obj in watched]
        grown = [(repr(obj)[:60], after - before)
                 for obj, before, after in zip(watched, refs_before, refs_after) if after != before]
        blocks = blocks_after - blocks_before
        if not grown and blocks <= block_tolerance:
            return
        report.append("references grown: %s; blocks grown: %d over %d runs" % (grown, blocks, repeat))
    pytest.fail("\n".join(report))


def failing(thunk, kind, message=None):
    """An operation that runs `thunk` and expects it to raise `kind` (with `message`)."""

    def operation():
        try:
            thunk()
        except kind as error:
            if message is not None and str(error) != message:
                raise AssertionError(str(error))
        else:
            raise AssertionError("no exception was raised")

    return operation


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


@contextlib.contextmanager
def namespace_kept():
    saved = list(vars(yv).items())
    try:
        yield
    finally:
        if list(vars(yv).items()) != saved:
            vars(yv).clear()
            vars(yv).update(saved)


class Run:
    """What a named operation yields: the operation, the objects to watch, how often to run it."""

    def __init__(self, operation, watched=(), repeat=200, warmup=None, block_tolerance=8):
        self.operation, self.watched, self.repeat = operation, tuple(watched), repeat
        self.warmup = max(10, repeat // 5) if warmup is None else warmup
        self.block_tolerance = block_tolerance


# Each operation: a context manager that yields a Run.
OPERATIONS = {}


def operation(name):
    def register(factory):
        OPERATIONS[name] = contextlib.contextmanager(factory)
        return factory

    return register


def _simple(name, make):
    """Registers an operation without set-up: `make()` returns its Run."""

    @operation(name)
    def factory():
        yield make()


# Successful clones.

_nested = {"a": [1, 2.5, "x", 3 + 4j, {"b": [True, [], {}]}], "c": {"d": ["e", -1]}}
_simple("clone-nested", lambda: Run(lambda: clone(_nested), (_nested, _nested["a"], _nested["a"][4], "x", clone)))
_shared = [1, [2]]
_simple("clone-shared", lambda: Run(lambda: clone([_shared, _shared, {"k": _shared}]), (_shared, _shared[1])))
_subclasses = [ListSub([1, DictSub(a=[2])]), Items(("k", [3]), ["l", 4]), Parts(0, 0)]
_simple("clone-subclasses", lambda: Run(lambda: clone(_subclasses), _subclasses))
_simple("clone-scalars", lambda: Run(lambda: (clone(5), clone("s"), clone(1.5), clone(True), clone(2j)), (clone,)))
_deep = [0]
for _ in range(300):
    _deep = [_deep]
_simple("clone-deep", lambda: Run(lambda: clone(_deep), (_deep, _deep[0]), 20))


@operation("clone-through-wrapper")
def _through_wrapper():
    value = [1, {"a": [2, 3]}]

    def wrapper(item):
        return clone(item)

    with namespace_kept():
        yv._clone_attribute = wrapper
        yield Run(lambda: clone(value), (value, value[1], wrapper))


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
    ("unhashable-key", Items((["k"], 1)), TypeError, "unhashable type: 'list'"),
    ("complex-part-raises", [BrokenParts(1, 2)], IndexError, None),
]:
    _simple(_name, lambda value=_value, kind=_kind, message=_message: Run(
        failing(lambda: clone(value), kind, message), (value,) if value is not None else ()))


def _self_containing():
    value = [1, {"k": "v"}]
    value.append(value)
    return value


_looping = _self_containing()
_simple("recursion-error", lambda: Run(failing(lambda: clone(_looping), RecursionError), (_looping,), 10))
_too_deep = {"k": 1}
for _ in range(sys.getrecursionlimit() + 50):
    _too_deep = [_too_deep]
_simple("recursion-too-deep", lambda: Run(failing(lambda: clone(_too_deep), RecursionError), (_too_deep,), 10))


@operation("name-missing")
def _name_missing():
    value = [1]
    with namespace_kept():
        del yv._clone_attribute
        yield Run(failing(lambda: clone(value), NameError, "name '_clone_attribute' is not defined"), (value,))


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
    _simple(_name, lambda thunk=_thunk, message=_message: Run(
        failing(thunk, TypeError, message), (p, book, P.get, P.clone, P.to_dict, B.rename, P.from_dict)))


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


_simple("signatures", lambda: Run(_signatures, _members(), 30))
_simple("attributes", lambda: Run(_attributes, _members(), 50))
# Unpickling settles the interpreter's own caches only after a few hundred rounds, and some
# interpreters still allocate a block now and then; a leak would cost a block per member and round.
_simple("pickle-weakref-repr", lambda: Run(_references, _members(), 30, warmup=300,
                                           block_tolerance=len(_members()) * 2))
_simple("bind-method", lambda: Run(lambda: (p.clone, p.get, book.save, p.from_dict), (p, book, P.clone, P.get)))


# The text of a book: written by the module, or left to json.


def _book_text(*values):
    parameter = P("d")
    for i, value in enumerate(values):
        parameter["v%d" % i] = value
    book = B()
    book["p"] = parameter
    return str(book)


_text_values = ["é\ud800\U0001f600\n", 2 ** 70, -1.5e300, float("nan"), (1, None), {1.5: True, None: [{}]}]
_simple("book-text", lambda: Run(lambda: _book_text(*_text_values), _text_values))
_simple("book-text-left-to-json", lambda: Run(lambda: _book_text(2 ** 2000, DictSub(a=1)), ()))
_simple("book-text-circular", lambda: Run(
    failing(lambda: _book_text(_looping), ValueError, "Circular reference detected"), (_looping,), 20))


# Imports of the module that is already there.


def _reimport():
    del sys.modules["yol_vovoruze"]
    try:
        assert importlib.import_module("yol_vovoruze") is yv
    finally:
        sys.modules["yol_vovoruze"] = yv


_simple("import-again", lambda: Run(lambda: importlib.import_module("yol_vovoruze"), (yv,)))
_simple("reload", lambda: Run(lambda: importlib.reload(yv), (yv, P), 50))
# The import system's own caches move by a few dozen blocks over a hundred imports;
# a leak of ours would keep at least one block per import.
_simple("import-after-removal", lambda: Run(_reimport, (yv, P), 100, block_tolerance=50))


@pytest.mark.parametrize("name", sorted(OPERATIONS))
def test_repeated_operation_leaves_nothing_behind(name):
    with OPERATIONS[name]() as run:
        assert_no_growth(run.operation, run.watched, repeat=run.repeat, warmup=run.warmup,
                         block_tolerance=run.block_tolerance)


def test_a_leak_is_noticed():
    kept = []
    target = object()
    with pytest.raises(pytest.fail.Exception):
        assert_no_growth(lambda: kept.append([target]), (target,), repeat=50, warmup=5)
