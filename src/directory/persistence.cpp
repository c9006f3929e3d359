// ParameterDirectory: a tree of books saved to and loaded from a folder
// tree, with backups of the book files a save replaces.
#include "directory/directory.hpp"
#include "directory/folder_guard.hpp"
#include "directory/item_names.hpp"
#include "module/calls.hpp"
#include "module/names.hpp"

namespace {

GlobalName os_name(names.os);
GlobalName path_name(names.path);
GlobalName book_name(names.ParameterBook);
GlobalName directory_name(names.ParameterDirectory);

// ParameterBook.ExtName, read from the class the module names now.
PyObject *extension() {
    Ref book(book_name.lookup());
    return book ? PyObject_GetAttr(book.get(), names.ExtName) : nullptr;
}

// folder + os.path.sep + entry, each part rendered as by string formatting.
PyObject *entry_path(PyObject *folder, PyObject *entry) {
    Ref path(path_name.lookup());
    Ref separator(path ? PyObject_GetAttrString(path.get(), "sep") : nullptr);
    return separator ? PyUnicode_FromFormat("%S%S%S", folder, separator.get(), entry) : nullptr;
}

// Whether a folder entry is a book file by the backup step's test: the text
// after its last "." is the extension.
int backs_up(PyObject *entry, PyObject *ext) {
    Ref parts(PyUnicode_Split(entry, names.dot, -1));
    if (!parts)
        return -1;
    return PyObject_RichCompareBool(PyList_GET_ITEM(parts.get(), PyList_GET_SIZE(parts.get()) - 1), ext, Py_EQ);
}

// Whether `entry` ends with "." + the extension (load's test, without the file check).
int ends_with_extension(PyObject *entry, PyObject *ext) {
    Ref suffix(PyUnicode_Concat(names.dot, ext));
    if (!suffix)
        return -1;
    return static_cast<int>(PyUnicode_Tailmatch(entry, suffix.get(), 0, PY_SSIZE_T_MAX, 1));
}

// The name that load gives the book in `entry`: the part before the first ".".
PyObject *book_name_of(PyObject *entry) {
    Ref base(call_in(path_name, "basename", entry));
    Ref parts(base ? PyUnicode_Split(base.get(), names.dot, -1) : nullptr);
    if (!parts)
        return nullptr;
    PyObject *first = PyList_GET_ITEM(parts.get(), 0);
    Py_INCREF(first);
    return first;
}

}  // namespace

PyObject *directory_backup_books(Call &call) {
    PyObject *folder = call.arg(0);
    Ref made(PyList_New(0));
    if (!made)
        return call.fail(398);
    Ref entries(call_in(os_name, "listdir", folder));
    Ref iterator(entries ? PyObject_GetIter(entries.get()) : nullptr);
    if (!iterator)
        return call.fail(399);
    while (Ref entry{PyIter_Next(iterator.get())}) {
        Ref ext(extension());
        const int book_file = ext ? backs_up(entry.get(), ext.get()) : -1;
        if (book_file < 0)
            return call.fail(401);
        if (!book_file)
            continue;
        Ref book_path(entry_path(folder, entry.get()));
        if (!book_path)
            return call.fail(402);
        Ref backup_path(PyUnicode_FromFormat("%U-", book_path.get()));
        if (!backup_path)
            return call.fail(403);
        const int is_file = test_in(path_name, "isfile", book_path.get());
        const int taken = is_file > 0 ? test_in(path_name, "exists", backup_path.get()) : 0;
        if (is_file < 0 || taken < 0)
            return call.fail(404);
        if (!is_file || taken)
            continue;  // a folder, or a book file whose backup name is already taken
        Ref renamed(call_in(os_name, "rename", book_path.get(), backup_path.get()));
        if (!renamed)
            return call.fail(405);
        if (PyList_Append(made.get(), backup_path.get()) < 0)
            return call.fail(406);
    }
    if (PyErr_Occurred())
        return call.fail(400);
    return made.release();
}

PyObject *directory_save(Call &call) {
    PyObject *self = call.self(), *folder = call.arg(1);
    if (!check_item_names(self, folder))
        return call.fail(416);
    const int exists = test_in(path_name, "exists", folder);
    if (exists < 0)
        return call.fail(416);
    Ref backups;
    if (!exists) {
        Ref made(call_in(os_name, "makedirs", folder));
        if (!made)
            return call.fail(417);
        backups.reset(PyList_New(0));
        if (!backups)
            return call.fail(418);
    } else {
        if (assertions_enabled() && !call.asserts(test_in(path_name, "isdir", folder), 420))
            return nullptr;
        Ref directory_class(directory_name.lookup());
        Ref backup(directory_class ? PyObject_GetAttrString(directory_class.get(), "_backup_books_in_this_directory")
                                   : nullptr);
        backups.reset(backup ? call_one(backup.get(), folder) : nullptr);
        if (!backups)
            return call.fail(421);
    }
    Ref table(read_attribute(self, names.directory_parameters));
    Ref view(table ? PyObject_CallMethodObjArgs(table.get(), names.items, nullptr) : nullptr);
    Ref iterator(view ? PyObject_GetIter(view.get()) : nullptr);
    if (!iterator)
        return call.fail(422);
    while (Ref pair{PyIter_Next(iterator.get())}) {
        PyObject *name, *item;
        if (!unpack_pair(pair.get(), &name, &item))
            return call.fail(422);
        Ref held_name(name), held_item(item);
        Ref item_path(entry_path(folder, name));
        if (!item_path)
            return call.fail(423);
        Ref directory_class(directory_name.lookup());
        const int is_directory = directory_class ? PyObject_IsInstance(item, directory_class.get()) : -1;
        if (is_directory < 0)
            return call.fail(424);
        if (is_directory) {
            Ref saved(PyObject_CallMethodObjArgs(item, names.save, item_path.get(), nullptr));
            if (!saved)
                return call.fail(425);
            continue;
        }
        Ref ext(extension());
        Ref file_path(ext ? PyUnicode_FromFormat("%S.%S", item_path.get(), ext.get()) : nullptr);
        Ref saved(file_path ? PyObject_CallMethodObjArgs(item, names.save, file_path.get(), nullptr) : nullptr);
        if (!saved)
            return call.fail(427);
    }
    if (PyErr_Occurred())
        return call.fail(422);
    Ref backup_iterator(PyObject_GetIter(backups.get()));
    if (!backup_iterator)
        return call.fail(428);
    while (Ref backup{PyIter_Next(backup_iterator.get())}) {
        Ref removed(call_in(os_name, "remove", backup.get()));
        if (!removed)
            return call.fail(429);
    }
    if (PyErr_Occurred())
        return call.fail(428);
    Py_RETURN_NONE;
}

PyObject *directory_load(Call &call) {
    PyObject *folder = call.arg(0);
    FolderGuard guard(folder);
    if (!guard.entered())
        return call.fail(439);
    Ref entries(call_in(os_name, "listdir", folder));
    Ref iterator(entries ? PyObject_GetIter(entries.get()) : nullptr);
    if (!iterator)
        return call.fail(439);
    Ref directory_class(directory_name.lookup());
    Ref loaded(directory_class ? call_none(directory_class.get()) : nullptr);
    if (!loaded)
        return call.fail(440);
    while (Ref entry{PyIter_Next(iterator.get())}) {
        Ref path(entry_path(folder, entry.get()));
        if (!path)
            return call.fail(442);
        const int is_folder = test_in(path_name, "isdir", path.get());
        if (is_folder < 0)
            return call.fail(443);
        if (is_folder) {
            Ref sub_class(directory_name.lookup());
            Ref load(sub_class ? PyObject_GetAttr(sub_class.get(), names.load) : nullptr);
            Ref sub(load ? call_one(load.get(), path.get()) : nullptr);
            if (!sub || PyObject_SetAttr(loaded.get(), entry.get(), sub.get()) < 0)
                return call.fail(444);
            continue;
        }
        int is_book = test_in(path_name, "isfile", path.get());
        if (is_book > 0) {
            Ref ext(extension());
            is_book = ext ? ends_with_extension(entry.get(), ext.get()) : -1;
        }
        if (is_book < 0)
            return call.fail(445);
        if (!is_book)
            continue;
        Ref book_class(book_name.lookup());
        Ref load(book_class ? PyObject_GetAttr(book_class.get(), names.load) : nullptr);
        Ref book(load ? call_one(load.get(), path.get()) : nullptr);
        Ref name(book ? book_name_of(entry.get()) : nullptr);
        if (!name || PyObject_SetAttr(loaded.get(), name.get(), book.get()) < 0)
            return call.fail(446);
    }
    if (PyErr_Occurred())
        return call.fail(441);
    return loaded.release();
}
