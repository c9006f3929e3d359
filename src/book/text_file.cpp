#include "book/text_file.hpp"

#include "module/calls.hpp"
#include "module/globals.hpp"
#include "module/names.hpp"
#include "module/ref.hpp"

#include <unistd.h>

namespace {

GlobalName os_name(names.os);
GlobalName path_name(names.path);

// open(path, mode, encoding="utf8") with the builtin captured at initialisation.
PyObject *open_text(PyObject *path, const char *mode) {
    Ref mode_text(PyUnicode_FromString(mode));
    Ref arguments(mode_text ? PyTuple_Pack(2, path, mode_text.get()) : nullptr);
    Ref keywords(arguments ? Py_BuildValue("{s:s}", "encoding", "utf8") : nullptr);
    return keywords ? PyObject_Call(captured.open, arguments.get(), keywords.get()) : nullptr;
}

// file.close(), keeping an exception that is already being raised.
void close_quietly(PyObject *file) {
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    Ref done(PyObject_CallMethod(file, "close", nullptr));
    PyErr_Clear();
    PyErr_Restore(type, value, traceback);
}

// Removes the temporary file after a failure, keeping the failure's exception.
void remove_quietly(PyObject *path) {
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    Ref done(call_in(os_name, "remove", path));
    PyErr_Clear();
    PyErr_Restore(type, value, traceback);
}

// A name beside `target` that neither a directory's backup step nor its load
// takes for a book file: ".<name>.<pid>.<n>.tmp".
PyObject *temporary_name(PyObject *folder, PyObject *base, unsigned attempt) {
    static unsigned long counter = 0;
    Ref name(PyUnicode_FromFormat(".%U.%lx.%lx.%u.tmp", base, static_cast<unsigned long>(getpid()), ++counter,
                                  attempt));
    return name ? call_in(path_name, "join", folder, name.get()) : nullptr;
}

// Creates the temporary file (exclusively) and writes the text into it.
PyObject *write_temporary(PyObject *folder, PyObject *base, PyObject *text, bool &write_failed) {
    for (unsigned attempt = 0;; ++attempt) {
        Ref temporary(temporary_name(folder, base, attempt));
        if (!temporary)
            return nullptr;
        Ref file(open_text(temporary.get(), "x"));
        if (!file) {
            if (attempt < 100 && PyErr_ExceptionMatches(PyExc_FileExistsError)) {
                PyErr_Clear();
                continue;
            }
            return nullptr;
        }
        Ref written(PyObject_CallMethod(file.get(), "write", "O", text));
        if (!written) {
            write_failed = true;
            close_quietly(file.get());
            remove_quietly(temporary.get());
            return nullptr;
        }
        Ref closed(PyObject_CallMethod(file.get(), "close", nullptr));
        if (!closed) {
            write_failed = true;  // a close flushes what the write buffered
            remove_quietly(temporary.get());
            return nullptr;
        }
        return temporary.release();
    }
}

// Gives `temporary` the permission bits of `target` when the target exists.
bool keep_permissions(PyObject *target, PyObject *temporary) {
    Ref status(call_in(os_name, "stat", target));
    if (!status) {
        if (!PyErr_ExceptionMatches(PyExc_FileNotFoundError))
            return false;
        PyErr_Clear();
        return true;
    }
    Ref mode(PyObject_GetAttrString(status.get(), "st_mode"));
    Ref mask(mode ? PyLong_FromLong(07777) : nullptr);
    Ref bits(mask ? PyNumber_And(mode.get(), mask.get()) : nullptr);
    Ref done(bits ? call_in(os_name, "chmod", temporary, bits.get()) : nullptr);
    return static_cast<bool>(done);
}

}  // namespace

PyObject *read_text_file(PyObject *path, bool &open_failed) {
    open_failed = true;
    Ref file(open_text(path, "r"));
    if (!file)
        return nullptr;
    open_failed = false;
    Ref text(PyObject_CallMethod(file.get(), "read", nullptr));
    if (!text) {
        close_quietly(file.get());
        return nullptr;
    }
    Ref closed(PyObject_CallMethod(file.get(), "close", nullptr));
    if (!closed) {
        open_failed = true;
        return nullptr;
    }
    return text.release();
}

bool write_text_file_atomically(PyObject *path, PyObject *text, bool &write_failed) {
    write_failed = false;
    // The file that a plain write would reach, through any symbolic links.
    Ref target(call_in(path_name, "realpath", path));
    Ref folder(target ? call_in(path_name, "dirname", target.get()) : nullptr);
    Ref base(folder ? call_in(path_name, "basename", target.get()) : nullptr);
    if (!base)
        return false;
    Ref temporary(write_temporary(folder.get(), base.get(), text, write_failed));
    if (!temporary)
        return false;
    if (!keep_permissions(target.get(), temporary.get())) {
        remove_quietly(temporary.get());
        return false;
    }
    Ref replaced(call_in(os_name, "replace", temporary.get(), target.get()));
    if (!replaced) {
        remove_quietly(temporary.get());
        return false;
    }
    return true;
}
