#include "module/function.hpp"

#include "module/binding.hpp"
#include "module/fast_paths.hpp"
#include "module/globals.hpp"
#include "module/names.hpp"
#include "module/recursion.hpp"

#include <cstddef>
#include <string>
#include <vector>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
PyTypeObject FunctionType = {PyVarObject_HEAD_INIT(nullptr, 0)};
#pragma GCC diagnostic pop

namespace {

FunctionObject *as_function(PyObject *object) { return reinterpret_cast<FunctionObject *>(object); }

// Calling: bind, then run the body under the recursion guard.

PyObject *run_body(Call &call, const FunctionObject *function) {
    // The module-level function counts the levels of the values it walks
    // itself (parameter/clone.cpp): a plain scalar costs it none.
    if (function->spec->kind == MemberKind::Function)
        return function->spec->body(call);
    RecursionGuard guard;
    if (!guard.entered())
        return nullptr;
    return function->spec->body(call);
}

// The keyword arguments of a dict as two arrays, each entry with a
// reference of its own: the dict may be the caller's, which Python code run
// by the body can empty.
class KeywordArrays {
public:
    explicit KeywordArrays(PyObject *keywords) {
        const Py_ssize_t expected = keywords ? PyDict_Size(keywords) : 0;
        if (expected > kOnStack) {
            names_on_heap_.resize(static_cast<std::size_t>(expected));
            values_on_heap_.resize(static_cast<std::size_t>(expected));
            names_ = names_on_heap_.data();
            values_ = values_on_heap_.data();
        }
        PyObject *key, *value;
        Py_ssize_t position = 0;
        while (count_ < expected && PyDict_Next(keywords, &position, &key, &value)) {
            Py_INCREF(key);
            Py_INCREF(value);
            names_[count_] = key;
            values_[count_++] = value;
        }
    }
    ~KeywordArrays() {
        for (Py_ssize_t i = 0; i < count_; ++i) {
            Py_DECREF(names_[i]);
            Py_DECREF(values_[i]);
        }
    }
    KeywordArrays(const KeywordArrays &) = delete;
    KeywordArrays &operator=(const KeywordArrays &) = delete;

    PyObject *const *names() const { return names_; }
    PyObject *const *values() const { return values_; }
    Py_ssize_t count() const { return count_; }

private:
    static constexpr Py_ssize_t kOnStack = 32;
    PyObject *names_on_stack_[kOnStack], *values_on_stack_[kOnStack];
    std::vector<PyObject *> names_on_heap_, values_on_heap_;
    PyObject **names_ = names_on_stack_, **values_ = values_on_stack_;
    Py_ssize_t count_ = 0;
};

// Binds the keywords of a dict, of which Binder::classify says `kind`.
// `counted` says whether the caller has already counted the call against the
// recursion limit.
PyObject *call_with_dict(FunctionObject *function, PyObject *const *positional, Py_ssize_t positional_count,
                         PyObject *keywords, DictKeywords kind, bool counted) {
    Call call(function);
    if (kind == DictKeywords::Collected) {
        if (!Binder::bind_collected(call, positional, positional_count, keywords))
            return nullptr;
    } else {
        KeywordArrays keyword_arrays(keywords);
        if (!Binder::bind(call, positional, positional_count, keyword_arrays.names(), keyword_arrays.values(),
                          keyword_arrays.count()))
            return nullptr;
    }
    return counted ? function->spec->body(call) : run_body(call, function);
}

#if YOL_HAVE_VECTORCALL
// Kept out of line: the call that the quick answer takes sets up none of its frame.
__attribute__((noinline)) PyObject *function_vectorcall(PyObject *callable, PyObject *const *args, size_t nargsf,
                                                        PyObject *kwnames) {
    FunctionObject *function = as_function(callable);
    const Py_ssize_t positional_count = YOL_VECTORCALL_NARGS(nargsf);
    const Py_ssize_t keyword_count = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    Call call(function);
    if (function->single_argument) {
        if (!Binder::bind_single(call, args, positional_count, keyword_count))
            return nullptr;
        return run_body(call, function);
    }
    PyObject *const *keyword_names = keyword_count ? &PyTuple_GET_ITEM(kwnames, 0) : nullptr;
    if (!Binder::bind(call, args, positional_count, keyword_names, args + positional_count, keyword_count))
        return nullptr;
    return run_body(call, function);
}

// The call of a member with a quick answer, which is asked first when no
// keyword is passed.
PyObject *quick_vectorcall(PyObject *callable, PyObject *const *args, size_t nargsf, PyObject *kwnames) {
    const FunctionObject *function = as_function(callable);
    if (!kwnames || PyTuple_GET_SIZE(kwnames) == 0) {
        PyObject *answer = function->spec->quick(function, args, YOL_VECTORCALL_NARGS(nargsf));
        if (answer || PyErr_Occurred())
            return answer;
    }
    return function_vectorcall(callable, args, nargsf, kwnames);
}
#else
// Before vectorcall the interpreter counts the recursion of a tp_call itself.
PyObject *function_call(PyObject *callable, PyObject *args, PyObject *kwargs) {
    FunctionObject *function = as_function(callable);
    if (fast_paths_on && function->spec->quick && (!kwargs || PyDict_Size(kwargs) == 0)) {
        PyObject *answer = function->spec->quick(function, &PyTuple_GET_ITEM(args, 0), PyTuple_GET_SIZE(args));
        if (answer || PyErr_Occurred())
            return answer;
    }
    return call_with_dict(function, &PyTuple_GET_ITEM(args, 0), PyTuple_GET_SIZE(args), kwargs,
                          Binder::classify(function, kwargs), true);
}
#endif

// Binding to an instance, as a Python function does.
PyObject *function_descr_get(PyObject *self, PyObject *instance, PyObject *) {
    if (instance == nullptr || instance == Py_None) {
        Py_INCREF(self);
        return self;
    }
    return PyMethod_New(self, instance);
}

PyObject *function_repr(PyObject *self) {
    return PyUnicode_FromFormat("<function %U at %p>", as_function(self)->qualname, self);
}

// Pickled by reference, like a Python function: the qualified name in the module.
PyObject *function_reduce(PyObject *self, PyObject *) {
    Py_INCREF(as_function(self)->qualname);
    return as_function(self)->qualname;
}

PyMethodDef function_methods[] = {
    {"__reduce__", function_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

// Attributes.

template <PyObject *FunctionObject::*field>
PyObject *get_field(PyObject *self, void *) {
    PyObject *value = as_function(self)->*field;
    if (!value)
        value = Py_None;
    Py_INCREF(value);
    return value;
}

PyObject *get_none(PyObject *, void *) { Py_RETURN_NONE; }

// __name__ and __qualname__ take a str, as on a Python function.
template <PyObject *FunctionObject::*field>
int set_str_field(PyObject *self, PyObject *value, void *closure) {
    if (!value || !PyUnicode_Check(value)) {
        PyErr_Format(PyExc_TypeError, "%s must be set to a string object", static_cast<const char *>(closure));
        return -1;
    }
    Py_INCREF(value);
    Py_SETREF(as_function(self)->*field, value);
    return 0;
}

template <PyObject *FunctionObject::*field>
int set_any_field(PyObject *self, PyObject *value, void *) {
    Py_XINCREF(value);
    Py_XSETREF(as_function(self)->*field, value);
    return 0;
}

int set_annotations(PyObject *self, PyObject *value, void *) {
    if (value == Py_None)
        value = nullptr;
    if (value && !PyDict_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "__annotations__ must be set to a dict object");
        return -1;
    }
    Py_XINCREF(value);
    Py_XSETREF(as_function(self)->annotations, value);
    return 0;
}

PyObject *get_annotations(PyObject *self, void *) {
    FunctionObject *function = as_function(self);
    if (!function->annotations && !(function->annotations = PyDict_New()))
        return nullptr;
    Py_INCREF(function->annotations);
    return function->annotations;
}

PyGetSetDef function_getset[] = {
    {const_cast<char *>("__name__"), get_field<&FunctionObject::name>, set_str_field<&FunctionObject::name>,
     nullptr, const_cast<char *>("__name__")},
    {const_cast<char *>("__qualname__"), get_field<&FunctionObject::qualname>,
     set_str_field<&FunctionObject::qualname>, nullptr, const_cast<char *>("__qualname__")},
    {const_cast<char *>("__module__"), get_field<&FunctionObject::module>, set_any_field<&FunctionObject::module>,
     nullptr, nullptr},
    {const_cast<char *>("__doc__"), get_field<&FunctionObject::doc>, set_any_field<&FunctionObject::doc>, nullptr,
     nullptr},
    {const_cast<char *>("__defaults__"), get_field<&FunctionObject::defaults>, nullptr, nullptr, nullptr},
    {const_cast<char *>("__kwdefaults__"), get_none, nullptr, nullptr, nullptr},
    {const_cast<char *>("__annotations__"), get_annotations, set_annotations, nullptr, nullptr},
    {const_cast<char *>("__code__"), get_field<&FunctionObject::code>, nullptr, nullptr, nullptr},
    {const_cast<char *>("__dict__"), PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// Lifetime.

int function_traverse(PyObject *self, visitproc visit, void *arg) {
    FunctionObject *function = as_function(self);
    Py_VISIT(function->parameter_names);
    Py_VISIT(function->entry_name);
    Py_VISIT(function->name);
    Py_VISIT(function->qualname);
    Py_VISIT(function->module);
    Py_VISIT(function->doc);
    Py_VISIT(function->defaults);
    Py_VISIT(function->annotations);
    Py_VISIT(function->code);
    Py_VISIT(function->dict);
    return 0;
}

int function_clear(PyObject *self) {
    FunctionObject *function = as_function(self);
    Py_CLEAR(function->parameter_names);
    Py_CLEAR(function->entry_name);
    Py_CLEAR(function->name);
    Py_CLEAR(function->qualname);
    Py_CLEAR(function->module);
    Py_CLEAR(function->doc);
    Py_CLEAR(function->defaults);
    Py_CLEAR(function->annotations);
    Py_CLEAR(function->code);
    Py_CLEAR(function->dict);
    return 0;
}

void function_dealloc(PyObject *self) {
    PyObject_GC_UnTrack(self);
    if (as_function(self)->weakrefs)
        PyObject_ClearWeakRefs(self);
    function_clear(self);
    PyObject_GC_Del(self);
}

// Construction from a member's facts.

// "\n\t\t" before every line of the docstring and after the last one.
Ref laid_out_doc(const char *lines) {
    if (!lines)
        return Ref::borrow(Py_None);
    std::string text = "\n\t\t";
    for (const char *c = lines; *c; ++c) {
        text += *c;
        if (*c == '\n')
            text += "\t\t";
    }
    text += "\n\t\t";
    return Ref(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

// Runs "def <name><signature>: pass" at the member's line of vovoruze.py with
// the module namespace as globals, and returns the Python function it makes.
Ref compile_signature(const MemberSpec &spec) {
    std::string source(static_cast<std::size_t>(spec.line - 1), '\n');
    source += "def ";
    source += spec.name;
    source += spec.signature;
    source += ": pass\n";
    Ref code(Py_CompileString(source.c_str(), "vovoruze.py", Py_file_input));
    Ref locals(PyDict_New());
    if (!code || !locals)
        return Ref();
    Ref done(PyEval_EvalCode(code.get(), module_namespace(), locals.get()));
    if (!done)
        return Ref();
    return Ref::borrow(PyDict_GetItemString(locals.get(), spec.name));
}

Py_ssize_t int_attribute(PyObject *object, const char *name) {
    Ref value(PyObject_GetAttrString(object, name));
    return value ? PyLong_AsSsize_t(value.get()) : -1;
}

// Reads what the binder needs from the compiled code and its annotations.
bool derive_parameters(FunctionObject *function) {
    const Py_ssize_t argcount = int_attribute(function->code, "co_argcount");
    const Py_ssize_t flags = int_attribute(function->code, "co_flags");
    Ref varnames(PyObject_GetAttrString(function->code, "co_varnames"));
    if (argcount < 0 || flags < 0 || !varnames)
        return false;
    if (argcount > kMaxParameters) {
        PyErr_SetString(PyExc_SystemError, "a member has more parameters than the binder holds");
        return false;
    }
    function->parameter_names = PyTuple_GetSlice(varnames.get(), 0, argcount);
    if (!function->parameter_names)
        return false;
    function->parameter_count = argcount;
    for (Py_ssize_t i = 0; i < argcount; ++i)
        function->parameter_lengths |= length_bit(PyTuple_GET_ITEM(function->parameter_names, i));
    function->has_var_keywords = (flags & CO_VARKEYWORDS) != 0;
    function->required_count = argcount - (function->defaults ? PyTuple_GET_SIZE(function->defaults) : 0);
    function->single_argument = argcount == 1 && !function->has_var_keywords;
    // A parameter annotated with the bare name str or dict is type-checked.
    for (Py_ssize_t i = 0; i < argcount; ++i) {
        function->expected[i] = ExpectedType::Any;
        PyObject *annotation =
            PyDict_GetItemWithError(function->annotations, PyTuple_GET_ITEM(function->parameter_names, i));
        if (!annotation) {
            if (PyErr_Occurred())
                return false;
            continue;
        }
        if (!PyUnicode_Check(annotation))
            continue;
        if (PyUnicode_CompareWithASCIIString(annotation, "str") == 0)
            function->expected[i] = ExpectedType::ExactStr;
        else if (PyUnicode_CompareWithASCIIString(annotation, "dict") == 0)
            function->expected[i] = ExpectedType::ExactDict;
    }
    return true;
}

}  // namespace

bool ready_function_type() {
    if (FunctionType.tp_flags & Py_TPFLAGS_READY)
        return true;
    FunctionType.tp_name = "yol_vovoruze.function";
    FunctionType.tp_basicsize = sizeof(FunctionObject);
    FunctionType.tp_dealloc = function_dealloc;
    FunctionType.tp_repr = function_repr;
    FunctionType.tp_getattro = PyObject_GenericGetAttr;
    FunctionType.tp_setattro = PyObject_GenericSetAttr;
    FunctionType.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC;
    FunctionType.tp_traverse = function_traverse;
    FunctionType.tp_clear = function_clear;
    FunctionType.tp_weaklistoffset = offsetof(FunctionObject, weakrefs);
    FunctionType.tp_methods = function_methods;
    FunctionType.tp_getset = function_getset;
    FunctionType.tp_descr_get = function_descr_get;
    FunctionType.tp_dictoffset = offsetof(FunctionObject, dict);
#if YOL_HAVE_VECTORCALL
    FunctionType.tp_flags |= YOL_TPFLAGS_VECTORCALL | Py_TPFLAGS_METHOD_DESCRIPTOR;
    FunctionType.tp_vectorcall_offset = offsetof(FunctionObject, vectorcall);
    FunctionType.tp_call = PyVectorcall_Call;
#else
    FunctionType.tp_call = function_call;
#endif
    return PyType_Ready(&FunctionType) == 0;
}

PyObject *make_function(const MemberSpec &spec, const char *class_name) {
    Ref compiled = compile_signature(spec);
    if (!compiled)
        return nullptr;
    Ref self(reinterpret_cast<PyObject *>(PyObject_GC_New(FunctionObject, &FunctionType)));
    if (!self)
        return nullptr;
    FunctionObject *function = as_function(self.get());
    function->spec = &spec;
    function->parameter_count = function->required_count = 0;
    function->parameter_lengths = 0;
    function->has_var_keywords = function->single_argument = false;
    function->parameter_names = function->entry_name = function->name = function->qualname = nullptr;
    function->module = function->doc = function->defaults = function->annotations = nullptr;
    function->code = function->dict = function->weakrefs = nullptr;
#if YOL_HAVE_VECTORCALL
    function->vectorcall = fast_paths_on && spec.quick ? quick_vectorcall : function_vectorcall;
#endif
    PyObject_GC_Track(self.get());

    // Each step only once the one before it has succeeded: nothing runs
    // with an exception set.
    const std::string qualname = class_name ? std::string(class_name) + "." + spec.name : std::string(spec.name);
    const bool made = (function->name = PyUnicode_InternFromString(spec.name)) &&
                      (function->qualname = PyUnicode_FromString(qualname.c_str())) &&
                      (function->entry_name = PyUnicode_FromString(("yol_vovoruze." + qualname).c_str())) &&
                      (function->module = Ref::borrow(PyDict_GetItemWithError(module_namespace(), names.dunder_name))
                                              .release()) &&
                      (function->doc = laid_out_doc(spec.doc).release()) &&
                      (function->code = PyObject_GetAttr(compiled.get(), names.dunder_code)) &&
                      (function->defaults = PyObject_GetAttr(compiled.get(), names.dunder_defaults)) &&
                      (function->annotations = PyObject_GetAttr(compiled.get(), names.dunder_annotations));
    if (!made) {
        if (!PyErr_Occurred())
            PyErr_SetString(PyExc_SystemError, "the module namespace has no __name__");
        return nullptr;
    }
    if (function->defaults == Py_None)
        Py_CLEAR(function->defaults);
    if (!derive_parameters(function))
        return nullptr;
    return self.release();
}

PyObject *call_function_with_dict(FunctionObject *function, PyObject *const *positional, Py_ssize_t positional_count,
                                  PyObject *keywords, DictKeywords kind) {
    return call_with_dict(function, positional, positional_count, keywords, kind, false);
}

PyObject *run_bound(FunctionObject *function, PyObject *argument) {
    Call call(function);
    if (!Binder::bind_single(call, &argument, 1, 0))
        return nullptr;
    return run_body(call, function);
}

Ref module_member(PyTypeObject *type, PyObject *name, Body body) {
    PyObject *member = _PyType_Lookup(type, name);
    return module_function(member, body) ? Ref::borrow(member) : Ref();
}
