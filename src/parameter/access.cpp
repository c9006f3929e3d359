// Parameter: construction, copying, and get.
#include "module/names.hpp"
#include "module/pending_error.hpp"
#include "module/protocols.hpp"
#include "parameter/clone.hpp"
#include "parameter/parameter.hpp"
#include "table/construct.hpp"

namespace {

// self.__attributes by ordinary attribute access.
PyObject *attribute_table(PyObject *self, Reads reads) {
    return attribute_of(parameter_table, self, parameter_attributes_name.get(), reads);
}

// The description table as the constructor stores it: {"default": text}
// for a str, a clone of a dict. `stored` receives the statement that stores it.
PyObject *description_table(const Call &call, PyObject *description, ParameterInit &stored) {
    const bool is_str = PyUnicode_Check(description), is_dict = PyDict_Check(description);
    if (assertions_enabled() && !call.asserts(is_str || is_dict, ParameterInit::DescriptionCheck))
        return nullptr;
    if (is_str) {
        stored = ParameterInit::StrTable;
        Ref table(PyDict_New());
        if (!table || PyDict_SetItem(table.get(), names.default_, description) < 0)
            return call.fail(stored);
        return table.release();
    }
    if (is_dict) {
        stored = ParameterInit::DictTable;
        const Py_ssize_t size = PyObject_Size(description);
        if (size < 0)
            return call.fail(ParameterInit::DictSize);
        if (size > 0 && assertions_enabled() &&
            !call.asserts(PySequence_Contains(description, names.default_), ParameterInit::DefaultCheck))
            return nullptr;
        PyObject *table = clone_through_module(description);
        return table ? table : call.fail(stored);
    }
    Ref message(PyUnicode_FromString("Argument description must be a str or dict object."));
    if (message)
        raise_with(captured.TypeError, message.get());
    return call.fail(ParameterInit::Raise);
}

// After a failure at `name`, the table keeps only the entries stored before it.
void drop_from(PyObject *table, PyObject *name) {
    PendingError failure;
    Ref keys(PyDict_Keys(table));
    const Py_ssize_t start = keys ? PySequence_Index(keys.get(), name) : -1;
    for (Py_ssize_t i = start; keys && i >= 0 && i < PyList_GET_SIZE(keys.get()); ++i) {
        Ref key = Ref::borrow(PyList_GET_ITEM(keys.get(), i));
        PyDict_DelItem(table, key.get());
    }
}

// The steps of __init__ on `self`, with the keyword arguments in `attributes`,
// a dict that nobody else holds: it becomes the attribute table, each value
// replaced by its clone in turn.
PyObject *initialise(const Call &call, PyObject *self, PyObject *description_argument, Ref attributes) {
    ParameterInit stored = ParameterInit::StrTable;
    Ref description(description_table(call, description_argument, stored));
    if (!description)
        return nullptr;
    if (assign_table(self, parameter_description_name.get(), description.get(), made_parameter_class,
                     parameter_table.setattr_body) < 0)
        return call.fail(stored);
    if (assign_table(self, parameter_attributes_name.get(), attributes.get(), made_parameter_class,
                     parameter_table.setattr_body) < 0)
        return call.fail(ParameterInit::AttributeTable);
    PyObject *borrowed_name, *borrowed_value;
    Py_ssize_t position = 0;
    const bool checked = assertions_enabled();
    int own_clone = -1;  // whether the module still names its own _clone_attribute; -1: to be asked
    while (PyDict_Next(attributes.get(), &position, &borrowed_name, &borrowed_value)) {
        // Held: cloning runs Python code, which may empty the table.
        Ref name = Ref::borrow(borrowed_name), value = Ref::borrow(borrowed_value);
        if (checked && !call.asserts(PyUnicode_Check(name.get()), ParameterInit::NameCheck))
            return drop_from(attributes.get(), name.get()), nullptr;
        if (is_exact_scalar(value.get())) {
            // The module's own clone gives a plain scalar back as it is; the
            // answer holds until Python code runs, as a clone below may.
            if (own_clone < 0 && (own_clone = clone_is_own()) < 0)
                return drop_from(attributes.get(), name.get()), call.fail(ParameterInit::Clone);
            if (own_clone)
                continue;
        }
        own_clone = -1;
        Ref cloned(clone_through_module(value.get()));
        if (!cloned ||
            (cloned.get() != value.get() && PyDict_SetItem(attributes.get(), name.get(), cloned.get()) < 0))
            return drop_from(attributes.get(), name.get()), call.fail(ParameterInit::Clone);
    }
    Py_RETURN_NONE;
}

}  // namespace

PyObject *parameter_init(Call &call) {
    return initialise(call, call.self(), call.arg(1), call.take_var_keywords());
}

PyObject *parameter_clone(Call &call) {
    PyObject *self = call.self();
    Ref cls = class_of_copy(parameter_table, self);
    Ref description(cls ? attribute_of(parameter_table, self, parameter_description_name.get()) : nullptr);
    Ref attributes(description ? attribute_table(self, Reads::Once) : nullptr);
    if (!attributes)
        return call.fail(Whole::Body);
    PyObject *result = copy_parameter_directly(cls.get(), description.get(), attributes.get());
    if (!result && !PyErr_Occurred())
        result = make_parameter(cls.get(), description.get(), attributes.get());
    return result ? result : call.fail(Whole::Body);
}

PyObject *make_parameter(PyObject *cls, PyObject *description, PyObject *attributes) {
    Ref keywords(keywords_to_pass(attributes));
    PyObject *arguments[] = {description};
    return keywords ? construct(cls, made_parameter_class, parameter_init, arguments, 1, keywords.get()) : nullptr;
}

// get(name) and get(name, default) with a str name, while the table is a
// dict in the instance dictionary: the body's answer without the binding.
PyObject *parameter_get_quick(const FunctionObject *function, PyObject *const *args, Py_ssize_t count) {
    if ((count != 2 && count != 3) || !PyUnicode_CheckExact(args[1]))
        return nullptr;
    PyObject *found = nullptr;
    const int read = read_from_instance(args[0], parameter_attributes_name.get(), parameter_table.slots.getattro,
                                        &found, Reads::Repeated);
    if (read <= 0)
        return read < 0 ? Call(function).fail(Get::Lookup) : nullptr;
    Ref table(found);
    if (!PyDict_CheckExact(table.get()))
        return nullptr;
    PyObject *value = PyDict_GetItemWithError(table.get(), args[1]);
    if (!value && PyErr_Occurred())
        return Call(function).fail(Get::Lookup);
    // A missing name gives the default, None included: raise_if_none is False.
    value = value ? value : count == 3 ? args[2] : Py_None;
    Py_INCREF(value);
    return value;
}

PyObject *parameter_get(Call &call) {
    PyObject *name = call.arg(1), *fallback = call.arg(2), *raise_if_none = call.arg(3);
    Ref table(attribute_table(call.self(), Reads::Repeated));
    if (table && PyDict_CheckExact(table.get())) {
        // `name` is an exact str or None, whose test and read run no Python
        // code: one lookup answers both.
        PyObject *value = PyDict_GetItemWithError(table.get(), name);
        if (value) {
            Py_INCREF(value);
            return value;
        }
        if (PyErr_Occurred())
            return call.fail(Get::Lookup);
    } else {
        const int present = table ? PySequence_Contains(table.get(), name) : -1;
        if (present < 0)
            return call.fail(Get::Lookup);
        if (present) {
            PyObject *value = get_item(table.get(), name);
            return value ? value : call.fail(Get::Read);
        }
    }
    if (fallback != Py_None) {
        Py_INCREF(fallback);
        return fallback;
    }
    const int raise = PyObject_IsTrue(raise_if_none);
    if (raise < 0)
        return call.fail(Get::Truth);
    if (raise) {
        raise_with(captured.KeyError, name);
        return call.fail(Get::Raise);
    }
    Py_RETURN_NONE;
}
