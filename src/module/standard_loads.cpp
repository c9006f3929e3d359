#include "module/standard_loads.hpp"

#include "module/globals.hpp"
#include "module/kept_state.hpp"
#include "module/ref.hpp"

#include <cmath>
#include <initializer_list>

namespace {

enum KeptFunctionIndex { Loads, Decode, RawDecode, kept_function_count };
enum KeptClassIndex { Decoder, Scanner, kept_class_count };
enum KeptDictIndex {
    JsonNamespace,
    LoadsOptions,
    DecoderNamespace,
    DecoderModuleNamespace,
    JsonBuiltins,
    DecoderBuiltins,
    ScannerNamespace,
    Constants,
    kept_dict_count
};

struct KeptLoads {
    bool usable = false;
    int verdict = 0;  // of the last comparison of the dicts, at their stamps
    KeptFunction functions[kept_function_count];
    KeptClass classes[kept_class_count];
    KeptDict dicts[kept_dict_count];
    Ref decoder, scanner;
    Ref decode_name, raw_decode_name, scan_once_name;
    Ref nan, infinity, negative_infinity;
};

// Never freed: it holds references until the process ends, after the
// interpreter, which no destructor may then reach.
KeptLoads &kept_loads = *new KeptLoads();

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

// Whether every name of a namespace is one of `known`, so that nothing added
// takes over a slot.
bool only_names(PyObject *namespace_dict, std::initializer_list<const char *> known) {
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

// Whether every default of `function` is None (none positional).
bool defaults_all_none(const KeptFunction &function) {
    PyObject *options = function.keyword_defaults.get();
    if (function.defaults || !options || !PyDict_CheckExact(options))
        return false;
    Py_ssize_t position = 0;
    PyObject *key, *value;
    while (PyDict_Next(options, &position, &key, &value))
        if (value != Py_None)
            return false;
    return true;
}

// The attribute `name` of `found` (a new reference), or nullptr; a missing
// attribute is no error.
PyObject *attribute(PyObject *found, const char *name) {
    PyObject *value = PyObject_GetAttrString(found, name);
    if (!value && PyErr_ExceptionMatches(PyExc_AttributeError))
        PyErr_Clear();
    return value;
}

// Whether the scanner reads a text as the standard decoder does: strict, no
// hooks, int and float, and every other option one it has always had.
int standard_scanner(PyObject *scanner, PyObject *scanner_namespace) {
    if (!only_names(scanner_namespace, {"__call__", "__doc__", "__module__", "__new__", "strict", "object_hook",
                                        "object_pairs_hook", "array_hook", "parse_float", "parse_int",
                                        "parse_constant"}))
        return 0;
    const struct {
        const char *name;
        PyObject *value;
    } expected[] = {
        {"strict", Py_True},
        {"object_hook", Py_None},
        {"object_pairs_hook", Py_None},
        {"parse_float", reinterpret_cast<PyObject *>(&PyFloat_Type)},
        {"parse_int", reinterpret_cast<PyObject *>(&PyLong_Type)},
    };
    for (const auto &option : expected) {
        Ref value(attribute(scanner, option.name));
        if (value.get() != option.value)
            return PyErr_Occurred() ? -1 : 0;
    }
    Ref array_hook(attribute(scanner, "array_hook"));
    if (PyErr_Occurred())
        return -1;
    return !array_hook || array_hook.get() == Py_None;
}

// The float `key` of the constants, which must be `expected` (a nan when that is nan).
PyObject *constant(PyObject *constants, const char *key, double expected) {
    Ref name(PyUnicode_FromString(key));
    Ref value(name ? PyObject_GetItem(constants, name.get()) : nullptr);
    if (!value || !PyFloat_CheckExact(value.get()))
        return nullptr;
    const double x = PyFloat_AS_DOUBLE(value.get());
    return (std::isnan(expected) ? std::isnan(x) : x == expected) ? value.release() : nullptr;
}

// The mapping that parse_constant reads, with its three values. A dict is
// watched; an immutable mapping of the interpreter's (3.15 on) needs not be.
int take_constants(KeptLoads &kept, PyObject *scanner) {
    Ref parse_constant(attribute(scanner, "parse_constant"));
    if (!parse_constant || !PyCFunction_Check(parse_constant.get()))
        return PyErr_Occurred() ? -1 : 0;
    Ref bound_to(attribute(parse_constant.get(), "__self__"));
    Ref name(bound_to ? attribute(parse_constant.get(), "__name__") : nullptr);
    if (!name || !is_text(name.get(), "__getitem__"))
        return PyErr_Occurred() ? -1 : 0;
    PyObject *constants = bound_to.get();
    PyTypeObject *type = Py_TYPE(constants);
    if (type != &PyDict_Type) {
        const int immutable = (PyType_GetFlags(type) & Py_TPFLAGS_HEAPTYPE) == 0
                                  ? is_named(reinterpret_cast<PyObject *>(type), "builtins", "frozendict")
                                  : 0;
        if (immutable <= 0)
            return immutable;
    } else {
        const int watched = kept.dicts[Constants].keep_whole(constants);
        if (watched <= 0)
            return watched;
    }
    kept.nan = Ref(constant(constants, "NaN", NAN));
    kept.infinity = Ref(constant(constants, "Infinity", HUGE_VAL));
    kept.negative_infinity = Ref(constant(constants, "-Infinity", -HUGE_VAL));
    if (kept.nan && kept.infinity && kept.negative_infinity)
        return 1;
    return PyErr_Occurred() && !PyErr_ExceptionMatches(PyExc_LookupError) ? -1 : (PyErr_Clear(), 0);
}

#define YOL_KEEP(step)            \
    do {                          \
        const int kept_ = (step); \
        if (kept_ <= 0)           \
            return kept_;         \
    } while (0)

// Reads the state of json.loads into `kept`: 1, 0 when it is not what the
// standard library makes, -1 on error.
int take(KeptLoads &kept) {
    PyObject *json = standard.json;
    if (!json || !PyModule_CheckExact(json))
        return 0;
    KeptDict &json_namespace = kept.dicts[JsonNamespace];
    YOL_KEEP(json_namespace.keep(PyModule_GetDict(json), {"loads", "_default_decoder", "__builtins__"},
                                 {"isinstance", "str"}));
    KeptFunction &loads = kept.functions[Loads];
    YOL_KEEP(loads.keep(json_namespace.kept("loads")) && defaults_all_none(loads));
    YOL_KEEP(kept.dicts[LoadsOptions].keep_whole(loads.keyword_defaults.get()));
    YOL_KEEP(PyFunction_GET_GLOBALS(loads.function.get()) == json_namespace.dict.get());

    kept.decoder = Ref::borrow(json_namespace.kept("_default_decoder"));
    KeptClass &decoder_class = kept.classes[Decoder];
    YOL_KEEP(decoder_class.keep(reinterpret_cast<PyObject *>(Py_TYPE(kept.decoder.get()))) &&
             decoder_class.based_on_object_alone());
    Ref class_namespace(yol_type_dict(reinterpret_cast<PyTypeObject *>(decoder_class.type.get())));
    if (!class_namespace)
        return -1;
    KeptDict &decoder_namespace = kept.dicts[DecoderNamespace];
    YOL_KEEP(decoder_namespace.keep_whole(class_namespace.get()));
    YOL_KEEP(only_names(class_namespace.get(), {"__module__", "__doc__", "__dict__", "__weakref__", "__firstlineno__",
                                                "__static_attributes__", "__init__", "decode", "raw_decode"}));
    YOL_KEEP(kept.functions[Decode].keep(decoder_namespace.kept("decode")) &&
             kept.functions[RawDecode].keep(decoder_namespace.kept("raw_decode")));
    PyObject *module_namespace = PyFunction_GET_GLOBALS(kept.functions[Decode].function.get());
    YOL_KEEP(PyFunction_GET_GLOBALS(kept.functions[RawDecode].function.get()) == module_namespace);
    KeptDict &decoder_module = kept.dicts[DecoderModuleNamespace];
    YOL_KEEP(decoder_module.keep(module_namespace, {"__builtins__"}, {"len"}));

    PyObject *builtin_sources[] = {json_namespace.kept("__builtins__"), decoder_module.kept("__builtins__")};
    for (PyObject *&builtins : builtin_sources)
        if (builtins && PyModule_Check(builtins))
            builtins = PyModule_GetDict(builtins);
    KeptDict &json_builtins = kept.dicts[JsonBuiltins], &decoder_builtins = kept.dicts[DecoderBuiltins];
    YOL_KEEP(json_builtins.keep(builtin_sources[0], {"isinstance", "str"}));
    YOL_KEEP(decoder_builtins.keep(builtin_sources[1], {"len"}));
    YOL_KEEP(json_builtins.kept("str") == reinterpret_cast<PyObject *>(&PyUnicode_Type) &&
             PyCFunction_Check(json_builtins.kept("isinstance")) && PyCFunction_Check(decoder_builtins.kept("len")));
    YOL_KEEP(is_named(json_builtins.kept("isinstance"), "builtins", "isinstance"));
    YOL_KEEP(is_named(decoder_builtins.kept("len"), "builtins", "len"));

    kept.decode_name = Ref(PyUnicode_InternFromString("decode"));
    kept.raw_decode_name = Ref(PyUnicode_InternFromString("raw_decode"));
    kept.scan_once_name = Ref(PyUnicode_InternFromString("scan_once"));
    if (!kept.decode_name || !kept.raw_decode_name || !kept.scan_once_name)
        return -1;
    kept.scanner = Ref(attribute(kept.decoder.get(), "scan_once"));
    if (!kept.scanner)
        return PyErr_Occurred() ? -1 : 0;
    KeptClass &scanner_class = kept.classes[Scanner];
    YOL_KEEP(scanner_class.keep(reinterpret_cast<PyObject *>(Py_TYPE(kept.scanner.get()))));
    YOL_KEEP(is_named(scanner_class.type.get(), "_json", "Scanner"));
    Ref scanner_namespace(yol_type_dict(reinterpret_cast<PyTypeObject *>(scanner_class.type.get())));
    if (!scanner_namespace)
        return -1;
    YOL_KEEP(kept.dicts[ScannerNamespace].keep_whole(scanner_namespace.get()));
    YOL_KEEP(standard_scanner(kept.scanner.get(), scanner_namespace.get()));
    YOL_KEEP(take_constants(kept, kept.scanner.get()));

    for (KeptDict &dict : kept.dicts)
        if (dict.dict)
            yol_watch_dict(dict.dict.get());
    for (KeptDict &dict : kept.dicts)
        dict.stamp = dict.stamp_now();
    return yol_dicts_watched() ? 1 : 0;
}

#undef YOL_KEEP

// Compares each dict again, at the stamps read before.
int compare_again(KeptLoads &kept) {
    for (KeptDict &dict : kept.dicts)
        dict.stamp = dict.stamp_now();
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
        if (dict.stamp_now() != dict.stamp)
            return 0;
    kept.verdict = 1;
    return 1;
}

// 1 when `object.name` is the kept function bound to `object`, 0 when not,
// -1 with an interruption raised.
int bound_to(PyObject *object, PyObject *name, const KeptFunction &function) {
    Ref method(PyObject_GetAttr(object, name));
    if (!method) {
        if (!PyErr_ExceptionMatches(PyExc_Exception))
            return -1;
        PyErr_Clear();
        return 0;
    }
    return PyMethod_Check(method.get()) && PyMethod_GET_FUNCTION(method.get()) == function.function.get() &&
           PyMethod_GET_SELF(method.get()) == object;
}

// Whether the decoder still finds its own methods and the kept scanner.
int decoder_as_kept(KeptLoads &kept) {
    PyObject *decoder = kept.decoder.get();
    if (reinterpret_cast<PyObject *>(Py_TYPE(decoder)) != kept.classes[Decoder].type.get())
        return 0;
    int same = bound_to(decoder, kept.decode_name.get(), kept.functions[Decode]);
    if (same > 0)
        same = bound_to(decoder, kept.raw_decode_name.get(), kept.functions[RawDecode]);
    if (same <= 0)
        return same;
    Ref scanner(PyObject_GetAttr(decoder, kept.scan_once_name.get()));
    if (!scanner) {
        if (!PyErr_ExceptionMatches(PyExc_Exception))
            return -1;
        PyErr_Clear();
        return 0;
    }
    return scanner.get() == kept.scanner.get() &&
           reinterpret_cast<PyObject *>(Py_TYPE(scanner.get())) == kept.classes[Scanner].type.get();
}

}  // namespace

bool keep_json_loads_state() {
    kept_loads = KeptLoads();
    const int taken = take(kept_loads);
    if (taken < 0) {
        if (!PyErr_ExceptionMatches(PyExc_Exception))
            return false;
        PyErr_Clear();  // json is then never left out
    }
    if (taken <= 0) {
        kept_loads = KeptLoads();
        return true;
    }
    kept_loads.usable = true;
    kept_loads.verdict = 1;
    return true;
}

int json_loads_as_kept(DecoderConstants &constants) {
    KeptLoads &kept = kept_loads;
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
        same = same && dict.stamp_now() == dict.stamp;
    const int dicts_hold = same ? kept.verdict : compare_again(kept);
    if (dicts_hold <= 0)
        return dicts_hold;
    const int decoder_holds = decoder_as_kept(kept);
    if (decoder_holds <= 0)
        return decoder_holds;
    constants.nan = kept.nan.get();
    constants.infinity = kept.infinity.get();
    constants.negative_infinity = kept.negative_infinity.get();
    return 1;
}
