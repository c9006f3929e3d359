// RecursionGuard: one level of recursion for the duration of a member's body,
// so that deep or self-containing values end in RecursionError instead of a C
// stack overflow.
#pragma once
#include "module/python.hpp"

class RecursionGuard {
public:
    RecursionGuard() noexcept {
#if YOL_OWN_RECURSION_COUNT
        // The interpreter's guard keeps the C stack safe; the module's own
        // count holds its bodies to sys.getrecursionlimit() as a Python call
        // is held to it.
        if (depth_ >= Py_GetRecursionLimit()) {
            PyErr_SetString(PyExc_RecursionError, "maximum recursion depth exceeded while calling a Python object");
            return;
        }
#endif
        entered_ = Py_EnterRecursiveCall(" while calling a Python object") == 0;
#if YOL_OWN_RECURSION_COUNT
        depth_ += entered_;
#endif
    }

    ~RecursionGuard() {
        if (!entered_)
            return;
#if YOL_OWN_RECURSION_COUNT
        --depth_;
#endif
        Py_LeaveRecursiveCall();
    }

    RecursionGuard(const RecursionGuard &) = delete;
    RecursionGuard &operator=(const RecursionGuard &) = delete;

    bool entered() const noexcept { return entered_; }

private:
    bool entered_ = false;
#if YOL_OWN_RECURSION_COUNT
    static inline thread_local int depth_ = 0;  // bodies running on this thread
#endif
};
