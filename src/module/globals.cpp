#include "module/globals.hpp"

#include "module/ref.hpp"

ProcessRecords records;
CapturedBuiltins captured;
CapturedJson captured_json;

PyObject *lookup_global(PyObject *name) {
    PyObject *found = PyDict_GetItemWithError(module_namespace(), name);
    if (found) {
        Py_INCREF(found);
        return found;
    }
    if (PyErr_Occurred())
        return nullptr;
    found = PyObject_GetAttr(records.builtins_module, name);
    if (!found && PyErr_ExceptionMatches(PyExc_AttributeError)) {
        PyErr_Clear();
        PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
    }
    return found;
}

PyObject *GlobalName::lookup_and_keep(PyObject *namespace_dict) {
    Py_CLEAR(value_);
    PyObject *found = PyDict_GetItemWithError(namespace_dict, name_);
    if (!found)
        return PyErr_Occurred() ? nullptr : lookup_global(name_);
    Py_INCREF(found);
    value_ = found;
    version_ = yol_dict_version(namespace_dict);
    Py_INCREF(found);
    return found;
}
