// What the three classes share: each keeps its contents in dicts in the
// instance dictionary under private names, reads them by ordinary attribute
// access, routes its own private names past its __setattr__ and __delattr__,
// and indexes the tables with the interpreter's dict semantics.
#pragma once
#include "module/call.hpp"

#include <cstddef>

// self.<name> by ordinary attribute access (the class's __getattr__ included).
inline PyObject *read_attribute(PyObject *self, PyObject *name) { return PyObject_GetAttr(self, name); }

// The table named `table_name` for a __getattr__ body, read without the
// __getattr__ fallback (which would ask for it again without end). An object
// that never ran its constructor has none: AttributeError, naming `asked`.
PyObject *table_for_fallback(PyObject *self, PyObject *table_name, PyObject *asked);

// table[key], table[key] = value, del table[key], key in table: a dict's own
// operations for a dict, the object's protocols otherwise.
PyObject *get_item(PyObject *table, PyObject *key);
int set_item(PyObject *table, PyObject *key, PyObject *value);
int delete_item(PyObject *table, PyObject *key);

// Raises the interpreter's KeyError with `key` as its single argument.
void raise_missing_key(PyObject *key);

// The private names that a class's __setattr__ and __delattr__ hand to the
// base class: "_" + the __name__ of the object's class + "__" + a suffix.
// The name that the defining class itself gives each table is recognised
// too, so that a subclass's instances keep their tables where the class's own
// code looks for them.
struct PrivateName {
    PyObject *const *own;     // "_<DefiningClass>__<suffix>", interned
    PyObject *const *suffix;  // "<suffix>"
};

struct PrivateNames {
    PyObject *const *defining_class;       // the class whose code stores the tables
    PyObject *const *defining_class_name;  // its name when the module made it
    const PrivateName *entries;
    std::size_t count;
    PyObject *const *plain_name;  // a further name matched as it is ("description"), or nullptr
};

// 1 when `key` is one of those names for `self`, 0 when not, -1 with an
// exception set and the traceback entry at `prefix_line` (building the
// prefix) or `compare_line` (comparing).
int is_private_name(const Call &call, PyObject *self, PyObject *key, const PrivateNames &names, int prefix_line,
                    int compare_line);

// super(<defining class>, self).__setattr__(key, value), or __delattr__(key)
// when `value` is nullptr.
int hand_to_base(PyObject *defining_class, PyObject *self, PyObject *key, PyObject *value);

// self.<table_name> = table, as the defining class's own code assigns its
// tables. While the object's __setattr__ is the module's own (whose body is
// `setattr_body`, which hands these names to the base class), the table goes
// to the base class directly.
int assign_table(PyObject *self, PyObject *table_name, PyObject *table, PyObject *defining_class, Body setattr_body);

// The attribute lookup of a class whose __getattr__ has the body `fallback`:
// generic lookup first, then that body, as the interpreter's own slot does
// but without making a bound method for each miss.
PyObject *lookup_with_fallback(PyObject *self, PyObject *name, Body fallback);

template <Body fallback>
PyObject *getattro_with_fallback(PyObject *self, PyObject *name) {
    return lookup_with_fallback(self, name, fallback);
}
