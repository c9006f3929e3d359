// Parameter: its table, construction, copying, and get.
#include "module/classes.hpp"
#include "module/fast_paths.hpp"
#include "module/names.hpp"
#include "module/pending_error.hpp"
#include "module/protocols.hpp"
#include "module/recursion.hpp"
#include "parameter/clone.hpp"
#include "parameter/parameter.hpp"
#include "table/construct.hpp"

#include <vector>

namespace {

// What __setattr__ hands to the base class, and the fewer names that
// __delattr__ does.
const RoutedName attribute_and_description_tables[] = {
    {&names.parameter_attributes, &names.attributes},
    {&names.parameter_description, &names.description},
};

GlobalName parameter_name(names.Parameter);

// self.__attributes by ordinary attribute access.
PyObject *attribute_table(PyObject *self) { return attribute_of(parameter_table, self, names.parameter_attributes); }

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

// Keyword names that the constructor's binding collects without complaint:
// exact str, and neither of its own parameters.
bool plain_keywords(PyObject *keywords) {
    PyObject *name, *value;
    Py_ssize_t position = 0;
    while (PyDict_Next(keywords, &position, &name, &value)) {
        if (!PyUnicode_CheckExact(name))
            return false;
        const Py_ssize_t length = PyUnicode_GetLength(name);
        if ((length == 4 && PyUnicode_Compare(name, names.self) == 0) ||
            (length == 11 && PyUnicode_Compare(name, names.description) == 0))
            return false;
    }
    return true;
}

// The steps of __init__ on `self`, with the keyword arguments in `attributes`,
// a dict that nobody else holds: it becomes the attribute table, each value
// replaced by its clone in turn.
PyObject *initialise(const Call &call, PyObject *self, PyObject *description_argument, Ref attributes) {
    ParameterInit stored = ParameterInit::StrTable;
    Ref description(description_table(call, description_argument, stored));
    if (!description)
        return nullptr;
    if (assign_table(self, names.parameter_description, description.get(), made_parameter_class,
                     parameter_table.setattr_body) < 0)
        return call.fail(stored);
    if (assign_table(self, names.parameter_attributes, attributes.get(), made_parameter_class,
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

const TableClass parameter_table = {
    &names.parameter_attributes,
    {&made_parameter_class, &names.Parameter, attribute_and_description_tables, 2, &names.description},
    {&made_parameter_class, &names.Parameter, attribute_and_description_tables + 1, 1, &names.description},
    nullptr,  // any value is stored as it is given
    &made_parameter_class,
    setattr_body<parameter_table>,
    getattr_body<parameter_table>,
    getattro_slot<parameter_table>,
    &parameter_name,
    parameter_init,
    false,
};

PyObject *parameter_init(Call &call) {
    return initialise(call, call.self(), call.arg(1), call.take_var_keywords());
}

int parameter_init_slot(PyObject *self, PyObject *args, PyObject *keywords) {
    Ref function = own_member(Py_TYPE(self), names.dunder_init, parameter_init);
    if (!function)
        return init_through_lookup(self, args, keywords);
    const Py_ssize_t count = PyTuple_GET_SIZE(args);
    std::vector<PyObject *> positional{self};
    positional.insert(positional.end(), &PyTuple_GET_ITEM(args, 0), &PyTuple_GET_ITEM(args, 0) + count);
    if (count > 1 || (keywords && !(PyDict_CheckExact(keywords) && plain_keywords(keywords)))) {
        Ref done(call_function_with_dict(as_function(function), positional.data(), count + 1, keywords));
        return done ? 0 : -1;
    }
    // What the binding would collect is the call's keywords, in their order.
    Ref attributes(keywords ? PyDict_Copy(keywords) : PyDict_New());
    if (!attributes)
        return -1;
    PyObject *description = count ? positional[1] : PyTuple_GET_ITEM(as_function(function)->defaults, 0);
    RecursionGuard guard;
    if (!guard.entered())
        return -1;
    Call call(as_function(function), {self, description});
    Ref done(initialise(call, self, description, std::move(attributes)));
    return done ? 0 : -1;
}

PyObject *parameter_clone(Call &call) {
    PyObject *self = call.self();
    Ref cls = class_of_copy(parameter_table, self);
    Ref description(cls ? attribute_of(parameter_table, self, names.parameter_description) : nullptr);
    Ref attributes(description ? attribute_table(self) : nullptr);
    PyObject *result = attributes ? make_parameter(cls.get(), description.get(), attributes.get()) : nullptr;
    return result ? result : call.fail(Whole::Body);
}

PyObject *make_parameter(PyObject *cls, PyObject *description, PyObject *attributes) {
    PyTypeObject *type = reinterpret_cast<PyTypeObject *>(cls);
    Ref init;
    if (cls == made_parameter_class && Py_TYPE(cls) == &PyType_Type && type->tp_new == PyBaseObject_Type.tp_new &&
        PyDict_CheckExact(attributes) && plain_keywords(attributes))
        init = own_member(type, names.dunder_init, parameter_init);
    if (!init) {
        Ref keywords(keywords_to_pass(attributes));
        PyObject *arguments[] = {description};
        return keywords ? construct(cls, made_parameter_class, parameter_init, arguments, 1, keywords.get()) : nullptr;
    }
    // The keywords are all names the constructor collects: binding them
    // would give a copy of the table in its order, made here at once.
    Ref self = new_instance(type);
    Ref keywords(self ? PyDict_Copy(attributes) : nullptr);
    if (!keywords)
        return nullptr;
    RecursionGuard guard;
    if (!guard.entered())
        return nullptr;
    Call init_call(as_function(init));
    Ref done(initialise(init_call, self.get(), description, std::move(keywords)));
    return done ? self.release() : nullptr;
}

PyObject *parameter_get(Call &call) {
    PyObject *name = call.arg(1), *fallback = call.arg(2), *raise_if_none = call.arg(3);
    Ref table(attribute_table(call.self()));
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
