"""A tour of yol_vovoruze: what the module offers, step by step."""
import yol_vovoruze as yv


def main():
    value = {"limits": [0, 100], "unit": "rpm", "gain": 0.5 + 0.1j}
    copy = yv._clone_attribute(value)
    assert copy == value and copy["limits"] is not value["limits"]
    print("cloned:", copy)
    print("value kinds:", list(yv._value_cls_map))
    print("characters names must not contain:", yv.InvalidNameCharacters)
    for cls in (yv.Parameter, yv.ParameterBook, yv.ParameterDirectory):
        members = [name for name in vars(cls) if not name.startswith("__") or name == "__init__"]
        print(cls.__name__ + ":", ", ".join(members))


if __name__ == "__main__":
    main()
