// Answers found about a class, each kept against the version tag the class
// had then: the interpreter gives a class a new tag after any change to it or
// to a base, and never reuses one, so a kept answer holds while the tag is
// the same.
#pragma once
#include "module/python.hpp"

#include <cstddef>
#include <cstdint>

// Holds `name`, when it is an exact str, among the names that the memos of
// reads key on (module/instance_read.cpp), once however many answers name it:
// while it is held, no other str is made at its address to find its answers.
// False when it is not or cannot be held, and then no answer may be kept for it. The names
// held are few; at most some thousands, after which every memo that keys on
// them is emptied and the names let go.
bool keep_name(PyObject *name);

// The entry of `type` and `key` among 2**Bits.
template <int Bits>
std::size_t memo_slot(PyTypeObject *type, const void *key) {
    if (Bits == 0)
        return 0;
    // Objects allocated side by side differ only in their low bits: both
    // addresses are spread over the whole word before the top bits are taken.
    constexpr uint64_t spread = 0x9E3779B97F4A7C15u;
    const uint64_t mixed =
        (reinterpret_cast<uintptr_t>(type) * spread) ^ (reinterpret_cast<uintptr_t>(key) * spread);
    return static_cast<std::size_t>((mixed * spread) >> (Bits == 0 ? 0 : 64 - Bits));
}

// 2**Bits entries, each for a class and a key of the caller's (a name held by
// keep_name, a defining class); a pair that takes another's entry pushes it
// out.
template <int Bits>
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
        entries_[index(type, key)] = {type, key, yol_type_version(type), yes};
    }

    void forget_all() {
        for (Entry &entry : entries_)
            entry = Entry{};
    }

private:
    struct Entry {
        PyTypeObject *type;
        const void *key;
        unsigned version;
        bool yes;
    };

    static std::size_t index(PyTypeObject *type, const void *key) { return memo_slot<Bits>(type, key); }

    Entry entries_[std::size_t(1) << Bits] = {};
};
