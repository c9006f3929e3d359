"""The command-line tool `yolpt`, run as a real command on folders written by the module."""
import json
import os
import random
import re
import sys
import time

import pytest

from support import (book_texts, go, python_command, read_bytes, read_line, run_child, start_python, start_saver,
                     stop, version_tree, write_bytes)
from yol_vovoruze import Parameter, ParameterBook, ParameterDirectory


def yolpt(*args, script=False, environment=None):
    """Runs the tool (the installed console script, or `python -m yolpt`) from a neutral folder."""
    command = ([os.path.join(os.path.dirname(sys.executable), "yolpt")] if script
               else python_command(["-m", "yolpt"]))
    done = run_child(command + [str(arg) for arg in args], cwd=os.path.abspath(os.sep),
                     environment=dict(environment or {}, PYTHONIOENCODING="utf-8"))
    assert "Traceback" not in done.stderr, done.stderr
    return done


def machine():
    speed = Parameter({"default": "Motor speed", "de_DE": "Motordrehzahl"}, value=1200, unit="rpm", limits=[0, 3000])
    left = ParameterBook({"speed": speed, "torque": Parameter("Torque", value=2.5, unit="Nm", note="é", on=True)})
    return ParameterDirectory({"motors": ParameterDirectory({"left": left, "right": left.clone()}),
                               "plant": ParameterBook()})


@pytest.fixture
def config(tmp_path):
    folder = str(tmp_path / "config")
    machine().save(folder)
    return folder


def test_show_get_set_dump_diff(config, tmp_path):
    shown = yolpt("show", config, script=True)
    assert shown.returncode == 0
    for text in ("motors/", "left.yolpt", "speed - Motor speed", "limits: [0, 3000]", 'note: "é"', "(no parameters)"):
        assert text in shown.stdout
    assert "speed - Motordrehzahl" in yolpt("show", config, "--lang", "de_DE").stdout
    assert "speed - Motor speed" in yolpt("show", config + "/motors/left.yolpt", "--lang", "fr_FR").stdout

    before = str(tmp_path / "before")
    ParameterDirectory.load(config).save(before)
    for name, value in (("motors/left.speed.limits", [0, 3000]), ("motors/left.torque.note", "é")):
        assert json.loads(yolpt("get", config, name).stdout) == value
    assert json.loads(yolpt("get", config + "/motors/left.yolpt", "speed").stdout)["attributes"]["value"] == 1200
    right = read_bytes(config + "/motors/right.yolpt")

    for value, options, stored in (("1600", [], 1600), ("[1, 2.5, true]", ["--type", "array"], [1, 2.5, True]),
                                   ("fast", ["--string"], "fast"), ('"7"', [], "7")):
        assert yolpt("set", config, "motors/left.speed.value", value, *options).returncode == 0
        assert ParameterDirectory.load(config).motors.left.speed.value == stored
    assert yolpt("set", config, "motors/left.speed.value", "12", "--string").returncode == 0
    assert read_bytes(config + "/motors/right.yolpt") == right  # only the one book is rewritten
    assert read_bytes(config + "/motors/left.yolpt").decode() == str(ParameterBook.load(config + "/motors/left.yolpt"))

    dumped = json.loads(yolpt("dump", config).stdout)
    speed = dumped["directories"]["motors"]["books"]["left"]["parameters"]["speed"]
    assert speed == {"description": {"default": "Motor speed", "de_DE": "Motordrehzahl"},
                     "attributes": {"value": "12", "unit": "rpm", "limits": [0, 3000]}}
    assert dumped["books"] == {"plant": {"parameters": {}}}
    assert json.loads(yolpt("dump", before).stdout) != dumped

    same = yolpt("diff", before, before)
    assert (same.returncode, same.stdout) == (0, "")
    changed = yolpt("diff", before, config)
    assert (changed.returncode, changed.stdout) == (1, '~ motors/left.speed.value: 1200 -> "12"\n')
    ParameterDirectory({"motors": ParameterDirectory({"left": ParameterBook()})}).save(str(tmp_path / "small"))
    lines = yolpt("diff", before, tmp_path / "small").stdout.splitlines()
    assert "- motors/left.speed  (parameter)" in lines and "- motors/left.speed.unit: \"rpm\"" in lines
    assert "- motors/right  (book, 2 parameters)" in lines and "- plant  (book, 0 parameters)" in lines
    assert yolpt("diff", before, config + "/motors/left.yolpt").returncode == 2


@pytest.mark.parametrize("args, status, message", [
    (["motors/left.speed.missing", "1"], 1, "no attribute 'missing'"),
    (["motors/left.gone.value", "1"], 1, "no parameter 'gone'"),
    (["motors/gone.speed.value", "1"], 1, "no book 'gone'"),
    (["nowhere/left.speed.value", "1"], 1, "no folder 'nowhere' (the only folder: 'motors'); --create adds it"),
    (["motors/left.speed.value", "null"], 2, "null"),
    (["motors/left.speed.value", "[1,"], 2, "not valid JSON"),
    (["motors/left.speed", "1"], 2, "names no attribute"),
    (["motors/left.speed.description", "1", "--create"], 2, "with --description LANG sets the parameter's"),
    (["motors/left.speed.self", "1", "--create"], 2, "no attribute can be named 'self'"),
    (["motors/left.speed", "x", "--description", "de_DE", "--string"], 2, "--type, --string and --non-finite"),
    # A VALUE of another JSON type than the value it replaces, unless --type names it
    (["motors/left.speed.value", "15OO"], 2, "holds an integer (1200); VALUE '15OO' is not JSON"),
    (["motors/left.speed.value", "2.5"], 2, "VALUE '2.5' is a float: not changed, as that changes the type"),
    (["motors/left.torque.on", "yes"], 2, "holds a boolean (true); VALUE 'yes' is not JSON"),
    (["motors/left.torque.on", "True"], 2, "--type string stores it as a string (or --string)"),
    (["motors/left.torque.value", "fast"], 2, "holds a float (2.5)"),
    (["motors/left.speed.unit", "12"], 2, "VALUE '12' is an integer: not changed"),
    (["motors/left.torque.value", "9007199254740993"], 2, "has no float of exactly its value"),
    (["motors/left.torque.on", "1", "--type", "boolean"], 2, "VALUE '1' is an integer, not a boolean"),
    # Numbers that most JSON readers refuse, unless --non-finite asks for them
    (["motors/left.torque.value", "NaN"], 2, "VALUE 'NaN' holds NaN"),
    (["motors/left.torque.value", "--", "-Infinity"], 2, "VALUE '-Infinity' holds -Infinity"),
    (["motors/left.torque.value", "1e400"], 2, "would be written as Infinity (too large for a float)"),
    (["motors/left.speed.peaks", "[1, NaN]", "--create"], 2, "--non-finite stores it"),
])
def test_set_refuses_without_changing(config, args, status, message):
    left = read_bytes(config + "/motors/left.yolpt")
    done = yolpt("set", config, *args)
    assert done.returncode == status and message in done.stderr
    assert read_bytes(config + "/motors/left.yolpt") == left and sorted(os.listdir(config)) == ["motors", "plant.yolpt"]


@pytest.mark.parametrize("args, stored", [
    (["motors/left.torque.value", "3"], 3.0),  # an integer where a float is: that float
    (["motors/left.speed.value", "2.5", "--type", "float"], 2.5),
    (["motors/left.speed.value", "15OO", "--string"], "15OO"),
    (["motors/left.speed.value", "[1]", "--type", "array"], [1]),
    (["motors/left.torque.on", "false"], False),
    (["motors/left.speed.unit", "rps"], "rps"),  # a bare word where a string is
    (["motors/left.speed.peak", "yes", "--create"], "yes"),  # a new attribute takes any type
    (["motors/left.torque.value", "NaN", "--non-finite"], float("nan")),
    (["motors/left.speed.value", "1e400", "--type", "float", "--non-finite"], float("inf")),
])
def test_set_stores_the_type_asked_for(config, args, stored):
    done = yolpt("set", config, *args)
    assert done.returncode == 0, done.stderr
    parameter, attribute = args[0].split(".")[1:]
    value = ParameterBook.load(config + "/motors/left.yolpt")[parameter][attribute]
    assert json.dumps(value) == json.dumps(stored)  # 3.0 is not 3, NaN is NaN


@pytest.mark.parametrize("environment", [{}, {"PYTHONINTMAXSTRDIGITS": "0"}])
def test_set_keeps_a_long_integer_an_integer(config, environment):
    digits = "7" * 5000
    before = read_bytes(config + "/motors/left.yolpt")
    done = yolpt("set", config, "motors/left.speed.value", digits, environment=environment)
    limit = 0 if environment else getattr(sys, "get_int_max_str_digits", lambda: 0)()
    if 0 < limit < len(digits):  # no book holding it would load here: refused, never stored as text
        assert done.returncode == 2 and "an integer of 5000 digits" in done.stderr
        assert read_bytes(config + "/motors/left.yolpt") == before
    else:
        assert done.returncode == 0, done.stderr
        assert ('"value": %s,' % digits).encode() in read_bytes(config + "/motors/left.yolpt")


@pytest.mark.parametrize("command, args, message", [
    ("get", ["motors.left.speed.value"], "config: 'motors' is a folder, not a book: folders are separated by '/', "
                                         "as in motors/left.speed.value"),
    ("get", ["motors/left/speed.value"], "config/motors: 'left' is a book, not a folder"),
    ("get", ["motors/left.yolpt.speed.value"], "its file's extension: motors/left.speed.value"),
    ("get", ["motr/left.speed.value"], "config: no folder 'motr'; did you mean 'motors'?"),
    ("get", ["motors/lft.speed.value"], "config/motors: no book 'lft'; did you mean 'left'?"),
    ("get", ["motors/left.Speed.value"], "left.yolpt: no parameter 'Speed'; did you mean 'speed'?"),
    ("get", ["motors/left.speed.vlue"], "left.yolpt: parameter 'speed' has no attribute 'vlue'; did you mean 'value'?"),
    ("get", ["motors/left.gone"], "no parameter 'gone' (the parameters: 'speed', 'torque')"),
    ("get", ["motors/left.speed", "--description", "de"], "no description in 'de': programs in that language "
                                                          "read the 'default' one; did you mean 'de_DE'?"),
    ("get", ["motors/left.speed.value", "--description", "de_DE"], "names the attribute 'value' of parameter 'speed'"),
    ("get", ["empty.p.x"], "empty.yolpt: does not load: the file is empty: a book file holds a JSON array"),
    ("set", ["motors/left.sped.value", "3"], "no parameter 'sped'; did you mean 'speed'? (--create adds 'sped')"),
    ("set", ["motors/lft.speed.value", "3"], "no book 'lft'; did you mean 'left'? (--create adds 'lft')"),
    ("show", ["/motors/left"], "motors/left: no such book file or folder; did you mean "),
    ("show", ["/motr/left.yolpt"], "motr is missing: did you mean "),
])
def test_messages_say_where_what_and_what_to_do(config, command, args, message):
    write_bytes(config + "/empty.yolpt", b"")
    path = [config + args.pop(0)] if command == "show" else [config]
    done = yolpt(command, *(path + args))
    assert done.returncode in (1, 2) and done.stderr.splitlines()[-1].startswith("yolpt %s: error: " % command)
    assert message in done.stderr and (command == "set" or "--create" not in done.stderr), done.stderr


def test_get_and_set_descriptions(config):
    left = config + "/motors/left.yolpt"
    assert json.loads(yolpt("get", config, "motors/left.speed", "--description", "de_DE").stdout) == "Motordrehzahl"
    for name, language, text in (("motors/left.speed", "de_DE", "Drehzahl"), ("motors/left.speed", "default", "12"),
                                 ("motors/new.p", "fr_FR", "nouveau")):
        done = yolpt("set", config, name, text, "--description", language, "--create")
        assert done.returncode == 0, done.stderr
        assert json.loads(yolpt("get", config, name, "--description", language).stdout) == text
    assert yolpt("set", config + "/motors/left.yolpt", "torque", "T", "--description", "en_US").returncode == 0
    book = ParameterBook.load(left)
    assert book.speed.all_descriptions() == {"default": "12", "de_DE": "Drehzahl"}  # as written, not JSON
    assert book.torque.all_descriptions() == {"default": "Torque", "en_US": "T"}
    assert ParameterBook.load(config + "/motors/new.yolpt").p.all_descriptions() == {"default": "", "fr_FR": "nouveau"}
    changed = yolpt("diff", config + "/motors/right.yolpt", left)
    assert '~ speed --description de_DE: "Motordrehzahl" -> "Drehzahl"' in changed.stdout.splitlines()


def test_set_creates_and_keeps_the_file_name(config, tmp_path):
    assert yolpt("set", config, "motors/new.p.x", "1", "--create").returncode == 0
    assert yolpt("set", config, "deep/er/book.p.a.b", "2", "--create").returncode == 0
    tree = ParameterDirectory.load(config)
    assert tree.motors.new.p.x == 1 and tree.deep.er.book.p["a.b"] == 2
    other = str(tmp_path / "motor.json")  # a book file under another name is written where it is
    ParameterBook({"p": Parameter(x=1)}).save(other, False)
    assert yolpt("set", other, "p.x", "2").returncode == 0
    assert ParameterBook.load(other).p.x == 2 and not os.path.exists(other + ".yolpt")


def _declared_version():
    """The version that setup.cfg declares, beside the tests."""
    with open(os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "setup.cfg")) as cfg:
        return re.search(r"^version\s*=\s*(\S+)", cfg.read(), re.M).group(1)


def test_usage_help_and_version():
    assert yolpt().returncode == 2 and yolpt("frobnicate").returncode == 2 and yolpt("get", "x").returncode == 2
    for command in ("show", "get", "set", "dump", "diff", "check", "recover"):
        helped = yolpt(command, "--help")
        assert helped.returncode == 0 and "usage: yolpt " + command in helped.stdout
    assert "130  interrupted" in yolpt("--help").stdout
    missing = yolpt("show", "/nonexistent/folder")
    assert missing.returncode == 1 and missing.stderr.startswith("yolpt show: error: /nonexistent/folder")
    for script in (False, True):
        shown = yolpt("--version", script=script)
        assert (shown.returncode, shown.stdout) == (0, "yolpt %s (Python %s)\n" % (_declared_version(),
                                                                                  sys.version.split()[0]))


def test_set_waits_for_the_folder_lock(config):
    fcntl = pytest.importorskip("fcntl")
    descriptor = os.open(config + "/motors", os.O_RDONLY)
    try:
        fcntl.flock(descriptor, fcntl.LOCK_EX)  # as a directory save holds it
        setter = start_python(["-m", "yolpt"], ["set", config, "motors/left.speed.value", "9"])
        assert "waiting for" in setter.stderr.readline()
        time.sleep(0.2)
        assert ParameterBook.load(config + "/motors/left.yolpt").speed.value == 1200
    finally:
        os.close(descriptor)
    assert setter.wait(timeout=60) == 0
    setter.communicate()
    assert ParameterBook.load(config + "/motors/left.yolpt").speed.value == 9


def _orphan_backup(folder):
    os.rename(folder + "/motors/left.yolpt", folder + "/motors/left.yolpt-")


def _backup_beside(folder):
    write_bytes(folder + "/motors/left.yolpt-", read_bytes(folder + "/motors/left.yolpt"))


def _entries(book_file, *names):
    """Damage: copies of `book_file` under `names`, and sub-folders for the names that end in "/"."""
    def damage(folder):
        for name in names:
            path = os.path.join(folder, name)
            os.mkdir(path) if name.endswith("/") else write_bytes(path, read_bytes(os.path.join(folder, book_file)))
    return damage


def _non_finite_numbers(folder):
    left = ParameterBook.load(folder + "/motors/left.yolpt")
    left.speed.limits = [0, float("inf")]
    left.save(folder + "/motors/left.yolpt", False)
    ParameterBook({"p": Parameter({"default": "P", "fr": float("nan")})}).save(folder + "/plant.yolpt", False)


def _dead_temporary(folder):
    child = start_python("")
    child.communicate()  # its process id now belongs to no process
    write_bytes(folder + "/motors/.left.yolpt.%d.3.tmp" % child.pid, b"[\n    {")


@pytest.mark.parametrize("damage, finding, fixed", [
    (_orphan_backup, "motors/left.yolpt-: orphan backup", True),
    (_backup_beside, "motors/left.yolpt-: backup", True),
    (_dead_temporary, "motors/.left.yolpt.", True),
    (lambda f: write_bytes(f + "/motors/left.old.yolpt", b"[]"), "motors/left.yolpt: clash", False),
    (lambda f: write_bytes(f + "/plant.yolpt", b"{}"), "plant.yolpt: does not load: the top level is an object", False),
    (lambda f: write_bytes(f + "/plant.yolpt", b"[\n"), "plant.yolpt: does not load: not JSON", False),
    (lambda f: write_bytes(f + "/PLANT.YOLPT", b"[]"), "PLANT.YOLPT: ignored", False),
    (lambda f: write_bytes(f + "/yolpt", b"[]"), "/yolpt: ignored: a file named just 'yolpt': loads skip it, and saves "
                                                  "leave it as it is", False),
    (lambda f: os.mkdir(f + "/motors/left"), "motors/left: skipped folder", False),
    (lambda f: os.mkdir(f + "/_ParameterDirectory__parameters"), "reserved name", False),
    (lambda f: write_bytes(f + "/README", b"notes"), None, True),
    (_non_finite_numbers, ('motors/left.yolpt: non-finite number: parameter "speed", attribute "limits" holds Infinity',
                           'plant.yolpt: non-finite number: parameter "p", description "fr" holds NaN'), False),
    # Orphan backups that recover leaves: their book files would make the folder load worse
    (_entries("motors/left.yolpt", "motors/left.v2.yolpt-"), "left.yolpt gives the book 'left' as well", False),
    (_entries("plant.yolpt", "motors.yolpt-"), "the book 'motors' would hide the sub-folder motors", False),
    (_entries("plant.yolpt", "x.yolpt-", "x.b.yolpt-"), "the backup x.yolpt- would give the book 'x' as well", False),
    (_entries("plant.yolpt", "_ParameterDirectory__parameters.yolpt-"), "would give the item name", False),
    (_entries("plant.yolpt", "z.yolpt/", "z.q.yolpt-"), "would make a tree that saves refuse", False),
    (_entries("plant.yolpt", "yolpt-"), "loads never read a file named 'yolpt'", False),
    (lambda f: write_bytes(f + "/y.yolpt-", b"[\n"), "would not do: it does not load: not JSON", False),
])
def test_check_and_recover_hand_made_damage(config, damage, finding, fixed):
    damage(config)
    listing = sorted(os.walk(config))
    checked = yolpt("check", config)
    assert checked.returncode == (0 if finding is None else 1), checked.stdout
    expected = [] if finding is None else [finding] if isinstance(finding, str) else finding
    for text in expected:
        assert any(line.startswith(config + "/" + text) or text in line for line in checked.stdout.splitlines())
    dry = yolpt("recover", config)
    assert dry.returncode == (0 if fixed else 1) and sorted(os.walk(config)) == listing
    applied = yolpt("recover", config, "--apply", "--discard-backups")
    assert applied.returncode == (0 if fixed else 1)
    for text in [] if fixed else expected:
        assert any(line.startswith("cannot fix: ") and text in line for line in applied.stdout.splitlines())
    assert (yolpt("check", config).returncode == 0) == fixed
    if fixed:
        assert ParameterDirectory.load(config).motors.left.speed.value == 1200
    else:
        assert sorted(os.walk(config)) == listing


def test_check_and_recover_after_killed_saves(tmp_path):
    folder = str(tmp_path / "tree")
    trees = [version_tree(1), version_tree(2)]
    versions = [book_texts(tree) for tree in trees]
    rng = random.Random()
    for attempt in range(40):
        trees[0].save(folder)
        saver = start_saver(folder)
        go(saver, 1)
        time.sleep(rng.uniform(0, 0.3))
        stop(saver)
        backups = [os.path.join(root, entry) for root, _, entries in os.walk(folder) for entry in entries
                   if entry.endswith("-")]
        if backups:
            break
    else:
        pytest.fail("no kill interrupted a save")

    checked = yolpt("check", folder)
    assert checked.returncode == 1
    reported = {line.split(": ")[0] for line in checked.stdout.splitlines()}
    assert set(backups) <= reported

    recovered = yolpt("recover", folder, "--apply")
    assert recovered.returncode == 0, recovered.stdout + recovered.stderr
    loaded = book_texts(ParameterDirectory.load(folder))
    assert loaded.keys() == versions[0].keys()  # no book is missing
    assert all(text in (versions[0][key], versions[1][key]) for key, text in loaded.items())
    kinds = {line.split(": ")[1] for line in yolpt("check", folder).stdout.splitlines()[:-1]}
    assert kinds <= {"backup"}  # what remains: backups beside their newer book files

    assert yolpt("recover", folder, "--apply", "--discard-backups").returncode == 0
    final = yolpt("check", folder)
    assert final.returncode == 0 and final.stdout.endswith("clean: 200 books in 11 folders\n")
    assert book_texts(ParameterDirectory.load(folder)) == loaded



# Loads the folder, then saves that tree back to it until it is killed.
RESAVER = """
import sys
from yol_vovoruze import ParameterDirectory
tree = ParameterDirectory.load(sys.argv[1])
print("ready", flush=True)
while True:
    tree.save(sys.argv[1])
"""


def test_set_and_get_while_another_process_saves_the_folder(config):
    saver = start_python(RESAVER, [config])
    try:
        assert read_line(saver) == "ready"
        for attempt in range(30):  # 1 in 4 used to find motors/right only as its backup
            done = yolpt("set", config, "motors/right.speed.value", attempt)
            assert done.returncode == 0, done.stderr
            done = yolpt("get", config, "motors/right.speed.value")  # the saver's value or the one just set
            assert done.returncode == 0 and done.stdout in ("1200\n", "%d\n" % attempt), done.stderr
    finally:
        stop(saver)
