// The slots installed on the classes: each runs the class's own body, as
// the interpreter's generic slot would after looking the member up.
#include "module/fast_paths.hpp"
#include "module/names.hpp"
#include "module/pending_error.hpp"
#include "table/table.hpp"

int init_through_lookup(PyObject *self, PyObject *args, PyObject *keywords) {
    PyObject *init = _PyType_Lookup(Py_TYPE(self), names.dunder_init);
    if (!init) {
        PyErr_SetObject(PyExc_AttributeError, names.dunder_init);
        return -1;
    }
    Ref method(PyMethod_New(init, self));
    Ref result(method ? PyObject_Call(method.get(), args, keywords) : nullptr);
    if (!result)
        return -1;
    if (result.get() != Py_None) {
        PyErr_Format(PyExc_TypeError, "__init__() should return None, not '%.200s'", Py_TYPE(result.get())->tp_name);
        return -1;
    }
    return 0;
}

int init_through(const TableClass &table, PyObject *self, PyObject *args, PyObject *keywords) {
    const Py_ssize_t count = PyTuple_GET_SIZE(args);
    DictKeywords kind = DictKeywords::ByName;
    Ref init = count < kMaxParameters ? own_init_of_slot(Py_TYPE(self), table.init_body, keywords, kind) : Ref();
    if (!init)
        return init_through_lookup(self, args, keywords);
    PyObject *positional[kMaxParameters] = {self};
    for (Py_ssize_t i = 0; i < count; ++i)
        positional[i + 1] = PyTuple_GET_ITEM(args, i);
    Ref done(call_function_with_dict(as_function(init), positional, count + 1, keywords, kind));
    return done ? 0 : -1;
}

namespace {

// self.<name> read from `dict`, the instance dictionary that ordinary access
// would answer from, and on a miss __getattr__'s read of the table from the
// same dictionary where ordinary access would find it there too.
PyObject *lookup_in_dict(const TableClass &table, PyObject *self, PyObject *dict, PyObject *name) {
    PyObject *value = instance_dict_entry(dict, name, Reads::Repeated);
    if (value || PyErr_Occurred()) {
        Py_XINCREF(value);
        return value;
    }
    PyObject *table_name = table.table_name->get();
    PyObject *contents = nullptr;
    if (reads_instance_dict_first(Py_TYPE(self), table_name, table.slots.getattro) &&
        (contents = instance_dict_entry(dict, table_name, Reads::Repeated))) {
        Ref held = Ref::borrow(contents);
        value = get_item(contents, name);
    } else if (!PyErr_Occurred()) {
        value = read_for_fallback(table, self, name);
    }
    if (!value)
        fail_as_member(Py_TYPE(self), names.dunder_getattr, table.getattr_body, Whole::Body);
    return value;
}

// self.<name> for a name that the class has, as the generic lookup takes it,
// with the instance dictionary `dict` where its lookup runs no code: 1 with a
// new reference in `found`, 0 when nothing is found (the class's descriptor
// raised AttributeError), -1 with an exception set, 2 when the generic lookup
// must answer (a data descriptor, which comes before the instance dictionary,
// or a dictionary whose lookup may run code).
int member_with_dict(PyObject *self, PyObject *dict, PyObject *name, PyObject **found) {
    PyTypeObject *type = Py_TYPE(self);
    PyObject *on_class = _PyType_Lookup(type, name);
    PyObject *own = nullptr;
    if (!on_class || Py_TYPE(on_class)->tp_descr_set || !plain_dict_entry(dict, name, &own))
        return 2;
    if (own) {
        Py_INCREF(own);
        *found = own;
        return 1;
    }
    const descrgetfunc get = Py_TYPE(on_class)->tp_descr_get;
    if (!get) {
        Py_INCREF(on_class);
        *found = on_class;
        return 1;
    }
    Ref held = Ref::borrow(on_class);  // the descriptor's own code may take it off the class
    if ((*found = get(on_class, self, reinterpret_cast<PyObject *>(type))))
        return 1;
    if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
        PyErr_Clear();
        return 0;
    }
    PendingError raised;
    held.reset();
    return -1;
}

// __getattr__'s answer, with its traceback entry on failure.
PyObject *fallback_read(const TableClass &table, PyObject *self, PyObject *name) {
    PyObject *value = read_for_fallback(table, self, name);
    if (!value)
        fail_as_member(Py_TYPE(self), names.dunder_getattr, table.getattr_body, Whole::Body);
    return value;
}

}  // namespace

PyObject *lookup_through(const TableClass &table, PyObject *self, PyObject *name) {
    PyObject *found = nullptr;
    if (PyUnicode_CheckExact(name)) {
        Ref dict;
        switch (owner_and_dict(self, name, table.slots.getattro, dict)) {
        case NameOwner::Instance:
            return lookup_in_dict(table, self, dict.get(), name);
        case NameOwner::Class:
            switch (member_with_dict(self, dict.get(), name, &found)) {
            case 1:
                return found;
            case 0:
                return fallback_read(table, self, name);
            case -1:
                return nullptr;
            }
            break;
        case NameOwner::Unknown:
            if (PyErr_Occurred())
                return nullptr;
            break;
        }
    }
    const int got = yol_generic_getattr_found(self, name, &found);
    if (got != 0)
        return found;
    return fallback_read(table, self, name);
}

PyObject *subscript_failed(Body getitem, PyObject *self) {
    // The function is looked up again only to name the failure.
    fail_as_member(Py_TYPE(self), names.dunder_getitem, getitem, Whole::Body);
    return nullptr;
}

int assign_subscript_through(const TableClass &table, Body setitem, Body delitem, PyObject *self, PyObject *key,
                             PyObject *value) {
    if (!value) {
        if (remove_item(table, self, key))
            return 0;
        fail_as_member(Py_TYPE(self), names.dunder_delitem, delitem, Whole::Body);
        return -1;
    }
    const SetItem failed = store_item(table, self, key, value);
    if (failed == SetItem{})
        return 0;
    fail_as_member(Py_TYPE(self), names.dunder_setitem, setitem, failed);
    return -1;
}
