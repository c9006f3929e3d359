"""Helpers that several test files share: files, errors, the module namespace,
child interpreters and the leak harness."""
import contextlib
import gc
import json
import os
import select
import subprocess
import sys
import textwrap

import pytest

import yol_vovoruze as yv

SOURCE_FILE = "vovoruze.py"  # the file named by the traceback entries of the module

# Set for a module built with YOL_GENERAL_PATH_ONLY=1, which takes no fast path
# (src/module/fast_paths.hpp): the build leaves no other trace that Python sees.
GENERAL_PATH_ONLY = os.environ.get("YOL_GENERAL_PATH_ONLY") == "1"


# ------------------------------------------------------------------ files


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
            "missing (`yolpt recover --apply` does this where it is safe)." % (folder, sorted(book_files)))


# ----------------------------------------------------------------- errors


def entries(error):
    """The traceback entries that the module added to `error` (an exception or
    pytest's ExceptionInfo), outermost first, as (qualified name, line)."""
    found = []
    tb = error.tb if isinstance(error, pytest.ExceptionInfo) else error.__traceback__
    while tb is not None:
        code = tb.tb_frame.f_code
        if code.co_filename == SOURCE_FILE:
            found.append((code.co_name, tb.tb_lineno))
        tb = tb.tb_next
    return found


def expect_error(kind, call, *arguments, message=None):
    """Calls call(*arguments), which must raise `kind` (with `message`, when given)."""
    try:
        call(*arguments)
    except kind as error:
        if message is not None and str(error) != message:
            raise AssertionError("%s, not %r" % (error, message))
    else:
        raise AssertionError("no %s was raised" % kind.__name__)


def outcome(make):
    """What make() gives: its result, or the type and message of its error."""
    try:
        return make()
    except Exception as error:  # noqa: BLE001 - the error is the outcome
        return type(error), str(error)


# ------------------------------------------------------- module namespace


@contextlib.contextmanager
def namespace_kept():
    """Yields the module namespace and puts it back exactly as it was, order included."""
    namespace = vars(yv)
    saved = list(namespace.items())
    try:
        yield namespace
    finally:
        if list(namespace.items()) != saved:
            namespace.clear()
            namespace.update(saved)


def json_text(book):
    """The text that the json module makes of the forms of `book`'s parameters,
    as ParameterBook.__str__ asks it to."""
    table = getattr(book, "_ParameterBook__parameters")
    forms = [table[name].to_dict(name) for name in sorted(table)]
    return json.dumps(forms, indent=4, ensure_ascii=False)


def book_text_outcomes(book):
    """str(book), as ParameterBook.__str__ writes it, and the text that the json
    module makes of the same forms, each as an outcome. A RecursionError is
    compared by type alone: its message names where the limit was met."""
    found = [outcome(lambda: yv.ParameterBook.__str__(book)), outcome(lambda: json_text(book))]
    return [(RecursionError,) if isinstance(o, tuple) and o[0] is RecursionError else o for o in found]


def json_notes(book):
    """The notes that the json module adds to its own error for the forms of
    `book` (from 3.14 it names the items it was in; before, none; none either
    where it writes them): a note of ours on that error comes after them."""
    try:
        json_text(book)
    except Exception as error:  # noqa: BLE001 - any error of json's
        return list(getattr(error, "__notes__", []))
    return []


def unhashable_key_message(key):
    """The message of the TypeError with which a dict refuses `key` on this
    interpreter (from 3.14 it says that the key was meant for a dict)."""
    try:
        {}[key] = None
    except TypeError as error:
        return str(error)
    raise AssertionError("a dict took %r as a key" % (key,))


# ----------------------------------------------------- child interpreters
#
# A child imports the same yol_vovoruze as this process: its PYTHONPATH is this
# process's import path, which holds the installed package in a virtual
# environment as well as a build found on the path. The rest of the
# environment passes unchanged, so that a runtime preloaded through it (the
# sanitizer run) is preloaded in the child too.


def child_env(environment=None):
    """This process's environment for a child, with the import path as
    PYTHONPATH and the variables of `environment` added."""
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(entry for entry in sys.path if entry)
    env["PYTHONDONTWRITEBYTECODE"] = "1"
    env.update(environment or {})
    return env


def python_command(program, arguments=(), options=()):
    """This interpreter's command line: its `options`, then `program` (Python
    source, run with -c after dedenting, or a list of the words that name what
    to run: a script's path, or "-m" and a module), then `arguments`."""
    words = ["-c", textwrap.dedent(program)] if isinstance(program, str) else list(program)
    return [sys.executable] + list(options) + words + [str(a) for a in arguments]


def run_child(command, cwd=None, timeout=120, environment=None):
    """Runs `command` to its end; the CompletedProcess has text stdout and stderr."""
    return subprocess.run(command, cwd=None if cwd is None else str(cwd), env=child_env(environment),
                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          universal_newlines=True, timeout=timeout)


def start_child(command, cwd=None, stdin=False, environment=None):
    """Starts `command` with text pipes for stdout and stderr (and stdin, when
    asked) and leaves it running: the caller waits for it or stops it."""
    return subprocess.Popen(command, cwd=None if cwd is None else str(cwd), env=child_env(environment),
                            stdin=subprocess.PIPE if stdin else subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, universal_newlines=True)


def run_python(program, arguments=(), options=(), **how):
    """run_child() of python_command(): `how` takes cwd, timeout and environment."""
    return run_child(python_command(program, arguments, options), **how)


def start_python(program, arguments=(), options=(), **how):
    """start_child() of python_command(): `how` takes cwd, stdin and environment."""
    return start_child(python_command(program, arguments, options), **how)


def child_result(completed):
    """The JSON value that a child, which must have succeeded, printed as its last line."""
    assert completed.returncode == 0, completed.stderr
    return json.loads(completed.stdout.strip().splitlines()[-1])


def read_line(process, timeout=60):
    """The next line that `process` writes to stdout, without its newline, or an
    assertion failure (with the child's stderr) when none comes in time."""
    ready, _, _ = select.select([process.stdout], [], [], timeout)
    line = process.stdout.readline() if ready else ""
    if not line:
        process.kill()
        _, err = process.communicate()
        raise AssertionError("child wrote no line; stderr:\n" + err)
    return line.rstrip("\n")


def stop(process):
    """Kills `process` if it still runs, and waits for it and its pipes, unless
    communicate() already did (3.6 refuses a second call)."""
    if process.poll() is None:
        process.kill()
    if not process.stdout.closed:
        process.communicate()


# ------------------------------------------------------------ leak check
#
# Leak check of the sanitizer run (.ci/run sets YOL_LEAK_CHECK=1, preloads
# AddressSanitizer and turns LeakSanitizer's own check at exit off). At exit it
# would list everything the interpreter never frees, and since libpython is a
# shared library, a suppression by module could not tell those blocks from
# ours. Here, with the interpreter still alive and holding what it uses, a
# block that nothing points at any more is one somebody forgot to release,
# such as an object whose last reference our C++ dropped on the floor.
# LeakSanitizer does not scan the interpreter's frame stacks (mmap'ed, not
# malloc'ed), so the frame objects of the calls still running, and their
# locals, are pinned from this module while the check runs.
_pinned = []


def leak_check():
    """Runs LeakSanitizer's check, which reports to stderr: "clean", or why it failed."""
    import ctypes

    for _ in range(3):  # cycles that are garbage but not yet collected are not leaks
        gc.collect()
    sys.stdout.flush()
    sys.stderr.flush()
    check = getattr(ctypes.CDLL(None), "__lsan_do_recoverable_leak_check", None)
    if check is None:
        return "failed: LeakSanitizer is not loaded (preload libasan)"
    for frame in sys._current_frames().values():
        while frame is not None:
            locals_ = frame.f_locals  # kept as is, and copied where it is a view (3.13)
            _pinned.append((frame, locals_, dict(locals_)))
            frame = frame.f_back
    leaked = check()
    del _pinned[:]
    return "failed: LeakSanitizer reported leaks, see its report above" if leaked else "clean"


# ----------------------------------------------------------- killed saves

SUB_DIRECTORIES = 10
BOOKS_PER_SUB = 20


def version_tree(tag):
    """A tree of 200 books in 10 folders; every book differs between tags 1
    and 2, and so does its length."""
    top = yv.ParameterDirectory()
    for i in range(SUB_DIRECTORIES):
        sub = yv.ParameterDirectory()
        for j in range(BOOKS_PER_SUB):
            sub["book%02d" % j] = yv.ParameterBook({
                "speed": yv.Parameter("Speed v%d" % tag, value=tag * 1000 + i * BOOKS_PER_SUB + j, unit="rpm"),
                "limits": yv.Parameter("Limits", low=-tag, high=[tag] * (tag + j % 3), note="é" * (30 * tag)),
            })
        top["sub%d" % i] = sub
    return top


def book_texts(tree):
    """{path of the book file relative to the folder: its exact text} of a version_tree()."""
    return {name + os.sep + book_name + ".yolpt": str(book)
            for name, sub in tree.items() for book_name, book in sub.items()}


SAVER = """
import sys
from support import version_tree
trees = [version_tree(1), version_tree(2)]
print("ready", flush=True)
first = sys.stdin.readline()
for count in range(1000 if first else 0):
    trees[(int(first) + count) % 2].save(sys.argv[1])
"""


def start_saver(folder):
    """Starts a child that builds version_tree() 1 and 2 and prints "ready";
    given the index of the one to save first (go()), it saves the two over each
    other into `folder` until it is killed."""
    return start_python(SAVER, [folder], stdin=True)


def go(saver, first):
    """Lets a saver from start_saver() begin, with tree `first` (0 or 1)."""
    assert read_line(saver) == "ready"
    saver.stdin.write("%d\n" % first)
    saver.stdin.flush()


# ------------------------------------------------------------------ leaks


# From 3.13 the type cache is emptied with the interpreter's other caches; 3.14
# deprecates the call that empties it alone.
_clear_caches = getattr(sys, "_clear_internal_caches", None) or sys._clear_type_cache


def settle():
    """Collects garbage and empties the interpreter's attribute lookup cache,
    which keeps references to the attribute names it saw."""
    gc.collect()
    _clear_caches()


def assert_no_leak(action, watched=(), rounds=200, warmup=None, attempts=3, blocks=8):
    """Runs `action` `warmup` times, then in batches of `rounds`, and passes at
    the first batch after which the reference counts of the `watched` objects
    are as they were and the allocated memory blocks have grown by at most
    `blocks`.

    A leak grows with every run and shows in every one of the `attempts`; the
    interpreter's own caches settle during the warm-up, and what little noise
    remains is absorbed by trying again.
    """
    for _ in range(max(10, rounds // 5) if warmup is None else warmup):
        action()
    report = []
    for _ in range(attempts):
        settle()
        references = [sys.getrefcount(obj) for obj in watched]
        allocated = sys.getallocatedblocks()
        for _ in range(rounds):
            action()
        settle()
        grown = sys.getallocatedblocks() - allocated
        after = [sys.getrefcount(obj) for obj in watched]  # counted the same way as before
        changed = [(repr(obj)[:60], now - then) for obj, then, now in zip(watched, references, after) if now != then]
        if not changed and grown <= blocks:
            return
        report.append("references changed: %s; blocks grown: %d over %d runs" % (changed, grown, rounds))
    pytest.fail("\n".join(report))
