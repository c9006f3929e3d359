// ParameterBook: the text form, the content of its book file.
#include "book/text_form.hpp"

#include "book/book.hpp"
#include "book/json_text.hpp"
#include "book/text_value_check.hpp"
#include "module/fast_paths.hpp"
#include "module/names.hpp"
#include "module/standard_names.hpp"
#include "parameter/parameter.hpp"
#include "table/table.hpp"

#include <new>

namespace {

// A form that the module's own to_dict made, {"name", "description",
// "attributes"}, as its parts: json is given copies of its tables, as of the
// parts that add_form reads without the call.
void take_parts(BookForm &form) {
    PyObject *made = form.form.get();
    form.name = Ref::borrow(PyDict_GetItemWithError(made, names.name));
    form.description = Ref::borrow(PyDict_GetItemWithError(made, names.description));
    form.attributes = Ref::borrow(PyDict_GetItemWithError(made, names.attributes));
    if (form.name && form.description && form.attributes)
        form.form.reset();
}

// The parts that the module's own to_dict puts into the form of
// `parameter`, read as it reads them (a failure gets its traceback entry);
// `quiet` is cleared where reading them may have run code.
bool add_parts(std::vector<BookForm> &forms, PyObject *parameter, PyObject *name, const FunctionObject *own,
               bool &quiet) {
    BookForm form;
    form.description = attribute_of_quietly(parameter_table, parameter, parameter_description_name.get(), quiet);
    if (form.description)
        form.attributes = attribute_of_quietly(parameter_table, parameter, parameter_attributes_name.get(), quiet);
    if (!form.attributes) {
        Call(own).fail(Whole::Body);
        return false;
    }
    form.name = Ref::borrow(name);
    forms.push_back(std::move(form));
    return true;
}

// The form of `parameter` under `name`: what its to_dict gives or, while that
// is the module's own to_dict and the name one it takes as it is (an exact
// str), the parts it would put into the form. `quiet` is cleared where the
// form was made by a call or read by a lookup that may have run code.
bool add_form(std::vector<BookForm> &forms, PyObject *parameter, PyObject *name, bool &quiet) {
    if (PyUnicode_CheckExact(name)) {
        PyObject *found = nullptr;
        const int on_class = own_method_of(parameter, names.to_dict, &found);
        if (on_class < 0)
            return false;
        Ref function(found);
        if (const FunctionObject *own = on_class ? own_function(function.get(), parameter_to_dict) : nullptr)
            return add_parts(forms, parameter, name, own, quiet);
    }
    quiet = false;
    Ref method(PyObject_GetAttr(parameter, names.to_dict));
    if (!method)
        return false;
    BookForm form;
    const bool bound_here = PyMethod_Check(method.get()) && PyMethod_GET_SELF(method.get()) == parameter;
    const FunctionObject *own = bound_here && PyUnicode_CheckExact(name)
                                    ? own_function(PyMethod_GET_FUNCTION(method.get()), parameter_to_dict)
                                    : nullptr;
    if (own)
        return add_parts(forms, parameter, name, own, quiet);
    form.form = Ref(PyObject_CallOneArg(method.get(), name));
    if (!form.form)
        return false;
    if (bound_here && module_function(PyMethod_GET_FUNCTION(method.get()), parameter_to_dict))
        take_parts(form);
    forms.push_back(std::move(form));
    return true;
}

// A parameter's table as json.dumps is given it: a copy of an exact dict. The
// interpreter's encoder walks a dict through borrowed references, and a value's
// own code (a subclass's items() or __iter__) may empty the table under it.
Ref table_to_encode(PyObject *table) {
    return PyDict_CheckExact(table) ? Ref(PyDict_Copy(table)) : Ref::borrow(table);
}

// The list of forms that json.dumps is given.
PyObject *forms_list(const std::vector<BookForm> &forms, BookText &failed) {
    Ref list(PyList_New(0));
    if (!list)
        return failed = BookText::NewList, nullptr;
    for (const BookForm &form : forms) {
        Ref description, attributes;
        if (!form.form) {
            description = table_to_encode(form.description.get());
            attributes = description ? table_to_encode(form.attributes.get()) : Ref();
            if (!attributes)
                return failed = BookText::ToDict, nullptr;
        }
        Ref made = form.form ? Ref::borrow(form.form.get())
                             : Ref(parameter_form(form.name.get(), description.get(), attributes.get()));
        if (!made || PyList_Append(list.get(), made.get()) < 0)
            return failed = BookText::ToDict, nullptr;
    }
    return list.release();
}

// _json.dumps(forms, indent=4, ensure_ascii=False). While _json is the module
// imported with the module and all that its dumps reads is as it was then
// (module/standard_json.hpp), forms of exact built-in values are written
// without the call, to the same text; anything else goes to dumps, which also
// raises the json module's own errors. `wrote_null` tells whether a text
// written here holds a null; it stays as it is when json writes the text.
PyObject *dumps(const std::vector<BookForm> &forms, BookText &failed, bool &wrote_null) {
    Ref json(json_name.lookup());
    if (!json)
        return failed = BookText::Dumps, nullptr;
    const int as_kept = json_writes_as_kept(json.get());
    if (as_kept < 0)
        return failed = BookText::Dumps, nullptr;
    if (as_kept) {
        PyObject *text = indented_json_text(forms, wrote_null);
        if (text || PyErr_Occurred())
            return text ? text : (failed = BookText::Dumps, nullptr);
    }
    Ref function(PyObject_GetAttr(json.get(), names.dumps));
    if (!function)
        return failed = BookText::Dumps, nullptr;
    Ref list(forms_list(forms, failed));
    if (!list)
        return nullptr;
    Ref arguments(PyTuple_Pack(1, list.get()));
    Ref keywords(arguments ? Py_BuildValue("{s:i,s:O}", "indent", 4, "ensure_ascii", Py_False) : nullptr);
    PyObject *text = keywords ? PyObject_Call(function.get(), arguments.get(), keywords.get()) : nullptr;
    return text ? text : (failed = BookText::Dumps, nullptr);
}

}  // namespace

PyObject *text_form(PyObject *book, BookText &failed) {
    TextValueCheck *check = TextValueCheck::take(book);
    // Whether all that is read runs no code but the module's own: an exact
    // dict, read straight from the instance dictionary, and below, exact str
    // names and the module's own to_dict.
    bool quiet = true;
    Ref table = attribute_of_quietly(book_table, book, book_parameters_name.get(), quiet);
    quiet = quiet && table && PyDict_CheckExact(table.get());
    Ref sorted_names(table ? PySequence_List(table.get()) : nullptr);
    if (!sorted_names)
        return failed = BookText::Names, nullptr;
    if (PyList_Sort(sorted_names.get()) < 0)
        return failed = BookText::Sort, nullptr;
    try {
        std::vector<BookForm> forms;
        forms.reserve(static_cast<std::size_t>(PyList_GET_SIZE(sorted_names.get())));
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(sorted_names.get()); ++i) {
            // Held: to_dict may run Python code, which may empty the list.
            Ref name = Ref::borrow(PyList_GET_ITEM(sorted_names.get(), i));
            Ref parameter(get_item(table.get(), name.get()));
            if (!parameter)
                return failed = BookText::Read, nullptr;
            if (!add_form(forms, parameter.get(), name.get(), quiet))
                return failed = BookText::ToDict, nullptr;
        }
        bool wrote_null = true;
        PyObject *text = dumps(forms, failed, wrote_null);
        if (text && check)
            check->answer(quiet && !wrote_null);
        return text;
    } catch (const std::bad_alloc &) {
        return failed = BookText::NewList, PyErr_NoMemory();
    }
}

PyObject *book_str(Call &call) {
    BookText failed{};
    PyObject *text = text_form(call.self(), failed);
    return text ? text : call.fail(failed);
}
