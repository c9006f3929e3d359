// Argument binding and type checks, with the module's own messages.
#pragma once
#include "module/call.hpp"

class Binder {
public:
    // Binds positional arguments and keyword arguments (the keys and values of
    // a call, in call order) into `call`, applies the defaults and the type
    // checks. False with the exception set (and, for a binding failure of a
    // member with several parameters, its traceback entry at the `def` line).
    static bool bind(Call &call, PyObject *const *positional, Py_ssize_t positional_count,
                     PyObject *const *keyword_names, PyObject *const *keyword_values,
                     Py_ssize_t keyword_count);

    // What binding the keyword arguments of the dict `keywords` (or nullptr)
    // to `function` makes of them (see DictKeywords). Runs no Python code.
    static DictKeywords classify(const FunctionObject *function, PyObject *keywords);

    // Whether the exact str `key` names one of the parameters of `function`.
    static bool names_a_parameter(const FunctionObject *function, PyObject *key);

    // Binds the positional arguments as `bind` does, and a copy of a dict of
    // keywords that the binding collects whole as the **kwargs.
    static bool bind_collected(Call &call, PyObject *const *positional, Py_ssize_t positional_count,
                               PyObject *keywords) {
        return bind_named(call, positional, positional_count, nullptr, nullptr, 0, keywords) && check_types(call);
    }

    // The one-argument convention, for the callers that test
    // `single_argument` themselves to keep the common call short.
    static bool bind_single(Call &call, PyObject *const *positional, Py_ssize_t positional_count,
                            Py_ssize_t keyword_count) {
        const FunctionObject *function = call.function_;
        if (keyword_count > 0 || positional_count != 1)
            return raise_single_error(function, positional_count, keyword_count);
        call.bind(0, positional[0]);
        return function->expected[0] == ExpectedType::Any || check_types(call);
    }

private:
    static bool raise_single_error(const FunctionObject *function, Py_ssize_t positional_count,
                                   Py_ssize_t keyword_count);
    static bool bind_named(Call &call, PyObject *const *positional, Py_ssize_t positional_count,
                           PyObject *const *keyword_names, PyObject *const *keyword_values,
                           Py_ssize_t keyword_count, PyObject *collected = nullptr);
    static bool check_types(const Call &call);
    static bool raise_count_error(const Call &call, bool too_many, Py_ssize_t given);
};
