// RecursionGuard: one level of the interpreter's recursion count for the
// duration of a member's body, so that deep or self-containing values end in
// RecursionError instead of a C stack overflow.
#pragma once
#include "module/python.hpp"

class RecursionGuard {
public:
    RecursionGuard() noexcept {
        entered_ = Py_EnterRecursiveCall(" while calling a Python object") == 0;
#if YOL_OWN_RECURSION_COUNT
        // The interpreter's C limit is far above sys.getrecursionlimit() and
        // above what the stack holds under a sanitizer; keep to the Python limit.
        if (entered_ && ++depth_ > Py_GetRecursionLimit()) {
            PyErr_SetString(PyExc_RecursionError, "maximum recursion depth exceeded while calling a Python object");
            leave();
        }
#endif
    }
    ~RecursionGuard() { leave(); }
    RecursionGuard(const RecursionGuard &) = delete;
    RecursionGuard &operator=(const RecursionGuard &) = delete;

    bool entered() const noexcept { return entered_; }

private:
    void leave() noexcept {
        if (!entered_)
            return;
        entered_ = false;
#if YOL_OWN_RECURSION_COUNT
        --depth_;
#endif
        Py_LeaveRecursiveCall();
    }

    bool entered_;
#if YOL_OWN_RECURSION_COUNT
    static thread_local int depth_;
#endif
};
