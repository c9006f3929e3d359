// PendingError: sets the exception being raised aside for a scope, in which
// further work may fail without replacing it, and raises it again at the end.
#pragma once
#include "module/python.hpp"

class PendingError {
public:
    PendingError() noexcept { PyErr_Fetch(&type_, &value_, &traceback_); }
    ~PendingError() {
        if (discarded_)
            return;
        PyErr_Clear();
        PyErr_Restore(type_, value_, traceback_);
    }
    PendingError(const PendingError &) = delete;
    PendingError &operator=(const PendingError &) = delete;

    // Drops the exception set aside; whatever is raised at the end stays.
    void discard() noexcept {
        Py_CLEAR(type_);
        Py_CLEAR(value_);
        Py_CLEAR(traceback_);
        discarded_ = true;
    }

private:
    PyObject *type_, *value_, *traceback_;
    bool discarded_ = false;
};
