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

// The pairs that mapping.items() yields, each unpacked into two values.
class ItemPairs {
public:
    // Calls items() and takes an iterator over its result; false (with the
    // exception set) when that fails.
    bool start(PyObject *mapping);
    // The next pair: true with both values set; false at the end, or with
    // the exception set when iterating or unpacking fails.
    bool next(Ref &first, Ref &second);

private:
    Ref iterator_;
};

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
