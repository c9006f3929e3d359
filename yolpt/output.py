"""Writing to the terminal or a pipe, whatever encoding it has."""
import codecs
import io
import json
import sys
from typing import Optional


def tolerate_unencodable_text() -> None:
    """Characters that stdout and stderr cannot encode are written as escapes
    instead of ending the command with an error."""
    for name in ("stdout", "stderr"):
        stream = getattr(sys, name)
        if stream is None or getattr(stream, "errors", None) == "backslashreplace":
            continue
        if hasattr(stream, "reconfigure"):
            stream.reconfigure(errors="backslashreplace")
        elif hasattr(stream, "buffer"):
            stream.flush()
            encoding, line_buffering = stream.encoding, stream.line_buffering
            setattr(sys, name, io.TextIOWrapper(stream.detach(), encoding=encoding, errors="backslashreplace",
                                                line_buffering=line_buffering))


def writes_unicode() -> bool:
    """Whether stdout encodes every character (else JSON is written with escapes)."""
    try:
        return codecs.lookup(sys.stdout.encoding or "ascii").name.startswith("utf")
    except LookupError:
        return False


def to_json(value: object, indent: Optional[int] = None, sort_keys: bool = True) -> str:
    """JSON text of `value`; non-ASCII text as itself where stdout can take it."""
    return json.dumps(value, indent=indent, sort_keys=sort_keys, ensure_ascii=not writes_unicode())


def plural(count: int, noun: str) -> str:
    return "%d %s%s" % (count, noun, "" if count == 1 else "s")
