// ParameterDirectory: a tree of books saved to and loaded from a folder
// tree, with backups of the book files a save replaces.
#include "book/book.hpp"
#include "book/save_steps.hpp"
#include "directory/directory.hpp"
#include "directory/folder_entries.hpp"
#include "directory/save_plan.hpp"
#include "files/folder_guard.hpp"
#include "files/make_folder.hpp"
#include "module/protocols.hpp"
#include "module/names.hpp"
#include "module/notes.hpp"
#include "module/pending_error.hpp"
#include "module/standard_names.hpp"

#include <cerrno>
#include <string>
#include <unordered_set>
#include <vector>

namespace {

// A note naming the book file `path` on an error from the book's own code,
// unless a note names it already.
void note_file_unless_named(const char *doing, PyObject *path) {
    if (!PyErr_Occurred())
        return;
    Ref named;
    {
        PendingError raised;
        named.reset(PyObject_Repr(path));
    }
    if (named && !notes_mention(named.get()))
        add_note_format("while %s the book file %U", doing, named.get());
}

// Book files that the backup step would leave where they are, because a
// save that did not finish left their backup names taken, and that this
// save does not write either: they would outlive the save, and a later load
// would bring back books that the tree no longer holds. The save is refused
// before the backup step, with a FileExistsError that names them.
bool refuse_stale_books(const FolderGuard &guard, PyObject *folder, PyObject *saved_book_files) {
    std::vector<std::string> entries;
    if (!guard.entry_names(entries))
        return false;
    Ref ext(book_extension());
    Ref suffix_text(ext ? PyUnicode_Concat(names.dot, ext.get()) : nullptr);
    Ref suffix_bytes(suffix_text ? PyUnicode_EncodeFSDefault(suffix_text.get()) : nullptr);
    Ref stale(suffix_bytes ? PyList_New(0) : nullptr);
    if (!stale)
        return false;
    const std::string suffix(PyBytes_AS_STRING(suffix_bytes.get()), PyBytes_GET_SIZE(suffix_bytes.get()));
    const std::unordered_set<std::string> listing(entries.begin(), entries.end());
    for (const std::string &entry : entries) {
        if (entry.size() < suffix.size() || entry.compare(entry.size() - suffix.size(), suffix.size(), suffix) != 0 ||
            !listing.count(entry + "-") || !guard.holds_file(entry))
            continue;
        Ref name(PyUnicode_DecodeFSDefaultAndSize(entry.data(), static_cast<Py_ssize_t>(entry.size())));
        const int saved = name && saved_book_files ? PySet_Contains(saved_book_files, name.get()) : 0;
        if (!name || saved < 0 || (!saved && PyList_Append(stale.get(), name.get()) < 0))
            return false;
    }
    if (PyList_GET_SIZE(stale.get()) == 0)
        return true;
    if (PyList_Sort(stale.get()) < 0)
        return false;
    Ref message(PyUnicode_FromFormat(
        "cannot save into %R: the book files %R would outlive the save, as backups (name + \"-\") that an "
        "earlier save left take their backup names; remove those backups (`yolpt recover --apply "
        "--discard-backups` does), or restore them over their book files, then save again",
        folder, stale.get()));
    Ref error(message ? PyObject_CallFunction(PyExc_OSError, "iOO", EEXIST, message.get(), folder) : nullptr);
    if (error)
        PyErr_SetObject(reinterpret_cast<PyObject *>(Py_TYPE(error.get())), error.get());
    return false;
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
    const int exists = test_in(path_name, names.exists, folder);
    if (exists < 0)
        return call.fail(DirectorySave::Plan), false;
    if (!exists) {
        if (!make_folder(folder))
            return call.fail(DirectorySave::MakeFolder), false;
    } else if (assertions_enabled()) {
        const int is_folder = test_in(path_name, names.isdir, folder);
        if (!call.asserts(is_folder, DirectorySave::FolderCheck)) {
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
        return call.fail(DirectorySave::Backup), false;
    // A folder that another save made and filled before this one could lock
    // it is backed up like any existing one.
    const int fresh = exists ? 0 : guard.empty();
    if (fresh < 0)
        return call.fail(DirectorySave::Backup), false;
    Ref backups;
    if (fresh) {
        backups.reset(PyList_New(0));
        if (!backups)
            return call.fail(DirectorySave::NoBackups), false;
    } else {
        if (!refuse_stale_books(guard, folder, plan.book_files.get()))
            return call.fail(DirectorySave::Backup), false;
        Ref directory_class(directory_name.lookup());
        Ref backup(directory_class ? PyObject_GetAttrString(directory_class.get(), "_backup_books_in_this_directory")
                                   : nullptr);
        backups.reset(backup ? PyObject_CallOneArg(backup.get(), folder) : nullptr);
        if (!backups)
            return call.fail(DirectorySave::Backup), false;
    }
    for (const ItemPlan &planned : plan.items) {
        PyObject *item = planned.item.get(), *path = planned.path.get();
        if (planned.is_directory) {
            if (!(planned.folder ? carry_out(call, *planned.folder) : saved_by_itself(item, path)))
                return call.fail(DirectorySave::SubDirectory), false;
        } else if (planned.book_file.prepared()) {
            BookSave failed{};
            if (!write_book_file(planned.book_file, failed)) {
                fail_as_book_save(item, failed);
                return call.fail(DirectorySave::Book), false;
            }
        } else if (!saved_by_itself(item, path)) {
            note_file_unless_named("saving", path);
            return call.fail(DirectorySave::Book), false;
        }
    }
    Ref backup_iterator(PyObject_GetIter(backups.get()));
    if (!backup_iterator)
        return call.fail(DirectorySave::BackupIteration), false;
    while (Ref backup{PyIter_Next(backup_iterator.get())}) {
        Ref removed(call_in(os_name, names.remove, backup.get()));
        if (!removed)
            return call.fail(DirectorySave::BackupRemoval), false;
    }
    if (PyErr_Occurred())
        return call.fail(DirectorySave::BackupIteration), false;
    return true;
}

}  // namespace

PyObject *directory_backup_books(Call &call) {
    PyObject *folder = call.arg(0);
    Ref made(PyList_New(0));
    if (!made)
        return call.fail(BackupStep::NewList);
    Ref entries(call_in(os_name, names.listdir, folder));
    Ref iterator(entries ? PyObject_GetIter(entries.get()) : nullptr);
    if (!iterator)
        return call.fail(BackupStep::Listing);
    while (Ref entry{PyIter_Next(iterator.get())}) {
        Ref ext(book_extension());
        const int book_file = ext ? ends_with_extension(entry.get(), ext.get()) : -1;
        if (book_file < 0)
            return call.fail(BackupStep::Match);
        if (!book_file)
            continue;
        Ref book_path(entry_path(folder, entry.get()));
        if (!book_path)
            return call.fail(BackupStep::BookPath);
        Ref backup_path(PyUnicode_Concat(book_path.get(), names.dash));
        if (!backup_path)
            return call.fail(BackupStep::BackupPath);
        const int is_file = test_in(path_name, names.isfile, book_path.get());
        const int taken = is_file > 0 ? test_in(path_name, names.exists, backup_path.get()) : 0;
        if (is_file < 0 || taken < 0)
            return call.fail(BackupStep::Tests);
        if (!is_file || taken)
            continue;  // a folder, or a book file whose backup name is already taken
        Ref renamed(call_in(os_name, names.rename, book_path.get(), backup_path.get()));
        if (!renamed)
            return call.fail(BackupStep::Rename);
        if (PyList_Append(made.get(), backup_path.get()) < 0)
            return call.fail(BackupStep::Append);
    }
    if (PyErr_Occurred())
        return call.fail(BackupStep::Iteration);
    return made.release();
}

PyObject *directory_save(Call &call) {
    // The whole tree is planned before the disk is touched: names rendered
    // once and checked, the text of every book file built and encoded.
    FolderPlan plan;
    if (!plan_save(call.self(), call.arg(1), plan))
        return call.fail(DirectorySave::Plan);
    if (!carry_out(call, plan))
        return nullptr;
    Py_RETURN_NONE;
}

PyObject *directory_load(Call &call) {
    PyObject *folder = call.arg(0);
    FolderGuard guard(folder, FolderGuard::Loading);
    if (!guard.entered())
        return call.fail(DirectoryLoad::Listing);
    Ref entries(call_in(os_name, names.listdir, folder));
    Ref iterator(entries ? PyObject_GetIter(entries.get()) : nullptr);
    if (!iterator)
        return call.fail(DirectoryLoad::Listing);
    Ref directory_class(directory_name.lookup());
    Ref loaded(directory_class ? PyObject_CallNoArgs(directory_class.get()) : nullptr);
    if (!loaded)
        return call.fail(DirectoryLoad::NewDirectory);
    // Every entry is examined before anything is read, so that a folder whose
    // entries cannot all be loaded is refused as a whole.
    std::vector<FolderEntry> found;
    while (Ref entry{PyIter_Next(iterator.get())}) {
        FolderEntry examined;
        const DirectoryLoad failed = examine_entry(folder, entry.get(), examined);
        if (failed != DirectoryLoad{})
            return call.fail(failed);
        found.push_back(std::move(examined));
    }
    if (PyErr_Occurred() || !settle_entries(folder, loaded.get(), found))
        return call.fail(DirectoryLoad::Entries);
    for (const FolderEntry &entry : found) {
        const bool is_folder = entry.kind == FolderEntry::Folder;
        Ref cls(is_folder ? directory_name.lookup() : book_name.lookup());
        Ref load(cls ? PyObject_GetAttr(cls.get(), names.load) : nullptr);
        Ref item(load ? PyObject_CallOneArg(load.get(), entry.path.get()) : nullptr);
        if (!item && !is_folder)
            note_file_unless_named("loading", entry.path.get());
        if (!item || PyObject_SetAttr(loaded.get(), entry.name.get(), item.get()) < 0)
            return call.fail(is_folder ? DirectoryLoad::SubFolder : DirectoryLoad::Book);
    }
    return loaded.release();
}
