"""Runs `mypy --strict` and pyright in strict mode over the files given and
compares their errors, line by line, with the `# expect: CODE[, CODE...]`
comments in them. A line with such a comment must draw from mypy errors of
exactly those codes, and from pyright at least one error (its rule names are
not mypy's codes); `# expect: CODE (mypy only)` marks a line that pyright
must pass. Every other line, and every other file, must draw no error and no
warning from either. Exits 1 on any difference, 2 when a checker cannot run.

    python typecheck/check.py [--cache-dir DIR] [--only mypy|pyright] FILE...

mypy and pyright (the PyPI package, which runs pyright on node) must be
installed for the running interpreter, and the stubs beside the module they
check; pyright is told to use the running interpreter's packages.
"""
import argparse
import collections
import json
import os
import re
import subprocess
import sys
import tempfile

EXPECT = re.compile(r"#\s*expect:\s*([\w-]+(?:\s*,\s*[\w-]+)*)\s*(\(mypy only\))?\s*$")
ERROR = re.compile(r"^(?P<path>.+?):(?P<line>\d+): error: (?P<message>.*?)(?:  \[(?P<code>[\w-]+)\])?$")


def expectations(path):
    """{line number: (set of mypy codes, whether pyright must report)} from
    the expectation comments of a file."""
    expected = {}
    with open(path, encoding="utf8") as source:
        for number, text in enumerate(source, 1):
            match = EXPECT.search(text)
            if match:
                codes = {code.strip() for code in match.group(1).split(",")}
                expected[number] = (codes, match.group(2) is None)
    return expected


def run(command, checker):
    try:
        return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, universal_newlines=True,
                              env=dict(os.environ, PYRIGHT_PYTHON_IGNORE_WARNINGS="1"))
    except OSError as error:
        sys.exit("{} cannot run: {}".format(checker, error))


def mypy_errors(paths, cache_dir):
    """{(path, line number): [(code, message)]} as mypy reports them."""
    command = [sys.executable, "-m", "mypy", "--strict", "--no-pretty", "--show-error-codes",
               "--hide-error-context", "--no-error-summary"]
    if cache_dir:
        command += ["--cache-dir", cache_dir]
    result = run(command + list(paths), "mypy")
    if result.returncode not in (0, 1):  # 2: mypy itself failed
        sys.exit("mypy exited with {}:\n{}{}".format(result.returncode, result.stdout, result.stderr))
    errors = collections.defaultdict(list)
    for text in result.stdout.splitlines():
        match = ERROR.match(text)
        if match:
            key = (os.path.abspath(match.group("path")), int(match.group("line")))
            errors[key].append((match.group("code") or "no-code", match.group("message")))
        elif ": error:" in text:
            errors[(text, 0)].append(("unparsed", text))
    return errors


def pyright_errors(paths):
    """{(path, line number): [(rule, message)]}: the errors and warnings that
    pyright reports in strict mode."""
    with tempfile.TemporaryDirectory() as folder:
        config = os.path.join(folder, "pyrightconfig.json")
        with open(config, "w", encoding="utf8") as handle:
            json.dump({"typeCheckingMode": "strict"}, handle)
        result = run([sys.executable, "-m", "pyright", "--outputjson", "--project", config,
                      "--pythonpath", sys.executable] + [os.path.abspath(path) for path in paths], "pyright")
    try:
        report = json.loads(result.stdout)
    except ValueError:
        report = None
    if result.returncode not in (0, 1) or report is None:  # 2 and up: pyright itself failed
        sys.exit("pyright exited with {}:\n{}{}".format(result.returncode, result.stdout, result.stderr))
    if report["summary"]["filesAnalyzed"] != len(set(paths)):
        sys.exit("pyright analyzed {} files of {}:\n{}".format(report["summary"]["filesAnalyzed"], len(set(paths)),
                                                               result.stdout))
    errors = collections.defaultdict(list)
    for diagnostic in report["generalDiagnostics"]:
        if diagnostic["severity"] in ("error", "warning"):
            path = os.path.abspath(diagnostic["file"]) if diagnostic.get("file") else "?"
            line = diagnostic["range"]["start"]["line"] + 1 if diagnostic.get("range") else 0
            message = diagnostic["message"].splitlines()[0]
            errors[(path, line)].append((diagnostic.get("rule", diagnostic["severity"]), message))
    return errors


def differences(paths, mypy, pyright):
    """One line of text per line of a file whose errors differ from its
    expectations, and the counts of what was expected from each checker."""
    expected = {}
    for path in paths:
        for number, expectation in expectations(path).items():
            expected[(os.path.abspath(path), number)] = expectation
    shown = {os.path.abspath(path): path for path in paths}
    found = []
    if mypy is not None:
        for key in sorted(set(expected) | set(mypy)):
            codes = {code for code, _ in mypy.get(key, [])}
            wanted = expected.get(key, (set(), False))[0]
            if codes != wanted:
                found.append("{}:{}: expected {}, mypy reported {}{}".format(
                    shown.get(key[0], key[0]), key[1], sorted(wanted) or "no error", sorted(codes) or "no error", details(mypy, key)))
    if pyright is not None:
        for key in sorted(set(expected) | set(pyright)):
            wanted = expected.get(key, (set(), False))[1]
            if wanted != bool(pyright.get(key)):
                found.append("{}:{}: expected {}, pyright reported {}{}".format(
                    shown.get(key[0], key[0]), key[1], "an error" if wanted else "no error",
                    "errors" if pyright.get(key) else "no error", details(pyright, key)))
    return (found, sum(len(codes) for codes, _ in expected.values()),
            sum(1 for _, flagged in expected.values() if flagged))


def details(errors, key):
    reported = errors.get(key, [])
    return ": " + "; ".join("{} [{}]".format(message, code) for code, message in reported) if reported else ""


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--cache-dir", help="mypy's cache folder")
    parser.add_argument("--only", choices=("mypy", "pyright"), help="run one checker only")
    parser.add_argument("files", nargs="+")
    arguments = parser.parse_args()
    mypy = mypy_errors(arguments.files, arguments.cache_dir) if arguments.only != "pyright" else None
    pyright = pyright_errors(arguments.files) if arguments.only != "mypy" else None
    found, codes, lines = differences(arguments.files, mypy, pyright)
    for line in found:
        print(line)
    checked = []
    if mypy is not None:
        checked.append("{} error codes expected from mypy --strict".format(codes))
    if pyright is not None:
        checked.append("{} lines that pyright (strict) must flag".format(lines))
    print("{} over {} files: {}".format(" and ".join(checked), len(arguments.files),
                                        "{} lines differ".format(len(found)) if found
                                        else "all reported, nothing else"))
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
