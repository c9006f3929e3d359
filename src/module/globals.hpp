// Process-wide records of the module, and what bodies need of the module's
// namespace: call-time lookups of module-level names, the builtins captured at
// initialisation, and the assertion switch.
#pragma once
#include "module/function.hpp"
#include "module/names.hpp"
#include "module/python.hpp"
#include "module/ref.hpp"

#include <cstdint>

struct ProcessRecords {
    PyInterpreterState *interpreter = nullptr;  // of the first create step; never cleared
    PyObject *module = nullptr;                 // strong; set by the exec step, dropped when it fails
    PyObject *module_dict = nullptr;            // the namespace of `module`, borrowed from it
    PyObject *builtins_module = nullptr;        // strong; the builtins seen by the exec step
};
extern ProcessRecords records;

// The builtins the module takes once, while it initialises.
struct CapturedBuiltins {
    PyObject *eval = nullptr;
    PyObject *property = nullptr;
    PyObject *staticmethod = nullptr;
    PyObject *TypeError = nullptr;
    PyObject *super = nullptr;
    PyObject *KeyError = nullptr;
    PyObject *open = nullptr;
};
extern CapturedBuiltins captured;

// Standard modules as the module body imported them, and functions of theirs
// as they were then: while the namespace still names them, what they would
// give may be worked out without the call. Strong references; a function
// stays nullptr when its module had none.
struct StandardModules {
    PyObject *locale = nullptr;
    PyObject *getdefaultlocale = nullptr;
    PyObject *json = nullptr;
    PyObject *json_dumps = nullptr;
};
extern StandardModules standard;

// The module namespace (borrowed); only valid once the exec step has started.
inline PyObject *module_namespace() { return records.module_dict; }

// Looks a module-level name up when it is used: the module namespace first,
// then the builtins. New reference, or nullptr with NameError (or another
// error of the lookup) set.
PyObject *lookup_global(PyObject *name);

// A module-level name on a hot path: looked up at each use like
// lookup_global, answered from the last lookup while the module namespace
// has not changed since. The answer is borrowed from the namespace, which
// holds it for as long as it is unchanged: the cache keeps nothing alive.
// There is one per name: the standard modules' in standard_names.hpp, each
// class's and function's where it is declared.
class GlobalName {
public:
    explicit GlobalName(const char *text) noexcept : name_(text) {}
    GlobalName(const GlobalName &) = delete;
    GlobalName &operator=(const GlobalName &) = delete;

    // The name itself, interned when the module initialises.
    PyObject *name() const noexcept { return name_.get(); }
    const char *text() const noexcept { return name_.text(); }

    // What the name denotes now, or an empty Ref with the exception set.
    Ref lookup() {
        PyObject *namespace_dict = module_namespace();
        const uint64_t version = yol_dict_stamp(namespace_dict);
        if (found_ && version == version_)
            return Ref::borrow(found_);
        return lookup_and_remember(namespace_dict, version);
    }

    // What the last lookup found, borrowed from the namespace, while the
    // namespace has not changed since; else nullptr (ask lookup()).
    PyObject *remembered() const {
        return found_ && yol_dict_stamp(module_namespace()) == version_ ? found_ : nullptr;
    }

    // A fast path's question (module/fast_paths.hpp).
    int denotes(Body body);

private:
    Ref lookup_and_remember(PyObject *namespace_dict, uint64_t version);

    InternedName name_;
    PyObject *found_ = nullptr;  // borrowed from the namespace at `version_`
    uint64_t version_ = 0;
};

// module.function(arguments...), with `module` looked up at the call and
// `function` one of the interned names: the result, or an empty Ref with the
// exception set.
template <typename... Arguments>
Ref call_in(GlobalName &module, PyObject *function, Arguments... arguments) {
    Ref found = module.lookup();
    Ref callable(found ? PyObject_GetAttr(found.get(), function) : nullptr);
    return callable ? Ref(PyObject_CallFunctionObjArgs(callable.get(), arguments..., nullptr)) : Ref();
}

// The truth of module.function(arguments...): 1, 0, or -1 on error.
template <typename... Arguments>
int test_in(GlobalName &module, PyObject *function, Arguments... arguments) {
    Ref answer = call_in(module, function, arguments...);
    return answer ? PyObject_IsTrue(answer.get()) : -1;
}

// Assertion checks run unless the interpreter runs with -O; read at each call.
inline bool assertions_enabled() { return !yol_optimisation_on(); }

