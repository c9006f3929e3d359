"""A tour of yol_vovoruze: the configuration of a small machine, kept as a tree of books."""
import os
import tempfile

import yol_vovoruze as yv


def motor(rated_speed):
    """A book with the parameters of one motor."""
    return yv.ParameterBook({
        "speed": yv.Parameter({"default": "Motor speed", "de_DE": "Motordrehzahl"},
                              value=rated_speed, unit="rpm", limits=[0, 2 * rated_speed]),
        "ramp": yv.Parameter("Acceleration ramp", seconds=0.8, profile="s-curve"),
        "gains": yv.Parameter("Controller gains", p=1.2, i=0.05, d=0.0),
    })


def main():
    machine = yv.ParameterDirectory({
        "motors": yv.ParameterDirectory({"left": motor(1200), "right": motor(1500)}),
        "safety": yv.ParameterBook({"stop": yv.Parameter("Emergency stop", enabled=True, delay_ms=50)}),
    })

    # Attributes and items reach into the tree; reads return the stored objects.
    left = machine.motors.left
    left.speed.value = 1300
    print("left motor speed:", machine["motors"]["left"]["speed"]["value"], left.speed.unit)
    print("description:", left.speed.get_description("de_DE"))

    with tempfile.TemporaryDirectory() as root:
        folder = os.path.join(root, "machine")
        machine.save(folder)
        for path, folders, files in sorted(os.walk(folder)):
            for name in sorted(files):
                print("saved:", os.path.relpath(os.path.join(path, name), root))
        print()
        print(open(os.path.join(folder, "safety.yolpt"), encoding="utf8").read())

        # A copy is independent of its source; a load gives back equal contents.
        backup = machine.clone()
        machine.motors.right.speed.value = 0
        loaded = yv.ParameterDirectory.load(folder)
        print("right motor speed: saved", loaded.motors.right.speed.value,
              "| copy", backup.motors.right.speed.value, "| changed", machine.motors.right.speed.value)


if __name__ == "__main__":
    main()
