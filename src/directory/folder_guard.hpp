// FolderGuard: marks a folder as being loaded for the duration of its load,
// so that a symbolic link leading back to it ends the load with an error
// instead of descending without end.
#pragma once
#include "module/python.hpp"

#include <utility>
#include <vector>

class FolderGuard {
public:
    // Refuses (entered() false, OSError set) a folder that this thread is
    // already loading. A folder that cannot be examined is let through: the
    // listing reports that error.
    explicit FolderGuard(PyObject *folder);
    ~FolderGuard();
    FolderGuard(const FolderGuard &) = delete;
    FolderGuard &operator=(const FolderGuard &) = delete;

    bool entered() const noexcept { return entered_; }

private:
    using Identity = std::pair<unsigned long long, unsigned long long>;  // device, inode
    static thread_local std::vector<Identity> loading_;
    bool entered_ = false;
    bool pushed_ = false;
};
