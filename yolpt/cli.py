"""The command line: `yolpt COMMAND ...`."""
import argparse
import os
import sys
import textwrap
from typing import Any, Callable, Optional, Sequence

from yolpt import check, diff, dump, errors, recover, show, value_types, values, version
from yolpt.errors import Error, UsageError, describe
from yolpt.output import tolerate_unencodable_text
from yolpt.serve import add_command as add_serve_command

DESCRIPTION = """\
Inspect and change yol_vovoruze parameters from the shell: a book file
(NAME.yolpt) or a folder that a ParameterDirectory was saved to. The same
addresses and rules serve programs, on trees in memory: yolpt.find,
yolpt.assign, yolpt.apply_overrides, yolpt.apply_environment and
yolpt.differences (python -c "help('yolpt')")."""

EPILOG = ("exit status:\n"
          + "".join(textwrap.fill(text, 79, initial_indent="%5d  " % status, subsequent_indent=" " * 7) + "\n"
                    for status, text in errors.STATUSES)
          + "Run `yolpt COMMAND --help` for the options of a command.")

ADDRESS = """\
NAME is dir/sub/book.parameter.attribute below a folder, or
parameter.attribute in a book file: folders end in '/', and a book is
named after its file without .yolpt (motors/left.speed.value is the
attribute value of the parameter speed in motors/left.yolpt)."""

GET_DETAILS = ADDRESS + """ A NAME that
stops at a parameter, a book or a folder ('dir/') prints all of it.

--description LANG prints the description of the parameter that NAME
names in the language LANG: 'default' is the text for every language
without its own (de_DE, en_US: as the system's locale names them). A LANG
without a text of its own is an error (its programs read 'default').

examples:
  yolpt get config motors/left.speed.value
  yolpt get config motors/left.speed --description de_DE
  yolpt get config/motors/left.yolpt speed"""

SET_DETAILS = ADDRESS + """

VALUE is JSON (1500, 2.5, true, [0, 3000], "text"); a bare word is a string.
The value keeps the JSON type of the one it replaces: a VALUE of another
type (15OO or yes where a number is stored, 12 where a string is) is
refused, unless --type names the type to store (--string for a string).
Where a float is stored, an integer VALUE is stored as that float (3 as
3.0); where an integer is stored, 2.5 is refused without --type float.
NaN, Infinity, -Infinity and 1e400 (too large for a float: Infinity) are
refused without --non-finite: most JSON readers other than Python's reject
them.

--description LANG sets the description of the parameter that NAME names,
in the language LANG ('default': the text for every language without its
own), to VALUE, stored as it is written.

Only that book file is rewritten, atomically, under the lock of its folder.

examples:
  yolpt set config motors/left.speed.value 1500
  yolpt set config motors/left.speed.value 2.5 --type float
  yolpt set config motors/left.speed Drehzahl --description de_DE
  yolpt set config motors/new.speed.value 1500 --create"""


def _command(commands: Any, name: str, run: Callable[[argparse.Namespace], int], summary: str,
             details: str) -> argparse.ArgumentParser:
    parser: argparse.ArgumentParser = commands.add_parser(name, help=summary, description=summary + "\n\n" + details,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.set_defaults(run=run, parser=parser)
    return parser


class _Version(argparse.Action):
    """Prints the version, looked up only when asked for (on 3.6 and 3.7 the
    lookup imports pkg_resources, which takes a while)."""

    def __call__(self, parser: argparse.ArgumentParser, namespace: argparse.Namespace, values: object,
                 option_string: Optional[str] = None) -> None:
        print(version.banner())
        parser.exit()


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog="yolpt", description=DESCRIPTION, epilog=EPILOG,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--version", action=_Version, nargs=0,
                        help="print the version of yolpt (its distribution's) and of Python, and exit")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND")
    commands.required = True

    command = _command(commands, "show", show.run, "Show a book file or a folder as a tree.",
                       "Folders end in '/', books are listed with their parameters, each with its\n"
                       "description and its attributes as JSON.")
    command.add_argument("path", metavar="PATH", help="a book file or a folder")
    command.add_argument("--lang", metavar="LANG",
                         help="language of the descriptions (its entry, else \"default\"); "
                              "without it, the system's language")

    command = _command(commands, "get", values.run_get, "Print one value, or a description, as JSON.", GET_DETAILS)
    command.add_argument("path", metavar="PATH", help="a folder or a book file")
    command.add_argument("name", metavar="NAME", help="what to print")
    command.add_argument("--description", metavar="LANG",
                         help="print the description of the parameter NAME in the language LANG "
                              "('default' for its default text)")

    command = _command(commands, "set", values.run_set, "Change one value, or a description, and save its book.",
                       SET_DETAILS)
    command.add_argument("path", metavar="PATH", help="a folder or a book file")
    command.add_argument("name", metavar="NAME", help="the attribute to set (a parameter, with --description)")
    command.add_argument("value", metavar="VALUE", help="the new value (the text, with --description)")
    command.add_argument("--description", metavar="LANG",
                         help="set the description of the parameter NAME in the language LANG "
                              "('default' for its default text) to the text VALUE")
    kind = command.add_mutually_exclusive_group()
    kind.add_argument("--type", choices=value_types.TYPES, metavar="TYPE",
                      help="store VALUE as this JSON type, whatever the type of the value it replaces: "
                           + ", ".join(value_types.TYPES))
    kind.add_argument("--string", action="store_const", dest="type", const="string",
                      help="store VALUE as a string, whatever it looks like (--type string)")
    command.add_argument("--non-finite", action="store_true",
                         help="allow NaN, Infinity, -Infinity and numbers too large for a float (1e400)")
    command.add_argument("--create", action="store_true",
                         help="create the attribute (or description), its parameter, its book and its "
                              "folders where missing")

    command = _command(commands, "dump", dump.run, "Print the whole tree as one JSON document.",
                       "Keys are sorted. A folder is {\"books\": {...}, \"directories\": {...}}, a book\n"
                       "{\"parameters\": {...}}, a parameter {\"description\": {...}, \"attributes\": {...}}.")
    command.add_argument("path", metavar="PATH", help="a book file or a folder")

    command = _command(commands, "diff", diff.run, "Show what differs between two books or two folders.",
                       "Lines start with '+' (only in B), '-' (only in A) or '~' (changed), followed\n"
                       "by the address as get and set take it (a description's as\n"
                       "book.parameter --description LANG). Values differ by their JSON text: 1,\n"
                       "1.0 and true differ. Exit status 0 when they are the same, 1 when they\n"
                       "differ, 2 when one of them cannot be loaded.")
    command.add_argument("a", metavar="A", help="a book file or a folder")
    command.add_argument("b", metavar="B", help="a book file or a folder")

    command = _command(commands, "check", check.run, "Report what is wrong with a book file or a folder.",
                       "Reports, each with its file: book files that do not load and why, backups\n"
                       "(NAME.yolpt-) and temporary files of saves that did not finish, entries that\n"
                       "loads refuse or skip, names that look like book files but are not read, and\n"
                       "numbers that most JSON readers other than Python's refuse (NaN, Infinity,\n"
                       "-Infinity), each with its parameter and attribute or description.\n"
                       "Other files (a README) are not reported. Exit status 0 only when clean.")
    command.add_argument("path", metavar="PATH", help="a book file or a folder")

    command = _command(commands, "recover", recover.run,
                       "Repair what interrupted saves left in a folder tree.",
                       "Renames back a backup whose book file is missing, removes temporary files\n"
                       "of saves whose process no longer runs, and keeps a backup beside its book\n"
                       "file (the book file is newer) unless --discard-backups is given. Never rolls\n"
                       "a book back, and never renames a backup back where its book file would make\n"
                       "the folder load worse: where another file or a sub-folder gives the same\n"
                       "name, or the backup does not load. What it leaves it reports as \"cannot\n"
                       "fix\", with the reason, and exits with status 1. Without --apply it only\n"
                       "prints what it would do.")
    command.add_argument("path", metavar="PATH", help="a folder")
    command.add_argument("--apply", action="store_true", help="make the changes")
    command.add_argument("--discard-backups", action="store_true",
                         help="remove backups beside book files that load")

    add_serve_command(commands)
    return parser


def main(argv: Optional[Sequence[str]] = None) -> int:
    tolerate_unencodable_text()
    errors.running(None)
    args = build_parser().parse_args(argv)
    errors.running(args.command)
    try:
        status: int = args.run(args)
        sys.stdout.flush()  # a closed pipe shows here, not at exit
        return status
    except Error as exc:
        if isinstance(exc, UsageError):
            args.parser.print_usage(sys.stderr)
        errors.tell("error", str(exc))
        return exc.status
    except BrokenPipeError:
        # The reader went away (`yolpt dump DIR | head`): no more output, no complaint.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return errors.FAILED
    except OSError as exc:
        errors.tell("error", describe(exc))
        return errors.FAILED
    except KeyboardInterrupt:
        return errors.INTERRUPTED
