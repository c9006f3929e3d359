// FolderGuard: a folder that a directory's save or load works in, from the
// moment the work enters it until that folder is done.
//
// Locking: the guard holds an advisory lock (flock) on a read-only descriptor
// of the folder, exclusive for a save and shared for a load, so that saves of
// one folder take turns and a load waits for a save of it in progress, among
// processes and threads alike. Nothing is written into the folder for it.
// Works take their folders top-down, and wait only for a folder that lies
// inside the one they hold on the disk; a folder reached through a symbolic
// link that leads elsewhere is taken only if it is free at once (else an
// OSError, EWOULDBLOCK, names it and the folder it was reached from), so two
// saves cannot wait for each other. The lock is waited for without the
// interpreter lock, and a signal handler that raises (Ctrl-C) ends the wait.
// A folder on a file system without such locks is worked in unlocked; a
// folder that this thread holds already is not waited for.
//
// Folders reached again: the guard records, per thread, the folders that the
// loads under way are in and the folders that the saves under way have
// entered, finished ones included, so that a symbolic link that leads to one
// of them ends the work with an OSError: a load instead of descending without
// end, a save instead of backing up, and so removing, the book files it has
// just written there.
#pragma once
#include "files/descriptor.hpp"
#include "module/python.hpp"
#include "module/ref.hpp"

#include <string>
#include <utility>
#include <vector>

class FolderGuard {
public:
    enum Work { Loading, Saving };

    // Enters `folder` (a str, or None for the working folder) for `work`, or
    // refuses (entered() false, exception set) a folder reached again as said
    // above, a wait that a signal handler ended, and a folder that cannot be
    // opened, with the OSError that listing it would give (FileNotFoundError
    // for a missing one).
    FolderGuard(PyObject *folder, Work work);
    ~FolderGuard();
    FolderGuard(const FolderGuard &) = delete;
    FolderGuard &operator=(const FolderGuard &) = delete;

    bool entered() const noexcept { return entered_; }

    // Whether the folder holds no entry: 1 or 0, or -1 with the exception set.
    int empty() const;

    // The names of the folder's entries as the file system gives them ("."
    // and ".." left out), read through the folder's own descriptor: true, or
    // false with the exception set.
    bool entry_names(std::vector<std::string> &names) const;

    // Whether the folder's entry `name` is a regular file, after links.
    bool holds_file(const std::string &name) const;

    using Identity = std::pair<unsigned long long, unsigned long long>;  // device, inode

private:
    bool open_folder();
    bool refuse_folder_reached_again() const;
    bool lies_in_last_entered() const;
    bool lock();

    Ref folder_name_;
    Work work_;
    Descriptor folder_;
    Identity identity_{};
    bool nested_on_disk_ = true;
    bool entered_ = false;
};
