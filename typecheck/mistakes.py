"""Mistakes that the stubs must let mypy find (never run).

Each line that mypy must report ends in `# expect:` and the codes of the errors
on it; every other line must pass. check.py compares."""
from typing import List

import yol_vovoruze as yv

speed = yv.Parameter("Speed", value=1200)
motor = yv.ParameterBook({"speed": speed})
tree = yv.ParameterDirectory({"motor": motor})

# Arguments of the wrong type.
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

# Values of kinds that a parameter cannot hold.
yv.Parameter("d", value=None)  # expect: arg-type
yv.Parameter("d", limits=(0, 10))  # expect: arg-type
yv.Parameter("d", raw=b"\x00")  # expect: arg-type
yv.Parameter("d", values=[1, None])  # expect: list-item
yv.Parameter("d", table={"a": {1, 2}})  # expect: dict-item
speed.value = None  # expect: assignment
speed["value"] = (1, 2)  # expect: assignment

# A str, a book or a directory where another kind is needed.
motor.speed = "fast"  # expect: assignment
motor["speed"] = motor  # expect: assignment
yv.ParameterBook({"speed": "fast"})  # expect: dict-item
tree.motor = speed  # expect: assignment
tree["motor"] = speed  # expect: assignment
yv.ParameterDirectory({"motor": speed})  # expect: dict-item

# Calls the module refuses: keywords for positional-only arguments, a missing argument.
yv.ParameterBook.load(filename="motor.yolpt")  # expect: call-arg
yv.ParameterDirectory.load(directory="cfg")  # expect: call-arg
speed.to_dict()  # expect: call-arg
speed.description = "Speed"  # expect: misc

# Misspelt members: reads are item reads, so the calls fail.
motor.sav("motor")  # expect: operator
tree.lfet()  # expect: operator
speed.nmaes()  # expect: operator
yv.ParameterBok()  # expect: attr-defined

# Results used the wrong way.
written = motor.save("motor")  # expect: func-returns-value
names: List[str] = motor.names()  # expect: assignment
count: int = speed.value  # expect: assignment
text: str = speed.get("unit")  # expect: assignment
speed.value.real  # expect: union-attr
limit = speed.limits[0]  # expect: index
name, parameter, extra = yv.Parameter.from_dict(speed.to_dict("speed"))  # expect: misc
