#include "table/lookup.hpp"

PyObject *table_for_fallback(PyObject *self, PyObject *table_name, PyObject *asked) {
    PyObject *table = yol_generic_getattr_optional(self, table_name);
    if (!table && !PyErr_Occurred())
        PyErr_Format(PyExc_AttributeError,
                     "'%.100s' object has no attribute %R: it has no table %R (was it made without __init__?)",
                     Py_TYPE(self)->tp_name, asked, table_name);
    return table;
}

void raise_missing_key(PyObject *key) {
    Ref argument(PyTuple_Pack(1, key));
    if (argument)
        PyErr_SetObject(PyExc_KeyError, argument.get());
}

PyObject *get_item_after_miss(PyObject *table, PyObject *key) {
    if (!PyDict_CheckExact(table))
        return PyObject_GetItem(table, key);
    if (!PyErr_Occurred())
        raise_missing_key(key);
    return nullptr;
}

int set_item(PyObject *table, PyObject *key, PyObject *value) {
    return PyDict_CheckExact(table) ? PyDict_SetItem(table, key, value) : PyObject_SetItem(table, key, value);
}

int delete_item(PyObject *table, PyObject *key) {
    return PyDict_CheckExact(table) ? PyDict_DelItem(table, key) : PyObject_DelItem(table, key);
}
