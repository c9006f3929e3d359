// The book files of a directory save: built and checked before the save
// touches the disk, written afterwards, as ParameterBook.save would.
#include "book/book.hpp"
#include "book/text_file.hpp"
#include "book/text_form.hpp"
#include "book/value_faults.hpp"
#include "module/names.hpp"
#include "parameter/parameter.hpp"

int module_writes_book(PyObject *book) {
    PyTypeObject *type = Py_TYPE(book);
    if (!module_member(type, names.save, book_save) || !module_member(type, names.dunder_str, book_str))
        return 0;
    Ref table(yol_generic_getattr_optional(book, names.book_parameters));
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

PyObject *prepare_book_file(PyObject *book, PyObject *path) {
    BookText failed{};
    Ref text(text_form(book, failed));
    if (!text) {
        fail_as_member(Py_TYPE(book), names.dunder_str, book_str, failed);
        note_book_file("saving", path, book, nullptr, kAnyFault);
        fail_as_member(Py_TYPE(book), names.save, book_save, BookSave::Text);
        return nullptr;
    }
    if (!refuse_values_load_refuses(book)) {
        note_book_file("saving", path, nullptr, nullptr, 0);
        fail_as_member(Py_TYPE(book), names.save, book_save, BookSave::Text);
        return nullptr;
    }
    // Encoded now: UTF-8 keeps the encoded form with the text, which the
    // write then copies as it is.
    if (!PyUnicode_AsUTF8AndSize(text.get(), nullptr)) {
        note_book_file("saving", path, book, nullptr, kNotUtf8);
        fail_as_member(Py_TYPE(book), names.save, book_save, BookSave::Write);
        return nullptr;
    }
    return text.release();
}

bool write_book_file(PyObject *book, PyObject *path, PyObject *text) {
    bool write_failed = false;
    if (write_text_file_atomically(path, text, write_failed))
        return true;
    note_book_file("saving", path, nullptr, nullptr, 0);
    fail_as_member(Py_TYPE(book), names.save, book_save, write_failed ? BookSave::Write : BookSave::Open);
    return false;
}
