"""Runs `mypy --strict` over the files given and compares its errors, line by
line, with the `# expect: CODE[, CODE...]` comments in them (an `(mypy only)`
after the codes is allowed). A line with such a comment must draw errors of
exactly those codes; every other line, and every other file, must draw none.
Exits 1 on any difference, 2 when mypy cannot run.

    python typecheck/check.py [--cache-dir DIR] FILE...

mypy must be installed for the running interpreter, and the stubs beside the
module it checks.
"""
import argparse
import collections
import os
import re
import subprocess
import sys

EXPECT = re.compile(r"#\s*expect:\s*([\w-]+(?:\s*,\s*[\w-]+)*)\s*(?:\(mypy only\))?\s*$")
ERROR = re.compile(r"^(?P<path>.+?):(?P<line>\d+): error: (?P<message>.*?)(?:  \[(?P<code>[\w-]+)\])?$")


def expected_codes(path):
    """{line number: set of codes} from the expectation comments of a file."""
    expected = {}
    with open(path, encoding="utf8") as source:
        for number, text in enumerate(source, 1):
            match = EXPECT.search(text)
            if match:
                expected[number] = {code.strip() for code in match.group(1).split(",")}
    return expected


def mypy_errors(paths, cache_dir):
    """{(path, line number): [(code, message)]} as mypy reports them."""
    command = [sys.executable, "-m", "mypy", "--strict", "--no-pretty", "--show-error-codes",
               "--hide-error-context", "--no-error-summary"]
    if cache_dir:
        command += ["--cache-dir", cache_dir]
    result = subprocess.run(command + list(paths), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            universal_newlines=True)
    if result.returncode not in (0, 1):  # 2: mypy itself failed
        sys.exit("mypy exited with {}:\n{}{}".format(result.returncode, result.stdout, result.stderr))
    errors = collections.defaultdict(list)
    for text in result.stdout.splitlines():
        match = ERROR.match(text)
        if match:
            key = (os.path.normpath(match.group("path")), int(match.group("line")))
            errors[key].append((match.group("code") or "no-code", match.group("message")))
        elif ": error:" in text:
            errors[(text, 0)].append(("unparsed", text))
    return errors


def differences(paths, errors):
    """One line of text per line of a file whose errors differ from its expectations."""
    expected = {}
    for path in paths:
        for number, codes in expected_codes(path).items():
            expected[(os.path.normpath(path), number)] = codes
    found = []
    for key in sorted(set(expected) | set(errors)):
        codes = {code for code, _ in errors.get(key, [])}
        if codes != expected.get(key, set()):
            messages = "; ".join("{} [{}]".format(message, code) for code, message in errors.get(key, []))
            found.append("{}:{}: expected {}, mypy reported {}{}".format(
                key[0], key[1], sorted(expected.get(key, [])) or "no error", sorted(codes) or "no error",
                ": " + messages if messages else ""))
    return found, sum(len(codes) for codes in expected.values())


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--cache-dir", help="mypy's cache folder")
    parser.add_argument("files", nargs="+")
    arguments = parser.parse_args()
    found, count = differences(arguments.files, mypy_errors(arguments.files, arguments.cache_dir))
    for line in found:
        print(line)
    print("{} expected error codes over {} files: {}".format(
        count, len(arguments.files), "{} lines differ".format(len(found)) if found else "all reported, nothing else"))
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
