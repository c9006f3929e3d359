#include "module/table.hpp"

#include "module/calls.hpp"
#include "module/globals.hpp"
#include "module/names.hpp"

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

PyObject *get_item(PyObject *table, PyObject *key) {
    if (!PyDict_CheckExact(table))
        return PyObject_GetItem(table, key);
    PyObject *value = PyDict_GetItemWithError(table, key);
    if (value) {
        Py_INCREF(value);
        return value;
    }
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

namespace {

int equal(PyObject *key, PyObject *name) {
    if (key == name)
        return 1;
    return PyObject_RichCompareBool(key, name, Py_EQ);
}

// self.__class__.__name__
PyObject *class_name_of(PyObject *self) {
    Ref cls(PyObject_GetAttr(self, names.dunder_class));
    return cls ? PyObject_GetAttr(cls.get(), names.dunder_name) : nullptr;
}

// "_" + class_name + "__"
PyObject *private_prefix(PyObject *class_name) {
    Ref underscore(PyUnicode_FromString("_"));
    Ref start(underscore ? PyNumber_Add(underscore.get(), class_name) : nullptr);
    Ref dunder(start ? PyUnicode_FromString("__") : nullptr);
    return dunder ? PyNumber_Add(start.get(), dunder.get()) : nullptr;
}

}  // namespace

int is_private_name(const Call &call, PyObject *self, PyObject *key, const PrivateNames &names, int prefix_line,
                    int compare_line) {
    Ref class_name(class_name_of(self));
    if (!class_name)
        return call.fail(prefix_line), -1;
    // Under the defining class's own name the prefixed names are its own.
    const int own_class = equal(class_name.get(), *names.defining_class_name);
    if (own_class < 0)
        return call.fail(prefix_line), -1;
    Ref prefix(own_class ? nullptr : private_prefix(class_name.get()));
    if (!own_class && !prefix)
        return call.fail(prefix_line), -1;
    for (std::size_t i = 0; i < names.count; ++i) {
        const PrivateName &entry = names.entries[i];
        int found = equal(key, *entry.own);
        if (found == 0 && prefix) {
            Ref name(PyNumber_Add(prefix.get(), *entry.suffix));
            found = name ? equal(key, name.get()) : -1;
        }
        if (found != 0)
            return found < 0 ? (call.fail(compare_line), -1) : 1;
    }
    if (!names.plain_name)
        return 0;
    int found = equal(key, *names.plain_name);
    return found < 0 ? (call.fail(compare_line), -1) : found;
}

namespace {

// Whether super(defining_class, self) reaches `object` next, whose attribute
// setting is the generic one.
bool object_follows(PyObject *defining_class, PyObject *self) {
    PyObject *order = Py_TYPE(self)->tp_mro;
    if (!order || !PyTuple_Check(order))
        return false;
    const Py_ssize_t size = PyTuple_GET_SIZE(order);
    for (Py_ssize_t i = 0; i + 1 < size; ++i)
        if (PyTuple_GET_ITEM(order, i) == defining_class)
            return PyTuple_GET_ITEM(order, i + 1) == reinterpret_cast<PyObject *>(&PyBaseObject_Type);
    return false;
}

}  // namespace

int assign_table(PyObject *self, PyObject *table_name, PyObject *table, PyObject *defining_class, Body setattr_body) {
    if (own_member(Py_TYPE(self), names.dunder_setattr, setattr_body) && object_follows(defining_class, self))
        return PyObject_GenericSetAttr(self, table_name, table);
    return PyObject_SetAttr(self, table_name, table);
}

int hand_to_base(PyObject *defining_class, PyObject *self, PyObject *key, PyObject *value) {
    if (object_follows(defining_class, self))
        return PyObject_GenericSetAttr(self, key, value);
    Ref base(PyObject_CallFunctionObjArgs(captured.super, defining_class, self, nullptr));
    if (!base)
        return -1;
    Ref done(value ? PyObject_CallMethodObjArgs(base.get(), names.dunder_setattr, key, value, nullptr)
                   : PyObject_CallMethodObjArgs(base.get(), names.dunder_delattr, key, nullptr));
    return done ? 0 : -1;
}

PyObject *lookup_with_fallback(PyObject *self, PyObject *name, Body fallback) {
    PyObject *found = yol_generic_getattr_optional(self, name);
    if (found || PyErr_Occurred())
        return found;
    Ref getattr = own_member(Py_TYPE(self), names.dunder_getattr, fallback);
    if (!getattr)
        return PyObject_GenericGetAttr(self, name);
    PyObject *arguments[] = {self, name};
    return call_function_with_dict(as_function(getattr), arguments, 2, nullptr);
}
