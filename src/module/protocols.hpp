// Small helpers for the object protocols that the bodies share: raising with
// a captured exception class, unpacking pairs, keyword mappings.
#pragma once
#include "module/ref.hpp"

// raise exception_class(argument), for exception classes the module captured
// from the builtins; the argument is passed as the single argument.
void raise_with(PyObject *exception_class, PyObject *argument);

// Unpacks `pair` into exactly two values, with the interpreter's messages for
// too few and too many values.
bool unpack_pair(PyObject *pair, Ref &first, Ref &second);

// A new dict of the keyword arguments that `f(**mapping)` passes: a copy of a
// dict, or dict(mapping) for any other mapping.
PyObject *keyword_mapping(PyObject *mapping);

// The same keywords for a callee that binds them into a dict of its own: an
// exact dict itself, without a copy.
inline PyObject *keywords_to_pass(PyObject *mapping) {
    if (PyDict_CheckExact(mapping)) {
        Py_INCREF(mapping);
        return mapping;
    }
    return keyword_mapping(mapping);
}
