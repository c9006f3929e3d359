#include "book/native_read.hpp"

#include "files/blocking_call.hpp"
#include "files/descriptor.hpp"
#include "files/text_file.hpp"
#include "module/fast_paths.hpp"
#include "module/globals.hpp"
#include "module/ref.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Whether the module's captured open is the interpreter's io.open: the
// function `open` of the extension module _io (whose definition names it
// "io" up to 3.14), which nothing can change.
bool captured_open_is_io_open() {
    static PyObject *checked = nullptr;  // the captured open last checked, and the answer
    static bool answer = false;
    PyObject *open = captured.open;
    if (open == checked)
        return answer;
    Ref module(PyCFunction_Check(open) ? PyObject_GetAttrString(open, "__self__") : nullptr);
    Ref name(module ? PyObject_GetAttrString(open, "__name__") : nullptr);
    PyModuleDef *definition = name && PyModule_CheckExact(module.get()) ? PyModule_GetDef(module.get()) : nullptr;
    answer = definition && definition->m_name &&
             (std::strcmp(definition->m_name, "_io") == 0 || std::strcmp(definition->m_name, "io") == 0) &&
             PyUnicode_CheckExact(name.get()) && PyUnicode_CompareWithASCIIString(name.get(), "open") == 0;
    PyErr_Clear();
    checked = open;
    return answer;
}

// Everything that `file` holds from its current position on, read as the
// file object's readall() reads it, in the first `length` bytes of
// `content`; false with OSError (or a signal handler's exception) set.
bool read_all(int file, Ref &content, Py_ssize_t &length) {
    struct stat status;
    Py_ssize_t room = 1 << 13;
    if (::fstat(file, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0)
        room = static_cast<Py_ssize_t>(status.st_size) + 1;
    length = 0;
    for (;;) {
        if (!content || PyBytes_GET_SIZE(content.get()) < length + room) {
            // Room for what is still to come; a file that outgrows its size doubles it.
            Ref larger(PyBytes_FromStringAndSize(nullptr, length + room));
            if (!larger)
                return false;
            if (length)
                std::memcpy(PyBytes_AS_STRING(larger.get()), PyBytes_AS_STRING(content.get()),
                            static_cast<std::size_t>(length));
            content = std::move(larger);
        }
        char *end = PyBytes_AS_STRING(content.get()) + length;
        const std::size_t free = static_cast<std::size_t>(PyBytes_GET_SIZE(content.get()) - length);
        const ssize_t got = blocking_call([&] { return ::read(file, end, free); });
        if (got < 0) {
            if (!PyErr_Occurred())
                PyErr_SetFromErrno(PyExc_OSError);
            return false;
        }
        if (got == 0)
            return true;
        length += static_cast<Py_ssize_t>(got);
        room = length;
    }
}

// The text of the first `length` bytes of `content`: UTF-8 decoded strictly,
// "\r\n" and "\r" made "\n".
PyObject *decoded(PyObject *content, Py_ssize_t length) {
    const char *data = PyBytes_AS_STRING(content);
    Ref text(PyUnicode_DecodeUTF8(data, length, "strict"));
    if (!text || !std::memchr(data, '\r', static_cast<std::size_t>(length)))
        return text.release();
    Ref pair(PyUnicode_FromString("\r\n")), line_feed(PyUnicode_FromString("\n")), carriage(PyUnicode_FromString("\r"));
    Ref joined(pair && line_feed && carriage ? PyUnicode_Replace(text.get(), pair.get(), line_feed.get(), -1) : nullptr);
    return joined ? PyUnicode_Replace(joined.get(), carriage.get(), line_feed.get(), -1) : nullptr;
}

PyObject *read_directly(PyObject *path, bool &open_failed) {
    open_failed = true;
    PyObject *bytes = nullptr;
    if (!PyUnicode_FSConverter(path, &bytes))
        return nullptr;
    Ref name(bytes);
    const int flags = O_RDONLY | O_CLOEXEC;
    if (yol_audit_open_for_reading(path, flags) < 0)
        return nullptr;
    Descriptor file(blocking_call([&] { return ::open(PyBytes_AS_STRING(bytes), flags, 0666); }));
    if (!file) {
        if (!PyErr_Occurred())
            PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path);
        return nullptr;
    }
    // A folder opens for reading; the file object refuses it at once.
    struct stat status;
    if (::fstat(file.get(), &status) == 0 && S_ISDIR(status.st_mode)) {
        errno = EISDIR;
        PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path);
        return nullptr;
    }
    open_failed = false;
    Ref content;
    Py_ssize_t length = 0;
    Ref text(read_all(file.get(), content, length) ? decoded(content.get(), length) : nullptr);
    if (!text)
        return nullptr;
    if (file.close() < 0) {
        open_failed = true;
        return PyErr_SetFromErrno(PyExc_OSError);
    }
    return text.release();
}

}  // namespace

PyObject *read_book_text(PyObject *path, bool &open_failed) {
    if (!fast_paths_on || !PyUnicode_CheckExact(path) || !captured_open_is_io_open())
        return read_text_file(path, open_failed);
    return read_directly(path, open_failed);
}
