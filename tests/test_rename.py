"""rename of books and directories: it moves the same object to the end under
its new name, refuses with the table unchanged, and checks its arguments."""
import pytest

from support import entries
from yol_vovoruze import Parameter, ParameterBook, ParameterDirectory

# The lines that a rename reports: its def, a missing old name, a new name
# that is taken, an empty new name.
LINES = {ParameterBook: (250, 260, 262, 263), ParameterDirectory: (376, 387, 389, 390)}


class Text(str):
    pass


@pytest.fixture(params=[ParameterBook, ParameterDirectory], ids=lambda cls: cls.__name__)
def abc(request):
    """A book or a directory holding a, b and c."""
    if request.param is ParameterBook:
        return ParameterBook({"a": Parameter("A", v=[1]), "b": Parameter("B", w={"k": 2}), "c": Parameter("C")})
    return ParameterDirectory({"a": ParameterBook({"p": Parameter("P", v=1)}), "b": ParameterDirectory(),
                               "c": ParameterBook()})


def at(container, line_index):
    return [("yol_vovoruze.%s.rename" % type(container).__name__, LINES[type(container)][line_index])]


def test_moves_the_same_object_to_the_end(abc):
    a, b = abc["a"], abc["b"]
    assert abc.rename("a", "z") is None
    assert list(abc.names()) == ["b", "c", "z"] and abc["z"] is a
    with pytest.raises(KeyError):
        abc["a"]
    abc.rename(new="y", old="b")
    assert list(abc.names()) == ["c", "z", "y"] and abc.y is b


@pytest.mark.parametrize("name", ["x", "a", "", None])
def test_the_same_name_does_nothing_even_when_missing(abc, name):
    assert abc.rename(name, name) is None
    assert list(abc.names()) == ["a", "b", "c"]


@pytest.mark.parametrize("old, new, error, message, line_index", [
    ("x", "y", KeyError, "Old name `x` does not exist.", 1),
    (None, "y", KeyError, "Old name `None` does not exist.", 1),
    ("a", "b", KeyError, "New name `b` already exists.", 2),
    ("a", "", AssertionError, None, 3),
    ("a", None, AssertionError, None, 3),
])
def test_refusals_change_nothing(abc, old, new, error, message, line_index):
    items = list(abc.items())
    with pytest.raises(error) as info:
        abc.rename(old, new)
    assert type(info.value) is error
    assert info.value.args == (() if message is None else (message,))
    assert entries(info) == at(abc, line_index)
    assert list(abc.items()) == items


@pytest.mark.parametrize("old, new, message", [
    (1, "b", "Argument 'old' has incorrect type (expected str, got int)"),
    ("a", 2, "Argument 'new' has incorrect type (expected str, got int)"),
    (1, 2, "Argument 'old' has incorrect type (expected str, got int)"),
    (b"a", 2, "Argument 'old' has incorrect type (expected str, got bytes)"),
    ("a", b"z", "Argument 'new' has incorrect type (expected str, got bytes)"),
    (Text("a"), "b", "Argument 'old' has incorrect type (expected str, got Text)"),
    ("a", Text("b"), "Argument 'new' has incorrect type (expected str, got Text)"),
])
def test_type_checks(abc, old, new, message):
    with pytest.raises(TypeError) as info:
        abc.rename(old, new)
    assert str(info.value) == message
    assert entries(info) == []
    assert list(abc.names()) == ["a", "b", "c"]


@pytest.mark.parametrize("call, message", [
    (lambda c: c.rename("a"), "rename() takes exactly 3 positional arguments (2 given)"),
    (lambda c: c.rename("a", "b", "c"), "rename() takes exactly 3 positional arguments (4 given)"),
    (lambda c: c.rename(new="b"), "rename() takes exactly 3 positional arguments (1 given)"),
    (lambda c: c.rename("a", "z", old="b"), "rename() got multiple values for keyword argument 'old'"),
    (lambda c: c.rename("a", "z", nw="b"), "rename() got an unexpected keyword argument 'nw'"),
])
def test_binding(abc, call, message):
    with pytest.raises(TypeError) as info:
        call(abc)
    assert str(info.value) == message
    assert entries(info) == at(abc, 0)
    assert list(abc.names()) == ["a", "b", "c"]
