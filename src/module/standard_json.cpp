#include "module/standard_json.hpp"

#include "module/globals.hpp"
#include "module/kept_state.hpp"
#include "module/ref.hpp"

#include <cmath>
#include <initializer_list>

namespace {

enum KeptFunctionIndex { Dumps, EncoderInit, Encode, IterEncode, MakeIterEncode, kept_function_count };
enum KeptClassIndex { Encoder, InterpreterEncoder, kept_class_count };
enum KeptDictIndex {
    JsonNamespace,
    DumpsOptions,
    EncoderNamespace,
    EncoderModuleNamespace,
    Builtins,
    InterpreterEncoderNamespace,
    kept_dict_count
};

struct KeptJson {
    bool usable = false;
    int verdict = 0;  // of the last comparison of the dicts, at their stamps
    KeptFunction functions[kept_function_count];
    KeptClass classes[kept_class_count];
    KeptDict dicts[kept_dict_count];
};

// Never freed: it holds references until the process ends, after the
// interpreter, which no destructor may then reach.
KeptJson &kept_json = *new KeptJson();

// 1 when `found` is exactly a str equal to `text`.
bool is_text(PyObject *found, const char *text) {
    return found && PyUnicode_CheckExact(found) && PyUnicode_CompareWithASCIIString(found, text) == 0;
}

// Whether `found`'s __module__ and __name__ are `module` and `name`: 1, 0, or -1 on error.
int is_named(PyObject *found, const char *module, const char *name) {
    Ref module_name(PyObject_GetAttrString(found, "__module__"));
    Ref own_name(module_name ? PyObject_GetAttrString(found, "__name__") : nullptr);
    if (!own_name) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError))
            return -1;
        PyErr_Clear();
        return 0;
    }
    return is_text(module_name.get(), module) && is_text(own_name.get(), name);
}

// Whether the options of dumps are those of the standard library.
bool standard_options(PyObject *options) {
    if (!options || !PyDict_CheckExact(options) || PyDict_Size(options) != 9)
        return false;
    const struct {
        const char *name;
        PyObject *value;
    } expected[] = {
        {"skipkeys", Py_False}, {"ensure_ascii", Py_True}, {"check_circular", Py_True},
        {"allow_nan", Py_True}, {"cls", Py_None},          {"indent", Py_None},
        {"separators", Py_None}, {"default", Py_None},     {"sort_keys", Py_False},
    };
    for (const auto &option : expected)
        if (PyDict_GetItemString(options, option.name) != option.value)
            return false;
    return true;
}

// Whether every name of the class's namespace is one that the standard
// library's JSONEncoder has, so that nothing added takes over a slot.
bool standard_class_names(PyObject *namespace_dict) {
    static const char *const known[] = {
        "__module__", "__doc__", "__dict__", "__weakref__", "__firstlineno__", "__static_attributes__",
        "__init__", "default", "encode", "iterencode", "item_separator", "key_separator",
    };
    Py_ssize_t position = 0;
    PyObject *key, *value;
    while (PyDict_Next(namespace_dict, &position, &key, &value)) {
        bool found = false;
        for (const char *name : known)
            found = found || is_text(key, name);
        if (!found)
            return false;
    }
    return true;
}

#define YOL_KEEP(step)                \
    do {                              \
        const int kept_ = (step);     \
        if (kept_ <= 0)               \
            return kept_;             \
    } while (0)

// Reads the state of the json module into `kept`: 1, 0 when it is not what
// the standard library makes, -1 on error.
int take(KeptJson &kept) {
    PyObject *json = standard.json;
    if (!json || !PyModule_CheckExact(json))
        return 0;
    KeptFunction &dumps = kept.functions[Dumps];
    YOL_KEEP(dumps.keep(standard.json_dumps) && !dumps.defaults && standard_options(dumps.keyword_defaults.get()));
    YOL_KEEP(kept.dicts[DumpsOptions].keep_whole(dumps.keyword_defaults.get()));
    YOL_KEEP(kept.dicts[JsonNamespace].keep(PyModule_GetDict(json), {"dumps", "JSONEncoder"}));
    YOL_KEEP(kept.dicts[JsonNamespace].kept("dumps") == dumps.function.get());

    KeptClass &encoder = kept.classes[Encoder];
    YOL_KEEP(encoder.keep(kept.dicts[JsonNamespace].kept("JSONEncoder")));
    YOL_KEEP(PyTuple_GET_SIZE(encoder.mro.get()) == 2 &&
             PyTuple_GET_ITEM(encoder.mro.get(), 1) == reinterpret_cast<PyObject *>(&PyBaseObject_Type));
    Ref class_namespace(yol_type_dict(reinterpret_cast<PyTypeObject *>(encoder.type.get())));
    if (!class_namespace)
        return -1;
    KeptDict &encoder_namespace = kept.dicts[EncoderNamespace];
    YOL_KEEP(encoder_namespace.keep_whole(class_namespace.get()));
    YOL_KEEP(standard_class_names(class_namespace.get()) &&
             is_text(encoder_namespace.kept("key_separator"), ": ") &&
             is_text(encoder_namespace.kept("item_separator"), ", "));
    YOL_KEEP(kept.functions[EncoderInit].keep(encoder_namespace.kept("__init__")) &&
             kept.functions[Encode].keep(encoder_namespace.kept("encode")) &&
             kept.functions[IterEncode].keep(encoder_namespace.kept("iterencode")));

    // The namespace of json.encoder, as its functions hold it.
    PyObject *module_namespace = PyFunction_GET_GLOBALS(kept.functions[Encode].function.get());
    YOL_KEEP(PyFunction_GET_GLOBALS(kept.functions[EncoderInit].function.get()) == module_namespace &&
             PyFunction_GET_GLOBALS(kept.functions[IterEncode].function.get()) == module_namespace);
    KeptDict &module = kept.dicts[EncoderModuleNamespace];
    YOL_KEEP(module.keep(module_namespace,
                         {"encode_basestring", "c_make_encoder", "_make_iterencode", "INFINITY", "__builtins__"},
                         {"isinstance", "str", "list", "tuple", "float"}));
    YOL_KEEP(kept.functions[MakeIterEncode].keep(module.kept("_make_iterencode")) &&
             PyFunction_GET_GLOBALS(kept.functions[MakeIterEncode].function.get()) == module_namespace);
    PyObject *infinity = module.kept("INFINITY");
    YOL_KEEP(PyFloat_CheckExact(infinity) && std::isinf(PyFloat_AS_DOUBLE(infinity)) &&
             PyFloat_AS_DOUBLE(infinity) > 0);
    PyObject *string_encoder = module.kept("encode_basestring");
    YOL_KEEP(PyCFunction_Check(string_encoder));
    YOL_KEEP(is_named(string_encoder, "_json", "encode_basestring"));

    KeptClass &interpreter_encoder = kept.classes[InterpreterEncoder];
    YOL_KEEP(interpreter_encoder.keep(module.kept("c_make_encoder")));
    YOL_KEEP(is_named(interpreter_encoder.type.get(), "_json", "Encoder"));
    Ref encoder_class_namespace(yol_type_dict(reinterpret_cast<PyTypeObject *>(interpreter_encoder.type.get())));
    if (!encoder_class_namespace)
        return -1;
    YOL_KEEP(kept.dicts[InterpreterEncoderNamespace].keep_whole(encoder_class_namespace.get()));

    PyObject *builtins = module.kept("__builtins__");
    if (PyModule_Check(builtins))
        builtins = PyModule_GetDict(builtins);
    KeptDict &builtin = kept.dicts[Builtins];
    YOL_KEEP(builtin.keep(builtins, {"isinstance", "str", "list", "tuple", "float"}));
    YOL_KEEP(builtin.kept("str") == reinterpret_cast<PyObject *>(&PyUnicode_Type) &&
             builtin.kept("list") == reinterpret_cast<PyObject *>(&PyList_Type) &&
             builtin.kept("tuple") == reinterpret_cast<PyObject *>(&PyTuple_Type) &&
             builtin.kept("float") == reinterpret_cast<PyObject *>(&PyFloat_Type) &&
             PyCFunction_Check(builtin.kept("isinstance")));
    YOL_KEEP(is_named(builtin.kept("isinstance"), "builtins", "isinstance"));

    for (KeptDict &dict : kept.dicts)
        yol_watch_dict(dict.dict.get());
    for (KeptDict &dict : kept.dicts)
        dict.stamp = yol_dict_stamp(dict.dict.get());
    return yol_dicts_watched() ? 1 : 0;
}

#undef YOL_KEEP

// Compares each dict again, at the stamps read before.
int compare_again(KeptJson &kept) {
    for (KeptDict &dict : kept.dicts)
        dict.stamp = yol_dict_stamp(dict.dict.get());
    kept.verdict = 0;
    for (const KeptDict &dict : kept.dicts) {
        const int holds = dict.holds_entries();
        if (holds < 0) {
            for (KeptDict &unknown : kept.dicts)
                unknown.stamp = 0;  // compared again next time
            if (!PyErr_ExceptionMatches(PyExc_Exception))
                return -1;
            PyErr_Clear();  // a host's key that fails to compare: json gets the call
            return 0;
        }
        if (!holds)
            return 0;
    }
    // A comparison may have run Python code that changed what was compared before.
    for (const KeptDict &dict : kept.dicts)
        if (yol_dict_stamp(dict.dict.get()) != dict.stamp)
            return 0;
    kept.verdict = 1;
    return 1;
}

}  // namespace

bool keep_json_state() {
    kept_json = KeptJson();
    const int taken = take(kept_json);
    if (taken < 0) {
        if (!PyErr_ExceptionMatches(PyExc_Exception))
            return false;
        PyErr_Clear();  // json is then never left out
    }
    if (taken <= 0) {
        kept_json = KeptJson();
        return true;
    }
    kept_json.usable = true;
    kept_json.verdict = 1;
    return true;
}

int json_state_as_kept() {
    KeptJson &kept = kept_json;
    if (!kept.usable || Py_TYPE(standard.json) != &PyModule_Type)
        return 0;
    for (const KeptFunction &function : kept.functions)
        if (!function.unchanged())
            return 0;
    for (const KeptClass &kept_class : kept.classes)
        if (!kept_class.unchanged())
            return 0;
    bool same = true;
    for (const KeptDict &dict : kept.dicts)
        same = same && yol_dict_stamp(dict.dict.get()) == dict.stamp;
    return same ? kept.verdict : compare_again(kept);
}
