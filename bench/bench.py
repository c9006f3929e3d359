"""Benchmarks of yol_vovoruze against floors measured in the same run.

Each line prints the time of one operation, the time of its floor (the plain
Python or builtin operation it is compared with) and their ratio. Run it with
the interpreter whose build you want to measure:

    python bench/bench.py            # every group
    python bench/bench.py clone      # the groups whose name contains "clone"
"""
import copy
import gc
import itertools
import json
import os
import shutil
import sys
import tempfile
import timeit
import types
import warnings

import yol_vovoruze as yv


def best_times(statements, number, names, repeat=9):
    """The best time of one run of each of `statements` (callables, or source
    run with `names` as globals), over `repeat` rounds of `number` runs. The
    rounds take the statements in turn, so that a change in the machine's
    speed during the measurement weighs on each alike."""
    timers = [timeit.Timer(statement, globals=names) for statement in statements]
    best = [float("inf")] * len(timers)
    gc.collect()
    for _ in range(repeat):
        for index, timer in enumerate(timers):
            best[index] = min(best[index], timer.timeit(number) / number)
    return best


def compare(label, measured, floor, number, target=None, names=None):
    """Prints the time of `measured` against `floor`; `target` is the ratio it must stay within."""
    ours, base = best_times([measured, floor], number, names)
    ratio = ours / base
    verdict = ""
    if target is not None:
        verdict = "  ok" if ratio <= target else "  MISSED (target %.2f)" % target
    print("%-66s %10.3f us %10.3f us  x%6.2f%s" % (label, ours * 1e6, base * 1e6, ratio, verdict))
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


def table_value(rows=10, columns=10, points=10):
    """A calibration table of rows x columns x points numbers: lists of lists of floats and ints."""
    return {"row%d" % r: [[r * c + p * 0.25 if p % 2 else r + c + p for p in range(points)]
                          for c in range(columns)]
            for r in range(rows)}


def bench_clone():
    for label, value in (("mixed: dicts, short lists, complex", nested_value()),
                         ("table: lists of lists of numbers", table_value())):
        compare_clone("_clone_attribute(~1000 elements, %s) vs copy.deepcopy" % label.split(":")[0],
                      lambda: yv._clone_attribute(value), value, lambda: copy.deepcopy(value), 20)
    # Statements rather than lambdas, so that the call itself is what is timed.
    compare("_clone_attribute(7) vs abs(7)", "clone(small)", "abs(small)", 500000, target=1.5,
            names={"clone": yv._clone_attribute, "small": 7})


class Bare:
    """A plain object: the floor of a copy makes one per parameter, book and directory."""


def gather_allocations(value, found):
    """Counts the objects and gathers the dicts, lists and complex numbers that a deep copy of `value` makes anew."""
    if isinstance(value, yv.Parameter):
        found["objects"] += 1
        form = value.to_dict("name")  # its live tables
        gather_allocations(form["description"], found)
        gather_allocations(form["attributes"], found)
    elif isinstance(value, (yv.ParameterBook, yv.ParameterDirectory)):
        found["objects"] += 1
        table = dict(value.items())
        found["dicts"].append(table)
        for member in table.values():
            gather_allocations(member, found)
    elif type(value) is dict:
        found["dicts"].append(value)
        for member in value.values():
            gather_allocations(member, found)
    elif type(value) is list:
        found["lists"].append(value)
        for member in value:
            gather_allocations(member, found)
    elif type(value) is complex:
        found["complexes"].append(value)


def allocations_alone(value):
    """The floor of any deep copy of `value`: each of its objects, dicts, lists and complex numbers made anew, by
    flat copies in C loops, with nothing nested, stored or checked."""
    found = {"objects": 0, "dicts": [], "lists": [], "complexes": []}
    gather_allocations(value, found)
    objects, dicts, lists, complexes = found["objects"], found["dicts"], found["lists"], found["complexes"]

    def allocate():
        return (list(map(object.__new__, itertools.repeat(Bare, objects))), list(map(dict.copy, dicts)),
                list(map(list.copy, lists)), list(map(complex.conjugate, complexes)))
    return allocate


def compare_clone(label, clone, value, deepcopy, number, target=0.05):
    """A clone against copy.deepcopy (the target), against the allocations alone, and the allocations alone against
    copy.deepcopy: the least ratio that any copy can reach."""
    floor = allocations_alone(value)
    compare(label, clone, deepcopy, number, target=target)
    compare("  the same vs its allocations alone (flat copies in C loops)", clone, floor, number)
    compare("  its allocations alone vs copy.deepcopy", floor, deepcopy, number)


def parameter_values(count, nested=False):
    """`count` attribute values: scalars, or small nested lists and dicts."""
    if not nested:
        return {"v%d" % i: (i, i * 0.5, "text %d" % i, i % 2 == 0)[i % 4] for i in range(count)}
    return {"v%d" % i: {"limits": [i, i + 1], "points": [[i, 0.5], [i + 1, 1.5]]} for i in range(count)}


def bench_access():
    p = yv.Parameter("description", **parameter_values(10))
    p.x = 1
    book = yv.ParameterBook({"x": yv.Parameter("d")})
    tree = yv.ParameterDirectory({"x": book})
    names = {"p": p, "book": book, "tree": tree, "d": {"x": 1}}
    for label, statement in (("p['x']", "p['x']"), ("book['x']", "book['x']"), ("d['x'] (a directory)", "tree['x']")):
        compare("%s vs dict['x']" % label, statement, "d['x']", 500000, target=1.3, names=names)
    compare("p.get('x') vs dict.get('x')", "p.get('x')", "d.get('x')", 500000, target=1.6, names=names)
    for label, statement in (("p.x", "p.x"), ("book.x", "book.x")):
        compare("%s vs dict['x']" % label, statement, "d['x']", 500000, target=1.8, names=names)
    bench_access_floors(names)


class DictWithGetattr(dict):
    """The least a class with a __getattr__ can do: its own lookup fails, then one C call reads a dict."""
    __getattr__ = dict.__getitem__


class DictSubclass(dict):
    """Any class but dict itself: its items are read through the generic subscript, which the interpreter does not
    specialise."""


class Holder:
    """An object whose table is an ordinary attribute, as the module's tables are."""
    def __init__(self):
        self.table = {"x": 1}


class PythonModel:
    """The same reads written in Python."""
    def __init__(self):
        self._table = {"x": 1}

    def __getattr__(self, name):
        return self._table[name]

    def __getitem__(self, name):
        return self._table[name]

    def get(self, name, default=None):
        return self._table.get(name, default)


def bench_access_floors(names):
    # What the interpreter makes any such class pay: a __getattr__ runs after a
    # failed ordinary lookup (and up to 3.11 no method load of such a class is
    # specialised), an item of anything but a dict is read through the generic
    # subscript, and the table is itself found by name before the item.
    names = dict(names, floor=DictWithGetattr(x=1), holder=Holder(), model=PythonModel(), sub=DictSubclass(x=1),
                 proxy=types.MappingProxyType({"x": 1}))
    compare("dict subclass sub['x'] vs dict['x']", "sub['x']", "d['x']", 500000, names=names)
    compare("p['x'] vs sub['x'] (dict subclass)", "p['x']", "sub['x']", 500000, names=names)
    # A mapping of another C type over a dict: the generic subscript and one
    # indirection, without finding the table in an instance dictionary.
    compare("proxy['x'] (types.MappingProxyType) vs dict['x']", "proxy['x']", "d['x']", 500000, names=names)
    compare("p['x'] vs proxy['x']", "p['x']", "proxy['x']", 500000, names=names)
    for label, statement, floor in (("p.x vs floor.x (dict subclass, __getattr__ = dict.__getitem__)", "p.x", "floor.x"),
                                    ("p.get('x') vs floor.get('x') (the same class)", "p.get('x')", "floor.get('x')"),
                                    ("p['x'] vs holder.table['x']", "p['x']", "holder.table['x']"),
                                    ("p.x vs the same class in Python", "p.x", "model.x"),
                                    ("p.get('x') vs the same class in Python", "p.get('x')", "model.get('x')"),
                                    ("p['x'] vs the same class in Python", "p['x']", "model['x']")):
        compare(label, statement, floor, 500000, names=names)


def bench_parameter():
    values = parameter_values(10)
    names = {"values": values, "Parameter": yv.Parameter}
    compare("Parameter('d', **10 scalars) vs dict(**10)", "Parameter('d', **values)", "dict(**values)", 100000,
            target=3, names=names)
    nested = yv.Parameter("d", **parameter_values(10, nested=True))
    table = nested.to_dict("n")["attributes"]
    compare_clone("p.clone() (10 nested values) vs copy.deepcopy(table)", nested.clone, nested,
                  lambda: copy.deepcopy(table), 5000)
    form = nested.to_dict("n")
    compare("Parameter.from_dict(form) vs copy.deepcopy(form)", lambda: yv.Parameter.from_dict(form),
            lambda: copy.deepcopy(form), 5000)


def make_book(parameters, values_each):
    return yv.ParameterBook({"p%04d" % i: yv.Parameter("parameter %d" % i, **parameter_values(values_each))
                             for i in range(parameters)})


def bench_book():
    book = make_book(1000, 5)
    book.speed = yv.Parameter("Speed", value=10)
    forms = [book[name].to_dict(name) for name in sorted(book.names())]
    folder = tempfile.mkdtemp()
    path = os.path.join(folder, "book.yolpt")
    floor_path = os.path.join(folder, "floor.yolpt")

    def dumps():
        return json.dumps(forms, indent=4, ensure_ascii=False)

    def plain_write():
        with open(floor_path, "w", encoding="utf8") as file:
            file.write(dumps())

    def plain_read():
        with open(path, encoding="utf8") as file:
            return json.loads(file.read())

    compare("str(book) (1,000 x 5) vs json.dumps(forms, indent=4)", lambda: str(book), dumps, 5, target=0.25)
    compare("book.save(path) vs open().write(json.dumps(forms))", lambda: book.save(path), plain_write, 5,
            target=0.35)
    # The file work alone: a save whose text cost nothing could do no better.
    text = str(book)

    def write_ready_text():
        with open(floor_path, "w", encoding="utf8") as file:
            file.write(text)

    def write_ready_text_safely():
        # A save that never leaves a half-written file writes a file beside
        # the target and renames it over: on a file system that flushes a file
        # renamed over another (ext4), that costs more than the floor's write.
        temporary = path + ".tmp"
        with open(temporary, "w", encoding="utf8") as file:
            file.write(text)
        os.rename(temporary, path)

    compare("  the same vs open().write(str(book)), the text made before", lambda: book.save(path), write_ready_text, 5)
    compare("  open().write(str(book)), the text made before, vs the floor", write_ready_text, plain_write, 5)
    compare("  the same vs that text renamed over the file, as a save writes it", lambda: book.save(path),
            write_ready_text_safely, 5)
    compare("  that text renamed over the file vs the floor", write_ready_text_safely, plain_write, 5)
    compare("ParameterBook.load(path) vs open().read() + json.loads(text)", lambda: yv.ParameterBook.load(path),
            plain_read, 5, target=1.0)
    compare_clone("book.clone() vs copy.deepcopy(forms)", book.clone, book, lambda: copy.deepcopy(forms), 5)
    shutil.rmtree(folder)


def make_tree(directories, books, parameters):
    return yv.ParameterDirectory({
        "d%02d" % d: yv.ParameterDirectory({"b%02d" % b: make_book(parameters, 5) for b in range(books)})
        for d in range(directories)
    })


def bench_directory():
    tree = make_tree(10, 20, 20)
    root = tempfile.mkdtemp()
    ours = os.path.join(root, "ours")
    floor = os.path.join(root, "floor")
    tree.save(ours)
    tree.save(floor)
    books = [(os.path.join(floor, d, b + ".yolpt"), tree[d][b]) for d in tree.names() for b in tree[d].names()]

    def python_text(book):
        return json.dumps([book[name].to_dict(name) for name in sorted(book.names())], indent=4, ensure_ascii=False)

    def plain_save(texts):
        """The file work of a save, each book's text taken from `texts` in turn."""
        backups = []
        for (path, _), text in zip(books, texts):
            os.rename(path, path + "-")
            backups.append(path + "-")
            with open(path, "w", encoding="utf8") as file:
                file.write(text)
        for backup in backups:
            os.remove(backup)

    def plain_load():
        loaded = {}
        for sub in os.listdir(floor):
            folder = os.path.join(floor, sub)
            for entry in os.listdir(folder):
                with open(os.path.join(folder, entry), encoding="utf8") as file:
                    loaded[sub, entry] = json.loads(file.read())
        return loaded

    forms = {(d, b): [tree[d][b][p].to_dict(p) for p in tree[d][b].names()]
             for d in tree.names() for b in tree[d].names()}
    def floor_save():
        plain_save(python_text(book) for _, book in books)

    compare("tree.save(path) (10 x 20 books of 20) vs the same work in Python", lambda: tree.save(ours), floor_save, 3,
            target=0.5)
    compare("tree.save(path) vs the same file work with str(book)", lambda: tree.save(ours),
            lambda: plain_save(str(book) for _, book in books), 3)
    # The file work alone, as the floor does it, with every text made beforehand.
    ready = [str(book) for _, book in books]
    compare("  the same file work, the texts made before, vs the floor", lambda: plain_save(ready), floor_save, 3)
    compare("ParameterDirectory.load(path) vs listdir + read + json.loads", lambda: yv.ParameterDirectory.load(ours),
            plain_load, 3, target=1.0)
    compare_clone("tree.clone() vs copy.deepcopy(forms)", tree.clone, tree, lambda: copy.deepcopy(forms), 3)
    shutil.rmtree(root)


GROUPS = {
    "clone": bench_clone,
    "access": bench_access,
    "parameter": bench_parameter,
    "book": bench_book,
    "directory": bench_directory,
}


def main(selected):
    warnings.simplefilter("ignore", DeprecationWarning)
    print("Python %s" % sys.version.split()[0])
    print("%-66s %13s %13s %8s" % ("operation vs floor", "ours", "floor", "ratio"))
    for name, group in GROUPS.items():
        if not selected or any(word in name for word in selected):
            group()


if __name__ == "__main__":
    main(sys.argv[1:])
