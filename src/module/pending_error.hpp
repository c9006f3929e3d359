// PendingError: sets the exception being raised aside (normalised) for a
// scope, in which further work may fail without replacing it, and raises it
// again at the end.
#pragma once
#include "module/python.hpp"

class PendingError {
public:
    PendingError() noexcept {
        PyErr_Fetch(&type_, &value_, &traceback_);
        PyErr_NormalizeException(&type_, &value_, &traceback_);
    }
    ~PendingError() {
        if (discarded_)
            return;
        PyErr_Clear();
        PyErr_Restore(type_, value_, traceback_);
    }
    PendingError(const PendingError &) = delete;
    PendingError &operator=(const PendingError &) = delete;

    // The exception instance, or nullptr.
    PyObject *value() const noexcept { return value_ && PyExceptionInstance_Check(value_) ? value_ : nullptr; }

    // Drops the exception set aside; whatever is raised at the end stays.
    void discard() noexcept {
        Py_CLEAR(type_);
        Py_CLEAR(value_);
        Py_CLEAR(traceback_);
        discarded_ = true;
    }

private:
    PyObject *type_ = nullptr, *value_ = nullptr, *traceback_ = nullptr;
    bool discarded_ = false;
};
