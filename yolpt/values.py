"""`get` and `set`: one value or description, read from or written to its book file."""
import argparse
import json
import os
from typing import Any, Optional, Tuple

from yol_vovoruze import Parameter, ParameterBook

from yolpt import errors, forms, hints, loading, value_types
from yolpt.address import Place, aim, description_text, find_book, split_inside
from yolpt.command import Command
from yolpt.disk import FolderLock
from yolpt.errors import Error, NotFound, UsageError, describe
from yolpt.hints import Wording
from yolpt.output import to_json

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


def add_get_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("path", metavar="PATH", help="a folder or a book file")
    parser.add_argument("name", metavar="NAME", help="what to print")
    parser.add_argument("--description", metavar="LANG",
                        help="print the description of the parameter NAME in the language LANG "
                             "('default' for its default text)")


def run_get(args: argparse.Namespace) -> int:
    language: Optional[str] = args.description
    aimed = aim(args.path, args.name)
    if aimed.directory is not None:
        return _print_directory(aimed.directory, language)
    # Looked up and read under the lock, as `set` does: a save of the folder
    # that runs meanwhile holds its book files as backups for a while.
    with FolderLock(aimed.folder, exclusive=False):
        place = find_book(aimed)
        if place.directory is not None:
            return _print_directory(place.directory, language)
        book = loading.load_book(place.file())
    if place.inside is None:
        if language is not None:
            raise UsageError("%r names a book: --description takes a parameter's address, such as %s.PARAMETER"
                             % (args.name, args.name))
        print(to_json(forms.book_form(book), indent=4))
        return errors.OK
    if language is not None:
        parameter_name = parameter_named(book, place, hints.READING)
        print(to_json(description_text(book[parameter_name], language, "%s: parameter %r" % (place.file(),
                                                                                             parameter_name))))
        return errors.OK
    parameter_name, attribute = _split(book, place, attribute_needed=False)
    parameter = book[parameter_name]
    if attribute is None:
        print(to_json(forms.parameter_form(parameter), indent=4))
    else:
        print(to_json(parameter[attribute]))
    return errors.OK


GET = Command("get", "Print one value, or a description, as JSON.", GET_DETAILS, add_get_arguments, run_get)


def _print_directory(folder: str, language: Optional[str]) -> int:
    if language is not None:
        raise UsageError("%s names a folder: --description takes a parameter's address" % folder)
    print(to_json(forms.directory_form(loading.load_directory(folder)), indent=4))
    return errors.OK


def _split(book: ParameterBook, place: Place, attribute_needed: bool, creating: bool = False,
           wording: Wording = hints.READING) -> Tuple[str, Optional[str]]:
    """split_inside, with the book file named in what it raises."""
    assert place.inside is not None
    book_address = place.address[:len(place.address) - len(place.inside) - 1] if place.book is not None else None
    try:
        return split_inside(book, place.inside, attribute_needed, creating, wording, book_address)
    except NotFound as exc:
        raise NotFound("%s: %s" % (place.file(), exc))


def parameter_named(book: ParameterBook, place: Place, wording: Wording, creating: bool = False) -> str:
    """The parameter that the address names as a whole (for --description)."""
    assert place.inside is not None
    if place.inside in book.names() or creating:
        return place.inside
    name, attribute = _split(book, place, attribute_needed=False, wording=wording)
    raise UsageError("%s: %r names the attribute %r of parameter %r; --description takes the address of a "
                     "parameter: %s" % (place.file(), place.address, attribute, name,
                                        place.address[:len(place.address) - len(attribute or "") - 1]))


def add_set_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("path", metavar="PATH", help="a folder or a book file")
    parser.add_argument("name", metavar="NAME", help="the attribute to set (a parameter, with --description)")
    parser.add_argument("value", metavar="VALUE", help="the new value (the text, with --description)")
    parser.add_argument("--description", metavar="LANG",
                        help="set the description of the parameter NAME in the language LANG "
                             "('default' for its default text) to the text VALUE")
    kind = parser.add_mutually_exclusive_group()
    kind.add_argument("--type", choices=value_types.TYPES, metavar="TYPE",
                      help="store VALUE as this JSON type, whatever the type of the value it replaces: "
                           + ", ".join(value_types.TYPES))
    kind.add_argument("--string", action="store_const", dest="type", const="string",
                      help="store VALUE as a string, whatever it looks like (--type string)")
    parser.add_argument("--non-finite", action="store_true",
                        help="allow NaN, Infinity, -Infinity and numbers too large for a float (1e400)")
    parser.add_argument("--create", action="store_true",
                        help="create the attribute (or description), its parameter, its book and its "
                             "folders where missing")


def run_set(args: argparse.Namespace) -> int:
    language: Optional[str] = args.description
    text = value_types.as_typed(args.value)
    reading: Optional[value_types.Reading] = None
    if language is not None:
        if args.type is not None or args.non_finite:
            raise UsageError("--description sets a text, as it is written: --type, --string and --non-finite "
                             "are for values")
    else:
        reading = value_types.read(args.value, args.type)
        value_types.refuse_non_finite(reading, args.non_finite)
    aimed = aim(args.path, args.name, creating=args.create, wording=hints.COMMAND)
    if aimed.directory is not None or aimed.inside is None:
        raise UsageError("%r names no attribute: write book.parameter.attribute (or book.parameter with "
                         "--description LANG to set a description)" % args.name)
    if args.create:
        os.makedirs(aimed.folder, exist_ok=True)
    with FolderLock(aimed.folder, exclusive=True):
        # Looked up under the lock: a save of the folder that runs meanwhile
        # holds its book files as backups until it has written them again.
        place = find_book(aimed, creating=args.create, wording=hints.COMMAND)
        book_file = place.file()
        exists = os.path.lexists(book_file)
        book = loading.load_book(book_file) if exists else ParameterBook()
        if language is not None:
            parameter_name = parameter_named(book, place, hints.COMMAND, creating=args.create)
            attribute: Optional[str] = None
        else:
            parameter_name, attribute = _split(book, place, attribute_needed=True, creating=args.create,
                                               wording=hints.COMMAND)
            if attribute in value_types.RESERVED_ATTRIBUTES:
                raise UsageError("%s: %s" % (book_file, value_types.reserved_attribute(
                    attribute, place.address[:-len(attribute) - 1], hints.COMMAND)))
        if parameter_name not in book.names():
            book[parameter_name] = Parameter()
        parameter = book[parameter_name]
        old: Any
        value: Any
        if language is not None:
            table = parameter.all_descriptions()
            had_value, old = language in table, table.get(language)
            parameter.set_description(text, language)
            value = text
            what = "%s --description %s" % (parameter_name, language)
        else:
            assert attribute is not None and reading is not None
            had_value = attribute in parameter.names()
            old = parameter[attribute] if had_value else None
            what = "%s.%s" % (parameter_name, attribute)
            value = value_types.fit(reading, args.type, ("%s: %s" % (book_file, what), old) if had_value else None)
            parameter[attribute] = value
        refuse_unloadable(book, book_file)
        try:
            # The module writes a temporary file and renames it over the book file.
            book.save(book_file, False)
        except Exception as exc:
            raise Error("%s: not saved: %s" % (book_file, describe(exc)))
    change = "%s -> %s" % (to_json(old), to_json(value)) if had_value else "%s (new)" % to_json(value)
    print("%s: %s: %s" % (book_file, what, change))
    return errors.OK


SET = Command("set", "Change one value, or a description, and save its book.", SET_DETAILS, add_set_arguments,
              run_set)


def refuse_unloadable(book: ParameterBook, book_file: str) -> None:
    """Stops a change after which the book file would no longer load (a null
    value, an attribute named "description")."""
    try:
        for form in json.loads(str(book)):
            Parameter.from_dict(form)
    except Exception as exc:
        raise Error("%s: not changed: the book would no longer load: %s" % (book_file, describe(exc)))
