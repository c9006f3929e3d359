"""yolpt: inspect, change, check and recover folders of yol_vovoruze parameters,
from the shell (`yolpt --help`, or `python -m yolpt --help`) and from Python.

In Python, with the addresses and the typing rules of `yolpt get` and
`yolpt set`, on trees in memory (a ParameterDirectory, a ParameterBook or a
Parameter; addresses are relative to it):

    find(tree, "arm/motion.speed.value")              what an address names
    assign(tree, "arm/motion.speed.value", 1500)      changes it as `yolpt set` would
    apply_overrides(tree, ["arm/motion.speed.value=1500"])   from a command line
    apply_environment(tree, "ROBOT")                  from ROBOT_ARM__MOTION__SPEED__VALUE=1500
    differences(a, b), same(a, b)                     what `yolpt diff` finds, as data

The package is written on the public classes of ``yol_vovoruze`` only, and
adds nothing to them."""
from yolpt.diff import Difference, differences, same
from yolpt.errors import Error, NotFound, UsageError
from yolpt.overrides import apply_environment, apply_overrides
from yolpt.tree import Tree, assign, find

__all__ = ["Difference", "Error", "NotFound", "Tree", "UsageError", "apply_environment", "apply_overrides", "assign",
           "differences", "find", "same"]
