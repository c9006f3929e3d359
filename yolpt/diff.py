"""`diff`: what differs between two books or two folders, parameter by parameter.

Each line starts with "+" (only in B), "-" (only in A) or "~" (changed), then
the address of the thing as `get` and `set` take it."""
import json

from yol_vovoruze import ParameterDirectory

from yolpt import errors, forms, loading
from yolpt.errors import Error
from yolpt.output import plural, to_json


def run(args):
    try:
        old, new = loading.load(args.a), loading.load(args.b)
    except Error as exc:
        raise Error(str(exc), status=errors.TROUBLE)
    if isinstance(old, ParameterDirectory) != isinstance(new, ParameterDirectory):
        raise Error("cannot compare a book file with a folder", status=errors.TROUBLE)
    lines = []
    if isinstance(old, ParameterDirectory):
        _directories(forms.directory_form(old), forms.directory_form(new), "", lines)
    else:
        _books(forms.book_form(old), forms.book_form(new), "", lines)
    for line in lines:
        print(line)
    return errors.FOUND if lines else errors.OK


def _same(a, b):
    # By JSON text: 1, 1.0 and true differ in a book file, and NaN equals itself there.
    return json.dumps(a, sort_keys=True) == json.dumps(b, sort_keys=True)


def _directories(old, new, prefix, lines):
    for name in sorted(set(old["directories"]) | set(new["directories"]) | set(old["books"]) | set(new["books"])):
        for kind, walk, label in (("directories", _directories, prefix + name + "/"),
                                  ("books", _books, prefix + name)):
            a, b = old[kind].get(name), new[kind].get(name)
            if a is not None and b is not None:
                walk(a, b, label, lines)
            elif a is not None or b is not None:
                lines.append("%s %s  (%s)" % ("-" if b is None else "+", label, _summary(kind, a or b)))


def _summary(kind, form):
    if kind == "books":
        return "book, " + plural(len(form["parameters"]), "parameter")
    return "folder, %s, %s" % (plural(len(form["books"]), "book"), plural(len(form["directories"]), "folder"))


def _books(old, new, book, lines):
    prefix = book + "." if book else ""
    old, new = old["parameters"], new["parameters"]
    for name in sorted(set(old) | set(new)):
        address = prefix + name
        if name not in new or name not in old:
            sign, form = ("-", old[name]) if name not in new else ("+", new[name])
            lines.append("%s %s  (parameter)" % (sign, address))
            _tables(form["attributes"] if sign == "-" else {}, form["attributes"] if sign == "+" else {},
                    address + ".", lines)
        else:
            _tables(old[name]["description"], new[name]["description"], address + " --description ", lines)
            _tables(old[name]["attributes"], new[name]["attributes"], address + ".", lines)


def _tables(old, new, prefix, lines):
    for key in sorted(set(old) | set(new)):
        where = prefix + key
        if key not in new:
            lines.append("- %s: %s" % (where, to_json(old[key])))
        elif key not in old:
            lines.append("+ %s: %s" % (where, to_json(new[key])))
        elif not _same(old[key], new[key]):
            lines.append("~ %s: %s -> %s" % (where, to_json(old[key]), to_json(new[key])))
