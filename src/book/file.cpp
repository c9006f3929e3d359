// ParameterBook: the book file, saved and loaded.
#include "book/book.hpp"
#include "book/native_load.hpp"
#include "book/native_read.hpp"
#include "book/save_steps.hpp"
#include "book/value_faults.hpp"
#include "files/make_folder.hpp"
#include "files/text_file.hpp"
#include "module/protocols.hpp"
#include "module/standard_names.hpp"
#include "parameter/parameter.hpp"
#include "table/construct.hpp"
#include "module/names.hpp"
#include "module/notes.hpp"
#include "module/pending_error.hpp"

namespace {


// Prepares the folder of `filename`: made when missing, checked when present.
bool prepare_folder(const Call &call, PyObject *filename) {
    Ref folder(call_in(path_name, names.dirname, filename));
    if (!folder)
        return call.fail(BookSave::FolderPart), false;
    const int named = PyObject_IsTrue(folder.get());
    if (named < 0)
        return call.fail(BookSave::FolderTest), false;
    if (!named)
        return true;
    const int exists = test_in(path_name, names.exists, folder.get());
    if (exists < 0)
        return call.fail(BookSave::FolderTest), false;
    if (!exists)
        return make_folder(folder.get()) || (call.fail(BookSave::MakeFolder), false);
    if (!assertions_enabled())
        return true;
    const int is_folder = test_in(path_name, names.isdir, folder.get());
    if (call.asserts(is_folder, BookSave::FolderCheck))
        return true;
    if (is_folder == 0)
        add_note_format("ParameterBook.save: %R exists and is not a folder, so %R cannot be written", folder.get(),
                        filename);
    return false;
}

// The note of a failed load of the book file `path`, naming the parameter
// (and the attribute) of `element` where it is the one at fault.
void note_failed_load(PyObject *path, PyObject *element = nullptr) {
    note_book_file("loading", path, nullptr, element, kRefusedByLoad | kNotInText);
}

// The note of a load given something that is not a file, which may be the
// name of a book file without its extension.
void note_not_a_file(PyObject *filename) {
    Ref suffix;
    int has_suffix = -1;
    {
        PendingError raised;
        Ref ext(book_extension());
        suffix.reset(ext && PyUnicode_Check(ext.get()) ? PyUnicode_Concat(names.dot, ext.get()) : nullptr);
        if (suffix && PyUnicode_Check(filename))
            has_suffix = static_cast<int>(PyUnicode_Tailmatch(filename, suffix.get(), 0, PY_SSIZE_T_MAX, 1));
    }
    if (has_suffix == 0)
        add_note_format("ParameterBook.load: %R is not a file (load does not add the extension %R)", filename,
                        suffix.get());
    else
        add_note_format("ParameterBook.load: %R is not a file", filename);
}

}  // namespace

PyObject *book_extension() {
    Ref book(book_name.lookup());
    return book ? PyObject_GetAttr(book.get(), names.ExtName) : nullptr;
}

PyObject *book_save(Call &call) {
    PyObject *self = call.self(), *filename = call.arg(1);
    if (!prepare_folder(call, filename))
        return nullptr;
    BookFile file;
    BookSave failed{};
    if (!prepare_book_file(self, filename, call.arg(2), file, failed) || !write_book_file(file, failed))
        return call.fail(failed);
    Py_RETURN_NONE;
}

PyObject *book_load(Call &call) {
    PyObject *filename = call.arg(0);
    if (assertions_enabled()) {
        const int is_file = test_in(path_name, names.isfile, filename);
        if (!call.asserts(is_file, BookLoad::FileCheck)) {
            if (is_file == 0)
                note_not_a_file(filename);
            return nullptr;
        }
    }
    // Every failure from here on is one of this file: the note names it.
    auto fail = [&](BookLoad statement, PyObject *element = nullptr) {
        note_failed_load(filename, element);
        return call.fail(statement);
    };
    bool open_failed = false;
    Ref text(read_book_text(filename, open_failed));
    if (!text)
        return fail(open_failed ? BookLoad::Open : BookLoad::Read);
    if (PyObject *book = native_book_load(text.get()))
        return book;
    if (PyErr_Occurred())
        return fail(BookLoad::Decode);
    Ref json(json_name.lookup());
    Ref loads(json ? PyObject_GetAttr(json.get(), names.loads) : nullptr);
    Ref content(loads ? PyObject_CallOneArg(loads.get(), text.get()) : nullptr);
    if (!content)
        return fail(BookLoad::Decode);
    if (assertions_enabled() && !call.asserts(PyList_Check(content.get()), BookLoad::ListCheck)) {
        add_note_format("while loading the book file %R: its content is not a JSON array", filename);
        return nullptr;
    }
    Ref collected(PyDict_New());
    if (!collected)
        return fail(BookLoad::NewDict);
    Ref iterator(PyObject_GetIter(content.get()));
    if (!iterator)
        return fail(BookLoad::Iteration);
    for (Py_ssize_t index = 0; Ref element{PyIter_Next(iterator.get())}; ++index) {
        if (assertions_enabled() && !call.asserts(PyDict_Check(element.get()), BookLoad::ElementCheck)) {
            add_note_format("while loading the book file %R: the element at index %zd is not a JSON object", filename,
                            index);
            return nullptr;
        }
        Ref parameter_class(parameter_name.lookup());
        Ref from_dict(parameter_class ? PyObject_GetAttr(parameter_class.get(), names.from_dict) : nullptr);
        Ref pair(from_dict ? PyObject_CallOneArg(from_dict.get(), element.get()) : nullptr);
        Ref name, parameter;
        if (!pair || !unpack_pair(pair.get(), name, parameter))
            return fail(BookLoad::FromDict, element.get());
        if (PyDict_SetItem(collected.get(), name.get(), parameter.get()) < 0)
            return fail(BookLoad::Store, element.get());
    }
    if (PyErr_Occurred())
        return fail(BookLoad::Iteration);
    Ref book_class(book_name.lookup());
    PyObject *arguments[] = {collected.get()};
    PyObject *book = book_class ? construct(book_class.get(), made_book_class, init_body<book_table>, arguments,
                                            1, nullptr)
                                : nullptr;
    return book ? book : fail(BookLoad::NewBook);
}
