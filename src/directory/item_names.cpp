#include "directory/item_names.hpp"

#include "book/book.hpp"

#include "module/protocols.hpp"
#include "module/globals.hpp"
#include "module/names.hpp"
#include "module/recursion.hpp"
#include "module/ref.hpp"

#include <vector>

namespace {

GlobalName os_name(names.os);
GlobalName directory_name(names.ParameterDirectory);

struct Separators {
    Ref sep, altsep;
};

bool refuse(PyObject *path, const char *reason) {
    PyErr_Format(PyExc_ValueError, "cannot save the item at %R: %s", path, reason);
    return false;
}

// 1 when `text` contains `part`, 0 when not, -1 on error.
int contains(PyObject *text, PyObject *part) {
    if (part == Py_None)
        return 0;
    return PySequence_Contains(text, part);
}

struct Item {
    Ref name;  // rendered as the path renders it
    Ref item;
    bool is_directory;
};

bool check_tree(PyObject *directory, PyObject *folder, const Separators &separators, PyObject *ext);

// 1 when `name` is one of `files`, 0 when not, -1 on error.
int one_of(PyObject *name, const std::vector<Ref> &files) {
    for (const Ref &file : files) {
        const int same = PyObject_RichCompareBool(name, file.get(), Py_EQ);
        if (same != 0)
            return same;
    }
    return 0;
}

bool check_item(const Item &entry, PyObject *folder, const Separators &separators,
                const std::vector<Ref> &book_files, const std::vector<Ref> &backup_files, PyObject *ext) {
    PyObject *name = entry.name.get();
    Ref path(PyUnicode_FromFormat("%U%U%U", folder, separators.sep.get(), name));
    if (!path)
        return false;
    if (entry.is_directory && PyUnicode_GetLength(name) == 0)
        return refuse(path.get(), "a directory item with an empty name would be its parent's folder itself");
    if (PyUnicode_CompareWithASCIIString(name, ".") == 0 || PyUnicode_CompareWithASCIIString(name, "..") == 0)
        return refuse(path.get(), "the names '.' and '..' would leave the folder of the item");
    Ref nul(PyUnicode_FromStringAndSize("\0", 1));
    if (!nul)
        return false;
    for (PyObject *part : {separators.sep.get(), separators.altsep.get(), nul.get()}) {
        const int found = contains(name, part);
        if (found < 0)
            return false;
        if (found)
            return refuse(path.get(), "an item name must not contain a path separator or a NUL character");
    }
    if (!entry.is_directory)
        return true;
    const int file_name = one_of(name, book_files);
    const int backup_name = file_name == 0 ? one_of(name, backup_files) : 0;
    if (file_name < 0 || backup_name < 0)
        return false;
    if (file_name)
        return refuse(path.get(), "its folder would take the file name of the book item beside it");
    if (backup_name)
        return refuse(path.get(), "its folder would take the backup name of the book item beside it");
    return check_tree(entry.item.get(), path.get(), separators, ext);
}

bool check_tree(PyObject *directory, PyObject *folder, const Separators &separators, PyObject *ext) {
    RecursionGuard guard;
    if (!guard.entered())
        return false;
    Ref directory_class(directory_name.lookup());
    Ref view(directory_class ? PyObject_CallMethodObjArgs(directory, names.items, nullptr) : nullptr);
    Ref iterator(view ? PyObject_GetIter(view.get()) : nullptr);
    if (!iterator)
        return false;
    std::vector<Item> entries;
    std::vector<Ref> book_files, backup_files;
    while (Ref pair{PyIter_Next(iterator.get())}) {
        Ref held_name, held_item;
        if (!unpack_pair(pair.get(), held_name, held_item))
            return false;
        PyObject *name = held_name.get(), *item = held_item.get();
        Ref text(PyObject_Str(name));
        const int is_directory = text ? PyObject_IsInstance(item, directory_class.get()) : -1;
        if (is_directory < 0)
            return false;
        if (!is_directory) {
            // The book's file name, and the name of its backup during a save.
            Ref file(PyUnicode_FromFormat("%U.%S", text.get(), ext));
            Ref backup(file ? PyUnicode_FromFormat("%U-", file.get()) : nullptr);
            if (!backup)
                return false;
            book_files.push_back(std::move(file));
            backup_files.push_back(std::move(backup));
        }
        entries.push_back(Item{std::move(text), Ref::borrow(item), is_directory != 0});
    }
    if (PyErr_Occurred())
        return false;
    for (const Item &entry : entries)
        if (!check_item(entry, folder, separators, book_files, backup_files, ext))
            return false;
    return true;
}

}  // namespace

bool check_item_names(PyObject *directory, PyObject *folder) {
    if (!PyUnicode_Check(folder))
        return true;  // None: the save itself reports what the file system makes of it
    Ref os(os_name.lookup());
    Separators separators;
    separators.sep.reset(os ? PyObject_GetAttrString(os.get(), "sep") : nullptr);
    separators.altsep.reset(separators.sep ? PyObject_GetAttrString(os.get(), "altsep") : nullptr);
    Ref ext(separators.altsep ? book_extension() : nullptr);
    if (!ext)
        return false;
    if (!PyUnicode_Check(separators.sep.get())) {
        PyErr_SetString(PyExc_TypeError, "os.sep is not a str");
        return false;
    }
    return check_tree(directory, folder, separators, ext.get());
}
