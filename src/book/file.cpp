// ParameterBook: the book file, saved and loaded.
#include "book/book.hpp"
#include "book/make_folder.hpp"
#include "book/native_load.hpp"
#include "book/native_read.hpp"
#include "book/text_file.hpp"
#include "book/value_faults.hpp"
#include "module/protocols.hpp"
#include "module/classes.hpp"
#include "table/construct.hpp"
#include "module/names.hpp"
#include "module/notes.hpp"
#include "module/pending_error.hpp"

namespace {

GlobalName json_name(names.json);
GlobalName path_name(names.path);
GlobalName parameter_name(names.Parameter);
GlobalName book_name(names.ParameterBook);

bool builds_module_text(PyObject *book) { return bool(own_member(Py_TYPE(book), names.dunder_str, book_str)); }

// Prepares the folder of `filename`: made when missing, checked when present.
bool prepare_folder(const Call &call, PyObject *filename) {
    Ref folder(call_in(path_name, "dirname", filename));
    if (!folder)
        return call.fail(BookSave::FolderPart), false;
    const int named = PyObject_IsTrue(folder.get());
    if (named < 0)
        return call.fail(BookSave::FolderTest), false;
    if (!named)
        return true;
    const int exists = test_in(path_name, "exists", folder.get());
    if (exists < 0)
        return call.fail(BookSave::FolderTest), false;
    if (!exists)
        return make_folder(folder.get()) || (call.fail(BookSave::MakeFolder), false);
    if (!assertions_enabled())
        return true;
    const int is_folder = test_in(path_name, "isdir", folder.get());
    if (call.asserts(is_folder, BookSave::FolderCheck))
        return true;
    if (is_folder == 0)
        add_note_format("ParameterBook.save: %R exists and is not a folder, so %R cannot be written", folder.get(),
                        filename);
    return false;
}

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
    PyObject *self = call.self();
    Ref filename = Ref::borrow(call.arg(1));
    if (!prepare_folder(call, filename.get()))
        return nullptr;
    Ref text(PyObject_Str(self));
    // What the module's own text form writes is refused where a load would
    // refuse it; a class with a text form of its own answers for it.
    if (!text || (builds_module_text(self) && !refuse_values_load_refuses(self))) {
        note_failed_text(self, filename.get(), call.arg(2), text ? 0u : unsigned(kAnyFault));
        return call.fail(BookSave::Text);
    }
    const int append = PyObject_IsTrue(call.arg(2));
    if (append < 0)
        return call.fail(BookSave::ExtensionTest);
    if (append) {
        BookSave failed{};
        Ref named(with_extension(filename.get(), failed));
        if (!named)
            return call.fail(failed);
        if (named.get() != filename.get() && !call.enforce_str(named.get(), BookSave::NewName))
            return nullptr;
        filename = std::move(named);
    }
    bool write_failed = false;
    if (!write_text_file_atomically(filename.get(), text.get(), write_failed)) {
        note_book_file("saving", filename.get(), self, nullptr, kNotUtf8);
        return call.fail(write_failed ? BookSave::Write : BookSave::Open);
    }
    Py_RETURN_NONE;
}

PyObject *book_load(Call &call) {
    PyObject *filename = call.arg(0);
    if (assertions_enabled()) {
        const int is_file = test_in(path_name, "isfile", filename);
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
