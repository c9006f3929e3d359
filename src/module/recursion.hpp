// RecursionGuard: one level of the interpreter's recursion count for the
// duration of a member's body, so that deep or self-containing values end in
// RecursionError instead of a C stack overflow.
#pragma once
#include "module/python.hpp"

class RecursionGuard {
public:
    // `thread` may name the running thread's state, where the caller has it.
    explicit RecursionGuard(PyThreadState *thread = nullptr) noexcept {
#if YOL_OWN_RECURSION_COUNT
        // Since 3.12 the interpreter counts Python frames against
        // sys.getrecursionlimit() and C recursion against a far higher limit
        // of its own. A body is counted as both: a Python-level call that
        // also takes C stack.
        thread_ = thread ? thread : PyThreadState_Get();
        if (thread_->py_recursion_remaining-- <= 0 || thread_->c_recursion_remaining-- <= 0) {
            if (thread_->py_recursion_remaining >= 0)
                ++thread_->c_recursion_remaining;
            ++thread_->py_recursion_remaining;
            PyErr_SetString(PyExc_RecursionError, "maximum recursion depth exceeded while calling a Python object");
            entered_ = false;
            return;
        }
        entered_ = true;
#else
        (void)thread;
        entered_ = Py_EnterRecursiveCall(" while calling a Python object") == 0;
#endif
    }

    ~RecursionGuard() {
        if (!entered_)
            return;
#if YOL_OWN_RECURSION_COUNT
        ++thread_->py_recursion_remaining;
        ++thread_->c_recursion_remaining;
#else
        Py_LeaveRecursiveCall();
#endif
    }

    RecursionGuard(const RecursionGuard &) = delete;
    RecursionGuard &operator=(const RecursionGuard &) = delete;

    bool entered() const noexcept { return entered_; }

private:
    bool entered_;
#if YOL_OWN_RECURSION_COUNT
    PyThreadState *thread_;
#endif
};
