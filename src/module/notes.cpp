#include "module/notes.hpp"
#include "module/pending_error.hpp"

#include "module/ref.hpp"

#include <cstdarg>

namespace {

// exception.add_note(note) where the exception has it (3.11 on); before, the
// same list under `__notes__`, made when missing.
void append_note(PyObject *exception, PyObject *note) {
    Ref add(PyObject_GetAttrString(exception, "add_note"));
    if (add) {
        Ref done(PyObject_CallFunctionObjArgs(add.get(), note, nullptr));
        return;
    }
    PyErr_Clear();
    Ref notes(PyObject_GetAttrString(exception, "__notes__"));
    if (!notes) {
        PyErr_Clear();
        notes.reset(PyList_New(0));
        if (!notes || PyObject_SetAttrString(exception, "__notes__", notes.get()) < 0)
            return;
    }
    if (PyList_Check(notes.get()))
        PyList_Append(notes.get(), note);
}

}  // namespace

void add_note(PyObject *note) {
    if (!note || !PyErr_Occurred())
        return;
    PendingError raised;
    if (raised.value())
        append_note(raised.value(), note);
}

void add_note_format(const char *format, ...) {
    if (!PyErr_Occurred())
        return;
    Ref note;
    {
        PendingError raised;
        va_list arguments;
        va_start(arguments, format);
        note.reset(PyUnicode_FromFormatV(format, arguments));
        va_end(arguments);
    }
    add_note(note.get());
}

bool notes_mention(PyObject *text) {
    if (!PyErr_Occurred())
        return false;
    PendingError raised;
    bool found = false;
    if (raised.value()) {
        Ref notes(PyObject_GetAttrString(raised.value(), "__notes__"));
        const Py_ssize_t count = notes && PyList_Check(notes.get()) ? PyList_GET_SIZE(notes.get()) : 0;
        for (Py_ssize_t i = 0; i < count && !found; ++i) {
            Ref note = Ref::borrow(PyList_GET_ITEM(notes.get(), i));
            found = PyUnicode_Check(note.get()) && PyUnicode_Find(note.get(), text, 0, PY_SSIZE_T_MAX, 1) >= 0;
        }
    }
    return found;
}
