// Cloning a value as the module's constructors do it.
#pragma once
#include "module/python.hpp"

// _clone_attribute(value), through whatever the module namespace names
// `_clone_attribute` at this moment. New reference, or nullptr with the
// exception set.
PyObject *clone_through_module(PyObject *value);
