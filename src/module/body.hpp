// The module body: binds the namespace in source order.
#pragma once
#include "module/python.hpp"

// Runs the body in `namespace_dict`; on failure returns false with the
// exception set and `failed_line` at the line of the failing statement.
bool run_module_body(PyObject *namespace_dict, int &failed_line);
