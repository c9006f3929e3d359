#include "table/routing.hpp"

#include "module/class_memo.hpp"
#include "module/fast_paths.hpp"
#include "module/globals.hpp"
#include "module/names.hpp"

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

// Whether super(defining_class, <an instance of type>) reaches `object`
// next, whose attribute setting is the generic one.
bool object_follows_in(PyTypeObject *type, PyObject *defining_class) {
    PyObject *order = type->tp_mro;
    if (!order || !PyTuple_Check(order))
        return false;
    const Py_ssize_t size = PyTuple_GET_SIZE(order);
    for (Py_ssize_t i = 0; i + 1 < size; ++i)
        if (PyTuple_GET_ITEM(order, i) == defining_class)
            return PyTuple_GET_ITEM(order, i + 1) == reinterpret_cast<PyObject *>(&PyBaseObject_Type);
    return false;
}

// Classes whose __setattr__ was found to be the module's own with object next
// after the defining class (the key).
ClassMemo<3> hands_tables_to_object;

bool assigns_to_object(PyTypeObject *type, PyObject *defining_class, Body setattr_body) {
    if (hands_tables_to_object.holds(type, defining_class))
        return true;
    if (!own_member(type, names.dunder_setattr, setattr_body) || !object_follows_in(type, defining_class))
        return false;
    hands_tables_to_object.remember(type, defining_class);
    return true;
}

}  // namespace

Routing route(PyObject *self, PyObject *key, const RoutedNames &routed, PyObject *defining_class_name) {
    Ref class_name(class_name_of(self));
    if (!class_name)
        return Routing::FailedAtPrefix;
    // Under the defining class's own name the prefixed names are its own.
    const int own_class = equal(class_name.get(), defining_class_name);
    if (own_class < 0)
        return Routing::FailedAtPrefix;
    Ref prefix(own_class ? nullptr : private_prefix(class_name.get()));
    if (!own_class && !prefix)
        return Routing::FailedAtPrefix;
    for (const RoutedName &entry : routed.entries) {
        int found = equal(key, entry.own->get());
        if (found == 0 && prefix) {
            Ref name(PyNumber_Add(prefix.get(), *entry.suffix));
            found = name ? equal(key, name.get()) : -1;
        }
        if (found != 0)
            return found < 0 ? Routing::FailedAtCompare : Routing::Base;
    }
    if (!routed.plain_name)
        return Routing::Table;
    const int found = equal(key, *routed.plain_name);
    return found < 0 ? Routing::FailedAtCompare : found ? Routing::Base : Routing::Table;
}

int assign_table(PyObject *self, PyObject *table_name, PyObject *table, PyObject *defining_class, Body setattr_body) {
    if (assigns_to_object(Py_TYPE(self), defining_class, setattr_body))
        return PyObject_GenericSetAttr(self, table_name, table);
    return PyObject_SetAttr(self, table_name, table);
}

int hand_to_base(PyObject *defining_class, PyObject *self, PyObject *key, PyObject *value) {
    if (object_follows_in(Py_TYPE(self), defining_class))
        return PyObject_GenericSetAttr(self, key, value);
    Ref base(PyObject_CallFunctionObjArgs(captured.super, defining_class, self, nullptr));
    if (!base)
        return -1;
    Ref done(value ? PyObject_CallMethodObjArgs(base.get(), names.dunder_setattr, key, value, nullptr)
                   : PyObject_CallMethodObjArgs(base.get(), names.dunder_delattr, key, nullptr));
    return done ? 0 : -1;
}
