"""Overrides of a tree's values when a program starts: from its command line
(ADDRESS=VALUE, as `yolpt set` takes an address and a VALUE) and from its
environment (PREFIX_ARM__MOTION__SPEED__VALUE=1500).

Either way the value is read as `yolpt set` reads VALUE (JSON, a bare word as
a string) and keeps the JSON type of the value it replaces. All overrides are
checked before any is stored: one that is refused leaves the tree unchanged."""
import os
import string
from typing import Any, Dict, Iterable, List, Mapping, Optional, Tuple

from yol_vovoruze import Parameter, ParameterBook, ParameterDirectory

from yolpt import hints, value_types
from yolpt.errors import Error, NotFound, UsageError
from yolpt.tree import Spot, Tree, fitted, locate

# An environment variable's name: a separator between segments, and the
# characters that stand for themselves in a segment.
SEPARATOR = "__"
_KEPT = frozenset(string.ascii_letters + string.digits)


def apply_overrides(tree: Tree, overrides: Iterable[str], create: bool = False,
                    non_finite: bool = False) -> Dict[str, Any]:
    """Applies overrides such as "arm/motion.speed.value=1500" (the address
    before the first "=", the VALUE after it) to `tree`, as `yolpt set` would
    change the book files, and returns {address: value stored} in their
    order. A value of another JSON type than the one it replaces is refused;
    so are NaN and the infinities unless `non_finite`; `create` makes missing
    attributes, parameters, books and folders.

    Raises NotFound (a KeyError) or UsageError (a ValueError), naming the
    override, before anything is changed."""
    if isinstance(overrides, str):
        raise UsageError("overrides are a list of str such as ['arm/motion.speed.value=1500'], not one str")
    planned: List[Tuple[Spot, Any]] = []
    for override in overrides:
        if not isinstance(override, str):
            raise UsageError("an override is a str such as 'arm/motion.speed.value=1500', not %s"
                             % type(override).__name__)
        address, equals, text = override.partition("=")
        if not equals:
            raise UsageError("%r is no override: write ADDRESS=VALUE, as in arm/motion.speed.value=1500" % override)
        try:
            reading = value_types.read(text, None, hints.OVERRIDE)
            spot = locate(tree, address, attribute_needed=True, creating=create, wording=hints.OVERRIDE)
            planned.append((spot, fitted(spot, reading, None, non_finite, hints.OVERRIDE)))
        except Error as exc:
            raise _about(exc, "override %r" % override)
    return _store(planned)


def apply_environment(tree: Tree, prefix: str, environ: Optional[Mapping[str, str]] = None,
                      non_finite: bool = False) -> Dict[str, Any]:
    """Applies the environment variables named PREFIX_ followed by an address
    (os.environ, or `environ`) to the attributes of `tree` that they name,
    and returns {address: value stored}, in the order of the variables' names.

    The segments of the address, the names of its folders, book, parameter
    and attribute from the top of the tree down, are separated by "__":
    ROBOT_ARM__MOTION__SPEED__VALUE=1500 sets arm/motion.speed.value below
    the tree (motion.speed.value in a book). A segment is matched against a
    name without regard to case, and each character of the name other than
    an ASCII letter or digit matches "_" (max-speed is MAX_SPEED). A
    variable must name an existing attribute: one that names nothing, or
    two things that it cannot tell apart, is refused. Values are read as
    `yolpt set` reads VALUE and keep the type of the value they replace;
    NaN and the infinities are refused unless `non_finite`.

    Raises NotFound (a KeyError) or UsageError (a ValueError), naming the
    variable, before anything is changed."""
    if not prefix.strip("_"):
        raise UsageError("the prefix of the variables is empty: every variable of the environment would be read")
    head = prefix if prefix.endswith("_") else prefix + "_"
    variables = os.environ if environ is None else environ
    planned: List[Tuple[Spot, Any]] = []
    for variable in sorted(variables):
        if not variable.upper().startswith(head.upper()):
            continue
        try:
            spot = _spot_of_variable(tree, variable, len(head))
            reading = value_types.read(variables[variable], None, hints.ENVIRONMENT)
            planned.append((spot, fitted(spot, reading, None, non_finite, hints.ENVIRONMENT)))
        except Error as exc:
            raise _about(exc, "environment variable %s" % variable)
    return _store(planned)


def variable_form(name: str) -> str:
    """A name as a segment of an environment variable writes it: upper case,
    and "_" for each character other than an ASCII letter or digit."""
    return "".join(character.upper() if character in _KEPT else "_" for character in name)


def _store(planned: List[Tuple[Spot, Any]]) -> Dict[str, Any]:
    done: Dict[str, Any] = {}
    for spot, value in planned:
        assert spot.attribute is not None
        spot.holder()[spot.attribute] = value
        done[spot.address] = value
    return done


def _about(exc: Error, what: str) -> Error:
    message = "%s: %s" % (what, exc)
    if isinstance(exc, NotFound):
        return NotFound(message)
    if isinstance(exc, UsageError):
        return UsageError(message)
    return Error(message, exc.status)


# A path through a tree: (name, item) from the top down to an attribute (whose item is None).
_Path = List[Tuple[str, Any]]


def _children(node: Any) -> List[Tuple[str, Any]]:
    if isinstance(node, Parameter):
        return [(name, None) for name in node.names()]
    return list(node.items())


def _paths(node: Any, rest: str) -> List[_Path]:
    """Every path from `node` to an attribute that `rest` names."""
    found: List[_Path] = []
    for name, item in _children(node):
        form = variable_form(name)
        if isinstance(node, Parameter):
            if rest.upper() == form:
                found.append([(name, None)])
        elif rest.upper().startswith(form + SEPARATOR):
            found += [[(name, item)] + path for path in _paths(item, rest[len(form) + len(SEPARATOR):])]
    return found


def _address(tree: Tree, path: _Path) -> str:
    names = [name for name, _ in path]
    if isinstance(tree, ParameterDirectory):
        folders = len(names) - 3
        return "".join(name + "/" for name in names[:folders]) + ".".join(names[folders:])
    return ".".join(names)


def _spot_of_variable(tree: Tree, variable: str, start: int) -> Spot:
    paths = _paths(tree, variable[start:])
    if not paths:
        raise NotFound(_why_nothing(tree, variable, start))
    if len(paths) > 1:
        raise UsageError("names %s: names that differ only in case, or in characters other than letters and "
                         "digits, are one in a variable's name; apply_overrides tells them apart"
                         % " and ".join(_address(tree, path) for path in paths))
    path = paths[0]
    spot = Spot(_address(tree, path))
    holders = [tree] + [item for _, item in path[:-1]]
    parameter = holders[-1]
    assert isinstance(parameter, Parameter), "a path ends at an attribute of a parameter"
    spot.parameter = parameter
    spot.parameter_name = path[-2][0] if len(path) > 1 else None
    spot.attribute = path[-1][0]
    if len(holders) > 1 and isinstance(holders[-2], ParameterBook):
        spot.book = holders[-2]
    return spot


def _why_nothing(tree: Tree, variable: str, start: int) -> str:
    """Where the walk down the tree that the variable's segments make stops, and the nearest names there."""
    node: Any = tree
    at = start
    taken: List[str] = []
    while True:
        rest = variable[at:]
        forms: Dict[str, str] = {}
        for name, _ in _children(node):
            forms.setdefault(variable_form(name), name)
        step = [(form, name) for form, name in sorted(forms.items()) if rest.upper().startswith(form + SEPARATOR)]
        if not step or isinstance(node, Parameter):
            break
        form, name = step[0]
        taken.append(name)
        node = dict(_children(node))[name]
        at += len(form) + len(SEPARATOR)
    segment = variable[at:].split(SEPARATOR)[0]
    place = "in %s, " % _address_so_far(tree, taken) if taken else "in the tree, "
    kind = "attribute" if isinstance(node, Parameter) else "parameter" if isinstance(node, ParameterBook) \
        else "folder or book"
    if segment.upper() in forms and not isinstance(node, Parameter):
        name = forms[segment.upper()]
        return "%s%s names the %s %r, not an attribute: add %s and the attribute's name" % (
            place, segment, _kind(dict(_children(node))[name]), name, SEPARATOR)
    text = "%s%s names no %s" % (place, segment or "(nothing)", kind)
    near = hints.nearest(segment.upper(), forms)
    if near:
        after = variable[at + len(segment):]
        text += "; did you mean %s?" % " or ".join(variable[:at] + form + after for form in near)
    elif forms and len(forms) <= hints.LISTED:
        text += " (there are %s)" % ", ".join(sorted(forms))
    return text


def _kind(item: Any) -> str:
    return "folder" if isinstance(item, ParameterDirectory) else "book" if isinstance(item, ParameterBook) \
        else "parameter"


def _address_so_far(tree: Tree, names: List[str]) -> str:
    text = ""
    node: Any = tree
    for name in names:
        node = dict(_children(node))[name]
        if isinstance(node, ParameterDirectory):
            text += name + "/"
        else:
            text += ("." if text and not text.endswith("/") else "") + name
    return text
