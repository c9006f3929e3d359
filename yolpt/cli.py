"""The command line: `yolpt COMMAND ...`, with the commands of COMMANDS."""
import argparse
import sys
import textwrap
from typing import List, Optional, Sequence

from yolpt import check, diff, dump, errors, recover, show, values, version
from yolpt.command import Command
from yolpt.output import tolerate_unencodable_text
from yolpt.serve import COMMAND as SERVE

# In the order in which `yolpt --help` lists them.
COMMANDS: List[Command] = [show.COMMAND, values.GET, values.SET, dump.COMMAND, diff.COMMAND, check.COMMAND,
                           recover.COMMAND, SERVE]

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
    for command in COMMANDS:
        sub: argparse.ArgumentParser = commands.add_parser(
            command.name, help=command.summary, description=command.summary + "\n\n" + command.details,
            formatter_class=argparse.RawDescriptionHelpFormatter)
        command.add_arguments(sub)
        sub.set_defaults(chosen=command, parser=sub)
    return parser


def main(argv: Optional[Sequence[str]] = None) -> int:
    tolerate_unencodable_text()
    errors.running(None)
    args = build_parser().parse_args(argv)
    errors.running(args.command)
    command: Command = args.chosen
    try:
        status = command.run(args)
        sys.stdout.flush()  # a closed pipe shows here, not at exit
        return status
    except (errors.Error, OSError, KeyboardInterrupt) as exc:
        return errors.report(exc, args.parser)
