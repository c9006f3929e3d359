// The text of json.dumps(value, indent=4, ensure_ascii=False), written without
// the json module for values built only of exact built-in types.
#pragma once
#include "module/ref.hpp"

#include <vector>

// The text, character for character as the json module writes it, of a value
// made only of dict, list, tuple, str, int, float, bool and None (exactly
// those types, at every depth): a new str. nullptr with an exception set on a
// real error (out of memory). nullptr with no exception set when the value is
// left to the json module: any other type or a subclass anywhere in it, a
// nesting deeper than the recursion room the json module would have (which
// takes in a value that contains itself), or an int too large for a float
// (from about 2**1024 on).
//
// Runs no Python code: the value is read while it stays as it is.
PyObject *indented_json_text(PyObject *value);

// One element of a book's list of forms: a ready form (`form` set), or the
// name and the two tables that the module's own to_dict would put into one.
struct BookForm {
    Ref form;
    Ref name, description, attributes;
};

// The same for a list of such forms, each part as the dict to_dict makes
// would hold it: {"name": ..., "description": ..., "attributes": ...}.
// With the text, `wrote_null` tells whether it holds a null (for None, as a
// value or a key): the walk that writes it visits every value.
PyObject *indented_json_text(const std::vector<BookForm> &forms, bool &wrote_null);
