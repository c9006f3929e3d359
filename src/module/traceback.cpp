#include "module/traceback.hpp"

#include "module/globals.hpp"
#include "module/pending_error.hpp"
#include "module/ref.hpp"

namespace {

// One code object per (entry, line): an empty code object whose first line is
// the failing line is all a frame needs to report that line on every version.
PyObject *code_cache = nullptr;

PyObject *code_for(PyObject *name, int line) {
    if (!code_cache && !(code_cache = PyDict_New()))
        return nullptr;
    Ref line_number(PyLong_FromLong(line));
    if (!line_number)
        return nullptr;
    Ref key(PyTuple_Pack(2, name, line_number.get()));
    if (!key)
        return nullptr;
    PyObject *code = PyDict_GetItemWithError(code_cache, key.get());
    if (code) {
        Py_INCREF(code);
        return code;
    }
    if (PyErr_Occurred())
        return nullptr;
    const char *text = PyUnicode_AsUTF8(name);
    if (!text)
        return nullptr;
    code = reinterpret_cast<PyObject *>(PyCode_NewEmpty("vovoruze.py", text, line));
    if (code && PyDict_SetItem(code_cache, key.get(), code) < 0) {
        Py_DECREF(code);
        return nullptr;
    }
    return code;
}

}  // namespace

void add_traceback_entry(PyObject *name, int line) {
    // An entry belongs to an exception being raised. A failure reported with
    // none set is a fault of the caller: never a crash in the traceback code.
    if (!PyErr_Occurred()) {
#ifdef Py_DEBUG
        Py_FatalError("yol_vovoruze: a traceback entry was asked for with no exception set");
#else
        PyErr_Format(PyExc_SystemError, "%U (line %d) failed without setting an exception", name, line);
        return;
#endif
    }
    Ref frame;
    {
        // A failure to build the entry must not replace the exception it describes.
        PendingError described;
        Ref code(code_for(name, line));
        PyObject *globals = records.module ? module_namespace() : nullptr;
        if (code && globals)
            frame.reset(reinterpret_cast<PyObject *>(PyFrame_New(
                PyThreadState_Get(), reinterpret_cast<PyCodeObject *>(code.get()), globals, nullptr)));
    }
    if (frame)
        PyTraceBack_Here(reinterpret_cast<PyFrameObject *>(frame.get()));
}
