"""`get` and `set`: one value, read from or written to its book file."""
import json
import os

from yol_vovoruze import Parameter, ParameterBook

from yolpt import errors, forms, loading, value_types
from yolpt.address import aim, find_book, split_inside
from yolpt.errors import Error, UsageError, describe
from yolpt.locking import FolderLock
from yolpt.output import to_json


def run_get(args):
    aimed = aim(args.path, args.name)
    if aimed.directory is not None:
        return _print_directory(aimed.directory)
    # Looked up and read under the lock, as `set` does: a save of the folder
    # that runs meanwhile holds its book files as backups for a while.
    with FolderLock(aimed.folder, exclusive=False):
        place = find_book(aimed)
        if place.directory is not None:
            return _print_directory(place.directory)
        book = loading.load_book(place.book_file)
    if place.inside is None:
        print(to_json(forms.book_form(book), indent=4))
        return errors.OK
    try:
        parameter_name, attribute = split_inside(book, place.inside, attribute_needed=False)
    except Error as exc:
        raise Error("%s: %s" % (place.book_file, exc), exc.status)
    parameter = book[parameter_name]
    if attribute is None:
        print(to_json(forms.parameter_form(parameter), indent=4))
    else:
        print(to_json(parameter[attribute]))
    return errors.OK


def _print_directory(folder):
    print(to_json(forms.directory_form(loading.load_directory(folder)), indent=4))
    return errors.OK


def run_set(args):
    reading = value_types.read(args.value, args.type)
    if loading.holds_null(reading.value):
        raise UsageError("VALUE holds null, which no parameter can hold")
    value_types.refuse_non_finite(reading, args.non_finite)
    aimed = aim(args.path, args.name, creating=args.create)
    if aimed.directory is not None or aimed.inside is None:
        raise UsageError("%r names no attribute: write book.parameter.attribute" % args.name)
    if args.create:
        os.makedirs(aimed.folder, exist_ok=True)
    with FolderLock(aimed.folder, exclusive=True):
        # Looked up under the lock: a save of the folder that runs meanwhile
        # holds its book files as backups until it has written them again.
        place = find_book(aimed, creating=args.create)
        exists = os.path.lexists(place.book_file)
        book = loading.load_book(place.book_file) if exists else ParameterBook()
        try:
            parameter_name, attribute = split_inside(book, place.inside, attribute_needed=True,
                                                     creating=args.create)
        except Error as exc:
            raise Error("%s: %s" % (place.book_file, exc), exc.status)
        if parameter_name not in book.names():
            book[parameter_name] = Parameter()
        parameter = book[parameter_name]
        had_value = attribute in parameter.names()
        old = parameter[attribute] if had_value else None
        where = "%s: %s.%s" % (place.book_file, parameter_name, attribute)
        value = value_types.fit(reading, args.type, (where, old) if had_value else None)
        parameter[attribute] = value
        _refuse_unloadable(book, place.book_file)
        try:
            # The module writes a temporary file and renames it over the book file.
            book.save(place.book_file, False)
        except Exception as exc:
            raise Error("%s: not saved: %s" % (place.book_file, describe(exc)))
    change = "%s -> %s" % (to_json(old), to_json(value)) if had_value else "%s (new)" % to_json(value)
    print("%s: %s.%s: %s" % (place.book_file, parameter_name, attribute, change))
    return errors.OK


def _refuse_unloadable(book, book_file):
    """Stops a change after which the book file would no longer load (a null
    value, an attribute named "description")."""
    try:
        for form in json.loads(str(book)):
            Parameter.from_dict(form)
    except Exception as exc:
        raise Error("%s: not changed: the book would no longer load: %s" % (book_file, describe(exc)))
