"""The Python functions of the yolpt package, on trees in memory: addresses,
the typing rules of `yolpt set`, overrides from a command line and from the
environment, and differences."""
import json
import os
import sys

import pytest

import yolpt
from yol_vovoruze import Parameter, ParameterBook, ParameterDirectory


def machine():
    speed = Parameter({"default": "Speed", "de_DE": "Drehzahl"}, value=1200, unit="rpm", limits=[0, 3000])
    motion = ParameterBook({"speed": speed, "gain": Parameter(value=2.5, on=True, table={"a": 1, "b": [1.5]})})
    return ParameterDirectory({"arm": ParameterDirectory({"motion": motion}), "plant": ParameterBook()})


def text(value):
    return json.dumps(value)  # 3.0 is not 3, NaN is NaN


class Refused(str):
    """An outcome: the error raised, with this in its message."""


@pytest.fixture
def tree():
    return machine()


def test_find_reads_what_an_address_names(tree):
    motion = tree.arm.motion
    motion["a.b"] = Parameter(x=1)
    assert yolpt.find(tree, "arm/motion.speed.value") == 1200
    assert yolpt.find(tree, "arm/motion.speed.limits") is motion.speed.limits  # the object stored
    for address, whole in (("arm/", tree.arm), ("arm", tree.arm), ("arm/motion", motion), ("plant", tree.plant),
                           ("arm/motion.speed", motion.speed), ("arm/motion.a.b", motion["a.b"])):
        assert yolpt.find(tree, address) is whole
    assert yolpt.find(tree, "arm/motion.a.b.x") == 1
    assert yolpt.find(motion, "speed.unit") == "rpm" and yolpt.find(motion.speed, "unit") == "rpm"
    assert yolpt.find(tree, "arm/motion.speed", description="de_DE") == "Drehzahl"
    assert yolpt.find(motion, "speed", description="default") == "Speed"
    assert yolpt.assign(motion.speed, "value", 7) == 7 and yolpt.find(tree, "arm/motion.speed.value") == 7


@pytest.mark.parametrize("address, language, error, message", [
    ("arm.motion.speed.value", None, yolpt.NotFound, "the tree: 'arm' is a folder, not a book: folders are "
                                                     "separated by '/', as in arm/motion.speed.value"),
    ("arm/motion/speed.value", None, yolpt.NotFound, "arm/: 'motion' is a book, not a folder"),
    ("arn/motion.speed.value", None, yolpt.NotFound, "the tree: no folder 'arn'; did you mean 'arm'?"),
    ("arm/motoin.speed.value", None, yolpt.NotFound, "arm/: no book 'motoin'; did you mean 'motion'?"),
    ("arm/motion.sped.value", None, yolpt.NotFound, "arm/motion: no parameter 'sped'; did you mean 'speed'?"),
    ("arm/motion.speed.vlue", None, yolpt.NotFound, "has no attribute 'vlue'; did you mean 'value'?"),
    ("arm/motion.speed", "fr_FR", yolpt.NotFound, "arm/motion.speed has no description in 'fr_FR'"),
    ("arm/motion.speed", "de", yolpt.NotFound, "did you mean 'de_DE'?"),
    ("arm/motion.speed.value", "de_DE", yolpt.UsageError, "names the attribute 'value' of the parameter 'speed'"),
    ("", None, yolpt.UsageError, "the address is empty"),
])
def test_find_says_what_is_missing(tree, address, language, error, message):
    with pytest.raises(error) as raised:
        yolpt.find(tree, address, description=language)
    assert message in str(raised.value) and "create=True" not in str(raised.value)
    assert isinstance(raised.value, KeyError if error is yolpt.NotFound else ValueError)


@pytest.mark.parametrize("address, value, options, outcome", [
    ("arm/motion.speed.value", 1500, {}, 1500),
    ("arm/motion.gain.value", 3, {}, 3.0),  # an integer where a float is: that float
    ("arm/motion.speed.value", 2.5, {"as_type": "float"}, 2.5),
    pytest.param("arm/motion.speed.value", 10 ** 5000, {}, 10 ** 5000, id="more digits than str() converts"),
    ("arm/motion.gain.value", float("nan"), {"non_finite": True}, float("nan")),
    ("arm/motion.gain.table", {"b": [2.5], "a": 1}, {}, {"b": [2.5], "a": 1}),
    ("arm/new/deep.p.x", [1], {"create": True}, [1]),
    ("arm/motion.speed", "Vitesse", {"description": "fr_FR"}, "Vitesse"),
    ("plant.p", "P", {"description": "default", "create": True}, "P"),
    ("arm/motion.speed.value", 2.5, {}, Refused("holds an integer (1200); the value 2.5 is a float: not changed, as "
                                                "that changes the type. as_type='float' stores it as a float")),
    ("arm/motion.speed.value", "1500", {}, Refused("the value '1500' is a string")),
    ("arm/motion.speed.value", "x", {"as_type": "integer"}, Refused("the value 'x' is a string, not an integer")),
    ("arm/motion.gain.value", float("inf"), {}, Refused("holds Infinity, a number that most JSON readers other than "
                                                        "Python's refuse: not changed (non_finite=True stores it all "
                                                        "the same)")),
    ("arm/motion.gain.value", 9007199254740993, {}, Refused("has no float of exactly its value")),
    ("arm/motion.speed.value", None, {}, Refused("the value is None")),
    ("arm/motion.speed.limits", [0, (1, 2)], {}, Refused("holds (1, 2), a tuple, which JSON has no form for")),
    ("arm/motion.speed.value", 1, {"as_type": "number"}, Refused("as_type is one of integer, float")),
    ("arm/new.p.x", 1, {}, Refused("arm/: no book 'new' (the only book: 'motion'); create=True adds it")),
    ("arm/motion.speed.description", "x", {"create": True},
     Refused("the address arm/motion.speed with description=LANG")),
    ("arm/motion.speed", 5, {"description": "default"}, Refused("a description is a str")),
])
def test_assign_follows_the_rules_of_set(tree, address, value, options, outcome):
    if isinstance(outcome, Refused):
        with pytest.raises(yolpt.Error) as raised:
            yolpt.assign(tree, address, value, **options)
        assert outcome in str(raised.value) and yolpt.same(tree, machine())  # nothing changed
        return
    stored = yolpt.assign(tree, address, value, **options)
    assert text(stored) == text(outcome) if isinstance(outcome, float) else stored == outcome
    found = yolpt.find(tree, address, description=options.get("description"))
    assert found is stored and type(found) is type(outcome)


def test_apply_overrides(tree):
    done = yolpt.apply_overrides(tree, ["arm/motion.speed.value=1500", "arm/motion.gain.value=3",
                                        "arm/motion.speed.unit=a=b", "arm/motion.speed.limits=[1, 2]"])
    assert done == {"arm/motion.speed.value": 1500, "arm/motion.gain.value": 3.0, "arm/motion.speed.unit": "a=b",
                    "arm/motion.speed.limits": [1, 2]}
    assert text(tree.arm.motion.gain.value) == "3.0" and tree.arm.motion.speed.unit == "a=b"
    done = yolpt.apply_overrides(tree, ["arm/new.p.x=1", "arm/new.p.y=on", "deep/er/b.p.z=1"], create=True)
    assert list(done) == ["arm/new.p.x", "arm/new.p.y", "deep/er/b.p.z"] and tree.arm.new.p.y == "on"
    assert tree.deep.er.b.p.z == 1


@pytest.mark.parametrize("overrides, error, message", [
    (["arm/motion.speed.value=1500", "arm/motion.speed.value=15OO"], yolpt.UsageError,
     "override 'arm/motion.speed.value=15OO': arm/motion.speed.value holds an integer (1200); the value '15OO' is "
     "not JSON, so it would be stored as a string: not changed, as that changes the type. Write an integer."),
    (["arm/motion.speed.value=1500", "arm/motion.gain.value=NaN"], yolpt.UsageError, "(non_finite=True stores it"),
    (["arm/motion.speed.value"], yolpt.UsageError, "is no override: write ADDRESS=VALUE"),
    ("arm/motion.speed.value=1", yolpt.UsageError, "a list of str such as ['arm/motion.speed.value=1500'], not one"),
    (["arm/motion.speed.value=null"], yolpt.UsageError, "holds null"),
    (["arm/motion.speed.vlue=1"], yolpt.NotFound, "did you mean 'value'? (create=True adds 'vlue')"),
])
def test_apply_overrides_refuses_all_or_nothing(tree, overrides, error, message):
    with pytest.raises(error) as raised:
        yolpt.apply_overrides(tree, overrides)
    assert message in str(raised.value) and yolpt.same(tree, machine())


def test_apply_environment(tree, monkeypatch):
    tree.arm.motion["max-speed"] = Parameter(value=1)
    environment = {"ROBOT_ARM__MOTION__SPEED__VALUE": "1500", "robot_Arm__motion__gain__ON": "false",
                   "ROBOT_ARM__MOTION__MAX_SPEED__VALUE": "2", "ROBOTS_X": "1", "OTHER": "1"}
    for prefix in ("ROBOT", "robot_"):
        assert yolpt.apply_environment(tree, prefix, environment) == {
            "arm/motion.max-speed.value": 2, "arm/motion.speed.value": 1500, "arm/motion.gain.on": False}
    monkeypatch.setenv("ROBOT_SPEED__UNIT", "rps")  # os.environ, when no mapping is given
    assert yolpt.apply_environment(tree.arm.motion, "ROBOT") == {"speed.unit": "rps"}
    assert yolpt.apply_environment(tree.arm.motion.speed, "ROBOT", {"ROBOT_LIMITS": "[1, 2]"}) == {"limits": [1, 2]}
    with pytest.raises(yolpt.UsageError):
        yolpt.apply_environment(tree, "_", environment)  # no prefix: every variable would count


@pytest.mark.parametrize("variable, value, error, message", [
    ("ROBOT_ARM__MOTOIN__SPEED__VALUE", "1", yolpt.NotFound,
     "in arm/, MOTOIN names no folder or book; did you mean ROBOT_ARM__MOTION__SPEED__VALUE?"),
    ("ROBOT_ARM__MOTION__SPEED__VLUE", "1", yolpt.NotFound, "did you mean ROBOT_ARM__MOTION__SPEED__VALUE?"),
    ("ROBOT_ARM__MOTION__SPEED", "1", yolpt.NotFound,
     "in arm/motion, SPEED names the parameter 'speed', not an attribute"),
    ("ROBOT_ARM__MOTION__SPEED__VALUE", "fast", yolpt.UsageError, "holds an integer (1200)"),
    ("ROBOT_ARM__MOTION__GAIN__VALUE", "Infinity", yolpt.UsageError, "non_finite=True"),
    ("ROBOT_ARM__MOTION__GAIN__ON", "1", yolpt.UsageError, "holds a boolean"),
    ("ROBOT_ARM__MOTION__SPEED__UNIT", "x", yolpt.UsageError,
     "names arm/motion.speed.unit and arm/motion.Speed.unit: names that differ only in case"),
])
def test_apply_environment_refuses_all_or_nothing(tree, variable, value, error, message):
    if "Speed" in message:
        tree.arm.motion["Speed"] = Parameter(unit="rpm")
    expected = tree.clone()
    with pytest.raises(error) as raised:
        yolpt.apply_environment(tree, "ROBOT", {"ROBOT_ARM__MOTION__SPEED__LIMITS": "[1]", variable: value})
    assert str(raised.value).startswith("environment variable %s: " % variable) and message in str(raised.value)
    assert yolpt.same(tree, expected)


def test_differences_and_same(tree):
    other = machine()
    assert yolpt.same(tree, other) and yolpt.differences(tree, other) == []
    motion = other.arm.motion
    motion.speed.value = 1200.0  # a float is not the integer
    motion.speed.set_description("Geschwindigkeit", "de_DE")
    motion.gain.table = {"b": [1.5], "a": 1}  # the order of keys does not matter
    del motion.gain.on
    motion.new = Parameter(x=1)
    other.arm.more = ParameterDirectory()
    del other.plant
    lines = [str(difference) for difference in yolpt.differences(tree, other)]
    assert lines == ["+ arm/more/  (folder, 0 books, 0 folders)",
                     "- arm/motion.gain.on: true",
                     "+ arm/motion.new  (parameter)",
                     "+ arm/motion.new.x: 1",
                     '~ arm/motion.speed --description de_DE: "Drehzahl" -> "Geschwindigkeit"',
                     "~ arm/motion.speed.value: 1200 -> 1200.0",
                     "- plant  (book, 0 parameters)"]
    first = yolpt.differences(tree, other)[4]
    assert (first.sign, first.address, first.kind, first.old, first.new, first.language) == (
        "~", "arm/motion.speed", "description", "Drehzahl", "Geschwindigkeit", "de_DE")
    assert yolpt.differences(tree, other)[2].new is motion.new
    assert not yolpt.same(tree, other) and not yolpt.same(tree.arm.motion, motion)
    assert yolpt.same(Parameter(x=float("nan")), Parameter(x=float("nan")))
    assert not yolpt.same(Parameter(x=1), Parameter(x=True)) and not yolpt.same(tree, tree.plant)
    with pytest.raises(yolpt.UsageError):
        yolpt.differences(tree, tree.plant)


@pytest.mark.skipif(sys.version_info < (3, 8), reason="importlib.metadata lists installed files from 3.8 on")
def test_the_package_is_installed_as_typed():
    from importlib import metadata
    files = metadata.files("yol_vovoruze") or []
    assert any(str(path).replace(os.sep, "/") == "yolpt/py.typed" for path in files)
