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
