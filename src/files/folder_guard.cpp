#include "files/folder_guard.hpp"

#include "files/blocking_call.hpp"
#include "module/globals.hpp"
#include "module/names.hpp"
#include "module/standard_names.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <vector>

namespace {

using Identity = FolderGuard::Identity;

// A guard alive on a thread.
struct EnteredFolder {
    Identity identity;
    FolderGuard::Work work;
    PyObject *name;  // borrowed from the guard
    // Whether every folder entered on the thread up to this one lies inside
    // the one entered before it, on the disk (not through a link elsewhere).
    bool nested_on_disk;
};

// What the guards of one thread know.
struct ThreadFolders {
    std::vector<EnteredFolder> entered;  // guards alive, outermost first
    std::vector<Identity> saved;         // every folder entered by the saves under way
    int saves = 0;                       // saves under way, nested through sub-directories and callbacks
};
thread_local ThreadFolders thread_folders;

bool entered_for(const Identity &identity, const FolderGuard::Work *work) {
    const auto &entered = thread_folders.entered;
    return std::any_of(entered.begin(), entered.end(), [&](const EnteredFolder &guard) {
        return guard.identity == identity && (!work || guard.work == *work);
    });
}

bool refuse(PyObject *folder, int error, const char *reason) {
    Ref arguments(Py_BuildValue("(isO)", error, reason, folder));
    if (arguments)
        PyErr_SetObject(PyExc_OSError, arguments.get());
    return true;
}

// Whether `folder` is reached through a symbolic link: its real path is not
// its absolute one. An error counts as a link.
bool reached_through_link(PyObject *folder) {
    Ref real = call_in(path_name, names.realpath, folder);
    Ref absolute = real ? call_in(path_name, names.abspath, folder) : Ref();
    const int same = absolute ? PyObject_RichCompareBool(real.get(), absolute.get(), Py_EQ) : -1;
    if (same < 0)
        PyErr_Clear();
    return same != 1;
}

}  // namespace

FolderGuard::FolderGuard(PyObject *folder, Work work) : folder_name_(Ref::borrow(folder)), work_(work) {
    if (!open_folder())
        return;
    if (folder_) {
        if (refuse_folder_reached_again())
            return;
        nested_on_disk_ = lies_in_last_entered();
        // A folder that this thread holds already would be waited for without end.
        if (!entered_for(identity_, nullptr) && !lock())
            return;
        thread_folders.entered.push_back({identity_, work_, folder_name_.get(), nested_on_disk_});
        if (work_ == Saving)
            thread_folders.saved.push_back(identity_);
    }
    if (work_ == Saving)
        ++thread_folders.saves;
    entered_ = true;
}

FolderGuard::~FolderGuard() {
    if (!entered_)
        return;
    if (folder_) {
        auto &entered = thread_folders.entered;
        const auto mine = std::find_if(entered.rbegin(), entered.rend(), [this](const EnteredFolder &guard) {
            return guard.identity == identity_ && guard.work == work_ && guard.name == folder_name_.get();
        });
        if (mine != entered.rend())
            entered.erase(std::next(mine).base());
    }
    if (work_ == Saving && --thread_folders.saves == 0)
        thread_folders.saved.clear();
    folder_.close();  // releases the lock
}

// Opens the folder and reads its identity: true, or false with the exception
// set. What names no folder at all is let through with folder_ left closed.
bool FolderGuard::open_folder() {
    PyObject *folder = folder_name_.get();
    Ref encoded;
    std::string path = ".";  // None lists the working folder
    if (folder != Py_None) {
        if (!PyUnicode_Check(folder))
            return true;  // nothing that names a folder: the work's own calls refuse it
        encoded.reset(PyUnicode_EncodeFSDefault(folder));
        if (!encoded)
            return false;
        path.assign(PyBytes_AS_STRING(encoded.get()), static_cast<size_t>(PyBytes_GET_SIZE(encoded.get())));
        if (path.find('\0') != std::string::npos)
            return true;  // a name no folder has: the work's own calls refuse it
    }
    const int fd = blocking_call([&] { return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    if (fd < 0) {
        // The error that listing the folder would give. A missing folder is
        // not let through: it could appear before the listing, which would
        // then read it unlocked, in the middle of a save.
        if (!PyErr_Occurred())
            PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, folder);
        return false;
    }
    folder_.reset(fd);
    struct stat status;
    if (::fstat(fd, &status) < 0) {
        PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, folder);
        return false;
    }
    identity_ = Identity(status.st_dev, status.st_ino);
    return true;
}

// A folder entered again on this thread is reached through a symbolic link,
// or named again by a save or load that code run by the first one started
// (a book's or a directory's own save or load).
bool FolderGuard::refuse_folder_reached_again() const {
    PyObject *folder = folder_name_.get();
    const Work loading = Loading, saving = Saving;
    if (work_ == Loading) {
        if (!entered_for(identity_, &loading))
            return false;
        return reached_through_link(folder)
                   ? refuse(folder, ELOOP, "a symbolic link leads back to a folder being loaded")
                   : refuse(folder, EBUSY, "a load of this folder is under way on this thread already: this one "
                                           "was started from code that it runs");
    }
    const auto &saved = thread_folders.saved;
    if (std::find(saved.begin(), saved.end(), identity_) == saved.end())
        return false;
    const bool being_saved = entered_for(identity_, &saving);
    if (reached_through_link(folder))
        return refuse(folder, ELOOP, being_saved ? "a symbolic link leads back to a folder being saved"
                                                 : "a symbolic link leads to a folder this save has written");
    return refuse(folder, EBUSY, being_saved ? "a save of this folder is under way on this thread already: this "
                                               "one was started from code that it runs"
                                             : "a save under way on this thread has written this folder already: "
                                               "this one was started from code that it runs");
}

// Whether the thread holds no folder yet, or the folders it holds lie each
// inside the one before, on the disk, and this one inside the last: the
// folder's parent entry ("..") is the last folder entered.
bool FolderGuard::lies_in_last_entered() const {
    const auto &entered = thread_folders.entered;
    if (entered.empty())
        return true;
    struct stat parent;
    return entered.back().nested_on_disk && ::fstatat(folder_.get(), "..", &parent, 0) == 0 &&
           Identity(parent.st_dev, parent.st_ino) == entered.back().identity;
}

// Takes the lock: true once held, or where the file system has no such
// locks; false when a signal handler raised, or when the lock is held
// elsewhere and may not be waited for.
//
// Every thread waits only for a folder inside the last one it holds, and
// only while all it holds lies nested on the disk; any other folder (reached
// through a symbolic link, or by a save started from code that a save runs)
// is taken only if it is free at once. Whoever waits then waits for a folder
// deeper on the disk than all it holds, and so does the holder of that
// folder if it waits in turn: waits cannot close a circle (two saves of
// folders that link into each other, each holding its own and waiting for
// the other's).
bool FolderGuard::lock() {
    const int operation = work_ == Saving ? LOCK_EX : LOCK_SH;
    const int fd = folder_.get();
    if (nested_on_disk_)
        return blocking_call([&] { return ::flock(fd, operation); }) == 0 || !PyErr_Occurred();
    if (blocking_call([&] { return ::flock(fd, operation | LOCK_NB); }) == 0 || PyErr_Occurred())
        return !PyErr_Occurred();
    if (errno != EWOULDBLOCK)
        return true;  // no such locks here
    PyObject *reached_from = thread_folders.entered.empty() ? Py_None : thread_folders.entered.back().name;
    Ref error(PyObject_CallFunction(
        PyExc_OSError, "isOOO", EWOULDBLOCK,
        "another save or load holds this folder, and waiting for it could wait forever: it lies outside the "
        "folder it was reached from (through a symbolic link, or by a save or load started from code that "
        "one runs), where a save of that other folder may wait for this one",
        folder_name_.get(), Py_None, reached_from));
    if (error)
        PyErr_SetObject(reinterpret_cast<PyObject *>(Py_TYPE(error.get())), error.get());
    return false;
}

namespace {

// A listing of the folder `fd` through a descriptor of its own: reading
// moves the position, and closing it must not touch the one that holds the
// lock. Null with errno set when it cannot be made.
DIR *open_listing(int fd) {
    const int own = ::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *listing = own < 0 ? nullptr : ::fdopendir(own);
    if (!listing && own >= 0) {
        const int error = errno;
        ::close(own);
        errno = error;
    }
    return listing;
}

bool is_dot_entry(const char *name) { return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0; }

}  // namespace

int FolderGuard::empty() const {
    if (!folder_)
        return 1;
    DIR *listing = open_listing(folder_.get());
    if (!listing) {
        PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, folder_name_.get());
        return -1;
    }
    int empty = 1;
    errno = 0;
    while (const struct dirent *entry = ::readdir(listing)) {
        if (!is_dot_entry(entry->d_name)) {
            empty = 0;
            break;
        }
    }
    const int error = empty ? errno : 0;
    ::closedir(listing);
    if (error) {
        errno = error;
        PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, folder_name_.get());
        return -1;
    }
    return empty;
}

bool FolderGuard::entry_names(std::vector<std::string> &names) const {
    if (!folder_)
        return true;
    DIR *listing = open_listing(folder_.get());
    if (!listing) {
        PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, folder_name_.get());
        return false;
    }
    errno = 0;
    while (const struct dirent *entry = ::readdir(listing))
        if (!is_dot_entry(entry->d_name))
            names.emplace_back(entry->d_name);
    const int error = errno;
    ::closedir(listing);
    if (error) {
        errno = error;
        PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, folder_name_.get());
        return false;
    }
    return true;
}

bool FolderGuard::holds_file(const std::string &name) const {
    struct stat status;
    return folder_ && ::fstatat(folder_.get(), name.c_str(), &status, 0) == 0 && S_ISREG(status.st_mode);
}
