// Answers found about a class, each kept against the version tag the class
// had then: the interpreter gives a class a new tag after any change to it or
// to a base, and never reuses one, so a kept answer holds while the tag is
// the same.
#pragma once
#include "module/python.hpp"

#include <cstddef>
#include <cstdint>

// 2**Bits entries, each for a class and a key of the caller's (a name, a
// defining class); a pair that takes another's entry pushes it out. A key
// that may be freed while its answer is kept (a name that a caller made) is
// held by the memo (HoldsKeys): otherwise another object made at its address
// would find its answer. Held keys are exact str, whose release runs no code.
template <int Bits, bool HoldsKeys = false>
class ClassMemo {
public:
    // Whether a yes for `type` and `key` was kept at the class's present tag.
    bool holds(PyTypeObject *type, const void *key) const { return answer(type, key) == Answer::Yes; }

    // The answer kept for `type` and `key` at the class's present tag, if any.
    enum class Answer { Unknown, No, Yes };
    Answer answer(PyTypeObject *type, const void *key) const {
        const Entry &entry = entries_[index(type, key)];
        const unsigned version = yol_type_version(type);
        if (!version || entry.version != version || entry.type != type || entry.key != key)
            return Answer::Unknown;
        return entry.yes ? Answer::Yes : Answer::No;
    }

    // Keeps the answer for `type` and `key` at the class's present tag (none
    // while it has none: the lookups that found the answer give it one).
    void remember(PyTypeObject *type, const void *key, bool yes = true) {
        Entry &entry = entries_[index(type, key)];
        if (HoldsKeys) {
            PyObject *old = static_cast<PyObject *>(const_cast<void *>(entry.key));
            Py_INCREF(static_cast<PyObject *>(const_cast<void *>(key)));
            entry = {type, key, yol_type_version(type), yes};
            Py_XDECREF(old);
            return;
        }
        entry = {type, key, yol_type_version(type), yes};
    }

private:
    struct Entry {
        PyTypeObject *type;
        const void *key;
        unsigned version;
        bool yes;
    };

    static std::size_t index(PyTypeObject *type, const void *key) {
        if (Bits == 0)
            return 0;
        // Objects allocated side by side differ only in their low bits: both
        // addresses are spread over the whole word before the top bits are taken.
        constexpr uint64_t spread = 0x9E3779B97F4A7C15u;
        const uint64_t mixed =
            (reinterpret_cast<uintptr_t>(type) * spread) ^ (reinterpret_cast<uintptr_t>(key) * spread);
        return static_cast<std::size_t>((mixed * spread) >> (Bits == 0 ? 0 : 64 - Bits));
    }

    Entry entries_[std::size_t(1) << Bits] = {};
};
