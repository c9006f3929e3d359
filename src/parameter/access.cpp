// Parameter: construction, copying, and access to the attribute table.
#include "module/calls.hpp"
#include "module/classes.hpp"
#include "module/construct.hpp"
#include "module/globals.hpp"
#include "module/names.hpp"
#include "module/recursion.hpp"
#include "module/table.hpp"
#include "parameter/clone.hpp"
#include "parameter/parameter.hpp"

namespace {

// The names that __setattr__ hands to the base class, and the fewer that
// __delattr__ does.
const PrivateName attribute_and_description_tables[] = {
    {&names.parameter_attributes, &names.attributes},
    {&names.parameter_description, &names.description},
};
const PrivateNames assigned_past_the_table = {&made_parameter_class, &names.Parameter,
                                              attribute_and_description_tables, 2, &names.description};
const PrivateNames deleted_past_the_table = {&made_parameter_class, &names.Parameter,
                                             attribute_and_description_tables + 1, 1, &names.description};

GlobalName parameter_name(names.Parameter);

// self.__attributes by ordinary attribute access.
PyObject *attribute_table(PyObject *self) { return read_attribute(self, names.parameter_attributes); }

// The description table as the constructor stores it: {"default": text}
// for a str, a clone of a dict. `line` receives the line of the statement.
PyObject *description_table(const Call &call, PyObject *description, int &line) {
    const bool is_str = PyUnicode_Check(description), is_dict = PyDict_Check(description);
    if (assertions_enabled() && !call.asserts(is_str || is_dict, 47))
        return nullptr;
    if (is_str) {
        line = 49;
        Ref table(PyDict_New());
        if (!table || PyDict_SetItem(table.get(), names.default_, description) < 0)
            return call.fail(line);
        return table.release();
    }
    if (is_dict) {
        line = 53;
        const Py_ssize_t size = PyObject_Size(description);
        if (size < 0)
            return call.fail(51);
        if (size > 0 && assertions_enabled() && !call.asserts(PySequence_Contains(description, names.default_), 52))
            return nullptr;
        PyObject *table = clone_through_module(description);
        return table ? table : call.fail(line);
    }
    Ref message(PyUnicode_FromString("Argument description must be a str or dict object."));
    if (message)
        raise_with(captured.TypeError, message.get());
    return call.fail(55);
}

// After a failure at `name`, the table keeps only the entries stored before it.
void drop_from(PyObject *table, PyObject *name) {
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    Ref keys(PyDict_Keys(table));
    const Py_ssize_t start = keys ? PySequence_Index(keys.get(), name) : -1;
    for (Py_ssize_t i = start; keys && i >= 0 && i < PyList_GET_SIZE(keys.get()); ++i) {
        Ref key = Ref::borrow(PyList_GET_ITEM(keys.get(), i));
        PyDict_DelItem(table, key.get());
    }
    PyErr_Clear();
    PyErr_Restore(type, value, traceback);
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
    int line = 0;
    Ref description(description_table(call, description_argument, line));
    if (!description)
        return nullptr;
    if (assign_table(self, names.parameter_description, description.get(), made_parameter_class,
                     parameter_setattr) < 0)
        return call.fail(line);
    if (assign_table(self, names.parameter_attributes, attributes.get(), made_parameter_class, parameter_setattr) < 0)
        return call.fail(56);
    PyObject *borrowed_name, *borrowed_value;
    Py_ssize_t position = 0;
    while (PyDict_Next(attributes.get(), &position, &borrowed_name, &borrowed_value)) {
        // Held: cloning runs Python code, which may empty the table.
        Ref name = Ref::borrow(borrowed_name), value = Ref::borrow(borrowed_value);
        if (assertions_enabled() && !call.asserts(PyUnicode_Check(name.get()), 58))
            return drop_from(attributes.get(), name.get()), nullptr;
        const int kept = kept_by_clone(value.get());
        if (kept < 0)
            return drop_from(attributes.get(), name.get()), call.fail(59);
        if (kept)
            continue;
        Ref cloned(clone_through_module(value.get()));
        if (!cloned ||
            (cloned.get() != value.get() && PyDict_SetItem(attributes.get(), name.get(), cloned.get()) < 0))
            return drop_from(attributes.get(), name.get()), call.fail(59);
    }
    Py_RETURN_NONE;
}

}  // namespace

PyObject *parameter_init(Call &call) {
    return initialise(call, call.self(), call.arg(1), call.take_var_keywords());
}

PyObject *parameter_clone(Call &call) {
    PyObject *self = call.self();
    // A subclass's instance is copied into its own class; a Parameter into
    // whatever the module names Parameter now.
    Ref cls(PyObject_TypeCheck(self, reinterpret_cast<PyTypeObject *>(made_parameter_class)) &&
                    Py_TYPE(self) != reinterpret_cast<PyTypeObject *>(made_parameter_class)
                ? Ref::borrow(reinterpret_cast<PyObject *>(Py_TYPE(self)))
                : Ref(parameter_name.lookup()));
    if (!cls)
        return call.fail(67);
    Ref description(read_attribute(self, names.parameter_description));
    Ref attributes(description ? attribute_table(self) : nullptr);
    PyObject *result = attributes ? make_parameter(cls.get(), description.get(), attributes.get()) : nullptr;
    return result ? result : call.fail(67);
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
    Ref self(type->tp_alloc(type, 0));
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

PyObject *parameter_items(Call &call) {
    Ref table(attribute_table(call.self()));
    PyObject *view = table ? PyObject_CallMethodObjArgs(table.get(), names.items, nullptr) : nullptr;
    return view ? view : call.fail(74);
}

PyObject *parameter_names(Call &call) {
    Ref table(attribute_table(call.self()));
    PyObject *view = table ? PyObject_CallMethodObjArgs(table.get(), names.keys, nullptr) : nullptr;
    return view ? view : call.fail(81);
}

PyObject *parameter_clear(Call &call) {
    Ref table(attribute_table(call.self()));
    Ref done(table ? PyObject_CallMethod(table.get(), "clear", nullptr) : nullptr);
    if (!done)
        return call.fail(88);
    Py_RETURN_NONE;
}

PyObject *parameter_getattr(Call &call) {
    PyObject *item = call.arg(1);
    Ref table(table_for_fallback(call.self(), names.parameter_attributes, item));
    PyObject *value = table ? get_item(table.get(), item) : nullptr;
    return value ? value : call.fail(91);
}

PyObject *parameter_setattr(Call &call) {
    PyObject *self = call.self(), *key = call.arg(1), *value = call.arg(2);
    const int private_name = is_private_name(call, self, key, assigned_past_the_table, 94, 95);
    if (private_name < 0)
        return nullptr;
    if (private_name) {
        if (hand_to_base(made_parameter_class, self, key, value) < 0)
            return call.fail(96);
        Py_RETURN_NONE;
    }
    Ref table(attribute_table(self));
    if (!table || set_item(table.get(), key, value) < 0)
        return call.fail(98);
    Py_RETURN_NONE;
}

PyObject *parameter_delattr(Call &call) {
    PyObject *self = call.self(), *item = call.arg(1);
    const int private_name = is_private_name(call, self, item, deleted_past_the_table, 101, 102);
    if (private_name < 0)
        return nullptr;
    if (private_name) {
        if (hand_to_base(made_parameter_class, self, item, nullptr) < 0)
            return call.fail(103);
        Py_RETURN_NONE;
    }
    Ref table(attribute_table(self));
    if (!table || delete_item(table.get(), item) < 0)
        return call.fail(105);
    Py_RETURN_NONE;
}

PyObject *parameter_get(Call &call) {
    PyObject *name = call.arg(1), *fallback = call.arg(2), *raise_if_none = call.arg(3);
    Ref table(attribute_table(call.self()));
    const int present = table ? PySequence_Contains(table.get(), name) : -1;
    if (present < 0)
        return call.fail(115);
    if (present) {
        PyObject *value = get_item(table.get(), name);
        return value ? value : call.fail(116);
    }
    if (fallback != Py_None) {
        Py_INCREF(fallback);
        return fallback;
    }
    const int raise = PyObject_IsTrue(raise_if_none);
    if (raise < 0)
        return call.fail(121);
    if (raise) {
        raise_with(captured.KeyError, name);
        return call.fail(122);
    }
    Py_RETURN_NONE;
}

PyObject *parameter_getitem(Call &call) {
    Ref table(attribute_table(call.self()));
    PyObject *value = table ? get_item(table.get(), call.arg(1)) : nullptr;
    return value ? value : call.fail(127);
}

PyObject *parameter_setitem(Call &call) {
    PyObject *key = call.arg(1);
    if (assertions_enabled() && !call.asserts(PyUnicode_Check(key), 130))
        return nullptr;
    Ref table(attribute_table(call.self()));
    if (!table || set_item(table.get(), key, call.arg(2)) < 0)
        return call.fail(131);
    Py_RETURN_NONE;
}

PyObject *parameter_delitem(Call &call) {
    Ref table(attribute_table(call.self()));
    if (!table || delete_item(table.get(), call.arg(1)) < 0)
        return call.fail(134);
    Py_RETURN_NONE;
}
