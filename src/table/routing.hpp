// The names that a class's __setattr__ and __delattr__ hand to the base class
// instead of the table: "_" + the __name__ of the object's class + "__" + a
// suffix (the tables' own private names), and a plain name ("description").
#pragma once
#include "module/function.hpp"
#include "module/names.hpp"
#include "module/rows.hpp"

// The name that the defining class itself gives a table, and its suffix. The
// defining class's own name is recognised for instances of subclasses too,
// so that they keep their tables where the class's own code looks for them.
struct RoutedName {
    const InternedName *own;  // "_<DefiningClass>__<suffix>"
    PyObject *const *suffix;  // "<suffix>"
};

struct RoutedNames {
    Rows<RoutedName> entries;
    PyObject *const *plain_name = nullptr;  // a further name matched as it is, or nullptr
};

// Whether `key` is one of `routed` for `self`, an instance of the class named
// `defining_class_name` (its name when the module made it) or of a subclass;
// a failure says which step it met.
enum class Routing { Table, Base, FailedAtPrefix, FailedAtCompare };
Routing route(PyObject *self, PyObject *key, const RoutedNames &routed, PyObject *defining_class_name);

// super(<defining class>, self).__setattr__(key, value), or __delattr__(key)
// when `value` is nullptr.
int hand_to_base(PyObject *defining_class, PyObject *self, PyObject *key, PyObject *value);

// self.<table_name> = table, as the defining class's own code assigns its
// tables. While the object's __setattr__ is the module's own (whose body is
// `setattr_body`, which hands these names to the base class), the table goes
// to the base class directly.
int assign_table(PyObject *self, PyObject *table_name, PyObject *table, PyObject *defining_class, Body setattr_body);
