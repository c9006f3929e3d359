"""Benchmarks of yol_vovoruze against floors measured in the same run.

Each line prints the time of one operation, the time of its floor (the plain
Python or builtin operation it is compared with) and their ratio. Run it with
the interpreter whose build you want to measure:

    python bench/bench.py            # every group
    python bench/bench.py clone      # the groups whose name contains "clone"
"""
import copy
import gc
import sys
import timeit

import yol_vovoruze as yv


def best_time(statement, number, names, repeat=7):
    """The best time of one run of `statement` (a callable, or source run with
    `names` as globals), over `repeat` rounds of `number` runs."""
    gc.collect()
    return min(timeit.repeat(statement, number=number, repeat=repeat, globals=names)) / number


def compare(label, measured, floor, number, target=None, names=None):
    """Prints the time of `measured` against `floor`; `target` is the ratio it must stay within."""
    ours = best_time(measured, number, names)
    base = best_time(floor, number, names)
    ratio = ours / base
    verdict = ""
    if target is not None:
        verdict = "  ok" if ratio <= target else "  MISSED (target %.2f)" % target
    print("%-58s %10.3f us %10.3f us  x%6.2f%s" % (label, ours * 1e6, base * 1e6, ratio, verdict))
    return ratio


def nested_value(size=1000):
    """A nested value of about `size` elements: dicts of lists of scalars."""
    value = {}
    for group in range(size // 25):
        value["group%d" % group] = {
            "limits": [group, group + 1.5, "unit", True],
            "points": [[i, i * 0.5] for i in range(5)],
            "name": "value %d" % group,
            "gain": complex(group, 1),
        }
    return value


def bench_clone():
    value = nested_value()
    compare("_clone_attribute(~1000 elements) vs copy.deepcopy",
            lambda: yv._clone_attribute(value), lambda: copy.deepcopy(value), 20, target=1 / 20)
    # Statements rather than lambdas, so that the call itself is what is timed.
    compare("_clone_attribute(7) vs abs(7)", "clone(small)", "abs(small)", 500000, target=1.5,
            names={"clone": yv._clone_attribute, "small": 7})


GROUPS = {
    "clone": bench_clone,
}


def main(selected):
    print("Python %s" % sys.version.split()[0])
    print("%-58s %13s %13s %8s" % ("operation vs floor", "ours", "floor", "ratio"))
    for name, group in GROUPS.items():
        if not selected or any(word in name for word in selected):
            group()


if __name__ == "__main__":
    main(sys.argv[1:])
