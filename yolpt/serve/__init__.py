"""`serve`: a parameter folder in a browser, to read and to edit.

This part imports nothing beyond the standard library, so that the command
line builds on every interpreter; the web server (Starlette and uvicorn, the
`serve` extra, Python 3.8 or newer) is imported when the command runs."""
import argparse
import os
import sys
from yolpt.command import Command
from yolpt.errors import Error, NotFound, UsageError

SUMMARY = "Read and edit a folder in a browser, on this machine."

DETAILS = """\
Prints, as its first line, the address to open (http://127.0.0.1:PORT/?token=...)
and serves the folder until Ctrl-C. The page shows its folders, books and
parameters, each description in the browser's language (else its "default"
text), and a check view with what `yolpt check` finds. A value is changed in
place with the rules of `yolpt set`: it keeps its type unless another is
chosen, and its book is written under the folder's lock. A book that changed
on disk since the page read it is not overwritten: the page shows the other
version.

Only this machine can connect (the loopback address) unless --host is given,
and every request must carry the token of the address printed.

Needs Python 3.8 or newer and the serve extra:
  pip install "yol_vovoruze[serve]"

examples:
  yolpt serve config
  yolpt serve config --port 8470"""


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("path", metavar="FOLDER", help="a folder that a ParameterDirectory was saved to")
    parser.add_argument("--port", type=int, default=0, metavar="N",
                        help="the port to listen on (default: a free one, which the address shows)")
    parser.add_argument("--host", metavar="ADDRESS",
                        help="listen on this address instead of 127.0.0.1 (with a warning: whoever reaches it "
                             "with the address printed can change the books)")


def run(args: argparse.Namespace) -> int:
    if sys.version_info < (3, 8):
        raise Error("serve needs Python 3.8 or newer, and this is Python %d.%d; the other commands run here"
                    % sys.version_info[:2])
    if not os.path.isdir(args.path):
        if os.path.lexists(args.path):
            raise UsageError("%s: not a folder: serve shows a folder that a ParameterDirectory was saved to"
                             % args.path)
        raise NotFound("%s: no such folder" % args.path)
    if not 0 <= args.port <= 65535:
        raise UsageError("--port %d: a port is 0 (a free one) to 65535" % args.port)
    try:
        from yolpt.serve import app
    except ImportError as exc:
        raise Error("serve needs Starlette and uvicorn, which this Python lacks (%s): "
                    "pip install \"yol_vovoruze[serve]\"" % exc)
    return app.serve(args.path, args.host, args.port)


COMMAND = Command("serve", SUMMARY, DETAILS, add_arguments, run)
