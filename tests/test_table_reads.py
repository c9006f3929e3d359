"""Reads of the tables (p.x, p["x"], p.get, __getattr__ called directly, copies)
answer as ordinary attribute access to the table would, whatever the class
of the object has become since the last read."""
import sys

import pytest

import yol_vovoruze as yv
from support import entries, settle

TABLES = {yv.Parameter: "_Parameter__attributes", yv.ParameterBook: "_ParameterBook__parameters",
          yv.ParameterDirectory: "_ParameterDirectory__parameters"}
CLASSES = pytest.mark.parametrize("cls", list(TABLES), ids=lambda cls: cls.__name__)


def made_with_x(cls):
    value = yv.Parameter("d") if issubclass(cls, yv.ParameterBook) else \
        yv.ParameterBook() if issubclass(cls, yv.ParameterDirectory) else 7
    made = cls("d") if issubclass(cls, yv.Parameter) else cls()
    made["x"] = value
    return made, value


def reads(made):
    """What each way of reading "x" gives: its value, or its exception's type and module entries."""
    def answer(read):
        try:
            return read()
        except Exception as error:
            return type(error), entries(error)
    found = [answer(lambda: made.x), answer(lambda: made["x"]), answer(lambda: type(made).__getattr__(made, "x"))]
    if isinstance(made, yv.Parameter):
        found += [answer(lambda: made.get("x")), answer(lambda: made.get("x", 5))]
    return found


@CLASSES
def test_reads_follow_the_class_as_it_changes(cls):
    sub = type("Sub", (cls,), {})
    made, value = made_with_x(sub)
    other = {"x": "from the class"}
    for _ in range(3):  # read often enough for the interpreter to specialise its loads
        assert set(map(repr, reads(made))) == {repr(value)}
    # A data descriptor of the table's name stands before the instance dictionary.
    setattr(sub, TABLES[cls], property(lambda self: other))
    assert set(map(repr, reads(made))) == {repr("from the class")}
    delattr(sub, TABLES[cls])
    assert set(map(repr, reads(made))) == {repr(value)}
    # So does a __getattribute__ of the class's own, but for __getattr__,
    # which reads its table past any such lookup.
    sub.__getattribute__ = lambda self, name: other if name == TABLES[cls] else object.__getattribute__(self, name)
    expected = [value, "from the class", value] + ["from the class"] * (2 if cls is yv.Parameter else 0)
    assert list(map(repr, reads(made))) == list(map(repr, expected))
    del sub.__getattribute__
    assert set(map(repr, reads(made))) == {repr(value)}


@CLASSES
def test_reads_of_a_missing_name_or_a_table_of_another_kind(cls):
    made, value = made_with_x(cls)
    member = "yol_vovoruze.%s.__getattr__" % cls.__name__
    with pytest.raises(KeyError) as missing:
        cls.__getattr__(made, "absent")
    assert missing.value.args == ("absent",) and [name for name, _ in entries(missing)] == [member]
    with pytest.raises(AttributeError):
        cls.__getattr__(object.__new__(cls), "x")  # no table at all
    mapping = type("Mapping", (dict,), {})(x=value)
    object.__setattr__(made, TABLES[cls], mapping)
    assert set(map(repr, reads(made))) == {repr(value)}


def test_a_copy_takes_each_member_clone_as_ordinary_access_finds_it():
    book = yv.ParameterBook({"plain": yv.Parameter("d", v=1), "own": yv.Parameter("d", v=2)})
    elsewhere = yv.Parameter("d", v=3)
    object.__setattr__(book["own"], "clone", lambda: elsewhere)  # the instance's own, before the class's
    copied = book.clone()
    assert copied["own"] is elsewhere
    assert copied["plain"] is not book["plain"] and copied["plain"].v == 1
    Sub = type("Sub", (yv.Parameter,), {"clone": property(lambda self: lambda: "from the property")})
    book["own"] = Sub("d")
    vars(book["own"])["clone"] = lambda: "from the instance"  # the property answers first
    assert book.clone()["own"] == "from the property"
    # A lookup of the subclass's own answers before the class's clone.
    watched = {"__getattribute__": lambda self, name: (lambda: "from __getattribute__") if name == "clone"
               else yv.Parameter.__getattribute__(self, name)}
    book["own"] = type("Watched", (yv.Parameter,), watched)("d")
    assert book.clone()["own"] == "from __getattribute__"


def _raising(error):
    def read(self):
        raise error
    return property(read)


class _NonData:
    """A descriptor without __set__: the instance dictionary comes before it."""
    def __init__(self, answer):
        self.answer = answer

    def __get__(self, instance, owner):
        if isinstance(self.answer, Exception):
            raise self.answer
        return self.answer


@CLASSES
def test_a_read_takes_the_class_member_as_the_generic_lookup_does(cls, monkeypatch):
    # On the class itself: a subclass gets the interpreter's own lookup.
    made, value = made_with_x(cls)
    monkeypatch.setattr(cls, "x", _raising(AttributeError("x")), raising=False)
    assert made.x is value  # the descriptor's AttributeError falls back to the table
    monkeypatch.setattr(cls, "x", _raising(LookupError("y")))
    with pytest.raises(LookupError, match="y"):
        made.x
    monkeypatch.setattr(cls, "x", "on the class")
    assert made.x == "on the class"
    object.__setattr__(made, "x", "own")  # the instance's own, before a plain class attribute
    assert made.x == "own"
    monkeypatch.setattr(cls, "x", _NonData("from the descriptor"))
    assert made.x == "own"
    object.__delattr__(made, "x")
    assert made.x == "from the descriptor"
    monkeypatch.setattr(cls, "x", _NonData(AttributeError("x")), raising=False)
    assert made.x is value
    monkeypatch.setattr(cls, "x", _NonData(LookupError("z")), raising=False)
    with pytest.raises(LookupError, match="z"):
        made.x


class _SameHashAsX:
    """A key of another kind whose hash is that of "x": a lookup of "x" beside it runs its __eq__."""
    def __init__(self):
        self.compared = 0

    def __hash__(self):
        return hash("x")

    def __eq__(self, other):
        self.compared += 1
        return False


@CLASSES
def test_reads_follow_the_instance_dictionary_as_it_changes(cls, monkeypatch):
    made, value = made_with_x(cls)
    for _ in range(3):
        assert set(map(repr, reads(made))) == {repr(value)}
    object.__setattr__(made, "x", "own")  # the instance's own comes before the table
    assert made.x == "own" and made["x"] is value
    object.__delattr__(made, "x")
    assert made.x is value
    replaced = {"x": "new"}
    object.__setattr__(made, TABLES[cls], replaced)  # the old table is freed here
    assert set(map(repr, reads(made))) == {repr("new")}
    key = _SameHashAsX()
    vars(made)[key] = None
    for _ in range(5):
        made.x
    assert key.compared >= 5  # compared at every read, as ordinary access compares it
    del vars(made)[key]
    # Names made at run time, each freed before the next takes its place (the
    # interpreter's own cache of class lookups keeps no name this long): on
    # the class, the instance's own and in the table, beside few and many
    # names of the instance's own.
    names = {"table": "t" * 120, "class": "c" * 120, "own": "o" * 120}
    monkeypatch.setattr(cls, names["class"], "from the class", raising=False)  # a subclass has another lookup
    for own_names in (0, 10):
        made, value = made_with_x(cls)
        made[names["table"]] = value
        for name in [names["own"]] + ["own%d" % number for number in range(own_names)]:
            object.__setattr__(made, name, "own")
        expected = {"table": value, "class": "from the class", "own": "own"}
        for turn in range(60):
            side = ("table", "class", "own")[turn % 3]
            assert getattr(made, names[side][:60] + names[side][60:]) is expected[side]


@CLASSES
def test_reads_follow_where_each_class_keeps_the_table(cls):
    # Subclasses that store other attributes first keep the table at another
    # place of their instances' attributes; read in turn, none answers for
    # another, nor once an instance has changed class, or has more attributes
    # than its class's instances share a place for, or its table is gone.
    def storing_first(count):
        def __init__(self, *arguments):
            for number in range(count):
                object.__setattr__(self, "a%d" % number, number)
            cls.__init__(self, *arguments)
        return type("First%d" % count, (cls,), {"__init__": __init__})
    made = [made_with_x(sub) for sub in (cls, storing_first(1), storing_first(3))]
    for turn in range(60):
        instance, value = made[turn % 3]
        assert set(map(repr, reads(instance))) == {repr(value)}
        if turn == 30:  # an instance that changes class keeps its table where it was
            first, last = made[0][0], made[2][0]
            classes = type(last), type(first)
            object.__setattr__(first, "__class__", classes[0])
            object.__setattr__(last, "__class__", classes[1])
    instance, value = made[2]
    for number in range(3, 60):
        object.__setattr__(instance, "a%d" % number, number)
        assert instance["x"] is value and instance.a3 == 3
    for instance, value in made:
        object.__setattr__(instance, TABLES[cls], {"x": "new"})
        assert set(map(repr, reads(instance))) == {repr("new")}
        object.__delattr__(instance, TABLES[cls])
        assert all(isinstance(answer, tuple) and answer[0] is AttributeError for answer in reads(instance))


def test_names_kept_for_the_reads_are_let_go_after_some_thousands():
    # The reads keep each name they key on (so that no str made at a freed
    # one's address meets its answers), but never more than some thousands.
    made = yv.Parameter("d", **{"n%d" % number: number for number in range(5000)})
    first = "".join(["n", "0"])
    before = sys.getrefcount(first)
    assert getattr(made, first) == 0
    kept = sys.getrefcount(first)
    for number in range(1, 5000):
        assert getattr(made, "n%d" % number) == number
    settle()  # the interpreter's own lookup cache keeps names too
    assert sys.getrefcount(first) == before <= kept
