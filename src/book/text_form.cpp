// ParameterBook: the text form, the content of its book file.
#include "book/text_form.hpp"

#include "book/book.hpp"
#include "book/json_text.hpp"
#include "module/names.hpp"
#include "table/table.hpp"

namespace {

GlobalName json_name(names.json);

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

}  // namespace

PyObject *text_form(PyObject *book, BookText &failed) {
    Ref forms(PyList_New(0));
    if (!forms)
        return failed = BookText::NewList, nullptr;
    Ref table(read_attribute(book, names.book_parameters));
    Ref sorted_names(table ? PySequence_List(table.get()) : nullptr);
    if (!sorted_names)
        return failed = BookText::Names, nullptr;
    if (PyList_Sort(sorted_names.get()) < 0)
        return failed = BookText::Sort, nullptr;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(sorted_names.get()); ++i) {
        // Held: to_dict may run Python code, which may empty the list.
        Ref name = Ref::borrow(PyList_GET_ITEM(sorted_names.get(), i));
        Ref parameter(get_item(table.get(), name.get()));
        if (!parameter)
            return failed = BookText::Read, nullptr;
        Ref form(PyObject_CallMethodObjArgs(parameter.get(), names.to_dict, name.get(), nullptr));
        if (!form || PyList_Append(forms.get(), form.get()) < 0)
            return failed = BookText::ToDict, nullptr;
    }
    PyObject *text = dumps(forms.get());
    return text ? text : (failed = BookText::Dumps, nullptr);
}

PyObject *book_str(Call &call) {
    BookText failed{};
    PyObject *text = text_form(call.self(), failed);
    return text ? text : call.fail(failed);
}
