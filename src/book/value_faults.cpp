#include "book/value_faults.hpp"

#include "book/book.hpp"
#include "module/function.hpp"
#include "module/names.hpp"
#include "module/notes.hpp"
#include "module/pending_error.hpp"
#include "module/recursion.hpp"
#include "parameter/parameter.hpp"

namespace {

int holds_fault(PyObject *value, unsigned kinds);

// 1 when `text` cannot be encoded as UTF-8 (and that is asked for).
int text_fault(PyObject *text, unsigned kinds) {
    if (!(kinds & kNotUtf8) || PyUnicode_AsUTF8AndSize(text, nullptr))
        return 0;
    if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError))
        return -1;
    PyErr_Clear();
    return 1;
}

// A key of a JSON object: a text, or a number, a boolean or None, which the
// encoder turns into text.
int key_fault(PyObject *key, unsigned kinds) {
    if (PyUnicode_Check(key))
        return text_fault(key, kinds);
    if (key == Py_None || PyLong_Check(key) || PyFloat_Check(key))
        return 0;
    return (kinds & kNotInText) ? 1 : 0;
}

// A value whose visit runs no Python code: nothing can change the dict it
// was read from while it is visited.
bool plain_scalar(PyObject *value) {
    const PyTypeObject *type = Py_TYPE(value);
    return type == &PyUnicode_Type || type == &PyLong_Type || type == &PyFloat_Type || type == &PyBool_Type ||
           value == Py_None;
}

// The first nonzero answer of `visit(key, value)` over the pairs of
// `mapping`; 0 when every answer is 0, -1 on error. An exact dict is walked
// in place, each pair held while a visit that may run Python code runs (one
// that changes the dict ends the walk early or repeats a pair, never reads
// freed memory); a subclass gives its pairs through items(), as the JSON
// encoder takes them.
template <typename Visit>
int first_of_pairs(PyObject *mapping, Visit visit) {
    if (PyDict_CheckExact(mapping)) {
        Py_ssize_t position = 0;
        PyObject *key, *value;
        while (PyDict_Next(mapping, &position, &key, &value)) {
            int answer;
            if (plain_scalar(value)) {
                answer = visit(key, value);
            } else {
                Ref held_key = Ref::borrow(key), held_value = Ref::borrow(value);
                answer = visit(key, value);
            }
            if (answer != 0)
                return answer;
        }
        return 0;
    }
    // A list, or on 3.6 whatever sequence items() gave, as a list or tuple.
    Ref pairs(PyMapping_Items(mapping));
    if (!pairs)
        return -1;
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(pairs.get()); ++i) {
        Ref pair = Ref::borrow(PySequence_Fast_GET_ITEM(pairs.get(), i));
        if (!PyTuple_Check(pair.get()) || PyTuple_GET_SIZE(pair.get()) != 2)
            continue;
        const int answer = visit(PyTuple_GET_ITEM(pair.get(), 0), PyTuple_GET_ITEM(pair.get(), 1));
        if (answer != 0)
            return answer;
    }
    return 0;
}

// The first pair of `mapping` whose key or value holds a fault: 1 with
// `found_key` set, 0 when none does, -1 on error.
int first_faulty_pair(PyObject *mapping, unsigned kinds, Ref *found_key) {
    return first_of_pairs(mapping, [&](PyObject *key, PyObject *value) {
        int fault = key_fault(key, kinds);
        if (fault == 0)
            fault = holds_fault(value, kinds);
        if (fault > 0 && found_key)
            *found_key = Ref::borrow(key);
        return fault;
    });
}

int holds_fault(PyObject *value, unsigned kinds) {
    if (PyUnicode_Check(value))
        return text_fault(value, kinds);
    if (PyLong_Check(value) || PyFloat_Check(value))
        return 0;
    if (value == Py_None)
        return (kinds & kRefusedByLoad) ? 1 : 0;
    const bool sequence = PyList_Check(value) || PyTuple_Check(value);
    if (!sequence && !PyDict_Check(value))
        return (kinds & kNotInText) ? 1 : 0;
    RecursionGuard guard;
    if (!guard.entered())
        return -1;
    if (!sequence)
        return first_faulty_pair(value, kinds, nullptr);
    Ref elements(PySequence_Fast(value, "not a sequence"));
    if (!elements)
        return -1;
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(elements.get()); ++i) {
        Ref element = Ref::borrow(PySequence_Fast_GET_ITEM(elements.get(), i));
        const int fault = holds_fault(element.get(), kinds);
        if (fault != 0)
            return fault;
    }
    return 0;
}

// The description table, then the attribute table, of one parameter (or of
// one dictionary form): 1 with `place.key` set at the first fault.
int tables_fault(PyObject *description, PyObject *attributes, unsigned kinds, FaultPlace &place) {
    if (description && PyDict_Check(description)) {
        const int fault = first_faulty_pair(description, kinds, &place.key);
        if (fault != 0) {
            place.in_description = true;
            return fault;
        }
    }
    if (attributes && PyDict_Check(attributes))
        return first_faulty_pair(attributes, kinds, &place.key);
    return 0;
}

// The table `name` of `object`, read without a __getattr__ fallback; an
// empty Ref (and no exception) when it has none.
Ref table_of(PyObject *object, PyObject *name) {
    Ref table(yol_generic_getattr_optional(object, name));
    if (!table)
        PyErr_Clear();
    return table;
}

}  // namespace

int find_value_fault(PyObject *table, unsigned kinds, bool module_forms_only, FaultPlace &place) {
    if (!PyDict_Check(table))
        return 0;
    return first_of_pairs(table, [&](PyObject *name, PyObject *parameter) {
        if (module_forms_only && !module_member(Py_TYPE(parameter), names.to_dict, parameter_to_dict))
            return 0;
        Ref description = table_of(parameter, parameter_description_name.get());
        Ref attributes = table_of(parameter, parameter_attributes_name.get());
        const int fault = tables_fault(description.get(), attributes.get(), kinds, place);
        if (fault > 0)
            place.parameter = Ref::borrow(name);
        return fault;
    });
}

int find_form_fault(PyObject *form, unsigned kinds, FaultPlace &place) {
    if (!PyDict_Check(form))
        return 0;
    PyObject *name = PyDict_GetItemWithError(form, names.name);
    if (name && PyUnicode_Check(name))
        place.parameter = Ref::borrow(name);
    if (PyErr_Occurred())
        return -1;
    Ref description = Ref::borrow(PyDict_GetItemWithError(form, names.description));
    if (!description && PyErr_Occurred())
        return -1;
    Ref attributes = Ref::borrow(PyDict_GetItemWithError(form, names.attributes));
    if (!attributes && PyErr_Occurred())
        return -1;
    return tables_fault(description.get(), attributes.get(), kinds, place);
}

bool refuse_values_load_refuses(PyObject *book) {
    Ref table(PyObject_GetAttr(book, book_parameters_name.get()));
    if (!table)
        return false;
    FaultPlace place;
    const int fault = find_value_fault(table.get(), kRefusedByLoad, true, place);
    if (fault > 0)
        PyErr_Format(PyExc_TypeError, "parameter %R: its %s %R holds None, which ParameterBook.load refuses",
                     place.parameter.get(), place.in_description ? "description" : "attribute", place.key.get());
    return fault == 0;
}

void note_book_file(const char *doing, PyObject *path, PyObject *book, PyObject *form, unsigned kinds) {
    if (!PyErr_Occurred())
        return;
    FaultPlace place;
    {
        PendingError raised;
        Ref table = book && kinds ? table_of(book, book_parameters_name.get()) : Ref();
        if (table)
            find_value_fault(table.get(), kinds, false, place);
        else if (form)
            find_form_fault(form, kinds, place);
    }
    if (!place.parameter)
        add_note_format("while %s the book file %R", doing, path);
    else if (!place.key)
        add_note_format("while %s the book file %R, parameter %R", doing, path, place.parameter.get());
    else
        add_note_format("while %s the book file %R, parameter %R, %s %R", doing, path, place.parameter.get(),
                        place.in_description ? "description" : "attribute", place.key.get());
}
