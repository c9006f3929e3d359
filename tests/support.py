"""Helpers that several test files share."""
import os
import subprocess
import sys
import textwrap


def read_bytes(path):
    with open(str(path), "rb") as f:
        return f.read()


def write_bytes(path, data):
    with open(str(path), "wb") as f:
        f.write(data)


def backups_only_warning(folder, book_files):
    """The warning of a directory load about the book files of `folder` that exist only as backups."""
    return ("ParameterDirectory.load: the folder %r holds the book files %r only as backups (name + \"-\") of an "
            "interrupted save; they were not loaded. Restore each by removing the \"-\" where its book file is "
            "missing (the `yolpt recover` command does this)." % (folder, sorted(book_files)))


def child_env():
    """This process's environment for a child interpreter, with PYTHONPATH set
    to this process's import path so that the child imports the same
    yol_vovoruze (and, under the sanitizers, the same preloaded runtime)."""
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(entry for entry in sys.path if entry)
    env["PYTHONDONTWRITEBYTECODE"] = "1"
    return env


def run_child(code, arguments=(), options=(), cwd=None, timeout=120):
    """Runs the dedented `code` in a child interpreter; the CompletedProcess
    has text stdout and stderr."""
    return subprocess.run([sys.executable] + list(options) + ["-c", textwrap.dedent(code)] + [str(a) for a in arguments],
                          cwd=None if cwd is None else str(cwd), env=child_env(), stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, universal_newlines=True, timeout=timeout)


def outcome(make):
    """What make() gives: its result, or the type and message of its error."""
    try:
        return make()
    except Exception as error:  # noqa: BLE001 - the error is the outcome
        return type(error), str(error)


def book_text_outcomes(book):
    """str(book), as ParameterBook.__str__ writes it, and the text that the json
    module makes of the same forms, each as an outcome. A RecursionError is
    compared by type alone: its message names where the limit was met."""
    import json

    import yol_vovoruze as yv

    def json_text():
        table = getattr(book, "_ParameterBook__parameters")
        forms = [table[name].to_dict(name) for name in sorted(table)]
        return json.dumps(forms, indent=4, ensure_ascii=False)

    found = [outcome(lambda: yv.ParameterBook.__str__(book)), outcome(json_text)]
    return [(RecursionError,) if isinstance(o, tuple) and o[0] is RecursionError else o for o in found]
