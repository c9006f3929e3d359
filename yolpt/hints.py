"""What a message suggests: the names nearest to one that is missing, and the
way to ask for what was refused, in the words of whoever asked (the options
of a command, or the arguments of a Python function)."""
import difflib
from typing import Iterable, List, Optional

# How many names a message lists when none is near the missing one.
LISTED = 6


class Wording:
    """How messages name the ways to ask for more: None where there is none.
    `create`, `string` and `non_finite` are whole phrases; `type` is a
    pattern for the type's name."""

    def __init__(self, value: str, description: str, create: Optional[str] = None, type: Optional[str] = None,
                 string: Optional[str] = None, non_finite: Optional[str] = None) -> None:
        self.value = value              # what the value is called: "VALUE"
        self.description = description  # how a description is asked for: "--description LANG"
        self.create = create            # "--create"
        self.type = type                # "--type %s"
        self.string = string            # "--string"
        self.non_finite = non_finite    # "--non-finite"

    def as_type(self, type_name: str) -> Optional[str]:
        return None if self.type is None else self.type % type_name


COMMAND = Wording("VALUE", "--description LANG", "--create", "--type %s", "--string", "--non-finite")
READING = Wording("VALUE", "--description LANG")  # get, which changes nothing
PYTHON = Wording("the value", "description=LANG", "create=True", "as_type=%r", "as_type='string'",
                 "non_finite=True")
FINDING = Wording("the value", "description=LANG")  # find, which changes nothing
OVERRIDE = Wording("the value", "description=LANG", create="create=True", non_finite="non_finite=True")
ENVIRONMENT = Wording("the value", "description=LANG", non_finite="non_finite=True")


def nearest(name: str, names: Iterable[str]) -> List[str]:
    """The names that `name` may have been meant for: the same but for case,
    then the closest by spelling."""
    names = [str(other) for other in names]
    found = [other for other in names if other != name and other.lower() == name.lower()]
    for other in difflib.get_close_matches(name, names, n=3, cutoff=0.6):
        if other not in found:
            found.append(other)
    return found[:3]


def missing(what: str, name: str, present: Iterable[str], owner: Optional[str] = None,
            create: Optional[str] = None) -> str:
    """"no parameter 'sped'; did you mean 'speed'?", else the names there
    are, and the way to create it where there is one."""
    names = sorted(str(other) for other in present)
    text = "%s %s %r" % (owner + " has no" if owner else "no", what, name)
    close = nearest(name, names)
    if close:
        text += "; did you mean %s?" % " or ".join(repr(other) for other in close)
    elif not names:
        text += " (there is no %s)" % what
    elif len(names) <= LISTED:
        text += " (%s: %s)" % (plural_noun(what, len(names)), ", ".join(repr(other) for other in names))
    if create:
        text += " (%s adds %r)" % (create, name) if close else "; %s adds it" % create
    return text


def plural_noun(noun: str, count: int) -> str:
    if count == 1:
        return "the only " + noun
    return "the " + (noun[:-1] + "ies" if noun.endswith("y") else noun + "s")
