// Reading an attribute that lives in the instance dictionary without the
// generic attribute machinery.
#pragma once
#include "module/class_memo.hpp"
#include "module/dict_entries.hpp"
#include "module/python.hpp"

// Remembers the attribute lookup that the interpreter gives a class with a
// __getattr__ (its hook, which runs the generic lookup and then __getattr__).
void note_interpreter_getattr_hook(getattrofunc hook);
// Remembers a lookup that the module installs on a class: the generic lookup,
// with the class's __getattr__ body as the fallback on a miss.
void note_installed_lookup(getattrofunc lookup);

// Classes found to read a name from the instance dictionary first, and with
// the answer no those found to have the name themselves (a method, a
// descriptor). With 256 entries, two pairs read in turn (a book's table and
// its parameters' tables) seldom push each other out. Only exact str names
// are kept, held by keep_name.
using PlainClasses = ClassMemo<8>;
extern PlainClasses plain_classes;

// Where ordinary attribute access to `name` on instances of `type` looks,
// while the class's lookup is the generic one (the interpreter's, its
// __getattr__ hook over object.__getattribute__, or one that the module
// installs, `installed` or a noted one, which behaves as the hook does):
// Instance when no class in its order has an attribute `name`, so that the
// instance dictionary answers; Class when one has. Unknown when the lookup is
// another.
enum class NameOwner { Unknown, Instance, Class };
NameOwner find_name_owner(PyTypeObject *type, PyObject *name, getattrofunc installed);
inline NameOwner name_owner(PyTypeObject *type, PyObject *name, getattrofunc installed) {
    switch (plain_classes.answer(type, name)) {
    case PlainClasses::Answer::Yes:
        return NameOwner::Instance;
    case PlainClasses::Answer::No:
        return NameOwner::Class;
    default:
        return find_name_owner(type, name, installed);
    }
}

// Whether ordinary attribute access to `name` reads the instance dictionary
// first, finding nothing of that name on the class.
inline bool reads_instance_dict_first(PyTypeObject *type, PyObject *name, getattrofunc installed) {
    return name_owner(type, name, installed) == NameOwner::Instance;
}

#if YOL_INLINE_VALUES
// The places of names in the arrays of attributes that instances keep beside
// their dictionaries (module/python.hpp), each kept for a class that lacks
// the name, against the class's version tag and its shared keys: while both
// are the same, the name keeps its place and the class still lacks it.
class InlinePlaces {
public:
    // The place kept for `type` and `name`, or -1. A class kept here has
    // shared keys (whose kind and flags do not change), so only whether they
    // are still the same is asked.
    Py_ssize_t known(PyTypeObject *type, PyObject *name) const {
        const Entry &entry = entries_[memo_slot<kBits>(type, name)];
        return entry.type == type && entry.version == yol_type_version(type) && entry.name == name &&
                       entry.keys == yol_cached_keys(type)
                   ? entry.place
                   : -1;
    }
    // For a class with shared keys `keys` and a name held by keep_name.
    void remember(PyTypeObject *type, const void *keys, PyObject *name, Py_ssize_t place) {
        if (const unsigned version = yol_type_version(type))
            entries_[memo_slot<kBits>(type, name)] = {type, name, keys, version, place};
    }
    void forget_all() {
        for (Entry &entry : entries_)
            entry = Entry{};
    }

private:
    static constexpr int kBits = 6;
    struct Entry {
        PyTypeObject *type;
        PyObject *name;
        const void *keys;
        unsigned version;  // never 0 once kept
        Py_ssize_t place;
    };
    Entry entries_[1 << kBits] = {};
};
extern InlinePlaces inline_places;

// self.<name> (borrowed) from the array of attributes that self keeps, at the
// place kept for its class and the name; nullptr when none is kept or the
// array does not hold the name.
inline PyObject *known_inline_attribute(PyObject *self, PyObject *name) {
    const Py_ssize_t place = inline_places.known(Py_TYPE(self), name);
    return place >= 0 ? yol_inline_value(self, place) : nullptr;
}

// The same, for a class found to lack the name: its place is found and kept.
PyObject *inline_attribute(PyObject *self, PyObject *name);
#endif

// self.<name> read straight from the instance dictionary, while ordinary
// attribute access would find it there. 1 with a new reference in `found`;
// 0 when the read does not apply or the dictionary lacks the name, and
// ordinary access must answer; -1 with an exception set.
inline int read_instance_attribute(PyObject *self, PyObject *name, getattrofunc installed, PyObject **found,
                                   Reads reads) {
    PyObject *value = nullptr;
#if YOL_INLINE_VALUES
    // A place kept for the name answers that the class lacks it.
    if (!(value = known_inline_attribute(self, name))) {
        if (!reads_instance_dict_first(Py_TYPE(self), name, installed))
            return 0;
        value = inline_attribute(self, name);
    }
    if (value) {
        Py_INCREF(value);
        *found = value;
        return 1;
    }
#else
    if (!reads_instance_dict_first(Py_TYPE(self), name, installed))
        return 0;
#endif
    if (YOL_READ_INSTANCE_DICT) {
        PyObject *dict = yol_instance_dict(self);
        if (!dict)
            return PyErr_Occurred() ? -1 : 0;
        value = instance_dict_entry(dict, name, reads);
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
