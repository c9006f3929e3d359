// Traceback entries that point into the module's virtual source "vovoruze.py".
#pragma once
#include "module/python.hpp"

// Adds the entry `name` ("yol_vovoruze." + a qualified name) at `line` to
// the exception being raised. The exception stays as it is if that fails.
// With no exception set it raises SystemError (a debug build of the
// interpreter aborts): every failure it reports must have set one.
void add_traceback_entry(PyObject *name, int line);
