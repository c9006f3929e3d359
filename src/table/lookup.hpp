// Reading and writing the tables: by ordinary attribute access, and by key
// with a dict's own operations.
#pragma once
#include "module/call.hpp"

// self.<name> by ordinary attribute access (the class's __getattr__ included).
inline PyObject *read_attribute(PyObject *self, PyObject *name) { return PyObject_GetAttr(self, name); }

// The table named `table_name` for a __getattr__ body, read without the
// __getattr__ fallback (which would ask for it again without end). An object
// that never ran its constructor has none: AttributeError, naming `asked`.
PyObject *table_for_fallback(PyObject *self, PyObject *table_name, PyObject *asked);

// table[key], table[key] = value, del table[key]: a dict's own operations
// for a dict, the object's protocols otherwise.
PyObject *get_item(PyObject *table, PyObject *key);
int set_item(PyObject *table, PyObject *key, PyObject *value);
int delete_item(PyObject *table, PyObject *key);

// Raises the interpreter's KeyError with `key` as its single argument.
void raise_missing_key(PyObject *key);

