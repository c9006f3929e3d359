"""Python code that runs in the middle of a call may change or free anything.

Hostile values (list, dict and str subclasses, keys, objects whose finaliser
runs, replacements of the module's globals) call back into a havoc routine
that empties tables, clears the caller's keyword dict, rebinds the module's
names and raises while a member is working. Whatever it does, the member
returns a result of its kind or raises an error that a caller may see, and
leaves sound tables behind. The members run in a child process, so that a
crash fails the case it happened in; under AddressSanitizer a read of freed
memory fails the run."""
import contextlib
import gc
import inspect
import json
import os
import select
import subprocess
import sys
import tempfile
import traceback
import warnings
import weakref

import pytest
from hypothesis import HealthCheck, Phase, example, given, reporting, settings, strategies as st

import yol_vovoruze as yv
from support import book_text_outcomes, child_env, leak_check, python_command, run_python

CLASSES = (yv.Parameter, yv.ParameterBook, yv.ParameterDirectory)
GLOBALS = ("Parameter", "ParameterBook", "ParameterDirectory", "_clone_attribute", "_json", "_os", "_path",
           "_locale")


class HavocError(Exception):
    """Raised by the hooks."""


class Havoc:
    """What the hooks do while a member runs: `actions` is drawn per example."""
    armed = False
    actions = frozenset()
    skip = 0     # hook calls to let pass before acting
    budget = 0   # hook calls that act
    instances = weakref.WeakSet()  # what the strategies made
    keyword_dicts = []
    saved_namespace = {}
    folder = None  # of the files the members read and write
    emptied = set()  # ids of the objects' own dicts that the havoc emptied, tables and all

    @classmethod
    def fire(cls):
        if not cls.armed or cls.budget <= 0:
            return
        if cls.skip > 0:
            cls.skip -= 1
            return
        cls.budget -= 1
        cls.armed = False  # the havoc itself must not recurse into the hooks
        try:
            cls._run()
        finally:
            cls.armed = True

    @classmethod
    @contextlib.contextmanager
    def watching_new_objects(cls):
        """Arms the hooks; the objects that the garbage collector then lists
        are those made since (the older ones are frozen). Without gc.freeze
        (3.6) only the instances the strategies made are emptied."""
        if hasattr(gc, "freeze"):
            gc.freeze()
        cls.armed = True
        try:
            yield
        finally:
            cls.armed = False
            if hasattr(gc, "freeze"):
                gc.unfreeze()

    @classmethod
    def _run(cls):
        if "kwargs" in cls.actions:
            for keywords in cls.keyword_dicts:
                keywords.clear()
        if "globals" in cls.actions:
            for name in GLOBALS:
                original = cls.saved_namespace[name]
                vars(yv)[name] = _wrap(original) if cls.budget % 2 else original
        if ("tables" in cls.actions or "temporaries" in cls.actions) and not _json_encoding():
            found = gc.get_objects() if hasattr(gc, "freeze") else []
            # A class's own dict is no table: emptied behind the class's back
            # it leaves the interpreter's attribute cache dangling.
            own = {id(cls.keyword_dicts), id(cls.saved_namespace), id(vars(yv))}
            own.update(id(d) for t in found if isinstance(t, type) for d in gc.get_referents(t) if type(d) is dict)
            found = [obj for obj in found if id(obj) not in own]
            for obj in found + list(cls.instances):
                if isinstance(obj, CLASSES) and "tables" in cls.actions:
                    for table in list(vars(obj).values()):
                        if isinstance(table, dict):
                            table.clear()
                elif "temporaries" in cls.actions and type(obj) in (list, dict):
                    if type(obj) is dict and any(type(key) is str and key in TABLE_NAMES for key in obj):
                        cls.emptied.add(id(obj))  # an object's own dict
                    obj.clear()
        if "gc" in cls.actions:
            gc.collect()
        if "raise" in cls.actions and cls.budget == 0:
            raise HavocError("the last hook call of the havoc")


def _json_encoding():
    """Whether the json module is walking a value: the interpreter's own
    encoder (3.12 on) reads containers through borrowed references and
    crashes by itself when they are emptied under it, so the havoc leaves
    containers alone then."""
    frame = sys._getframe()
    while frame is not None:
        if frame.f_code.co_filename.endswith(os.path.join("json", "encoder.py")):
            return True
        frame = frame.f_back
    return False


def _wrap(original):
    """A replacement of a module global that runs the havoc before each use."""
    if callable(original) and not isinstance(original, type):
        def wrapper(*args, **kwargs):
            Havoc.fire()
            return original(*args, **kwargs)
        return wrapper
    if isinstance(original, type):
        return type(original.__name__, (original,), {"to_dict": _hooked(original, "to_dict"),
                                                    "clone": _hooked(original, "clone")}
                    if original is yv.Parameter else {"clone": _hooked(original, "clone")})

    class Proxy:
        def __getattr__(self, name):
            Havoc.fire()
            found = getattr(original, name)
            return _wrap(found) if callable(found) and not isinstance(found, type) else found
    return Proxy()


def _hooked(base, name):
    def method(self, *args):
        Havoc.fire()
        return getattr(super(type(self), self), name)(*args)
    return method


class HList(list):
    def __iter__(self):
        Havoc.fire()
        return list.__iter__(self)


class HDict(dict):
    def items(self):
        Havoc.fire()
        return dict(self).items()

    def keys(self):
        Havoc.fire()
        return dict.keys(self)

    def __len__(self):
        Havoc.fire()
        return dict.__len__(self)

    def __contains__(self, key):
        Havoc.fire()
        return dict.__contains__(self, key)


class HStr(str):
    def __hash__(self):
        Havoc.fire()
        return str.__hash__(self)

    def __eq__(self, other):
        Havoc.fire()
        return str.__eq__(self, other)

    def __lt__(self, other):
        Havoc.fire()
        return str.__lt__(self, other)

    def __str__(self):
        Havoc.fire()
        return str.__str__(self)


class HKey:
    def __init__(self, n):
        self.n = n

    def __repr__(self):
        return "HKey(%d)" % self.n

    def __hash__(self):
        Havoc.fire()
        return hash(self.n)

    def __eq__(self, other):
        Havoc.fire()
        return isinstance(other, HKey) and other.n == self.n


class Finalised:
    """Runs the havoc when the module drops the last reference to it."""
    def __repr__(self):
        return "Finalised()"

    def __del__(self):
        Havoc.fire()


HParameter = type("HParameter", (yv.Parameter,), {"to_dict": _hooked(yv.Parameter, "to_dict"),
                                                  "clone": _hooked(yv.Parameter, "clone")})
HBook = type("HBook", (yv.ParameterBook,), {"clone": _hooked(yv.ParameterBook, "clone"),
                                            "__str__": _hooked(yv.ParameterBook, "__str__")})
HDirectory = type("HDirectory", (yv.ParameterDirectory,), {"clone": _hooked(yv.ParameterDirectory, "clone")})

# --------------------------------------------------------------- strategies

texts = st.text(alphabet="ab._-", max_size=3)
keys = st.one_of(texts, texts.map(HStr))
names = st.one_of(keys, st.integers(0, 3).map(HKey), st.just(None))
# Values the module copies, with hooks inside that run while it walks them.
scalars = st.one_of(st.integers(-3, 3), keys, st.floats(allow_nan=False), st.booleans(), st.just(1 + 2j))
values = st.recursive(scalars, lambda inner: st.one_of(
    st.lists(inner, max_size=4).map(HList), st.lists(inner, max_size=4),
    st.dictionaries(keys, inner, max_size=3).map(HDict), st.dictionaries(keys, inner, max_size=3)), max_leaves=10)
containers = st.one_of(st.lists(values, min_size=1, max_size=4), st.dictionaries(keys, values, min_size=1, max_size=3))
# And values that it refuses to copy, or whose release runs a hook.
wild = st.one_of(values, st.builds(Finalised), st.just(None),
                 st.dictionaries(st.integers(0, 3).map(HKey), values, max_size=2))


def fresh(value):
    """A copy of a drawn value, hooks kept, that only the module will hold
    (hypothesis keeps what it drew, which would keep it alive)."""
    if isinstance(value, list):  # walked past the hooks, which are armed already
        return type(value)(fresh(element) for element in list.__iter__(value))
    if isinstance(value, dict):
        return type(value)((key, fresh(element)) for key, element in dict.items(value))
    if isinstance(value, str) and value:
        return type(value)(str.__add__(value, "\0")[:-1])
    return value


def _register(obj):
    Havoc.instances.add(obj)
    return obj


@st.composite
def parameters(draw):
    p = _register(draw(st.sampled_from([yv.Parameter, HParameter]))(draw(st.sampled_from(["d", HStr("d")]))))
    for name, value in draw(st.lists(st.tuples(texts, st.one_of(containers, wild)), min_size=1, max_size=3)):
        p[name] = fresh(value)  # stored as it is, so values the constructor refuses reach the other members
    return p


@st.composite
def books(draw):
    book = _register(draw(st.sampled_from([yv.ParameterBook, HBook]))())
    for name, p in draw(st.lists(st.tuples(st.one_of(texts, texts.map(HStr)), parameters()), min_size=1, max_size=3)):
        book[name] = p
    return book


directories = st.deferred(lambda: st.builds(_directory, st.sampled_from([yv.ParameterDirectory, HDirectory]),
                                            st.lists(st.tuples(texts.filter(lambda t: t not in ("", ".", "..")),
                                                               st.one_of(books(), directories)), max_size=2)))


def _directory(cls, entries):
    directory = _register(cls())
    for name, item in entries:
        directory[name] = item
    return directory


def _mapping(inner):
    return st.dictionaries(st.one_of(texts, texts.map(HStr)), inner, max_size=3).flatmap(
        lambda d: st.sampled_from([d, HDict(d)]))


forms = st.fixed_dictionaries({"name": names, "description": _mapping(texts), "attributes": _mapping(containers)})
anything = st.one_of(names, wild, parameters(), books())

ONE_NAME = {"__getattr__", "__delattr__", "__getitem__", "__delitem__", "get_description", "to_dict"}


def arguments_of(cls, name, folder):
    """Strategies for the arguments after self of a member."""
    tree = os.path.join(folder, "tree")
    if name == "__init__":
        return {yv.Parameter: (st.one_of(texts, _mapping(texts)), st.dictionaries(texts, containers, max_size=3)),
                yv.ParameterBook: (_mapping(parameters()),),
                yv.ParameterDirectory: (_mapping(st.one_of(books(), directories)),)}[cls]
    if name == "save":
        return (st.just(os.path.join(folder, "out")), anything) if cls is yv.ParameterBook else (st.just(tree),)
    if name == "load":
        return (st.just(os.path.join(folder, "out.yolpt") if cls is yv.ParameterBook else tree),)
    return {"_backup_books_in_this_directory": (st.just(tree),), "__setattr__": (names, anything),
            "__setitem__": (names, anything), "get": (names, anything, anything), "set_description": (names, names),
            "rename": (names, names), "from_dict": (forms,)}.get(name, (names,) if name in ONE_NAME else ())


SELF = {yv.Parameter: parameters(), yv.ParameterBook: books(), yv.ParameterDirectory: directories}
MEMBERS = [(cls, name) for cls in CLASSES for name, member in vars(cls).items()
           if isinstance(member, (staticmethod, property, type(yv._clone_attribute)))]


def _function(cls, name):
    member = vars(cls)[name]
    return member.fget if isinstance(member, property) else getattr(member, "__func__", member)


def _call(function, static, receiver, arguments, by_keyword):
    """function(receiver, *arguments), or with the arguments as keywords
    from a dict that the havoc may empty. For a function with **kwargs the
    last argument is a dict of further keywords."""
    arguments = [fresh(argument) for argument in arguments]
    code = function.__code__
    keywords = arguments.pop() if code.co_flags & inspect.CO_VARKEYWORDS else {}
    if static:
        receiver, arguments = arguments[0], arguments[1:]
    if by_keyword:
        keywords.update(zip(code.co_varnames[1:code.co_argcount], arguments))
        arguments = []
    Havoc.keyword_dicts.append(keywords)
    return function(receiver, *arguments, **keywords)


# Faults once found, kept as explicit examples: a receiver and its
# arguments, made when the example runs, and the havoc that caught them.
def _clone_of_emptied_list():
    p = yv.Parameter()
    p["x"] = [HList([1]), 1, 2, 3]
    return p, ()


def _save_with_emptied_keywords():
    book = yv.ParameterBook()
    book["b"] = yv.Parameter()
    book["b"]["v"] = HDict(k=1)  # assigned, so that it stays a dict subclass
    return book, (os.path.join(Havoc.folder, "out"), fresh("yes"))


def _init_with_emptied_keywords():
    return yv.Parameter(), (HDict(default=HDict(k="t")), {"x": [1]})


REPRODUCTIONS = [  # (class, member, reproduction, havoc)
    ("Parameter", "clone", _clone_of_emptied_list, {"tables"}),
    ("ParameterBook", "save", _save_with_emptied_keywords, {"kwargs"}),
    ("Parameter", "__init__", _init_with_emptied_keywords, {"kwargs"}),
]


ACTIONS = st.sets(st.sampled_from(["kwargs", "globals", "tables", "temporaries", "gc", "raise"]), min_size=1)
CASES = ["%s.%s" % (cls.__name__, name) for cls, name in MEMBERS] + ["module._clone_attribute"]

# ------------------------------------------------- what a member may give

TABLES = {yv.Parameter: ("_Parameter__attributes", "_Parameter__description"),
          yv.ParameterBook: ("_ParameterBook__parameters",),
          yv.ParameterDirectory: ("_ParameterDirectory__parameters",)}
TABLE_NAMES = frozenset(name for names in TABLES.values() for name in names)
HOLDS = {yv.ParameterBook: (yv.Parameter,), yv.ParameterDirectory: (yv.ParameterBook, yv.ParameterDirectory)}
FILE_MEMBERS = {"save", "load", "_backup_books_in_this_directory"}  # these may raise OSError too
PERMITTED = (TypeError, ValueError, KeyError, AttributeError, AssertionError, RecursionError, HavocError)


class Violation(Exception):
    """An outcome that the member may not have."""


def _plain_copy(value):
    """Whether `value` is what _clone_attribute gives: plain lists and dicts of
    the scalars it copies, at any depth (emptied by the havoc or not)."""
    if type(value) is list:
        return all(map(_plain_copy, value))
    if type(value) is dict:
        return all(_plain_copy(k) and _plain_copy(v) for k, v in value.items())
    return isinstance(value, (int, float, str, complex))


_NONE = {"__init__", "__setattr__", "__delattr__", "__setitem__", "__delitem__", "clear", "set_description",
         "rename", "save"}
# What each member returns, given the receiver; a member not named here may return anything.
RESULTS = dict({name: lambda r, receiver: r is None for name in _NONE}, **{
    "clone": lambda r, receiver: isinstance(r, type(receiver)),
    "items": lambda r, receiver: type(r) is type({}.items()),
    "names": lambda r, receiver: type(r) is type({}.keys()),
    "description": lambda r, receiver: r is None or type(r) is str,
    "get_description": lambda r, receiver: r is None or isinstance(r, str),
    "all_descriptions": lambda r, receiver: type(r) is dict,
    "to_dict": lambda r, receiver: (type(r) is dict and list(r) == ["name", "description", "attributes"]
                                    and type(r["description"]) is dict and type(r["attributes"]) is dict),
    "from_dict": lambda r, receiver: (type(r) is tuple and len(r) == 2 and isinstance(r[0], str)
                                      and isinstance(r[1], yv.Parameter)),
    "__str__": lambda r, receiver: type(r) is str,
    "_backup_books_in_this_directory": lambda r, receiver: type(r) is list and all(type(p) is str for p in r),
    "_clone_attribute": lambda r, receiver: _plain_copy(r),
})


def result_is_right(cls, name, receiver, result):
    if name == "load":
        return isinstance(result, cls)
    if name in ("__getattr__", "__getitem__") and cls in HOLDS:
        return isinstance(result, HOLDS[cls])
    return RESULTS.get(name, lambda r, receiver: True)(result, receiver)


def permitted(name, error):
    """Whether a caller may see `error` from the member `name`: an error of
    the module's contract (its checks, its asserts, json's and the file
    system's errors), one that the interpreter raises when the havoc changes
    a container under an iteration, or the havoc's own."""
    kinds = PERMITTED + (OSError,) if name in FILE_MEMBERS else PERMITTED
    changed = type(error) is RuntimeError and "during iteration" in str(error)
    return (isinstance(error, kinds) or changed) and not any(isinstance(e, (SystemError, MemoryError))
                                                             for e in _chain(error))


def _chain(error):
    seen = []
    while error is not None and error not in seen:
        seen.append(error)
        error = error.__cause__ or error.__context__
    return seen


def table_faults(obj, seen):
    """What is wrong with the tables of `obj` and of what they hold: each is
    a dict, a book holds parameters and a directory books and directories,
    unless the havoc emptied the object's own dict (its tables went with it).
    The text of a book whose table is sound is json's."""
    if id(obj) in seen:
        return []
    seen.add(id(obj))
    own = object.__getattribute__(obj, "__dict__")
    faults = []
    cls = next(cls for cls in TABLES if isinstance(obj, cls))
    for name in TABLES[cls]:
        table = own.get(name)
        if table is None and id(own) in Havoc.emptied:
            continue
        if type(table) is not dict:
            faults.append("%s: the table %s is %r" % (type(obj).__name__, name, type(table)))
            continue
        kinds = HOLDS.get(cls)
        if kinds is None:
            continue
        strays = [describe(value) for value in table.values() if not isinstance(value, kinds)]
        if strays:
            faults.append("%s: the table %s holds %s" % (type(obj).__name__, name, ", ".join(strays)))
            continue
        for value in table.values():
            faults.extend(table_faults(value, seen))
        if isinstance(obj, yv.ParameterBook):
            views = [list(yv.ParameterBook.names(obj)), list(yv.ParameterBook.items(obj))]
            if [len(view) for view in views] != [len(table)] * 2:
                faults.append("ParameterBook: names() and items() do not list the table")
            ours, theirs = book_text_outcomes(obj)
            if ours != theirs or not (isinstance(ours, str) or issubclass(ours[0], PERMITTED)):
                faults.append("ParameterBook: str() gives %r, json %r" % (ours, theirs))
    return faults


def describe(value):
    """A text of a value that the strategies made: its kinds, tables and hooks."""
    if isinstance(value, CLASSES):
        return type(value).__name__ + describe(object.__getattribute__(value, "__dict__"))
    if isinstance(value, dict):
        text = "{%s}" % ", ".join("%s: %s" % (describe(k), describe(v)) for k, v in dict.items(value))
    elif isinstance(value, (list, tuple)):
        text = "[%s]" % ", ".join(map(describe, list.__iter__(value) if isinstance(value, list) else value))
    elif isinstance(value, str):
        text = str.__repr__(value)
    else:
        return repr(value)
    if isinstance(value, tuple):
        return "(%s)" % text[1:-1]
    return text if type(value) in (dict, list, str) else "%s(%s)" % (type(value).__name__, text)


# ------------------------------------------------------------- one case


def _seed(folder):
    book = yv.ParameterBook({"a": yv.Parameter("d", v=[1, {"k": 2}])})
    book.save(os.path.join(folder, "out.yolpt"))
    yv.ParameterDirectory({"b": book, "s": yv.ParameterDirectory({"c": book})}).save(os.path.join(folder, "tree"))


def run_case(case, folder):
    """Runs the hypothesis loop of one member (a CASES entry) against files in
    `folder`: {"outcomes": {kind: count}} or {"error": text}."""
    class_name, name = case.split(".", 1)
    cls = None if class_name == "module" else getattr(yv, class_name)
    Havoc.folder = folder
    _seed(folder)
    function = yv._clone_attribute if cls is None else _function(cls, name)
    static = cls is None or isinstance(vars(cls)[name], staticmethod)
    receiver = st.none() if static else SELF[cls]
    arguments = st.tuples(*((st.one_of(containers, wild),) if cls is None else arguments_of(cls, name, folder)))
    outcomes = {}

    @settings(max_examples=int(os.environ.get("YOL_HOSTILE_EXAMPLES", 40)), deadline=None,
              derandomize="YOL_HOSTILE_EXAMPLES" not in os.environ, database=None,
              phases=[Phase.explicit, Phase.generate], suppress_health_check=list(HealthCheck))
    @given(receiver=receiver, arguments=arguments, actions=ACTIONS, skip=st.integers(0, 4), budget=st.integers(1, 3),
           by_keyword=st.booleans())
    def run(receiver, arguments, actions, skip, budget, by_keyword):
        if callable(receiver):
            receiver, arguments = receiver()
        example = "receiver %s, arguments %s, actions %s, skip %d, budget %d, by keyword %s" % (
            describe(receiver), describe(arguments), sorted(actions), skip, budget, by_keyword)
        Havoc.saved_namespace = dict(vars(yv))
        Havoc.actions, Havoc.skip, Havoc.budget, Havoc.keyword_dicts, Havoc.emptied = actions, skip, budget, [], set()
        result = None
        with Havoc.watching_new_objects():
            try:
                result = _call(function, static, receiver, arguments, by_keyword and cls is not None)
            except (Exception, RecursionError) as error:
                kind, faults = "raised " + type(error).__name__, [] if permitted(name, error) else [
                    "raised %s: %s" % (type(error).__name__, error)]
            else:
                kind = "returned " + type(result).__name__
                faults = [] if result_is_right(cls, name, receiver, result) else ["returned %s" % describe(result)]
            finally:
                vars(yv).clear()
                vars(yv).update(Havoc.saved_namespace)
        for obj in (receiver, result):
            if isinstance(obj, CLASSES):
                faults.extend(table_faults(obj, set()))
        if faults:
            raise Violation("%s with %s:\n%s" % (case, example, "\n".join(faults)))
        outcomes[kind] = outcomes.get(kind, 0) + 1

    for class_name, member, reproduction, havoc in REPRODUCTIONS:
        if "%s.%s" % (class_name, member) == case:
            run = example(receiver=reproduction, arguments=(), actions=havoc, skip=0, budget=1, by_keyword=True)(run)
    reported = []
    try:
        with reporting.with_reporter(reported.append):
            run()
        return {"outcomes": outcomes}
    except Exception as error:  # noqa: BLE001 - reported, with the traceback of any failure but a Violation
        found = "Violation: %s" % error if isinstance(error, Violation) else traceback.format_exc()
        return {"error": "\n".join([found] + reported + [note for note in getattr(error, "__notes__", [])
                                                          if note not in reported])}


def serve(base):
    """The child's loop: runs each case named on stdin and answers with a
    JSON line. What the members and hypothesis print goes to stderr."""
    answers = os.fdopen(os.dup(1), "w")
    os.dup2(2, 1)
    sys.stdout = sys.stderr
    warnings.simplefilter("ignore", RuntimeWarning)  # saves and loads in the havoc leave folders that loads warn about
    for line in sys.stdin:
        answers.write(json.dumps(run_case(line.strip(), tempfile.mkdtemp(dir=base))) + "\n")
        answers.flush()
    if os.environ.get("YOL_LEAK_CHECK") == "1":  # the sanitizer run's check, here at the child's end
        result = leak_check()
        print("yol leak check: " + result)
        sys.exit(result != "clean")


class Worker:
    """A child that runs cases, started again after one ended."""
    def __init__(self, base):
        self.base, self.process = base, None

    def run(self, case, timeout=600):
        if self.process is None:
            self.log = open(os.path.join(self.base, "stderr-%s" % case), "w+")
            self.process = subprocess.Popen(
                python_command("import sys, test_hostile; test_hostile.serve(sys.argv[1])", [self.base],
                               options=["-X", "faulthandler"]),
                env=child_env(), stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self.log,
                universal_newlines=True)
        try:
            self.process.stdin.write(case + "\n")
            self.process.stdin.flush()
        except OSError:  # it ended at once: told below
            pass
        ready, _, _ = select.select([self.process.stdout], [], [], timeout)
        answer = self.process.stdout.readline() if ready else ""
        if not answer:
            self.process.kill()
            rc, log = self.stop()
            pytest.fail("%s: the child ended (rc %s) or took over %ds; its stderr ends:\n%s" % (case, rc, timeout, log),
                        pytrace=False)
        return json.loads(answer)

    def stop(self):
        """Ends the child: its exit status and the end of its stderr."""
        if self.process is None:
            return 0, ""
        try:
            self.process.stdin.close()
        except OSError:
            pass
        rc = self.process.wait()
        self.process.stdout.close()
        self.log.seek(0)
        log = self.log.read()[-5000:]
        self.log.close()
        self.process = None
        return rc, log


@pytest.fixture(scope="module")
def worker(tmp_path_factory):
    worker = Worker(str(tmp_path_factory.mktemp("hostile")))
    yield worker
    rc, log = worker.stop()
    assert rc == 0, "the child ended with rc %s; its stderr ends:\n%s" % (rc, log)


@pytest.mark.parametrize("case", CASES)
def test_members_survive_hostile_callbacks(case, worker):
    """The member returns what it returns or raises an error that a caller
    may see, in a child that a crash ends; afterwards the tables are sound."""
    report = worker.run(case)
    assert "error" not in report, report.get("error")
    outcomes = report["outcomes"]
    assert sum(outcomes.values()) > 0, outcomes


# Each scenario removes the member whose body is running (its last
# reference) from its class, from Python code that the body itself calls.
DELETED_WHILE_RUNNING = {
    "Parameter.__init__ through clone": """
        class Evil(list):
            def __iter__(self):
                drop(yv.Parameter, "__init__")
        p = yv.Parameter(); p["x"] = [Evil()]
        attempt(p.clone)""",
    "Parameter.__init__ through from_dict": """
        class Evil(list):
            def __iter__(self):
                drop(yv.Parameter, "__init__")
        attempt(lambda: yv.Parameter.from_dict({"name": "n", "description": {"default": ""}, "attributes": {"x": Evil()}}))""",
    "ParameterBook.__init__ through clone": """
        class Sub(yv.Parameter):
            def clone(self):
                drop(yv.ParameterBook, "__init__")
        book = yv.ParameterBook(); book["s"] = Sub()
        attempt(book.clone)""",
    "__getattr__ of each class": """
        class Key(str):
            def __hash__(self):
                return hash("k")
            def __eq__(self, other):
                drop(self.cls, "__getattr__")
        for cls, value in ((yv.Parameter, 1), (yv.ParameterBook, yv.Parameter()),
                           (yv.ParameterDirectory, yv.ParameterBook())):
            obj = cls(); obj["k"] = value
            key = Key("missing"); key.cls = cls
            attempt(lambda: getattr(obj, key))""",
}


@pytest.mark.parametrize("scenario", sorted(DELETED_WHILE_RUNNING))
def test_members_deleted_while_their_body_runs(scenario):
    result = run_python("""
        import yol_vovoruze as yv
        def drop(cls, name):
            if name in vars(cls):
                delattr(cls, name)
            raise RuntimeError("dropped")
        def attempt(call):
            try:
                call()
            except Exception:
                pass
    """ + DELETED_WHILE_RUNNING[scenario] + """
        print("survived")
    """)
    assert (result.returncode, result.stdout.strip()) == (0, "survived"), result.stderr
