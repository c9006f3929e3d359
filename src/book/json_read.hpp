// The value of json.loads(text), made without the json module for the texts
// that its standard decoder reads without a question.
#pragma once
#include "module/python.hpp"

#include <cstddef>

struct JsonReading {
    // What the standard decoder gives for NaN, Infinity and -Infinity: the
    // same three float objects every time (borrowed).
    PyObject *nan = nullptr, *infinity = nullptr, *negative_infinity = nullptr;
    int deepest = 0;          // arrays and objects nest at most this deep
    bool takes_null = true;   // whether null is read, or declined
    // ASCII strs that stand for keys of the same text (borrowed): the reader's
    // caller then finds its own names in the dicts at once.
    PyObject *const *known_keys = nullptr;
    std::size_t known_key_count = 0;
};

// The value that json.loads(text) gives for the exact str `text`, read as
// its standard decoder reads it (strict, no hooks, int and float): dict
// (keys in order of first appearance, the last value of a repeated key),
// list, str, int, float, True, False and None: a new reference.
//
// nullptr with no exception set where json would refuse the text (which
// json is then to report), and where this reader declines: a nesting deeper
// than `deepest` or than the interpreter's recursion room, a null where it is
// not taken, an int that int() refuses for its length, memory running out.
// Runs no Python code.
PyObject *read_json(PyObject *text, const JsonReading &how);
