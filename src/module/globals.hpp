// Process-wide records of the module, and what bodies need of the module's
// namespace: call-time lookups of module-level names, the builtins captured at
// initialisation, and the assertion switch.
#pragma once
#include "module/python.hpp"

struct ProcessRecords {
    PyInterpreterState *interpreter = nullptr;  // of the first create step; never cleared
    PyObject *module = nullptr;                 // strong; set by the exec step, dropped when it fails
    PyObject *builtins_module = nullptr;        // strong; the builtins seen by the exec step
};
extern ProcessRecords records;

// The builtins the module takes once, while it initialises.
struct CapturedBuiltins {
    PyObject *eval = nullptr;
    PyObject *property = nullptr;
    PyObject *staticmethod = nullptr;
    PyObject *TypeError = nullptr;
    PyObject *super = nullptr;
    PyObject *KeyError = nullptr;
    PyObject *open = nullptr;
};
extern CapturedBuiltins captured;

// The module namespace (borrowed); only valid once the exec step has started.
PyObject *module_namespace();

// Looks a module-level name up when it is used: the module namespace first,
// then the builtins. New reference, or nullptr with NameError (or another
// error of the lookup) set.
PyObject *lookup_global(PyObject *name);

// Assertion checks run unless the interpreter runs with -O; read at each call.
inline bool assertions_enabled() { return !yol_optimisation_on(); }

// Raises AssertionError without a message; returns nullptr for `return fail`.
void raise_assertion();

// Raises the captured KeyError with `key` as its single argument.
void raise_key_error(PyObject *key);
