// The checks that a save runs over the names of the whole tree before it
// touches the disk: every item name must address an entry of its own inside
// its folder, one that the file system can hold and a load gives back under
// the same name.
#pragma once
#include "module/ref.hpp"

#include <vector>

// What the checks compare names with, read once per save: the separators of
// `_os`, the book extension, and the names under which a loaded directory
// keeps its own table.
struct NameRules {
    Ref sep, altsep, ext, nul, table_names;
};

// False with an exception set when the module-level names cannot be read.
bool read_name_rules(NameRules &rules);

// One item of a folder as the checks see it: its name rendered once, the
// text that its path is made of.
struct NamedItem {
    Ref name;
    Ref load_name;  // for a book: the name a load gives its file (the part before the first ".")
    bool is_directory = false;
};

// The names of the items of one folder, gathered before any item is checked.
class FolderNames {
public:
    // `directory` is the directory saved into `folder` (its class names a
    // table of its own); `name_max` the longest entry name the folder
    // takes, in bytes.
    bool gather(const NameRules &rules, PyObject *directory, PyObject *folder, std::vector<NamedItem> items,
                Py_ssize_t name_max);

    // Checks item `index`: false with a ValueError that names its path.
    bool check(std::size_t index) const;

    const NamedItem &item(std::size_t index) const { return items_[index]; }
    // The set of the file names of the book items (borrowed).
    PyObject *book_files() const { return book_files_.get(); }
    std::size_t size() const { return items_.size(); }

private:
    const NameRules *rules_ = nullptr;
    PyObject *folder_ = nullptr;  // borrowed from the caller for the checks
    std::vector<NamedItem> items_;
    Ref book_files_, backup_files_;  // sets of the file names of the book items and of their backups
    Ref first_book_by_load_name_;    // load name -> name of the first book item that loads under it
    Ref directory_names_;            // set of the names of the directory items
    Ref table_names_;                // the names a loaded directory routes to its own table
    Py_ssize_t name_max_ = 0;
};

// The longest entry name, in bytes, that `folder` takes (`_os.pathconf`),
// `inherited` when the folder cannot tell (it does not exist yet).
Py_ssize_t longest_entry_name(PyObject *folder, Py_ssize_t inherited);
