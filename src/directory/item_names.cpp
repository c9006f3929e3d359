#include "directory/item_names.hpp"

#include "book/book.hpp"
#include "directory/directory.hpp"

#include "module/globals.hpp"
#include "module/names.hpp"
#include "module/standard_names.hpp"

#include <cstdarg>

namespace {

bool refuse(PyObject *path, const char *reason, ...) {
    va_list arguments;
    va_start(arguments, reason);
    Ref text(PyUnicode_FromFormatV(reason, arguments));
    va_end(arguments);
    if (text)
        PyErr_Format(PyExc_ValueError, "cannot save the item at %R: %U", path, text.get());
    return false;
}

// 1 when `text` contains `part`, 0 when not, -1 on error.
int contains(PyObject *text, PyObject *part) {
    if (part == Py_None)
        return 0;
    return PySequence_Contains(text, part);
}

// "_" + the __name__ of `cls` + "__parameters": the name under which an
// instance of `cls` keeps its own table, whatever its assignment is given.
PyObject *table_name_of(PyObject *cls) {
    Ref name(PyObject_GetAttr(cls, names.dunder_name));
    return name ? PyUnicode_FromFormat("_%S__parameters", name.get()) : nullptr;
}

// The part of a book's name before its first ".": the name its file loads under.
PyObject *load_name_of(PyObject *name) {
    Ref parts(PyUnicode_Split(name, names.dot, 1));
    if (!parts)
        return nullptr;
    PyObject *first = PyList_GET_ITEM(parts.get(), 0);
    Py_INCREF(first);
    return first;
}

}  // namespace

bool read_name_rules(NameRules &rules) {
    Ref os(os_name.lookup());
    rules.sep.reset(os ? PyObject_GetAttrString(os.get(), "sep") : nullptr);
    rules.altsep.reset(rules.sep ? PyObject_GetAttrString(os.get(), "altsep") : nullptr);
    rules.ext.reset(rules.altsep ? book_extension() : nullptr);
    if (!rules.ext)
        return false;
    if (!PyUnicode_Check(rules.sep.get())) {
        PyErr_SetString(PyExc_TypeError, "os.sep is not a str");
        return false;
    }
    rules.nul.reset(PyUnicode_FromStringAndSize("\0", 1));
    Ref directory_class = rules.nul ? directory_name.lookup() : Ref();
    Ref bound_table(directory_class ? table_name_of(directory_class.get()) : nullptr);
    rules.table_names.reset(bound_table ? PyList_New(0) : nullptr);
    return rules.table_names && PyList_Append(rules.table_names.get(), directory_parameters_name.get()) == 0 &&
           PyList_Append(rules.table_names.get(), bound_table.get()) == 0;
}

bool FolderNames::gather(const NameRules &rules, PyObject *directory, PyObject *folder, std::vector<NamedItem> items,
                         Py_ssize_t name_max) {
    rules_ = &rules;
    folder_ = folder;
    items_ = std::move(items);
    name_max_ = name_max;
    book_files_.reset(PySet_New(nullptr));
    backup_files_.reset(PySet_New(nullptr));
    directory_names_.reset(PySet_New(nullptr));
    first_book_by_load_name_.reset(PyDict_New());
    table_names_.reset(PySet_New(rules.table_names.get()));
    Ref own_table(table_names_ ? table_name_of(reinterpret_cast<PyObject *>(Py_TYPE(directory))) : nullptr);
    if (!book_files_ || !backup_files_ || !directory_names_ || !first_book_by_load_name_ || !own_table ||
        PySet_Add(table_names_.get(), own_table.get()) < 0)
        return false;
    for (NamedItem &entry : items_) {
        PyObject *name = entry.name.get();
        if (entry.is_directory) {
            if (PySet_Add(directory_names_.get(), name) < 0)
                return false;
            continue;
        }
        // The book's file name, and the name of its backup during a save.
        Ref file(PyUnicode_FromFormat("%U.%S", name, rules.ext.get()));
        Ref backup(file ? PyUnicode_Concat(file.get(), names.dash) : nullptr);
        entry.load_name.reset(backup ? load_name_of(name) : nullptr);
        if (!entry.load_name || PySet_Add(book_files_.get(), file.get()) < 0 ||
            PySet_Add(backup_files_.get(), backup.get()) < 0 ||
            !PyDict_SetDefault(first_book_by_load_name_.get(), entry.load_name.get(), name))
            return false;
    }
    return true;
}

bool FolderNames::check(std::size_t index) const {
    const NamedItem &entry = items_[index];
    PyObject *name = entry.name.get();
    Ref path(PyUnicode_FromFormat("%U%U%U", folder_, rules_->sep.get(), name));
    if (!path)
        return false;
    if (entry.is_directory && PyUnicode_GetLength(name) == 0)
        return refuse(path.get(), "a directory item with an empty name would be its parent's folder itself");
    if (PyUnicode_CompareWithASCIIString(name, ".") == 0 || PyUnicode_CompareWithASCIIString(name, "..") == 0)
        return refuse(path.get(), "the names '.' and '..' would leave the folder of the item");
    for (PyObject *part : {rules_->sep.get(), rules_->altsep.get(), rules_->nul.get()}) {
        const int found = contains(name, part);
        if (found < 0)
            return false;
        if (found)
            return refuse(path.get(), "an item name must not contain a path separator or a NUL character");
    }
    if (entry.is_directory) {
        const int file_name = PySet_Contains(book_files_.get(), name);
        const int backup_name = file_name == 0 ? PySet_Contains(backup_files_.get(), name) : 0;
        if (file_name < 0 || backup_name < 0)
            return false;
        if (file_name)
            return refuse(path.get(), "its folder would take the file name of the book item beside it");
        if (backup_name)
            return refuse(path.get(), "its folder would take the backup name of the book item beside it");
    }
    // What a load would make of it: a name of the directory's own table, or
    // a name that another item beside it loads under too.
    const int table_name = PySet_Contains(table_names_.get(), entry.is_directory ? name : entry.load_name.get());
    if (table_name < 0)
        return false;
    if (table_name && entry.is_directory)
        return refuse(path.get(), "a loaded directory keeps its own table under this name");
    if (table_name)
        return refuse(path.get(), "it would load under the name %R, under which a loaded directory keeps its own table",
                      entry.load_name.get());
    if (!entry.is_directory) {
        PyObject *first = PyDict_GetItemWithError(first_book_by_load_name_.get(), entry.load_name.get());
        if (!first)
            return !PyErr_Occurred();  // gathered above: not reached
        const int same = PyUnicode_Compare(first, name);
        if (same == -1 && PyErr_Occurred())
            return false;
        if (same != 0)
            return refuse(path.get(), "it would load under the name %R, as the book item %R beside it does",
                          entry.load_name.get(), first);
        const int hides = PySet_Contains(directory_names_.get(), entry.load_name.get());
        if (hides < 0)
            return false;
        if (hides)
            return refuse(path.get(), "it would load under the name %R and hide the directory item of that name",
                          entry.load_name.get());
    }
    // The longest name the item takes in its folder: a book's backup name.
    Ref longest(entry.is_directory ? Ref::borrow(name)
                                   : Ref(PyUnicode_FromFormat("%U.%S-", name, rules_->ext.get())));
    Ref encoded(longest ? PyUnicode_EncodeFSDefault(longest.get()) : nullptr);
    if (!encoded) {
        if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError))
            return false;
        PyErr_Clear();
        return refuse(path.get(), "the file system encoding cannot encode its name");
    }
    if (PyBytes_GET_SIZE(encoded.get()) > name_max_)
        return refuse(path.get(), "%s %R takes %zd bytes, more than the %zd that its folder allows",
                      entry.is_directory ? "its name" : "the name of its backup", longest.get(),
                      PyBytes_GET_SIZE(encoded.get()), name_max_);
    return true;
}

Py_ssize_t longest_entry_name(PyObject *folder, Py_ssize_t inherited) {
    Ref option(PyUnicode_FromString("PC_NAME_MAX"));
    Ref limit = option ? call_in(os_name, names.pathconf, folder, option.get()) : Ref();
    const Py_ssize_t bytes = limit ? PyLong_AsSsize_t(limit.get()) : -1;
    if (PyErr_Occurred()) {
        if (!PyErr_ExceptionMatches(PyExc_Exception))
            return -1;
        PyErr_Clear();  // no such folder yet, or no such call on this platform
        return inherited;
    }
    return bytes > 0 ? bytes : PY_SSIZE_T_MAX;  // -1: the file system sets no limit
}
