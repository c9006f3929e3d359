// System calls that can block for as long as another party decides (opening a
// pipe that has no reader yet, waiting for a lock that another process holds)
// are made without the interpreter lock, so that the other threads run
// meanwhile. A call that a signal interrupts runs the signal handlers and is
// made again, unless a handler raised: Ctrl-C ends the wait with
// KeyboardInterrupt.
#pragma once
#include "module/python.hpp"

#include <cerrno>

// `call` returns a negative value with errno set when it fails. Returns the
// result of the last attempt, errno as that attempt left it; when a signal
// handler raised, the result is negative and the handler's exception is set.
template <typename Call>
auto blocking_call(Call call) -> decltype(call()) {
    for (;;) {
        decltype(call()) result;
        int error;
        Py_BEGIN_ALLOW_THREADS
        result = call();
        error = errno;
        Py_END_ALLOW_THREADS
        // The handlers run only with no exception set: one that is being
        // raised already ends the call as it is.
        if (result >= 0 || error != EINTR || PyErr_Occurred() || PyErr_CheckSignals() < 0) {
            errno = error;
            return result;
        }
    }
}
