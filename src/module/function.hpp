// The function object that every member of the module is made of: it carries
// the attributes of a Python function (__name__, __qualname__, __module__,
// __doc__, __defaults__, __kwdefaults__, __annotations__, __code__), binds to
// instances like one, and calls its C++ body with the arguments bound by the
// module's argument conventions.
#pragma once
#include "module/member.hpp"
#include "module/python.hpp"
#include "module/ref.hpp"

#include <cstdint>

// The most named parameters of any member, self included: a member with more
// is refused when its function is made.
constexpr Py_ssize_t kMaxParameters = 4;

enum class ExpectedType : unsigned char { Any, ExactStr, ExactDict };

struct FunctionObject {
    PyObject_HEAD
    const MemberSpec *spec;
    // Facts of the signature, derived once from its compiled code.
    Py_ssize_t parameter_count;  // named parameters, self included; **kwargs not counted
    Py_ssize_t required_count;
    bool has_var_keywords;
    bool single_argument;  // one parameter and no **kwargs: the one-argument convention
    ExpectedType expected[kMaxParameters];
    PyObject *parameter_names;  // tuple of str, in signature order
    uint64_t parameter_lengths;  // bit n set where a name has n characters (bit 63: 63 or more)
    PyObject *entry_name;       // "yol_vovoruze." + qualified name, for traceback entries
    // The attributes that Python sees.
    PyObject *name;
    PyObject *qualname;
    PyObject *module;
    PyObject *doc;
    PyObject *defaults;
    PyObject *annotations;
    PyObject *code;
    PyObject *dict;
    PyObject *weakrefs;
#if YOL_HAVE_VECTORCALL
    vectorcallfunc vectorcall;
#endif
};

extern PyTypeObject FunctionType;

// The bit of FunctionObject::parameter_lengths that a name of the length of
// the str `name` sets.
inline uint64_t length_bit(PyObject *name) {
    const Py_ssize_t length = PyUnicode_GET_LENGTH(name);
    return uint64_t(1) << (length < 63 ? length : 63);
}

// Readies the type; false with an exception set on failure.
bool ready_function_type();

// Makes the function object of `spec`, with `class_name` (or nullptr for a
// module-level function) in its qualified name. The signature is compiled and
// evaluated in the module namespace, so its annotations and defaults are the
// objects that the names in it denote at this moment.
PyObject *make_function(const MemberSpec &spec, const char *class_name);

// What the binding of a function makes of the keyword arguments of a dict:
// Collected, all of them into its **kwargs, as a copy of the dict (an exact
// dict whose names are exact str naming none of its parameters); ByName, one
// by one; NameNotStr, an error for a name that is not a str.
enum class DictKeywords : unsigned char { Collected, ByName, NameNotStr };

// Calls `function` with positional arguments and a dict of keyword arguments
// (or nullptr), bound by the module's own conventions and messages whatever
// the keys are; `kind` is what Binder::classify says of the dict.
PyObject *call_function_with_dict(FunctionObject *function, PyObject *const *positional, Py_ssize_t positional_count,
                                  PyObject *keywords, DictKeywords kind);

// `object` as the module's own function whose body is `body`, or nullptr;
// the fast paths ask this through own_function (module/fast_paths.hpp).
inline FunctionObject *module_function(PyObject *object, Body body) {
    return object && Py_TYPE(object) == &FunctionType && reinterpret_cast<FunctionObject *>(object)->spec->body == body
               ? reinterpret_cast<FunctionObject *>(object)
               : nullptr;
}

// function(argument) for a function of the one-argument convention, as a
// call of it runs its body.
PyObject *run_bound(FunctionObject *function, PyObject *argument);

// The module's own function at `name` in `type`'s order when its body is
// `body` (a new reference), else an empty Ref; the fast paths ask this
// through own_member (module/fast_paths.hpp).
Ref module_member(PyTypeObject *type, PyObject *name, Body body);

inline FunctionObject *as_function(const Ref &function) { return reinterpret_cast<FunctionObject *>(function.get()); }
