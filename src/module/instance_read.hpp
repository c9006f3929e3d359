// Reading an attribute that lives in the instance dictionary without the
// generic attribute machinery.
#pragma once
#include "module/python.hpp"

#include <cstddef>
#include <cstdint>

// Remembers the attribute lookup that the interpreter gives a class with a
// __getattr__ (its hook, which runs the generic lookup and then __getattr__).
void note_interpreter_getattr_hook(getattrofunc hook);

// Classes found to read `name` from the instance dictionary first, each
// against the version tag it had then.
struct PlainClass {
    PyTypeObject *type;
    PyObject *name;
    unsigned version;
};
// The 8 top bits of a hash choose the entry: with room for many more pairs
// than a program reads at once, two that are read in turn (a book's table and
// its parameters' tables) seldom take the same entry from each other.
constexpr int kPlainClassBits = 8;
constexpr std::size_t kPlainClasses = std::size_t(1) << kPlainClassBits;
extern PlainClass plain_classes[kPlainClasses];

inline PlainClass &plain_class_entry(PyTypeObject *type, PyObject *name) {
    // Names allocated side by side differ only in their low bits: both
    // addresses are spread over the whole word before the top bits are taken.
    constexpr uint64_t spread = 0x9E3779B97F4A7C15u;
    const uint64_t mixed = (reinterpret_cast<uintptr_t>(type) * spread) ^ (reinterpret_cast<uintptr_t>(name) * spread);
    return plain_classes[(mixed * spread) >> (64 - kPlainClassBits)];
}

// Whether ordinary attribute access to `name` on instances of `type` reads the
// instance dictionary first: the class's lookup is the generic one (the
// interpreter's, its __getattr__ hook over object.__getattribute__, or
// `installed`, which the module installs and which behaves as the hook does)
// and no class in its order has an attribute `name`.
bool find_instance_dict_first(PyTypeObject *type, PyObject *name, getattrofunc installed);
inline bool reads_instance_dict_first(PyTypeObject *type, PyObject *name, getattrofunc installed) {
    const PlainClass &entry = plain_class_entry(type, name);
    const unsigned version = yol_type_version(type);
    if (version && entry.version == version && entry.type == type && entry.name == name)
        return true;
    return find_instance_dict_first(type, name, installed);
}

// self.<name> read straight from the instance dictionary, while ordinary
// attribute access would find it there. 1 with a new reference in `found`;
// 0 when the read does not apply or the dictionary lacks the name, and
// ordinary access must answer; -1 with an exception set.
inline int read_instance_attribute(PyObject *self, PyObject *name, getattrofunc installed, PyObject **found) {
    if (!reads_instance_dict_first(Py_TYPE(self), name, installed))
        return 0;
    PyObject *value;
    if (YOL_READ_INSTANCE_DICT) {
        PyObject *dict = yol_instance_dict(self);
        if (!dict)
            return PyErr_Occurred() ? -1 : 0;
        value = PyDict_GetItemWithError(dict, name);
        Py_XINCREF(value);
        Py_DECREF(dict);
    } else {
        // The generic lookup, which finds nothing on the class.
        value = yol_generic_getattr_optional(self, name);
    }
    if (value) {
        *found = value;
        return 1;
    }
    return PyErr_Occurred() ? -1 : 0;
}

// What the class gives self.<name> (a new reference in `found`), while
// ordinary attribute access would bind that to self: the class's lookup is
// the generic one, the class has `name`, not as a data descriptor, and the
// instance dictionary (read where the attributes are read from it) has
// nothing of that name. 1 when found; 0 when ordinary access must answer;
// -1 with an exception set.
int method_found_on_class(PyObject *self, PyObject *name, getattrofunc installed, PyObject **found);
