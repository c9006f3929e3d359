#include "module/globals.hpp"

#include "module/ref.hpp"

ProcessRecords records;
CapturedBuiltins captured;
StandardModules standard;

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

Ref GlobalName::lookup_and_remember(PyObject *namespace_dict, uint64_t version) {
    found_ = nullptr;
    // The lookup may run Python code (a host's key with its own __eq__) that
    // changes the namespace: then the version read before it is stale.
    Ref found = Ref::borrow(PyDict_GetItemWithError(namespace_dict, name_.get()));
    if (!found)
        return Ref(PyErr_Occurred() ? nullptr : lookup_global(name_.get()));
    if (yol_dict_stamp(namespace_dict) == version) {
        found_ = found.get();
        version_ = version;
    }
    return found;
}
