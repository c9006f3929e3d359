"""Correct uses of yol_vovoruze that `mypy --strict` and pyright's strict mode
must pass without an error, with the types they infer pinned (never run).

`assert_type` fails the check when a type drifts: a read typed `Any` that
became a union fails it as much as the reverse."""
import os
from pathlib import Path
from typing import Any, Callable, Dict, List, Tuple, Union

from typing_extensions import Literal, assert_type

import yol_vovoruze as yv
from yol_vovoruze import ParameterDict

# A robot's configuration as a user's script reads and changes it: values are
# read as data read from a file is, with nothing to narrow.
tree = yv.ParameterDirectory.load("robot")
print(tree.arm.motion.speed.value, tree.arm.motion.speed.unit)
print(tree["arm"]["motion"]["speed"]["value"])
motion = tree.arm.motion
if motion.speed.value > 1000:
    motion.speed.value = int(motion.speed.value) // 2
rpm = int(motion.speed.value)
ramp = 2.0 * motion.accel.value / rpm
motion.speed.value += 100
tree.base.wheels.limits.value.append(4)
gains = tree.arm.control.pid
print("output:", gains.p * 1.5 + gains.i - gains.d, "ramp:", round(ramp, 3))
print("left wheel", "fast" if tree.base.wheels.left.value >= 2 * rpm else "slow")
print("deadband:", motion.speed.get("deadband", 0) + 5)
for name, item in tree.items():
    print(name, ", ".join(sorted(item.names())))
spare = yv.ParameterDirectory.load("spare")
tree.arm = spare.arm
print(tree.arm.motion.speed.value > 1000, tree["arm"].motion.speed.unit)
motion.save(os.path.join("robot", "arm", "motion"))
tree.save(str(Path("robot")))

# The same with a book and a parameter that are typed: reads after an
# assignment are still Any, by attribute and by item.
def speed_up(book: yv.ParameterBook, by: int) -> None:
    book.speed.value += by
    book.speed["value"] -= 1
    if book.speed.value > 2000 or book.speed["value"] < book.speed.limits[0]:
        book.speed.value = book.speed.limits[1]
    book.speed.limits.append(book.speed.value * 2)
    book.accel = book.speed.clone()
    book.accel.value = 2.0 * book.accel.value
    print(book.accel.value.real, book.accel.get_description("de_DE"))


# In a typed function, annotating a read gives the value its type.
def rated_speed(tree: yv.ParameterDirectory, arm: str = "arm") -> int:
    speed: int = tree[arm].motion.speed.value
    return speed


def motion_book(tree: yv.ParameterDirectory) -> yv.ParameterBook:
    book: yv.ParameterBook = tree.arm.motion
    return book


def limits_of(parameter: yv.Parameter) -> List[int]:
    return [int(limit) for limit in parameter.limits]


# Variables of narrower container types are accepted as values (list and dict are invariant).
limits: List[int] = [0, 3000]
gains_table: Dict[str, float] = {"p": 1.2}
table: List[List[complex]] = [[1j]]
speed = yv.Parameter({"default": "Speed", "de_DE": "Drehzahl"}, value=1200, limits=limits, gains=gains_table,
                     table=table)
speed.limits = limits
speed["gains"] = gains_table
speed.nested = [1, "a", [2.5, {"b": [True]}]]
speed.value = speed.value * 2

# Reads of a parameter are typed Any, also through get(); narrowing still works.
assert_type(speed.value, Any)
assert_type(speed["value"], Any)
assert_type(speed.get("value"), Union[Any, None])
assert_type(speed.get("value", 0), Union[Any, int])
assert_type(speed.get("value", None, True), Any)
assert_type(speed.get("value", raise_if_none=True), Any)
value = speed.value
if isinstance(value, int):
    assert_type(value + 1, int)
assert_type(speed.description, str)
assert_type(speed.get_description("de_DE"), str)
assert_type(speed.all_descriptions(), Dict[str, str])
assert_type(speed.clone(), yv.Parameter)
assert_type(list(speed.names()), List[str])
assert_type(dict(speed.items()), Dict[str, Any])

form = speed.to_dict("speed")
assert_type(form, ParameterDict)
assert_type(form["attributes"], Dict[str, Any])
assert_type(yv.Parameter.from_dict(form), Tuple[str, yv.Parameter])
assert_type(yv.Parameter.from_dict({"name": "n", "description": {"default": ""}, "attributes": {}}),
            Tuple[str, yv.Parameter])

# Reads of a book give parameters; reads of a directory are typed Any.
motor = yv.ParameterBook({"speed": speed})
motor.torque = yv.Parameter("Torque", value=2.5)
assert_type(motor.speed, yv.Parameter)
assert_type(motor["torque"].unit, Any)
assert_type(yv.ParameterBook(motor), yv.ParameterBook)
assert_type(dict(motor.items()), Dict[str, yv.Parameter])
assert_type(str(motor), str)
assert_type(yv.ParameterBook.load("motor.yolpt"), yv.ParameterBook)
assert_type(yv.ParameterBook.ExtName, str)
motor.save("cfg/motor", auto_append_extend_name=False)
motor.rename("torque", "moment")

books: Dict[str, yv.ParameterBook] = {"left": motor}
machine = yv.ParameterDirectory({"motors": yv.ParameterDirectory(books), "safety": motor.clone()})
machine.spare = motor
machine["backup"] = machine.spare.clone()
assert_type(machine.motors, Any)
assert_type(machine["motors"], Any)
assert_type(dict(machine.items()), Dict[str, Any])
assert_type(yv.ParameterDirectory.load("cfg"), yv.ParameterDirectory)
assert_type(yv.ParameterDirectory._backup_books_in_this_directory("cfg"), List[str])
motors = machine.motors
if isinstance(motors, yv.ParameterDirectory):
    left = motors.left
    if isinstance(left, yv.ParameterBook):
        assert_type(left.speed, yv.Parameter)
machine.save("cfg")

# Module constants.
assert_type(yv.LIMIT_MODE_RELATIVE_PERCENTAGE, Literal[2])
invalid: str = yv.InvalidNameCharacters
assert_type(yv._clone_attribute(limits), Any)  # pyright: ignore[reportPrivateUsage]
assert_type(yv._value_cls_map, Dict[str, Callable[..., Any]])  # pyright: ignore[reportPrivateUsage]
