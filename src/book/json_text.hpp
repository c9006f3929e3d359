// The text of json.dumps(value, indent=4, ensure_ascii=False), written without
// the json module for values built only of exact built-in types.
#pragma once
#include "module/python.hpp"

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
