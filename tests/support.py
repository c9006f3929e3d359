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
