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

// table[key] where it is not an exact dict's lookup that found the key: the
// object's protocol for another table, else the dict's KeyError (unless the
// lookup failed).
PyObject *get_item_after_miss(PyObject *table, PyObject *key);

// table[key], table[key] = value, del table[key]: a dict's own operations
// for a dict, the object's protocols otherwise.
inline PyObject *get_item(PyObject *table, PyObject *key) {
    if (PyDict_CheckExact(table))
        if (PyObject *value = PyDict_GetItemWithError(table, key)) {
            Py_INCREF(value);
            return value;
        }
    return get_item_after_miss(table, key);
}
int set_item(PyObject *table, PyObject *key, PyObject *value);
int delete_item(PyObject *table, PyObject *key);

// Raises the interpreter's KeyError with `key` as its single argument.
void raise_missing_key(PyObject *key);

