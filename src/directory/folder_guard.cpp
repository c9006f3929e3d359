#include "directory/folder_guard.hpp"

#include "module/globals.hpp"
#include "module/names.hpp"
#include "module/ref.hpp"

#include <algorithm>
#include <cerrno>

thread_local std::vector<FolderGuard::Identity> FolderGuard::folders_[2];

namespace {

GlobalName os_name(names.os);

bool read_number(PyObject *status, const char *field, unsigned long long &number) {
    Ref value(PyObject_GetAttrString(status, field));
    if (!value)
        return false;
    number = PyLong_AsUnsignedLongLongMask(value.get());
    return !PyErr_Occurred();
}

}  // namespace

FolderGuard::FolderGuard(PyObject *folder, Work work) : folders_of_work_(folders_[work]) {
    Ref status(call_in(os_name, "stat", folder));
    Identity identity;
    if (!status || !read_number(status.get(), "st_dev", identity.first) ||
        !read_number(status.get(), "st_ino", identity.second)) {
        PyErr_Clear();
        entered_ = true;
        return;
    }
    if (std::find(folders_of_work_.begin(), folders_of_work_.end(), identity) != folders_of_work_.end()) {
        Ref arguments(Py_BuildValue("(isO)", ELOOP,
                                    work == Loading ? "a symbolic link leads back to a folder being loaded"
                                                    : "a symbolic link leads back to a folder being saved",
                                    folder));
        if (arguments)
            PyErr_SetObject(PyExc_OSError, arguments.get());
        return;
    }
    folders_of_work_.push_back(identity);
    entered_ = pushed_ = true;
}

FolderGuard::~FolderGuard() {
    if (pushed_)
        folders_of_work_.pop_back();
}
