// Cloning a value as the module's constructors do it.
#pragma once
#include "module/member.hpp"
#include "module/python.hpp"

// The module-level function _clone_attribute.
extern const MemberSpec clone_attribute_member;

// _clone_attribute(value), through whatever the module namespace names
// `_clone_attribute` at this moment. New reference, or nullptr with the
// exception set.
PyObject *clone_through_module(PyObject *value);

// Values that are their own clone and hold nothing to walk.
inline bool is_exact_scalar(PyObject *value) {
    PyTypeObject *type = Py_TYPE(value);
    return type == &PyUnicode_Type || type == &PyLong_Type || type == &PyFloat_Type || type == &PyBool_Type;
}

// 1 when the module still names its own _clone_attribute (which gives a
// plain scalar back as it is), 0 when it names anything else, -1 when the
// lookup fails.
int clone_is_own();

// Whether the module names its own _clone_attribute, as the last lookup of
// the name found while the namespace has not changed since. Makes no lookup
// and so runs no code: false when only a lookup could tell, and always on the
// general path.
bool clone_known_own();
