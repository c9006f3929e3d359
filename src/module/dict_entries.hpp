// Entries read from instance dictionaries, kept against the dictionary's
// version tag where dicts have one (module/python.hpp): while the tag is the
// same, the dictionary holds the same entries, so a kept value (or the lack of
// one) is what a lookup would find, and the value is still alive.
#pragma once
#include "module/class_memo.hpp"
#include "module/python.hpp"

#include <cstddef>
#include <cstdint>

// Whether `dict` holds a few keys, each an exact str: a lookup of an exact str
// in it then runs no code and cannot fail, and gives the same while the
// dictionary is unchanged.
inline bool few_str_keys(PyObject *dict) {
    constexpr Py_ssize_t most = 8;  // an instance dictionary's few names
    if (PyDict_Size(dict) > most)
        return false;
    Py_ssize_t position = 0;
    PyObject *key;
    while (PyDict_Next(dict, &position, &key, nullptr))
        if (!PyUnicode_CheckExact(key))
            return false;
    return true;
}

#if YOL_DICT_VERSION_TAGS
class DictEntries {
public:
    // Whether the entry `name` of `dict` in its present state is kept: then
    // `value` is its value, borrowed, or nullptr when it has none.
    bool find(PyObject *dict, PyObject *name, PyObject **value) const {
        const Entry &entry = entries_[index(yol_dict_version(dict), name)];
        if (entry.version != yol_dict_version(dict) || entry.name != name)
            return false;
        *value = entry.value;
        return true;
    }

    // Keeps what a lookup of the exact str `name` in `dict`, whose keys are
    // few_str_keys, found, while keep_name holds the name, so that no other
    // str made at its address finds its entry.
    void remember(PyObject *dict, PyObject *name, PyObject *value) {
        if (!keep_name(name))
            return;
        const uint64_t version = yol_dict_version(dict);
        entries_[index(version, name)] = {version, name, value};
    }

    void forget_all() {
        for (Entry &entry : entries_)
            entry = Entry{};
    }

private:
    static constexpr int kBits = 9;

    struct Entry {
        uint64_t version;
        PyObject *name;
        PyObject *value;
    };

    static std::size_t index(uint64_t version, PyObject *name) {
        constexpr uint64_t spread = 0x9E3779B97F4A7C15u;
        const uint64_t mixed = (version * spread) ^ (reinterpret_cast<uintptr_t>(name) * spread);
        return static_cast<std::size_t>((mixed * spread) >> (64 - kBits));
    }

    Entry entries_[std::size_t(1) << kBits] = {};
};

extern DictEntries instance_entries;
#endif

// How often a program makes a read on one object: attribute and item reads
// and get() are Repeated, and keep what they find; a walk that reads each
// object Once (a copy, a text, a form) looks it up.
enum class Reads { Once, Repeated };

// dict[name] as PyDict_GetItemWithError gives it (borrowed; nullptr when
// missing, with an exception set on failure), for an instance dictionary:
// for a Repeated read, kept against the dictionary's version tag where dicts
// have one.
inline PyObject *instance_dict_entry(PyObject *dict, PyObject *name, Reads reads) {
#if YOL_DICT_VERSION_TAGS
    PyObject *value;
    if (reads == Reads::Once)
        return PyDict_GetItemWithError(dict, name);
    if (instance_entries.find(dict, name, &value))
        return value;
    if (PyUnicode_CheckExact(name) && few_str_keys(dict)) {
        value = PyDict_GetItemWithError(dict, name);
        instance_entries.remember(dict, name, value);
        return value;
    }
#else
    (void)reads;
#endif
    return PyDict_GetItemWithError(dict, name);
}

// The same for an exact str `name`, only where the lookup runs no code and
// cannot fail (the entry is kept, or the keys are few_str_keys): true with
// the value or nullptr in `value`; false when the lookup is left to the
// caller.
inline bool plain_dict_entry(PyObject *dict, PyObject *name, PyObject **value) {
#if YOL_DICT_VERSION_TAGS
    if (instance_entries.find(dict, name, value))
        return true;
#endif
    if (!few_str_keys(dict))
        return false;
    *value = PyDict_GetItemWithError(dict, name);  // nothing to fail
#if YOL_DICT_VERSION_TAGS
    instance_entries.remember(dict, name, *value);
#endif
    return true;
}
