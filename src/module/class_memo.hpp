// Answers found about a class, each kept against the version tag the class
// had then: the interpreter gives a class a new tag after any change to it or
// to a base, and never reuses one, so a kept answer holds while the tag is
// the same.
#pragma once
#include "module/python.hpp"

#include <cstddef>
#include <cstdint>

// 2**Bits entries, each for a class and a key of the caller's (a name, a
// defining class); a pair that takes another's entry pushes it out.
template <int Bits>
class ClassMemo {
public:
    // Whether the answer for `type` and `key` was kept at the class's present tag.
    bool holds(PyTypeObject *type, const void *key) const {
        const Entry &entry = entries_[index(type, key)];
        const unsigned version = yol_type_version(type);
        return version && entry.version == version && entry.type == type && entry.key == key;
    }

    // Keeps the answer for `type` and `key` at the class's present tag (none
    // while it has none: the lookups that found the answer give it one).
    void remember(PyTypeObject *type, const void *key) {
        entries_[index(type, key)] = {type, key, yol_type_version(type)};
    }

private:
    struct Entry {
        PyTypeObject *type;
        const void *key;
        unsigned version;
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
