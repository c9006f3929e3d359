// PendingError: sets the exception being raised aside (normalised) for a
// scope, in which further work may fail without replacing it, and raises it
// again at the end.
//
// While it is set aside no exception is set, so the scope may call anything:
// a lookup, repr, format, note or warning made with an exception set breaks
// the C API's contract (a debug interpreter aborts; from 3.12 a garbage
// collection run at a signal check may clear the exception for good). Every
// failure path that does such work does it inside one of these.
//
// An error raised in the scope is dropped, except an interruption (an
// exception that is not an Exception, such as the KeyboardInterrupt of a
// signal handler): that one is raised at the end instead, with the exception
// set aside as its context, as Python does for an exception raised while
// another is handled.
#pragma once
#include "module/python.hpp"

class PendingError {
public:
    PendingError() noexcept : raised_(yol_take_raised()) {}
    ~PendingError() {
        if (discarded_)
            return;
        if (PyErr_Occurred() && !PyErr_ExceptionMatches(PyExc_Exception)) {
            YolRaised later = yol_take_raised();
            PyObject *context = yol_raised_value(raised_);
            if (yol_raised_value(later) && context && context != yol_raised_value(later)) {
                Py_INCREF(context);
                PyException_SetContext(yol_raised_value(later), context);
            }
            yol_clear_raised(raised_);
            yol_restore_raised(later);
            return;
        }
        PyErr_Clear();
        yol_restore_raised(raised_);
    }
    PendingError(const PendingError &) = delete;
    PendingError &operator=(const PendingError &) = delete;

    // The exception instance, or nullptr.
    PyObject *value() const noexcept {
        PyObject *value = yol_raised_value(raised_);
        return value && PyExceptionInstance_Check(value) ? value : nullptr;
    }

    // Drops the exception set aside; whatever is raised at the end stays.
    void discard() noexcept {
        yol_clear_raised(raised_);
        discarded_ = true;
    }

private:
    YolRaised raised_;
    bool discarded_ = false;
};
