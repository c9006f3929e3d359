// Making an instance of one of the module's classes.
#pragma once
#include "module/function.hpp"

#include <initializer_list>

// A new instance of a class whose __new__ is object's, as object.__new__
// makes it (with the room for its attributes that the class keeps ready).
Ref new_instance(PyTypeObject *type);

// cls(*args, **keywords). While `cls` is `made_class` with the object's own
// __new__ and the module's own __init__ (whose body is `init_body`), the
// object is allocated and its __init__ run directly, with the same binding,
// messages and traceback entries as a call through the class.
PyObject *construct(PyObject *cls, PyObject *made_class, Body init_body, PyObject *const *args, Py_ssize_t count,
                    PyObject *keywords);

// Whether instances of `cls` are made as the module's own code makes them:
// the class that the module made (`made`), of the metaclass type, based on
// object alone, with the object's __new__, the module's own __init__ and
// __setattr__ (whose bodies are `init` and `setattr`; the latter hands the
// tables to object's), and nothing of the class's own where the instance
// keeps its tables (`tables`). Asked through own_member: never on the
// general path.
bool made_as_module_makes(PyObject *cls, PyObject *made, Body init, Body setattr,
                          std::initializer_list<PyObject *> tables);

// Whether garbage instances of `type` go without running code (no __del__).
bool finalised_quietly(PyTypeObject *type);
