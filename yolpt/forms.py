"""Plain JSON data for a tree of books: what `dump` prints and `diff` compares.

    folder:    {"books": {name: book}, "directories": {name: folder}}
    book:      {"parameters": {name: parameter}}
    parameter: {"description": {language: text}, "attributes": {name: value}}
"""
from typing import Any, Dict, Union

from yol_vovoruze import Parameter, ParameterBook, ParameterDirectory

# The plain data of a folder, book or parameter: JSON objects.
Form = Dict[str, Any]


def tree_form(item: Union[ParameterDirectory, ParameterBook]) -> Form:
    if isinstance(item, ParameterDirectory):
        return directory_form(item)
    return book_form(item)


def directory_form(directory: ParameterDirectory) -> Form:
    books: Form = {}
    directories: Form = {}
    for name, item in directory.items():
        if isinstance(item, ParameterDirectory):
            directories[name] = directory_form(item)
        else:
            books[name] = book_form(item)
    return {"books": books, "directories": directories}


def book_form(book: ParameterBook) -> Form:
    return {"parameters": {name: parameter_form(parameter) for name, parameter in book.items()}}


def parameter_form(parameter: Parameter) -> Form:
    return {"description": dict(parameter.all_descriptions()), "attributes": dict(parameter.items())}
