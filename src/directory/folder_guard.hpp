// FolderGuard: marks a folder as being loaded (or saved) for the duration of
// that work, so that a symbolic link leading back to it ends the work with an
// error: a load instead of descending without end, a save instead of backing
// up, and so removing, the book files it has just written.
#pragma once
#include "module/python.hpp"

#include <utility>
#include <vector>

class FolderGuard {
public:
    enum Work { Loading, Saving };

    // Refuses (entered() false, OSError set) a folder that this thread is
    // already loading (or saving). A folder that cannot be examined is let
    // through: the work's own file-system calls report that error.
    FolderGuard(PyObject *folder, Work work);
    ~FolderGuard();
    FolderGuard(const FolderGuard &) = delete;
    FolderGuard &operator=(const FolderGuard &) = delete;

    bool entered() const noexcept { return entered_; }

private:
    using Identity = std::pair<unsigned long long, unsigned long long>;  // device, inode
    static thread_local std::vector<Identity> folders_[2];
    std::vector<Identity> &folders_of_work_;
    bool entered_ = false;
    bool pushed_ = false;
};
