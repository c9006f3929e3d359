#include "module/binding.hpp"

namespace {

const char *name_of(const FunctionObject *function) { return function->spec->name; }

// Keyword names compare as strings; a key that is not a str matches nothing.
bool names_match(PyObject *key, PyObject *parameter_name) {
    if (key == parameter_name)
        return true;
    return PyUnicode_Check(key) && PyUnicode_GetLength(key) == PyUnicode_GetLength(parameter_name) &&
           PyUnicode_Compare(key, parameter_name) == 0;
}

Py_ssize_t find_keyword(PyObject *parameter_name, PyObject *const *keyword_names, Py_ssize_t keyword_count) {
    for (Py_ssize_t k = 0; k < keyword_count; ++k)
        if (names_match(keyword_names[k], parameter_name))
            return k;
    return -1;
}

Py_ssize_t find_parameter(const FunctionObject *function, PyObject *key) {
    for (Py_ssize_t i = 0; i < function->parameter_count; ++i)
        if (names_match(key, PyTuple_GET_ITEM(function->parameter_names, i)))
            return i;
    return -1;
}

}  // namespace

bool Binder::bind(Call &call, PyObject *const *positional, Py_ssize_t positional_count,
                  PyObject *const *keyword_names, PyObject *const *keyword_values, Py_ssize_t keyword_count) {
    if (call.function_->single_argument)
        return bind_single(call, positional, positional_count, keyword_count);
    return bind_named(call, positional, positional_count, keyword_names, keyword_values, keyword_count) &&
           check_types(call);
}

// Only a name of the same length is compared: most keys are told apart by
// their length alone.
bool Binder::names_a_parameter(const FunctionObject *function, PyObject *key) {
    if (!(function->parameter_lengths & length_bit(key)))
        return false;
    const Py_ssize_t length = PyUnicode_GET_LENGTH(key);
    for (Py_ssize_t i = 0; i < function->parameter_count; ++i) {
        PyObject *name = PyTuple_GET_ITEM(function->parameter_names, i);
        if (key == name || (PyUnicode_GET_LENGTH(name) == length && PyUnicode_Compare(key, name) == 0))
            return true;
    }
    return false;
}

DictKeywords Binder::classify(const FunctionObject *function, PyObject *keywords) {
    if (!keywords)
        return DictKeywords::ByName;
    DictKeywords kind =
        function->has_var_keywords && PyDict_CheckExact(keywords) ? DictKeywords::Collected : DictKeywords::ByName;
    PyObject *key, *value;
    Py_ssize_t position = 0;
    while (PyDict_Next(keywords, &position, &key, &value)) {
        if (!PyUnicode_Check(key))
            return DictKeywords::NameNotStr;
        if (kind == DictKeywords::Collected && (!PyUnicode_CheckExact(key) || names_a_parameter(function, key)))
            kind = DictKeywords::ByName;
    }
    return kind;
}

bool Binder::raise_single_error(const FunctionObject *function, Py_ssize_t positional_count,
                                Py_ssize_t keyword_count) {
    if (keyword_count > 0)
        PyErr_Format(PyExc_TypeError, "%.200s() takes no keyword arguments", name_of(function));
    else
        PyErr_Format(PyExc_TypeError, "%.200s() takes exactly one argument (%zd given)", name_of(function),
                     positional_count);
    return false;
}

bool Binder::bind_named(Call &call, PyObject *const *positional, Py_ssize_t positional_count,
                        PyObject *const *keyword_names, PyObject *const *keyword_values, Py_ssize_t keyword_count,
                        PyObject *collected) {
    const FunctionObject *function = call.function_;
    const Py_ssize_t parameter_count = function->parameter_count;
    if (positional_count > parameter_count)
        return raise_count_error(call, true, positional_count);
    for (Py_ssize_t i = 0; i < positional_count; ++i)
        call.bind(i, positional[i]);
    if (keyword_count == 0 && positional_count == parameter_count && !function->has_var_keywords)
        return true;

    Py_ssize_t keywords_left = keyword_count;
    for (Py_ssize_t i = positional_count; i < parameter_count; ++i) {
        Py_ssize_t k = keywords_left > 0
                           ? find_keyword(PyTuple_GET_ITEM(function->parameter_names, i), keyword_names, keyword_count)
                           : -1;
        if (k >= 0) {
            call.bind(i, keyword_values[k]);
            --keywords_left;
        } else if (i < function->required_count) {
            return raise_count_error(call, false, i);
        } else {
            call.bind(i, PyTuple_GET_ITEM(function->defaults, i - function->required_count));
        }
    }

    if (function->has_var_keywords) {
        call.var_keywords_.reset(collected ? PyDict_Copy(collected) : PyDict_New());
        if (!call.var_keywords_)
            return false;
    }
    if (keywords_left == 0)
        return true;
    for (Py_ssize_t k = 0; k < keyword_count; ++k) {
        PyObject *key = keyword_names[k];
        if (!PyUnicode_Check(key)) {
            PyErr_Format(PyExc_TypeError, "%.200s() keywords must be strings", name_of(function));
            return call.fail_at_def(), false;
        }
        Py_ssize_t i = find_parameter(function, key);
        if (i >= positional_count)
            continue;  // bound above
        if (i >= 0) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'", name_of(function),
                         key);
            return call.fail_at_def(), false;
        }
        if (!function->has_var_keywords) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", name_of(function), key);
            return call.fail_at_def(), false;
        }
        if (PyDict_SetItem(call.var_keywords_.get(), key, keyword_values[k]) < 0)
            return false;
    }
    return true;
}

bool Binder::raise_count_error(const Call &call, bool too_many, Py_ssize_t given) {
    const FunctionObject *function = call.function_;
    const bool exact = function->required_count == function->parameter_count;
    const Py_ssize_t expected = too_many ? function->parameter_count : function->required_count;
    const char *how = exact ? "exactly" : too_many ? "at most" : "at least";
    PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)", name_of(function),
                 how, expected, expected == 1 ? "" : "s", given);
    call.fail_at_def();
    return false;
}

bool Binder::check_types(const Call &call) {
    const FunctionObject *function = call.function_;
    for (Py_ssize_t i = 0; i < function->parameter_count; ++i) {
        ExpectedType expected = function->expected[i];
        if (expected == ExpectedType::Any)
            continue;
        PyObject *value = call.args_[i];
        PyTypeObject *exact = expected == ExpectedType::ExactStr ? &PyUnicode_Type : &PyDict_Type;
        if (value == Py_None || Py_TYPE(value) == exact)
            continue;
        PyErr_Format(PyExc_TypeError, "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)",
                     PyUnicode_AsUTF8(PyTuple_GET_ITEM(function->parameter_names, i)),
                     expected == ExpectedType::ExactStr ? "str" : "dict", Py_TYPE(value)->tp_name);
        return false;
    }
    return true;
}
