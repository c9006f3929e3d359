// RecursionGuard: one level of recursion for the duration of a member's body,
// so that deep or self-containing values end in RecursionError instead of a C
// stack overflow.
#pragma once
#include "module/python.hpp"

class RecursionGuard {
public:
    RecursionGuard() noexcept : RecursionGuard(thread_depth()) {}

    // One level on the count `depth` that thread_depth() gave: a walk that
    // enters many levels finds its thread's count once.
    explicit RecursionGuard(int &depth) noexcept {
#if YOL_OWN_RECURSION_COUNT
        // The interpreter's guard keeps the C stack safe; the module's own
        // count holds its bodies to sys.getrecursionlimit() as a Python call
        // is held to it.
        if (depth >= Py_GetRecursionLimit()) {
            PyErr_SetString(PyExc_RecursionError, "maximum recursion depth exceeded while calling a Python object");
            return;
        }
        depth_ = &depth;
#else
        (void)depth;
#endif
        entered_ = Py_EnterRecursiveCall(" while calling a Python object") == 0;
#if YOL_OWN_RECURSION_COUNT
        *depth_ += entered_;
#endif
    }

    ~RecursionGuard() {
        if (!entered_)
            return;
#if YOL_OWN_RECURSION_COUNT
        --*depth_;
#endif
        Py_LeaveRecursiveCall();
    }

    // The count of this thread's running bodies (where the module keeps one).
    static int &thread_depth() noexcept {
#if YOL_OWN_RECURSION_COUNT
        static thread_local int depth = 0;
        return depth;
#else
        static int unused = 0;
        return unused;
#endif
    }

    RecursionGuard(const RecursionGuard &) = delete;
    RecursionGuard &operator=(const RecursionGuard &) = delete;

    bool entered() const noexcept { return entered_; }

private:
    bool entered_ = false;
#if YOL_OWN_RECURSION_COUNT
    int *depth_ = nullptr;  // the thread's count, raised by this level
#endif
};
