// What the module keeps of a standard module's state when it imports it, to
// tell later, cheaply, whether a call into that module would still run the
// code it ran then: functions, classes and the dicts they read.
#pragma once
#include "module/python.hpp"
#include "module/ref.hpp"

#include <cstdint>
#include <initializer_list>

// A function as it was kept: the code that a call runs and the defaults that
// it fills in. Its namespace and closure cannot be replaced.
struct KeptFunction {
    Ref function, code, defaults, keyword_defaults;

    bool keep(PyObject *found) {
        if (!found || Py_TYPE(found) != &PyFunction_Type)
            return false;
        function = Ref::borrow(found);
        code = Ref::borrow(PyFunction_GET_CODE(found));
        defaults = Ref::borrow(PyFunction_GET_DEFAULTS(found));
        keyword_defaults = Ref::borrow(PyFunction_GET_KW_DEFAULTS(found));
        return true;
    }

    bool unchanged() const {
        PyObject *now = function.get();
        return PyFunction_GET_CODE(now) == code.get() && PyFunction_GET_DEFAULTS(now) == defaults.get() &&
               PyFunction_GET_KW_DEFAULTS(now) == keyword_defaults.get();
    }
};

// A class as it was kept: its bases, through the order in which its
// attributes are looked up (its namespace is a KeptDict).
struct KeptClass {
    Ref type, mro;

    // Whether the class is based on object alone.
    bool based_on_object_alone() const {
        return PyTuple_GET_SIZE(mro.get()) == 2 &&
               PyTuple_GET_ITEM(mro.get(), 1) == reinterpret_cast<PyObject *>(&PyBaseObject_Type);
    }

    bool keep(PyObject *found) {
        if (!found || Py_TYPE(found) != &PyType_Type)
            return false;  // only type's instances: their metaclass cannot be replaced
        type = Ref::borrow(found);
        mro = Ref::borrow(reinterpret_cast<PyTypeObject *>(found)->tp_mro);
        return mro && PyTuple_CheckExact(mro.get());
    }

    bool unchanged() const { return reinterpret_cast<PyTypeObject *>(type.get())->tp_mro == mro.get(); }
};

// A dict that json reads, with the entries that it reads there as they were.
struct KeptDict {
    Ref dict;
    Ref entries;      // {name: value}, a copy
    Ref unbound;      // a tuple of names that json looks up here and must find elsewhere
    bool whole = false;  // json reads all of it: it must hold exactly `entries`
    uint64_t stamp = 0;

    // Keeps the entries `names` of `dict` (each must be there) and that
    // `unbound` are not: 1, 0 when that is not so, -1 on error.
    int keep(PyObject *found, std::initializer_list<const char *> names,
             std::initializer_list<const char *> unbound_names = {}) {
        if (!found || !PyDict_CheckExact(found))
            return 0;
        dict = Ref::borrow(found);
        entries = Ref(PyDict_New());
        unbound = Ref(PyTuple_New(static_cast<Py_ssize_t>(unbound_names.size())));
        if (!entries || !unbound)
            return -1;
        for (const char *name : names) {
            Ref key(PyUnicode_InternFromString(name));
            if (!key)
                return -1;
            Ref value = Ref::borrow(PyDict_GetItemWithError(found, key.get()));
            if (!value)
                return PyErr_Occurred() ? -1 : 0;
            if (PyDict_SetItem(entries.get(), key.get(), value.get()) < 0)
                return -1;
        }
        Py_ssize_t index = 0;
        for (const char *name : unbound_names) {
            PyObject *key = PyUnicode_InternFromString(name);
            if (!key)
                return -1;
            PyTuple_SET_ITEM(unbound.get(), index++, key);
        }
        return holds_entries();
    }

    // Keeps all of `dict`.
    int keep_whole(PyObject *found) {
        if (!found || !PyDict_CheckExact(found))
            return 0;
        dict = Ref::borrow(found);
        entries = Ref(PyDict_Copy(found));
        unbound = Ref(PyTuple_New(0));
        whole = true;
        return entries && unbound ? 1 : -1;
    }

    // The kept value of `name` (borrowed), or nullptr.
    PyObject *kept(const char *name) const {
        return entries ? PyDict_GetItemString(entries.get(), name) : nullptr;
    }

    // 1 while the dict holds the entries kept (and no more, when whole) and
    // leaves the unbound names unbound, 0 when not, -1 on error. The lookups
    // may run Python code (a host's key with its own __eq__): each key and
    // value compared is held.
    int holds_entries() const {
        if (!dict)
            return 1;  // nothing to watch
        if (whole && PyDict_Size(dict.get()) != PyDict_Size(entries.get()))
            return 0;
        Py_ssize_t position = 0;
        PyObject *key, *value;
        while (PyDict_Next(entries.get(), &position, &key, &value)) {
            Ref held_key = Ref::borrow(key), held_value = Ref::borrow(value);
            PyObject *now = PyDict_GetItemWithError(dict.get(), held_key.get());
            if (now != held_value.get())
                return now || !PyErr_Occurred() ? 0 : -1;
        }
        for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(unbound.get()); ++i) {
            if (PyDict_GetItemWithError(dict.get(), PyTuple_GET_ITEM(unbound.get(), i)))
                return 0;
            if (PyErr_Occurred())
                return -1;
        }
        return 1;
    }
    uint64_t stamp_now() const { return dict ? yol_dict_stamp(dict.get()) : 0; }
};
