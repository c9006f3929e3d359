// ParameterBook: the text form, and the book file.
#include "book/book.hpp"
#include "book/json_text.hpp"
#include "book/make_folder.hpp"
#include "book/text_file.hpp"
#include "module/protocols.hpp"
#include "module/classes.hpp"
#include "table/construct.hpp"
#include "module/names.hpp"

namespace {

GlobalName json_name(names.json);
GlobalName path_name(names.path);
GlobalName parameter_name(names.Parameter);
GlobalName book_name(names.ParameterBook);

// _json.dumps(forms, indent=4, ensure_ascii=False). While _json and its dumps
// are those imported with the module, forms of exact built-in values are
// written without the call, to the same text; anything else goes to dumps,
// which also raises the json module's own errors.
PyObject *dumps(PyObject *forms) {
    Ref json(json_name.lookup());
    Ref function(json ? PyObject_GetAttr(json.get(), names.dumps) : nullptr);
    if (function && json.get() == standard.json && function.get() == standard.json_dumps) {
        PyObject *text = indented_json_text(forms);
        if (text || PyErr_Occurred())
            return text;
    }
    Ref arguments(function ? PyTuple_Pack(1, forms) : nullptr);
    Ref keywords(arguments ? Py_BuildValue("{s:i,s:O}", "indent", 4, "ensure_ascii", Py_False) : nullptr);
    return keywords ? PyObject_Call(function.get(), arguments.get(), keywords.get()) : nullptr;
}

// Prepares the folder of `filename`: made when missing, checked when present.
bool prepare_folder(const Call &call, PyObject *filename) {
    Ref folder(call_in(path_name, "dirname", filename));
    if (!folder)
        return call.fail(285), false;
    const int named = PyObject_IsTrue(folder.get());
    if (named < 0)
        return call.fail(286), false;
    if (!named)
        return true;
    const int exists = test_in(path_name, "exists", folder.get());
    if (exists < 0)
        return call.fail(286), false;
    if (!exists)
        return make_folder(folder.get()) || (call.fail(287), false);
    return !assertions_enabled() || call.asserts(test_in(path_name, "isdir", folder.get()), 289);
}

}  // namespace

PyObject *book_extension() {
    Ref book(book_name.lookup());
    return book ? PyObject_GetAttr(book.get(), names.ExtName) : nullptr;
}

PyObject *book_str(Call &call) {
    Ref forms(PyList_New(0));
    if (!forms)
        return call.fail(270);
    Ref table(read_attribute(call.self(), names.book_parameters));
    Ref sorted_names(table ? PySequence_List(table.get()) : nullptr);
    if (!sorted_names)
        return call.fail(271);
    if (PyList_Sort(sorted_names.get()) < 0)
        return call.fail(272);
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(sorted_names.get()); ++i) {
        // Held: to_dict may run Python code, which may empty the list.
        Ref name = Ref::borrow(PyList_GET_ITEM(sorted_names.get(), i));
        Ref parameter(get_item(table.get(), name.get()));
        if (!parameter)
            return call.fail(274);
        Ref form(PyObject_CallMethodObjArgs(parameter.get(), names.to_dict, name.get(), nullptr));
        if (!form || PyList_Append(forms.get(), form.get()) < 0)
            return call.fail(275);
    }
    PyObject *text = dumps(forms.get());
    return text ? text : call.fail(276);
}

PyObject *book_save(Call &call) {
    Ref filename = Ref::borrow(call.arg(1));
    if (!prepare_folder(call, filename.get()))
        return nullptr;
    Ref text(PyObject_Str(call.self()));
    if (!text)
        return call.fail(290);
    const int append = PyObject_IsTrue(call.arg(2));
    if (append < 0)
        return call.fail(291);
    if (append) {
        Ref ext(book_extension());
        Ref ends(ext ? PyObject_CallMethodObjArgs(filename.get(), names.endswith, ext.get(), nullptr) : nullptr);
        const int has_extension = ends ? PyObject_IsTrue(ends.get()) : -1;
        if (has_extension < 0)
            return call.fail(291);
        if (!has_extension) {
            Ref ext_again(book_extension());
            Ref pair(ext_again ? PyTuple_Pack(2, filename.get(), ext_again.get()) : nullptr);
            Ref format(pair ? PyUnicode_FromString("%s.%s") : nullptr);
            Ref named(format ? PyUnicode_Format(format.get(), pair.get()) : nullptr);
            if (!named)
                return call.fail(292);
            if (!call.enforce_str(named.get(), 292))
                return nullptr;
            filename = std::move(named);
        }
    }
    bool write_failed = false;
    if (!write_text_file_atomically(filename.get(), text.get(), write_failed))
        return call.fail(write_failed ? 294 : 293);
    Py_RETURN_NONE;
}

PyObject *book_load(Call &call) {
    PyObject *filename = call.arg(0);
    if (assertions_enabled() && !call.asserts(test_in(path_name, "isfile", filename), 303))
        return nullptr;
    bool open_failed = false;
    Ref text(read_text_file(filename, open_failed));
    if (!text)
        return call.fail(open_failed ? 305 : 306);
    Ref json(json_name.lookup());
    Ref loads(json ? PyObject_GetAttr(json.get(), names.loads) : nullptr);
    Ref content(loads ? PyObject_CallOneArg(loads.get(), text.get()) : nullptr);
    if (!content)
        return call.fail(307);
    if (assertions_enabled() && !call.asserts(PyList_Check(content.get()), 308))
        return nullptr;
    Ref collected(PyDict_New());
    if (!collected)
        return call.fail(309);
    Ref iterator(PyObject_GetIter(content.get()));
    if (!iterator)
        return call.fail(310);
    while (Ref element{PyIter_Next(iterator.get())}) {
        if (assertions_enabled() && !call.asserts(PyDict_Check(element.get()), 311))
            return nullptr;
        Ref parameter_class(parameter_name.lookup());
        Ref from_dict(parameter_class ? PyObject_GetAttr(parameter_class.get(), names.from_dict) : nullptr);
        Ref pair(from_dict ? PyObject_CallOneArg(from_dict.get(), element.get()) : nullptr);
        Ref name, parameter;
        if (!pair || !unpack_pair(pair.get(), name, parameter))
            return call.fail(312);
        if (PyDict_SetItem(collected.get(), name.get(), parameter.get()) < 0)
            return call.fail(313);
    }
    if (PyErr_Occurred())
        return call.fail(310);
    Ref book_class(book_name.lookup());
    PyObject *arguments[] = {collected.get()};
    PyObject *book = book_class ? construct(book_class.get(), made_book_class, init_body<book_table>, arguments,
                                            1, nullptr)
                                : nullptr;
    return book ? book : call.fail(314);
}
