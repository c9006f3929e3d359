"""Correct uses of yol_vovoruze whose types mypy must infer exactly (never run).

`assert_type` fails the check when a type drifts, to `Any` included."""
from typing import Any, Callable, Dict, List, Tuple, Union

from typing_extensions import Literal, assert_type

import yol_vovoruze as yv
from yol_vovoruze import AttributeValue, ParameterDict

Item = Union[yv.ParameterBook, yv.ParameterDirectory]

# Variables of narrower container types are accepted as values (list and dict are invariant).
limits: List[int] = [0, 3000]
gains: Dict[str, float] = {"p": 1.2}
table: List[List[complex]] = [[1j]]
speed = yv.Parameter({"default": "Speed", "de_DE": "Drehzahl"}, value=1200, limits=limits, gains=gains, table=table)
speed.limits = limits
speed["gains"] = gains
speed.nested = [1, "a", [2.5, {"b": [True]}]]

# Reads give the value type, to be narrowed before use.
assert_type(speed.value, AttributeValue)
assert_type(speed["value"], AttributeValue)
assert_type(speed.get("value"), Union[AttributeValue, None])
assert_type(speed.get("value", 0), Union[AttributeValue, int])
assert_type(speed.get("value", None, True), AttributeValue)
assert_type(speed.get("value", raise_if_none=True), AttributeValue)
value = speed.value
if isinstance(value, int):
    assert_type(value + 1, int)
assert_type(speed.description, str)
assert_type(speed.get_description("de_DE"), str)
assert_type(speed.all_descriptions(), Dict[str, str])
assert_type(speed.clone(), yv.Parameter)
assert_type(list(speed.names()), List[str])
assert_type(dict(speed.items()), Dict[str, AttributeValue])

form = speed.to_dict("speed")
assert_type(form, ParameterDict)
assert_type(form["attributes"], Dict[str, AttributeValue])
assert_type(yv.Parameter.from_dict(form), Tuple[str, yv.Parameter])
assert_type(yv.Parameter.from_dict({"name": "n", "description": {"default": ""}, "attributes": {}}),
            Tuple[str, yv.Parameter])

# Books and directories: attribute and item reads, views, copies, files.
motor = yv.ParameterBook({"speed": speed})
motor.torque = yv.Parameter("Torque", value=2.5)
assert_type(motor.speed, yv.Parameter)
assert_type(motor["torque"].unit, AttributeValue)
assert_type(yv.ParameterBook(motor), yv.ParameterBook)
assert_type(dict(motor.items()), Dict[str, yv.Parameter])
assert_type(str(motor), str)
assert_type(yv.ParameterBook.load("motor.yolpt"), yv.ParameterBook)
assert_type(yv.ParameterBook.ExtName, str)
motor.save("cfg/motor", auto_append_extend_name=False)
motor.rename("torque", "moment")

books: Dict[str, yv.ParameterBook] = {"left": motor}
tree = yv.ParameterDirectory({"motors": yv.ParameterDirectory(books), "safety": motor.clone()})
tree.spare = motor
assert_type(tree.motors, Item)
assert_type(tree["motors"], Item)
assert_type(dict(tree.items()), Dict[str, Item])
assert_type(yv.ParameterDirectory.load("cfg"), yv.ParameterDirectory)
assert_type(yv.ParameterDirectory._backup_books_in_this_directory("cfg"), List[str])
motors = tree.motors
if isinstance(motors, yv.ParameterDirectory):
    left = motors.left
    if isinstance(left, yv.ParameterBook):
        assert_type(left.speed.value, AttributeValue)
tree.save("cfg")

# Module constants.
assert_type(yv.LIMIT_MODE_RELATIVE_PERCENTAGE, Literal[2])
invalid: str = yv.InvalidNameCharacters
assert_type(yv._clone_attribute(limits), AttributeValue)
assert_type(yv._value_cls_map, Dict[str, Callable[..., Any]])
