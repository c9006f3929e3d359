"""Mistakes that the stubs must let mypy and pyright find (never run).

A line that ends in `# expect:` and mypy's error codes must draw exactly
those codes from `mypy --strict` and at least one error from pyright's strict
mode; with `(mypy only)` after the codes, pyright must accept it. Every other
line must pass both: the last section holds mistakes that no type checker can
see here, so that what is not caught is known too. check.py compares."""
import pathlib
from typing import Dict, List

import yol_vovoruze as yv

speed = yv.Parameter("Speed", value=1200)
motor = yv.ParameterBook({"speed": speed})
tree = yv.ParameterDirectory({"motor": motor})
folder = pathlib.Path("cfg")

# Arguments of the wrong type: a pathlib.Path is no str, and the module refuses it.
motor.save(folder / "motor.yolpt")  # expect: arg-type
yv.ParameterBook.load(folder / "motor.yolpt")  # expect: arg-type
tree.save(folder)  # expect: arg-type
yv.ParameterDirectory.load(pathlib.Path("cfg"))  # expect: arg-type
motor.save(123)  # expect: arg-type
motor.save(filename=b"motor.yolpt")  # expect: arg-type
yv.ParameterBook.load(123)  # expect: arg-type
tree.save(None)  # expect: arg-type
speed.get(5)  # expect: call-overload
speed.set_description(5)  # expect: arg-type
speed.to_dict(("speed",))  # expect: arg-type
motor.rename("speed", 2)  # expect: arg-type
yv.Parameter.from_dict("speed")  # expect: arg-type
yv.Parameter(5)  # expect: arg-type
yv.Parameter({"default": 1})  # expect: dict-item

# Values of kinds that a parameter cannot hold, given to the constructor or by item.
yv.Parameter("d", value=None)  # expect: arg-type
yv.Parameter("d", value=object())  # expect: arg-type
yv.Parameter("d", limits=(0, 10))  # expect: arg-type
yv.Parameter("d", raw=b"\x00")  # expect: arg-type
yv.Parameter("d", values=[1, None])  # expect: list-item
yv.Parameter("d", table={"a": {1, 2}})  # expect: dict-item
speed["value"] = None  # expect: assignment
speed["value"] = object()  # expect: assignment
speed["value"] = (1, 2)  # expect: assignment

# Dict keys other than str: a save writes them as strings, so a load gives other keys.
yv.Parameter("d", table={1: "one"})  # expect: dict-item
speed["table"] = {1: 2.0}  # expect: dict-item
yv.Parameter({1: "Speed"})  # expect: dict-item
numbered: Dict[int, float] = {1: 2.0}
yv.Parameter("d", table=numbered)  # expect: arg-type

# A str, a number, a book or a directory where another kind is needed.
motor["x"] = 5  # expect: assignment
motor.speed = "fast"  # expect: assignment
motor.accel = None  # expect: assignment
motor["speed"] = motor  # expect: assignment
yv.ParameterBook({"speed": "fast"})  # expect: dict-item
tree.motor = speed  # expect: assignment
tree["motor"] = speed  # expect: assignment
yv.ParameterDirectory({"motor": speed})  # expect: dict-item

# Misspelt methods: of a class, where reads of items do not reach; of a book,
# whose reads give a Parameter, which is not callable; misspelt module names.
yv.ParameterBook.lod("motor.yolpt")  # expect: attr-defined
yv.ParameterDirectory.laod("cfg")  # expect: attr-defined
yv.Parameter.form_dict(speed.to_dict("speed"))  # expect: attr-defined
motor.sav("motor")  # expect: operator
motor.nmaes()  # expect: operator
yv.ParameterBok()  # expect: attr-defined

# Misspelt keywords, missing and extra arguments, keywords for positional-only arguments.
motor.save("motor", auto_append_extension=False)  # expect: call-arg
speed.set_description("Drehzahl", locale="de_DE")  # expect: call-arg
speed.get("value", raise_if_missing=True)  # expect: call-overload
yv.ParameterBook(parameter={"speed": speed})  # expect: call-arg
motor.save("motor", True, "utf8")  # expect: call-arg
speed.clone(True)  # expect: call-arg
tree.rename("motor", "drive", "left")  # expect: call-arg
speed.get_description("de_DE", "default")  # expect: call-arg
yv.ParameterBook.load(filename="motor.yolpt")  # expect: call-arg
yv.ParameterDirectory.load(directory="cfg")  # expect: call-arg
speed.to_dict()  # expect: call-arg
speed.description = "Speed"  # expect: misc

# Results used the wrong way.
written = motor.save("motor")  # expect: func-returns-value (mypy only)
names: List[str] = motor.names()  # expect: assignment
text: str = speed.get("unit")  # expect: assignment
book: yv.ParameterBook = motor.speed  # expect: assignment
name, parameter, extra = yv.Parameter.from_dict(speed.to_dict("speed"))  # expect: misc

# Not caught. A read of a parameter or a directory may be any value or item,
# so a misspelt method called on one reads an item of that name, typed Any,
# and a misspelt attribute name is no error either: each raises KeyError at
# run time. Attribute assignment to a parameter takes Any, as its reads give.
speed.nmaes()
speed.clnoe()
tree.sav("cfg")
tree.motor.sav("motor")
print(speed.vlaue)
speed.value = None
tree.motor.speed.value = object()
