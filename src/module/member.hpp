// The facts of one member of the module (its kind, name, source line,
// signature, docstring) and the C++ body that carries it out. Each class keeps
// a table of these next to its code; nothing else repeats them.
#pragma once
#include "module/python.hpp"

#include <cstddef>

class Call;
using Body = PyObject *(*)(Call &call);

enum class MemberKind : unsigned char {
    Function,      // a module-level function
    Method,        // a function in a class namespace
    StaticMethod,  // wrapped by staticmethod
    Property,      // the getter of a read-only property
    Constant,      // a data attribute; `signature` holds its value as a Python expression
};

struct MemberSpec {
    const char *name;
    MemberKind kind;
    int line;               // the line of the `def` (or of the assignment) in vovoruze.py
    // The parameter list as the source writes it, annotations and defaults
    // included, as in "(self, name: 'str', default=None)". Names in it are the
    // module's own (`_Union`, `Parameter`, ...), evaluated when the class is built.
    const char *signature;
    // The docstring's lines joined by '\n', without the source's layout, or nullptr.
    const char *doc;
    Body body;
};

struct ClassSpec {
    const char *name;
    int line;
    const MemberSpec *members;
    std::size_t member_count;
    PyObject **made;  // receives a strong reference to the class once it is made
    // The attribute lookup installed on the class: the interpreter's own
    // lookup with the class's __getattr__ body as its fallback, called
    // without a bound method. The interpreter puts its generic slot back as
    // soon as __getattr__ or __getattribute__ is assigned on the class.
    getattrofunc getattro;
};

template <std::size_t N>
constexpr ClassSpec class_spec(const char *name, int line, const MemberSpec (&members)[N], PyObject **made,
                               getattrofunc getattro) {
    return ClassSpec{name, line, members, N, made, getattro};
}
