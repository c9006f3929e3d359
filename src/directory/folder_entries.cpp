#include "directory/folder_entries.hpp"

#include "book/book.hpp"
#include "module/globals.hpp"
#include "module/names.hpp"
#include "module/standard_names.hpp"

#include <algorithm>

namespace {

// Whether `entry` ends with "." + the extension + "-", as a backup does
// (1, 0, or -1 on error).
int ends_like_a_backup(PyObject *entry, PyObject *ext) {
    Ref suffix(PyUnicode_FromFormat(".%S-", ext));
    return suffix ? static_cast<int>(PyUnicode_Tailmatch(entry, suffix.get(), 0, PY_SSIZE_T_MAX, 1)) : -1;
}

// The name that load gives the book in `entry`: the part before the first ".".
PyObject *book_name_of(PyObject *entry) {
    Ref base(call_in(path_name, names.basename, entry));
    Ref parts(base ? PyUnicode_Split(base.get(), names.dot, -1) : nullptr);
    if (!parts)
        return nullptr;
    PyObject *first = PyList_GET_ITEM(parts.get(), 0);
    Py_INCREF(first);
    return first;
}

// The names under which `loaded` keeps its own table: its class routes
// "_" + its class's __name__ + "__parameters" there, and the module's own
// code keeps the table under "_ParameterDirectory__parameters".
PyObject *table_names_of(PyObject *loaded) {
    Ref cls(PyObject_GetAttr(loaded, names.dunder_class));
    Ref class_name(cls ? PyObject_GetAttr(cls.get(), names.dunder_name) : nullptr);
    Ref routed(class_name ? PyUnicode_FromFormat("_%S__parameters", class_name.get()) : nullptr);
    return routed ? PyTuple_Pack(2, directory_parameters_name.get(), routed.get()) : nullptr;
}

// The entries that give the same item name, as indexes into `found`, in listing order.
using Groups = std::vector<std::vector<std::size_t>>;

bool group_by_name(const std::vector<FolderEntry> &found, Groups &groups) {
    Ref group_of(PyDict_New());  // item name -> index into groups
    if (!group_of)
        return false;
    for (std::size_t i = 0; i < found.size(); ++i) {
        if (found[i].kind != FolderEntry::Folder && found[i].kind != FolderEntry::Book)
            continue;
        PyObject *index = PyDict_GetItemWithError(group_of.get(), found[i].name.get());
        if (index) {
            groups[PyLong_AsSize_t(index)].push_back(i);
            continue;
        }
        Ref number(PyErr_Occurred() ? nullptr : PyLong_FromSize_t(groups.size()));
        if (!number || PyDict_SetItem(group_of.get(), found[i].name.get(), number.get()) < 0)
            return false;
        groups.push_back({i});
    }
    return true;
}

std::size_t books_in(const std::vector<FolderEntry> &found, const std::vector<std::size_t> &group) {
    return static_cast<std::size_t>(std::count_if(group.begin(), group.end(), [&](std::size_t i) {
        return found[i].kind == FolderEntry::Book;
    }));
}

// Two book files that give one name: which one a load kept would depend on
// the listing order, and the next save would delete the other.
bool refuse_book_clashes(PyObject *folder, const std::vector<FolderEntry> &found, const Groups &groups) {
    Ref clashes(PyList_New(0));
    if (!clashes)
        return false;
    for (const auto &group : groups) {
        if (books_in(found, group) < 2)
            continue;
        Ref entries(PyList_New(0));
        if (!entries || PyList_Append(clashes.get(), entries.get()) < 0)
            return false;
        for (std::size_t i : group)
            if (PyList_Append(entries.get(), found[i].entry.get()) < 0)
                return false;
    }
    if (PyList_GET_SIZE(clashes.get()) == 0)
        return true;
    PyErr_Format(PyExc_ValueError, "cannot load the folder %R: these entries give the same item name: %R", folder,
                 clashes.get());
    return false;
}

// An entry that would give the name of the loaded directory's own table,
// whose assignment would replace the table instead of adding an item.
bool refuse_table_names(PyObject *folder, PyObject *loaded, const std::vector<FolderEntry> &found,
                        const Groups &groups) {
    Ref table_names(table_names_of(loaded));
    if (!table_names)
        return false;
    for (const auto &group : groups) {
        const FolderEntry &first = found[group.front()];
        const int taken = PySequence_Contains(table_names.get(), first.name.get());
        if (taken < 0)
            return false;
        if (taken) {
            PyErr_Format(PyExc_ValueError,
                         "cannot load the folder %R: the entry %R would give the item name %R, under which the "
                         "directory keeps its own table",
                         folder, first.entry.get(), first.name.get());
            return false;
        }
    }
    return true;
}

// A sub-folder beside a book file of the same item name is what a save that
// replaced a sub-directory by a book leaves (no save removes a sub-folder):
// the book is the item.
bool pass_over_shadowed_folders(const Groups &groups, std::vector<FolderEntry> &found) {
    for (const auto &group : groups) {
        if (group.size() < 2)
            continue;
        PyObject *book = nullptr;
        for (std::size_t i : group)
            if (found[i].kind == FolderEntry::Book)
                book = found[i].path.get();
        for (std::size_t i : group) {
            if (found[i].kind != FolderEntry::Folder)
                continue;
            if (PyErr_WarnFormat(PyExc_RuntimeWarning, 1,
                                 "ParameterDirectory.load: skipped the sub-folder %R: the book file %R beside it "
                                 "gives the same item name %R",
                                 found[i].path.get(), book, found[i].name.get()) < 0)
                return false;
            found[i].kind = FolderEntry::Other;
        }
    }
    return true;
}

// Book files that exist only as their backups: a save was interrupted after
// its backup step (or, where a folder or other entry stands at the book
// file's name, could not write it). The load passes them over, as it always
// has, and says so.
bool warn_of_backups_only(PyObject *folder, const std::vector<FolderEntry> &found) {
    Ref listing(PySet_New(nullptr)), books(PySet_New(nullptr));
    Ref missing(PyList_New(0)), blocked(PyList_New(0));
    if (!listing || !books || !missing || !blocked)
        return false;
    for (const FolderEntry &entry : found)
        if (PySet_Add(listing.get(), entry.entry.get()) < 0 ||
            (entry.kind == FolderEntry::Book && PySet_Add(books.get(), entry.entry.get()) < 0))
            return false;
    for (const FolderEntry &entry : found) {
        if (entry.kind != FolderEntry::Backup)
            continue;
        Ref book_file(PyUnicode_Substring(entry.entry.get(), 0, PyUnicode_GetLength(entry.entry.get()) - 1));
        const int is_book = book_file ? PySet_Contains(books.get(), book_file.get()) : -1;
        const int taken = is_book == 0 ? PySet_Contains(listing.get(), book_file.get()) : 0;
        if (is_book < 0 || taken < 0)
            return false;
        if (!is_book && PyList_Append(taken ? blocked.get() : missing.get(), book_file.get()) < 0)
            return false;
    }
    if (PyList_Sort(missing.get()) < 0 || PyList_Sort(blocked.get()) < 0)
        return false;
    if (PyList_GET_SIZE(missing.get()) > 0 &&
        PyErr_WarnFormat(PyExc_RuntimeWarning, 1,
                         "ParameterDirectory.load: the folder %R holds the book files %R only as backups (name + "
                         "\"-\") of an interrupted save; they were not loaded. Restore each by removing the \"-\" "
                         "where its book file is missing (`yolpt recover --apply` does this where it is safe).",
                         folder, missing.get()) < 0)
        return false;
    return PyList_GET_SIZE(blocked.get()) == 0 ||
           PyErr_WarnFormat(PyExc_RuntimeWarning, 1,
                            "ParameterDirectory.load: the folder %R holds the book files %R only as backups (name + "
                            "\"-\"), and something that is not a book file stands at each of their names; they "
                            "were not loaded. Move what stands there aside, then restore each by removing the \"-\".",
                            folder, blocked.get()) == 0;
}

}  // namespace

PyObject *entry_path(PyObject *folder, PyObject *entry) {
    Ref path(path_name.lookup());
    Ref separator(path ? PyObject_GetAttrString(path.get(), "sep") : nullptr);
    return separator ? PyUnicode_FromFormat("%S%S%S", folder, separator.get(), entry) : nullptr;
}

int ends_with_extension(PyObject *entry, PyObject *ext) {
    Ref suffix(PyUnicode_Concat(names.dot, ext));
    if (!suffix)
        return -1;
    return static_cast<int>(PyUnicode_Tailmatch(entry, suffix.get(), 0, PY_SSIZE_T_MAX, 1));
}

DirectoryLoad examine_entry(PyObject *folder, PyObject *entry, FolderEntry &examined) {
    examined.entry = Ref::borrow(entry);
    examined.path.reset(entry_path(folder, entry));
    if (!examined.path)
        return DirectoryLoad::EntryPath;
    const int is_folder = test_in(path_name, names.isdir, examined.path.get());
    if (is_folder < 0)
        return DirectoryLoad::FolderTest;
    if (is_folder) {
        examined.kind = FolderEntry::Folder;
        examined.name = Ref::borrow(entry);
        return DirectoryLoad{};
    }
    const int is_file = test_in(path_name, names.isfile, examined.path.get());
    if (is_file <= 0)
        return is_file < 0 ? DirectoryLoad::FileTest : DirectoryLoad{};
    Ref ext(book_extension());
    const int is_book = ext ? ends_with_extension(entry, ext.get()) : -1;
    const int is_backup = is_book == 0 ? ends_like_a_backup(entry, ext.get()) : 0;
    if (is_book < 0 || is_backup < 0)
        return DirectoryLoad::FileTest;
    if (is_backup)
        examined.kind = FolderEntry::Backup;
    if (!is_book)
        return DirectoryLoad{};
    examined.kind = FolderEntry::Book;
    examined.name.reset(book_name_of(entry));
    return examined.name ? DirectoryLoad{} : DirectoryLoad::Book;
}

bool settle_entries(PyObject *folder, PyObject *loaded, std::vector<FolderEntry> &found) {
    Groups groups;
    if (!group_by_name(found, groups) || !refuse_book_clashes(folder, found, groups) ||
        !refuse_table_names(folder, loaded, found, groups) || !pass_over_shadowed_folders(groups, found) ||
        !warn_of_backups_only(folder, found))
        return false;
    found.erase(std::remove_if(found.begin(), found.end(),
                               [](const FolderEntry &entry) {
                                   return entry.kind != FolderEntry::Folder && entry.kind != FolderEntry::Book;
                               }),
                found.end());
    return true;
}
