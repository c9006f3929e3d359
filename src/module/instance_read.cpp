#include "module/instance_read.hpp"

#include "module/names.hpp"
#include "module/ref.hpp"

PlainClasses plain_classes;
#if YOL_INLINE_VALUES
InlinePlaces inline_places;
#endif
#if YOL_DICT_VERSION_TAGS
DictEntries instance_entries;
#endif

namespace {

PyObject *kept_names = nullptr;  // each exact str kept, mapped to itself
constexpr Py_ssize_t kMostKeptNames = 4096;

}  // namespace

bool keep_name(PyObject *name) {
    if (!PyUnicode_CheckExact(name))
        return false;
    if (!kept_names && !(kept_names = PyDict_New()))
        return PyErr_Clear(), false;
    // Exact str keys: the lookup and the store run no code. An equal str
    // kept before is another object, and this one is not held.
    if (PyObject *kept = PyDict_GetItemWithError(kept_names, name))
        return kept == name;
    if (PyErr_Occurred())
        return PyErr_Clear(), false;
    if (PyDict_Size(kept_names) >= kMostKeptNames) {
        plain_classes.forget_all();
#if YOL_DICT_VERSION_TAGS
        instance_entries.forget_all();
#endif
#if YOL_INLINE_VALUES
        inline_places.forget_all();
#endif
        PyDict_Clear(kept_names);
    }
    return PyDict_SetItem(kept_names, name, name) == 0 || (PyErr_Clear(), false);
}

namespace {

getattrofunc interpreter_getattr_hook = nullptr;
PyObject *object_getattribute = nullptr;  // object.__getattribute__, borrowed from object's own dict

// The lookups installed on the module's classes, each the generic lookup
// with a fallback on a miss.
getattrofunc installed_lookups[4] = {};
int installed_lookup_count = 0;

bool generic_lookup(PyTypeObject *type, getattrofunc installed) {
    const getattrofunc lookup = type->tp_getattro;
    if (lookup == installed || lookup == PyObject_GenericGetAttr)
        return true;
    for (int i = 0; i < installed_lookup_count; ++i)
        if (lookup == installed_lookups[i])
            return true;
    // The hook runs __getattribute__ first: object's is the generic lookup.
    return lookup == interpreter_getattr_hook && object_getattribute &&
           _PyType_Lookup(type, names.dunder_getattribute) == object_getattribute;
}

}  // namespace

void note_installed_lookup(getattrofunc lookup) {
    for (int i = 0; i < installed_lookup_count; ++i)
        if (installed_lookups[i] == lookup)
            return;
    if (installed_lookup_count < static_cast<int>(sizeof installed_lookups / sizeof installed_lookups[0]))
        installed_lookups[installed_lookup_count++] = lookup;
}

void note_interpreter_getattr_hook(getattrofunc hook) {
    interpreter_getattr_hook = hook;
    object_getattribute = _PyType_Lookup(&PyBaseObject_Type, names.dunder_getattribute);
}

#if YOL_INLINE_VALUES
PyObject *inline_attribute(PyObject *self, PyObject *name) {
    PyTypeObject *type = Py_TYPE(self);
    const void *keys = yol_shared_keys(type);
    const Py_ssize_t place = keys ? yol_shared_key_place(keys, name) : -1;
    if (place < 0)
        return nullptr;
    if (keep_name(name))
        inline_places.remember(type, keys, name, place);
    return yol_inline_value(self, place);
}
#endif

NameOwner find_name_owner(PyTypeObject *type, PyObject *name, getattrofunc installed) {
    if (!generic_lookup(type, installed))
        return NameOwner::Unknown;
    const bool on_class = _PyType_Lookup(type, name) != nullptr;
    if (keep_name(name))
        plain_classes.remember(type, name, !on_class);
    return on_class ? NameOwner::Class : NameOwner::Instance;
}

int method_found_on_class(PyObject *self, PyObject *name, getattrofunc installed, PyObject **found) {
    PyTypeObject *type = Py_TYPE(self);
    if (!YOL_READ_INSTANCE_DICT || !generic_lookup(type, installed))
        return 0;
    PyObject *on_class = _PyType_Lookup(type, name);
    if (!on_class || Py_TYPE(on_class)->tp_descr_set)
        return 0;
    Ref held = Ref::borrow(on_class);
    Ref dict(yol_instance_dict(self));
    if (!dict)
        return PyErr_Occurred() ? -1 : 0;
    if (PyDict_GetItemWithError(dict.get(), name))
        return 0;
    if (PyErr_Occurred())
        return -1;
    *found = held.release();
    return 1;
}
