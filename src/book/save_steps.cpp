#include "book/save_steps.hpp"

#include "book/text_value_check.hpp"
#include "book/value_faults.hpp"
#include "files/text_file.hpp"
#include "module/names.hpp"
#include "module/pending_error.hpp"
#include "parameter/parameter.hpp"

#include <utility>

namespace {

bool builds_module_text(PyObject *book) { return bool(module_member(Py_TYPE(book), names.dunder_str, book_str)); }

// `filename` + "." + ExtName unless it ends with ExtName already (the
// extension read each time it is needed); nullptr with the failing statement.
PyObject *with_extension(PyObject *filename, BookSave &failed) {
    Ref ext(book_extension());
    Ref ends(ext ? PyObject_CallMethodObjArgs(filename, names.endswith, ext.get(), nullptr) : nullptr);
    const int has_extension = ends ? PyObject_IsTrue(ends.get()) : -1;
    if (has_extension < 0)
        return failed = BookSave::ExtensionTest, nullptr;
    if (has_extension)
        return Ref::borrow(filename).release();
    Ref ext_again(book_extension());
    Ref pair(ext_again ? PyTuple_Pack(2, filename, ext_again.get()) : nullptr);
    Ref format(pair ? PyUnicode_FromString("%s.%s") : nullptr);
    PyObject *named = format ? PyUnicode_Format(format.get(), pair.get()) : nullptr;
    return named ? named : (failed = BookSave::NewName, nullptr);
}

// The note of a save whose text failed: the file that save would have
// written (named as its extension step names it, for a flag that is a bool:
// the truth test of any other object is the save's own business) and, for
// `kinds`, the parameter and the attribute at fault.
void note_failed_text(PyObject *book, PyObject *filename, PyObject *append, unsigned kinds) {
    Ref written;
    if (append == Py_True) {
        PendingError raised;
        BookSave failed{};
        written.reset(with_extension(filename, failed));
    }
    note_book_file("saving", written ? written.get() : filename, book, nullptr, kinds);
}

}  // namespace

bool prepare_book_file(PyObject *book, PyObject *filename, PyObject *append, BookFile &file, BookSave &failed) {
    Ref text;
    bool checked_by_text = false;
    {
        TextValueCheck check(book);
        text.reset(PyObject_Str(book));
        checked_by_text = check.no_value_refused();
    }
    // What the module's own text form writes is refused where a load would
    // refuse it (unless the walk that wrote it found no such value); a class
    // with a text form of its own answers for it.
    if (!text || (builds_module_text(book) && !checked_by_text && !refuse_values_load_refuses(book))) {
        note_failed_text(book, filename, append, text ? 0u : unsigned(kAnyFault));
        return failed = BookSave::Text, false;
    }
    const int appends = PyObject_IsTrue(append);
    if (appends < 0)
        return failed = BookSave::ExtensionTest, false;
    file.path = appends ? Ref(with_extension(filename, failed)) : Ref::borrow(filename);
    if (!file.path)
        return false;
    // An ASCII str is its own UTF-8; any other keeps its UTF-8 once made.
    file.encoded.data = PyUnicode_AsUTF8AndSize(text.get(), &file.encoded.size);
    if (!file.encoded.data) {
        note_book_file("saving", file.path.get(), book, nullptr, kNotUtf8);
        return failed = BookSave::Write, false;
    }
    file.text = std::move(text);
    return true;
}

bool write_book_file(const BookFile &file, BookSave &failed) {
    bool write_failed = false;
    if (write_text_file_atomically(file.path.get(), file.encoded, write_failed))
        return true;
    note_book_file("saving", file.path.get(), nullptr, nullptr, 0);
    failed = write_failed ? BookSave::Write : BookSave::Open;
    return false;
}

int module_writes_book(PyObject *book) {
    PyTypeObject *type = Py_TYPE(book);
    if (!module_member(type, names.save, book_save) || !module_member(type, names.dunder_str, book_str))
        return 0;
    Ref table(yol_generic_getattr_optional(book, book_parameters_name.get()));
    if (!table)
        return PyErr_Clear(), 1;  // the text step reports what is missing, before the disk is touched
    if (!PyDict_Check(table.get()))
        return 0;
    PyObject *name, *parameter;
    Py_ssize_t position = 0;
    while (PyDict_Next(table.get(), &position, &name, &parameter))
        if (!module_member(Py_TYPE(parameter), names.to_dict, parameter_to_dict))
            return 0;
    return 1;
}

void fail_as_book_save(PyObject *book, BookSave statement) {
    fail_as_member(Py_TYPE(book), names.save, book_save, statement);
}
