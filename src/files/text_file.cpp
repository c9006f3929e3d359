#include "files/text_file.hpp"

#include "files/blocking_call.hpp"
#include "files/descriptor.hpp"
#include "module/protocols.hpp"
#include "module/globals.hpp"
#include "module/names.hpp"
#include "module/pending_error.hpp"
#include "module/ref.hpp"
#include "module/standard_names.hpp"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// open(path, mode, encoding="utf8") with the builtin captured at initialisation.
PyObject *open_text(PyObject *path, const char *mode) {
    Ref mode_text(PyUnicode_FromString(mode));
    Ref arguments(mode_text ? PyTuple_Pack(2, path, mode_text.get()) : nullptr);
    Ref keywords(arguments ? Py_BuildValue("{s:s}", "encoding", "utf8") : nullptr);
    return keywords ? PyObject_Call(captured.open, arguments.get(), keywords.get()) : nullptr;
}

// file.close(), keeping an exception that is already being raised.
void close_quietly(PyObject *file) {
    PendingError raised;
    Ref done(PyObject_CallMethod(file, "close", nullptr));
}

// The OSError of the failed system call (errno), naming the file the caller
// asked for; an exception that a signal handler raised meanwhile is kept.
bool raise_os_error(PyObject *path) {
    if (!PyErr_Occurred())
        PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path);
    return false;
}

// Writes all of `data` at the descriptor's position, or from `offset` on
// when one is given; errno is kept on failure.
bool write_all(int fd, const char *data, Py_ssize_t size, off_t offset = -1) {
    while (size > 0) {
        const ssize_t done = blocking_call([&] {
            return offset < 0 ? ::write(fd, data, static_cast<size_t>(size))
                              : ::pwrite(fd, data, static_cast<size_t>(size), offset);
        });
        if (done < 0)
            return false;
        data += done;
        size -= done;
        if (offset >= 0)
            offset += done;
    }
    return true;
}

// The whole content of the regular file `fd`, read from its start; errno is
// kept on failure.
bool read_all(int fd, std::string &content) {
    char chunk[1 << 14];
    for (off_t offset = 0;; offset += static_cast<off_t>(sizeof chunk)) {
        ssize_t done = 0;
        for (std::size_t got = 0; got < sizeof chunk; got += static_cast<std::size_t>(done)) {
            done = blocking_call([&] {
                return ::pread(fd, chunk + got, sizeof chunk - got, offset + static_cast<off_t>(got));
            });
            if (done < 0)
                return false;
            if (done == 0) {
                content.append(chunk, got);
                return true;
            }
        }
        content.append(chunk, sizeof chunk);
    }
}

// The file that a plain write to `path` reaches: the path itself, or, for a
// symbolic link, what it leads to (resolved as os.path.realpath does).
bool resolve_target(PyObject *path, std::string &target, struct stat &status, bool &exists) {
    Ref encoded;
    {
        PyObject *bytes = nullptr;
        if (!PyUnicode_FSConverter(path, &bytes))
            return false;
        encoded.reset(bytes);
    }
    target.assign(PyBytes_AS_STRING(encoded.get()), static_cast<size_t>(PyBytes_GET_SIZE(encoded.get())));
    if (target.find('\0') != std::string::npos) {
        PyErr_SetString(PyExc_ValueError, "embedded null byte");
        return false;
    }
    if (::lstat(target.c_str(), &status) < 0) {
        exists = false;
        return errno == ENOENT || errno == ENOTDIR ? true : raise_os_error(path);
    }
    exists = true;
    if (!S_ISLNK(status.st_mode))
        return true;
    // A link: what it leads to, or, for a dangling one, where a write creates it.
    if (::stat(target.c_str(), &status) < 0) {
        if (errno != ENOENT)
            return raise_os_error(path);
        exists = false;
    }
    Ref real(call_in(path_name, names.realpath, path));
    PyObject *bytes = nullptr;
    if (!real || !PyUnicode_FSConverter(real.get(), &bytes))
        return false;
    Ref real_bytes(bytes);
    target.assign(PyBytes_AS_STRING(bytes), static_cast<size_t>(PyBytes_GET_SIZE(bytes)));
    return true;
}

// A name beside `target` that neither a directory's backup step nor its load
// takes for a book file: ".<name>.<pid>.<n>.tmp", with the name shortened
// where the whole would pass the longest name a folder entry can have.
std::string temporary_beside(const std::string &target) {
    static unsigned long counter = 0;
    constexpr std::string::size_type kLongestEntry = 255;
    const std::string::size_type slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    const std::string suffix = "." + std::to_string(getpid()) + "." + std::to_string(++counter) + ".tmp";
    if (1 + base.size() + suffix.size() > kLongestEntry)
        base.resize(kLongestEntry - 1 - suffix.size());
    return folder + "." + base + suffix;
}

// A plain write to what is not a regular file (a device, a pipe): opened
// with truncation, written, closed.
bool write_to_other_file(const std::string &target, PyObject *path, const Utf8Text &text, bool &write_failed) {
    const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC;
    Descriptor file(blocking_call([&] { return ::open(target.c_str(), flags, 0666); }));
    if (!file)
        return raise_os_error(path);
    if (!write_all(file.get(), text.data, text.size) || file.close() < 0)
        return write_failed = true, raise_os_error(path);
    return true;
}

// A plain write to a regular file that a failed write (a full disk, the
// size limit of a file, Ctrl-C) leaves holding its old text: the new text is
// written over the old one from the start and the file is then cut to its
// length; on a failure the old text, read first, is written back and the file
// cut to the old length. Truncating first would give the old text's room
// away, and the old text could not always be written back. A file that this
// process may write but not read is written without that safeguard.
bool write_in_place(const std::string &target, PyObject *path, const Utf8Text &new_text, bool &write_failed) {
    Descriptor file(blocking_call([&] { return ::open(target.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666); }));
    const bool readable = bool(file);
    if (!file && !PyErr_Occurred() && errno == EACCES)
        file.reset(blocking_call([&] { return ::open(target.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666); }));
    if (!file)
        return raise_os_error(path);
    std::string old_text;
    if (readable && !read_all(file.get(), old_text))
        return raise_os_error(path);
    const char *text = new_text.data;
    const Py_ssize_t length = new_text.size;
    if (!write_all(file.get(), text, length, 0) ||
        blocking_call([&] { return ::ftruncate(file.get(), static_cast<off_t>(length)); }) < 0) {
        const int error = errno;
        if (readable) {
            // The exception of a signal handler that ended the write stays
            // aside while the old text goes back.
            PendingError ended;
            if (write_all(file.get(), old_text.data(), static_cast<Py_ssize_t>(old_text.size()), 0))
                (void)blocking_call([&] { return ::ftruncate(file.get(), static_cast<off_t>(old_text.size())); });
        }
        errno = error;
        return write_failed = true, raise_os_error(path);
    }
    if (file.close() < 0)
        return write_failed = true, raise_os_error(path);
    return true;
}

// Errors by which a folder refuses a new file, or the replacement of one of
// its files (a sticky folder, a file mounted over), for lack of rights rather
// than of room: a plain write may still be allowed to change the file.
bool refused_for_lack_of_rights(int error) {
    return error == EACCES || error == EPERM || error == EROFS || error == EBUSY;
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

bool write_text_file_atomically(PyObject *path, const Utf8Text &text, bool &write_failed) {
    write_failed = false;
    std::string target;
    struct stat status;
    bool exists = false;
    if (!resolve_target(path, target, status, exists))
        return false;
    if (target.empty()) {
        errno = ENOENT;
        return raise_os_error(path);
    }
    // What is not a regular file (a device, a pipe) would be replaced by one,
    // and a file with other hard links parted from them: these are written
    // in place.
    if (exists && !S_ISREG(status.st_mode))
        return write_to_other_file(target, path, text, write_failed);
    if (exists && status.st_nlink > 1)
        return write_in_place(target, path, text, write_failed);
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0; ++attempt) {
        temporary = temporary_beside(target);
        fd = blocking_call([&] { return ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666); });
        if (fd >= 0 || PyErr_Occurred())
            break;
        if (errno == EEXIST && attempt < 100)
            continue;
        // A folder that takes no new file may still let the file itself be written.
        if (exists && refused_for_lack_of_rights(errno))
            return write_in_place(target, path, text, write_failed);
        return raise_os_error(path);
    }
    if (fd < 0)
        return false;
    Descriptor file(fd);
    auto give_up = [&](bool writing) {
        const int error = errno;
        ::unlink(temporary.c_str());
        errno = error;
        write_failed = writing;
        return raise_os_error(path);
    };
    if (!write_all(file.get(), text.data, text.size))
        return give_up(true);
    if (exists) {
        // The file keeps its owner and group where this process may give
        // them (a failure leaves the new file as this process made it), then
        // its permission bits, which a change of owner can clear.
        (void)blocking_call([&] { return ::fchown(file.get(), status.st_uid, status.st_gid); });
        if (PyErr_Occurred() || blocking_call([&] { return ::fchmod(file.get(), status.st_mode & 07777); }) < 0)
            return give_up(false);
    }
    if (file.close() < 0)
        return give_up(true);
    if (blocking_call([&] { return ::rename(temporary.c_str(), target.c_str()); }) == 0)
        return true;
    if (!PyErr_Occurred() && refused_for_lack_of_rights(errno)) {
        ::unlink(temporary.c_str());
        return write_in_place(target, path, text, write_failed);
    }
    return give_up(false);
}
