"""A tour of yol_vovoruze: the configuration of a small machine, kept as a tree of books.

It passes `mypy --strict` and pyright's strict mode. Reads of a directory are
typed `Any`, as data read from a file is, so `machine.motors.left.speed.value`
needs no narrowing; `book_at` narrows them where a function promises a book.
"""
import os
import tempfile

import yol_vovoruze as yv


def motor(rated_speed: int) -> yv.ParameterBook:
    """A book with the parameters of one motor."""
    return yv.ParameterBook({
        "speed": yv.Parameter({"default": "Motor speed", "de_DE": "Motordrehzahl"},
                              value=rated_speed, unit="rpm", limits=[0, 2 * rated_speed]),
        "ramp": yv.Parameter("Acceleration ramp", seconds=0.8, profile="s-curve"),
        "gains": yv.Parameter("Controller gains", p=1.2, i=0.05, d=0.0),
    })


def book_at(tree: yv.ParameterDirectory, *path: str) -> yv.ParameterBook:
    """The book that `path` names inside `tree`."""
    item = tree[path[0]]
    for name in path[1:]:
        if not isinstance(item, yv.ParameterDirectory):
            raise KeyError(name)
        item = item[name]
    if not isinstance(item, yv.ParameterBook):
        raise TypeError("not a book: " + "/".join(path))
    return item


def main() -> None:
    machine = yv.ParameterDirectory({
        "motors": yv.ParameterDirectory({"left": motor(1200), "right": motor(1500)}),
        "safety": yv.ParameterBook({"stop": yv.Parameter("Emergency stop", enabled=True, delay_ms=50)}),
    })

    # Attributes and items reach into the tree; reads return the stored objects.
    left = book_at(machine, "motors", "left")
    left.speed.value = 1300
    print("left motor speed:", left["speed"]["value"], left.speed.unit)
    if machine.motors.right.speed.value > left.speed.value:
        print("the right motor is faster by", machine.motors.right.speed.value - left.speed.value, "rpm")
    print("description:", left.speed.get_description("de_DE"))

    with tempfile.TemporaryDirectory() as root:
        folder = os.path.join(root, "machine")
        machine.save(folder)
        for path, _, files in sorted(os.walk(folder)):
            for name in sorted(files):
                print("saved:", os.path.relpath(os.path.join(path, name), root))
        print()
        with open(os.path.join(folder, "safety.yolpt"), encoding="utf8") as saved:
            print(saved.read())

        # A copy is independent of its source; a load gives back equal contents.
        backup = machine.clone()
        book_at(machine, "motors", "right").speed.value = 0
        loaded = yv.ParameterDirectory.load(folder)
        print("right motor speed: saved", book_at(loaded, "motors", "right").speed.value,
              "| copy", book_at(backup, "motors", "right").speed.value,
              "| changed", book_at(machine, "motors", "right").speed.value)


if __name__ == "__main__":
    main()
