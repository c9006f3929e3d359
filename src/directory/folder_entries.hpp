// The entries of a folder as a directory load and the backup step see them:
// which are sub-folders, book files and backups, the item names they give,
// and which of them a load reads.
#pragma once
#include "directory/directory.hpp"
#include "module/ref.hpp"

#include <vector>

// folder + os.path.sep + entry, each part rendered as by string formatting.
PyObject *entry_path(PyObject *folder, PyObject *entry);

// Whether `entry` ends with "." + the extension (1, 0, or -1 on error).
int ends_with_extension(PyObject *entry, PyObject *ext);

struct FolderEntry {
    // Folder: a sub-folder; Book: a regular file named like a book file;
    // Backup: a regular file named like a book file's backup.
    enum Kind { Other, Folder, Book, Backup } kind = Other;
    Ref entry, path, name;  // name: the item name that a folder or a book file gives
};

// Sorts one entry of `folder`; returns DirectoryLoad{}, or the statement of
// the test that failed.
DirectoryLoad examine_entry(PyObject *folder, PyObject *entry, FolderEntry &examined);

// Settles which of the entries `found` (every entry of `folder`, in listing
// order) a load into `loaded` reads: false with a ValueError for a folder in
// which two book files give one item name, or an entry gives the name under
// which `loaded` keeps its own table. A sub-folder that a book file beside it
// names too is passed over, and book files that exist only as backups are not
// loaded: RuntimeWarnings tell of both, one per sub-folder passed over and one
// per folder with such backups. What remains in `found` are the sub-folders
// and book files to load, in listing order.
bool settle_entries(PyObject *folder, PyObject *loaded, std::vector<FolderEntry> &found);
