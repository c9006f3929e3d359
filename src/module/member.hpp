// The facts of one member of the module (its kind, name, source line,
// signature, docstring) and the C++ body that carries it out. Each class keeps
// a table of these next to its code; nothing else repeats them.
#pragma once
#include "module/python.hpp"
#include "module/rows.hpp"

#include <cstddef>

class Call;
struct FunctionObject;
class GlobalName;
using Body = PyObject *(*)(Call &call);
// The answer of a body to a call of `function` that it gives without binding
// the arguments (positional only, as the caller passed them): a new
// reference; or nullptr with the exception set and the entry added (through
// a Call of `function`), as the body would fail; or nullptr with no exception
// when the call must be bound and the body run as usual.
using Quick = PyObject *(*)(const FunctionObject *function, PyObject *const *args, Py_ssize_t count);

enum class MemberKind : unsigned char {
    Function,      // a module-level function
    Method,        // a function in a class namespace
    StaticMethod,  // wrapped by staticmethod
    Property,      // the getter of a read-only property
    Constant,      // a data attribute; `signature` holds its value as a Python expression
};

// Where a statement of a body stands in vovoruze.py. The statement is one
// of the body's own enumerators (they start at 1; 0 marks an unused slot).
struct StatementLine {
    int statement = 0;
    int line = 0;
};

template <typename Statement>
constexpr StatementLine at(Statement statement, int line) {
    return StatementLine{static_cast<int>(statement), line};
}

// The most statements that can fail in one member: a row with more does not compile.
constexpr std::size_t kMaxStatements = 16;

struct MemberSpec {
    const char *name;
    MemberKind kind;
    int line;               // the line of the `def` (or of the assignment) in vovoruze.py
    // The parameter list as the source writes it, annotations and defaults
    // included, as in "(self, name: 'str', default=None)". Names in it are the
    // module's own (`_Union`, the classes, ...), evaluated when the class is built.
    const char *signature;
    // The docstring's lines joined by '\n', without the source's layout, or nullptr.
    const char *doc;
    Body body;
    // The lines of the statements whose failure the body reports, in source order.
    StatementLine statements[kMaxStatements];
    Quick quick = nullptr;  // for the calls that the body answers before binding, or nullptr
};

// The line of `statement` in `member`; the line of the `def` for a statement
// that has none of its own.
inline int line_of(const MemberSpec &member, int statement) {
    for (const StatementLine &entry : member.statements)
        if (entry.statement == statement)
            return entry.line;
    return member.line;
}

// Whether every statement line of every member lies after its `def` and
// before the next member's (or `end`, the line after the last), in
// ascending order: a line given to the wrong statement or member is caught
// when the class's table compiles.
template <std::size_t N>
constexpr bool statement_lines_in_place(const MemberSpec (&members)[N], int end) {
    for (std::size_t i = 0; i < N; ++i) {
        const int next = i + 1 < N ? members[i + 1].line : end;
        int previous = members[i].line;
        for (const StatementLine &entry : members[i].statements) {
            if (entry.statement == 0)
                continue;
            if (entry.line < previous || entry.line <= members[i].line || entry.line >= next)
                return false;
            previous = entry.line;
        }
    }
    return true;
}

// Slots installed on the class once it is made, so that the interpreter runs
// the bodies of __getattr__ (as the fallback of its own attribute lookup),
// __getitem__, __setitem__, __delitem__ and __init__ without looking the
// member up and calling it. Each does exactly what that call would do; the
// interpreter puts its generic slot back as soon as a host assigns the
// member on the class, and a subclass gets the generic one.
struct DirectSlots {
    getattrofunc getattro = nullptr;
    binaryfunc subscript = nullptr;
    objobjargproc assign_subscript = nullptr;
    initproc init = nullptr;
};

// A class as the module body builds it: `class <name>:` on `line`, then each
// member in order; the class made is bound to `name` and kept in `made`, and
// the slots are installed on it.
struct ClassSpec {
    GlobalName *name = nullptr;  // its name in the module namespace
    int line = 0;
    Rows<MemberSpec> members;
    PyObject **made = nullptr;  // receives a strong reference to the class once it is made
    DirectSlots slots;
};
