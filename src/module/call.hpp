// Call: what a body receives, namely its arguments bound in signature order,
// the **kwargs dict where the member has one, and the means to report a
// failing statement.
#pragma once
#include "module/function.hpp"
#include "module/pending_error.hpp"
#include "module/ref.hpp"
#include "module/traceback.hpp"

#include <cstddef>
#include <initializer_list>
#include <type_traits>
#include <utility>

class Call {
public:
    // The call holds the function and every bound argument for its whole
    // duration: Python code that the body runs may drop the caller's
    // references (empty the caller's keyword dict, delete the member from
    // its class).
    explicit Call(const FunctionObject *function) noexcept : function_(function) {
        Py_INCREF(reinterpret_cast<PyObject *>(const_cast<FunctionObject *>(function_)));
    }
    ~Call() {
        for (PyObject *argument : args_)
            Py_XDECREF(argument);
        Py_DECREF(reinterpret_cast<PyObject *>(const_cast<FunctionObject *>(function_)));
    }
    // A call of `function` with the positional arguments already bound (by a
    // slot that the interpreter calls with them).
    Call(const FunctionObject *function, std::initializer_list<PyObject *> arguments) noexcept : Call(function) {
        Py_ssize_t index = 0;
        for (PyObject *argument : arguments)
            bind(index++, argument);
    }
    Call(const Call &) = delete;
    Call &operator=(const Call &) = delete;

    PyObject *arg(Py_ssize_t index) const noexcept { return args_[index]; }
    PyObject *self() const noexcept { return args_[0]; }
    PyObject *var_keywords() const noexcept { return var_keywords_.get(); }
    // The **kwargs dict, which the body may keep: nobody else holds it.
    Ref take_var_keywords() noexcept { return std::move(var_keywords_); }

    // Adds the traceback entry of this member at the line of `statement` (one
    // of the body's enumerators); for `return call.fail(Statement::X)`.
    template <typename Statement, typename = std::enable_if_t<std::is_enum<Statement>::value>>
    std::nullptr_t fail(Statement statement) const {
        return fail_at(line_of(*function_->spec, static_cast<int>(statement)));
    }
    // The entry at the line of the `def`, where a failure to bind the
    // arguments is reported.
    std::nullptr_t fail_at_def() const { return fail_at(function_->spec->line); }

    // A tested `str` value stays exactly `str` or None when a statement
    // rebinds it (and the `description` result is held to the same rule):
    // true when it does; otherwise false with TypeError raised and the entry
    // of `statement` added.
    template <typename Statement>
    bool enforce_str(PyObject *value, Statement statement) const {
        if (value == Py_None || Py_TYPE(value) == &PyUnicode_Type)
            return true;
        PyErr_Format(PyExc_TypeError, "Expected %.16s, got %.200s", "str", Py_TYPE(value)->tp_name);
        fail(statement);
        return false;
    }

    // An assertion check of `holds` (1, 0, or -1 when testing it failed),
    // for callers that have seen assertion checks enabled: false with
    // AssertionError (or the error) and the entry of `statement` added.
    template <typename Statement>
    bool asserts(int holds, Statement statement) const {
        if (holds > 0)
            return true;
        if (holds == 0)
            PyErr_SetNone(PyExc_AssertionError);
        fail(statement);
        return false;
    }

    const FunctionObject *function() const noexcept { return function_; }


private:
    friend class Binder;
    std::nullptr_t fail_at(int line) const {
        add_traceback_entry(function_->entry_name, line);
        return nullptr;
    }

    void bind(Py_ssize_t index, PyObject *value) noexcept {
        Py_INCREF(value);
        Py_XSETREF(args_[index], value);
    }

    const FunctionObject *function_;
    PyObject *args_[kMaxParameters] = {};  // strong
    Ref var_keywords_;
};

// Adds the traceback entry that the member `name` of `type` adds at
// `statement`, while that member is still the module's own function whose
// body is `body`: for a slot, or a step of another member, that runs the body
// without calling the member. The member is looked up with the exception set
// aside.
template <typename Statement>
void fail_as_member(PyTypeObject *type, PyObject *name, Body body, Statement statement) {
    Ref member;
    {
        PendingError raised;
        member = module_member(type, name, body);
    }
    if (member)
        Call(as_function(member)).fail(statement);
}
