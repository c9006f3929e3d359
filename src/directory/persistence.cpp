// ParameterDirectory: a tree of books saved to and loaded from a folder
// tree, with backups of the book files a save replaces.
#include "book/book.hpp"
#include "book/make_folder.hpp"
#include "directory/directory.hpp"
#include "directory/folder_entries.hpp"
#include "directory/folder_guard.hpp"
#include "directory/save_plan.hpp"
#include "module/protocols.hpp"
#include "module/names.hpp"
#include "module/notes.hpp"

#include <vector>

namespace {

GlobalName os_name(names.os);
GlobalName path_name(names.path);
GlobalName book_name(names.ParameterBook);
GlobalName directory_name(names.ParameterDirectory);

// A note naming the book file `path` on an error from the book's own code,
// unless a note names it already.
void note_file_unless_named(const char *doing, PyObject *path) {
    Ref named(PyObject_Repr(path));
    if (!named) {
        PyErr_Clear();
        return;
    }
    if (!notes_mention(named.get()))
        add_note_format("while %s the book file %U", doing, named.get());
}

// item.save(path), for an item that the plan leaves to its own save.
bool saved_by_itself(PyObject *item, PyObject *path) {
    Ref done(PyObject_CallMethodObjArgs(item, names.save, path, nullptr));
    return bool(done);
}

// Carries out the plan of one folder, then of the folders below it: the
// backup step, the items in table order, the removal of the backups.
bool carry_out(const Call &call, const FolderPlan &plan) {
    PyObject *folder = plan.folder.get();
    const int exists = test_in(path_name, "exists", folder);
    if (exists < 0)
        return call.fail(416), false;
    if (!exists) {
        if (!make_folder(folder))
            return call.fail(417), false;
    } else if (assertions_enabled()) {
        const int is_folder = test_in(path_name, "isdir", folder);
        if (!call.asserts(is_folder, 420)) {
            if (is_folder == 0)
                add_note_format("ParameterDirectory.save: %R exists and is not a folder", folder);
            return false;
        }
    }
    // Before its backup step, the folder is locked against other saves and
    // loads, and refused when reached again through a link: the backup step
    // would back up, and at its end remove, the book files just written to it.
    FolderGuard guard(folder, FolderGuard::Saving);
    if (!guard.entered())
        return call.fail(421), false;
    // A folder that another save made and filled before this one could lock
    // it is backed up like any existing one.
    const int fresh = exists ? 0 : guard.empty();
    if (fresh < 0)
        return call.fail(421), false;
    Ref backups;
    if (fresh) {
        backups.reset(PyList_New(0));
        if (!backups)
            return call.fail(418), false;
    } else {
        Ref directory_class(directory_name.lookup());
        Ref backup(directory_class ? PyObject_GetAttrString(directory_class.get(), "_backup_books_in_this_directory")
                                   : nullptr);
        backups.reset(backup ? PyObject_CallOneArg(backup.get(), folder) : nullptr);
        if (!backups)
            return call.fail(421), false;
    }
    for (const ItemPlan &planned : plan.items) {
        PyObject *item = planned.item.get(), *path = planned.path.get();
        if (planned.is_directory) {
            if (!(planned.folder ? carry_out(call, *planned.folder) : saved_by_itself(item, path)))
                return call.fail(425), false;
        } else if (planned.text) {
            if (!write_book_file(item, path, planned.text.get()))
                return call.fail(427), false;
        } else if (!saved_by_itself(item, path)) {
            note_file_unless_named("saving", path);
            return call.fail(427), false;
        }
    }
    Ref backup_iterator(PyObject_GetIter(backups.get()));
    if (!backup_iterator)
        return call.fail(428), false;
    while (Ref backup{PyIter_Next(backup_iterator.get())}) {
        Ref removed(call_in(os_name, "remove", backup.get()));
        if (!removed)
            return call.fail(429), false;
    }
    if (PyErr_Occurred())
        return call.fail(428), false;
    return true;
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
        Ref ext(book_extension());
        const int book_file = ext ? ends_with_extension(entry.get(), ext.get()) : -1;
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
    // The whole tree is planned before the disk is touched: names rendered
    // once and checked, the text of every book file built and encoded.
    FolderPlan plan;
    if (!plan_save(call.self(), call.arg(1), plan))
        return call.fail(416);
    if (!carry_out(call, plan))
        return nullptr;
    Py_RETURN_NONE;
}

PyObject *directory_load(Call &call) {
    PyObject *folder = call.arg(0);
    FolderGuard guard(folder, FolderGuard::Loading);
    if (!guard.entered())
        return call.fail(439);
    Ref entries(call_in(os_name, "listdir", folder));
    Ref iterator(entries ? PyObject_GetIter(entries.get()) : nullptr);
    if (!iterator)
        return call.fail(439);
    Ref directory_class(directory_name.lookup());
    Ref loaded(directory_class ? PyObject_CallNoArgs(directory_class.get()) : nullptr);
    if (!loaded)
        return call.fail(440);
    // Every entry is examined before anything is read, so that a folder whose
    // entries cannot all be loaded is refused as a whole.
    std::vector<FolderEntry> found;
    while (Ref entry{PyIter_Next(iterator.get())}) {
        FolderEntry examined;
        const int line = examine_entry(folder, entry.get(), examined);
        if (line)
            return call.fail(line);
        found.push_back(std::move(examined));
    }
    if (PyErr_Occurred() || !settle_entries(folder, loaded.get(), found))
        return call.fail(441);
    for (const FolderEntry &entry : found) {
        const bool is_folder = entry.kind == FolderEntry::Folder;
        Ref cls(is_folder ? directory_name.lookup() : book_name.lookup());
        Ref load(cls ? PyObject_GetAttr(cls.get(), names.load) : nullptr);
        Ref item(load ? PyObject_CallOneArg(load.get(), entry.path.get()) : nullptr);
        if (!item && !is_folder)
            note_file_unless_named("loading", entry.path.get());
        if (!item || PyObject_SetAttr(loaded.get(), entry.name.get(), item.get()) < 0)
            return call.fail(is_folder ? 444 : 446);
    }
    return loaded.release();
}
