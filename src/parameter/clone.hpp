// Cloning a value as the module's constructors do it.
#pragma once
#include "module/python.hpp"

// _clone_attribute(value), through whatever the module namespace names
// `_clone_attribute` at this moment. New reference, or nullptr with the
// exception set.
PyObject *clone_through_module(PyObject *value);

// 1 when `value` is a plain int, float or str that _clone_attribute, still
// the module's own, gives back as it is; 0 when not; -1 when the lookup fails.
int kept_by_clone(PyObject *value);
