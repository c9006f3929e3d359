// Making an instance of one of the module's classes.
#pragma once
#include "module/function.hpp"

// A new instance of a class whose __new__ is object's, as object.__new__
// makes it (with the room for its attributes that the class keeps ready).
Ref new_instance(PyTypeObject *type);

// cls(*args, **keywords). While `cls` is `made_class` with the object's own
// __new__ and the module's own __init__ (whose body is `init_body`), the
// object is allocated and its __init__ run directly, with the same binding,
// messages and traceback entries as a call through the class.
PyObject *construct(PyObject *cls, PyObject *made_class, Body init_body, PyObject *const *args, Py_ssize_t count,
                    PyObject *keywords);
