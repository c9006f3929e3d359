#include "module/placeholder.hpp"

PyObject *not_built_yet(Call &call) {
    PyErr_Format(PyExc_NotImplementedError, "%U is not built yet", call.function()->qualname);
    return call.fail(call.function()->spec->line + 1);
}
