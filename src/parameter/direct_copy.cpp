// Parameter: the copy that clone() makes, made without the call of the class
// while that call would run only the module's own code on plain scalars.
#include "module/binding.hpp"
#include "module/class_memo.hpp"
#include "module/fast_paths.hpp"
#include "module/names.hpp"
#include "module/recursion.hpp"
#include "parameter/clone.hpp"
#include "parameter/parameter.hpp"
#include "table/construct.hpp"

namespace {

// Whether `cls` is Parameter as the module made it (made_as_module_makes),
// with no __del__: the answer is kept against the class's version tag, which
// changes with any change of the class or of its bases.
bool parameter_made_as_module_makes(PyObject *cls) {
    static ClassMemo<0> checked;
    PyTypeObject *type = reinterpret_cast<PyTypeObject *>(cls);
    if (cls != made_parameter_class || Py_TYPE(cls) != &PyType_Type)
        return false;
    if (checked.holds(type, nullptr))
        return true;
    if (!made_as_module_makes(cls, made_parameter_class, parameter_init, parameter_table.setattr_body,
                              {parameter_description_name.get(), parameter_attributes_name.get()}) ||
        !finalised_quietly(type))
        return false;
    checked.remember(type, nullptr);
    return true;
}

// Whether every key and value of the exact dict `table` is a plain scalar,
// and, with `init` given, every key an exact str that names none of its
// parameters (what its binding collects whole into **kwargs).
bool plain_entries(PyObject *table, const FunctionObject *init) {
    Py_ssize_t position = 0;
    PyObject *key, *value;
    while (PyDict_Next(table, &position, &key, &value)) {
        if (!is_exact_scalar(key) || !is_exact_scalar(value))
            return false;
        if (init && (!PyUnicode_CheckExact(key) || Binder::names_a_parameter(init, key)))
            return false;
    }
    return true;
}

// The copies of the two tables that cls(description, **attributes) would
// store, when both hold plain scalars only: the description cloned by
// _clone_attribute (a copy), the attributes collected by the binding (a copy)
// and each kept as it is. False, with no exception, when not.
bool plain_tables(PyObject *description, PyObject *attributes, const FunctionObject *init, Ref &described,
                  Ref &collected) {
    if (!PyDict_CheckExact(description) || PyDict_Size(description) == 0 || !PyDict_CheckExact(attributes))
        return false;
    // The copies are checked, not the tables: making them may collect garbage,
    // whose finalisers may change the tables.
    described.reset(PyDict_Copy(description));
    collected.reset(described ? PyDict_Copy(attributes) : nullptr);
    if (!collected) {
        PyErr_Clear();  // out of memory: the call meets it again, or not
        return false;
    }
    if (!plain_entries(described.get(), nullptr) || !plain_entries(collected.get(), init))
        return false;
    // The assertion of __init__, which fails through the call.
    return !assertions_enabled() || PyDict_GetItemWithError(described.get(), names.default_);
}

}  // namespace

PyObject *copy_parameter_directly(PyObject *cls, PyObject *description, PyObject *attributes) {
    if (!parameter_made_as_module_makes(cls) || !clone_known_own())
        return nullptr;
    Ref init = own_member(reinterpret_cast<PyTypeObject *>(cls), names.dunder_init, parameter_init);
    Ref described, collected;
    if (!init || !plain_tables(description, attributes, as_function(init), described, collected)) {
        PyErr_Clear();
        return nullptr;
    }
    // From here on as the call: its __init__ counts a level of recursion, and
    // _clone_attribute another for the description.
    int &depth = RecursionGuard::thread_depth();
    RecursionGuard init_level(depth);
    if (!init_level.entered())
        return nullptr;
    {
        RecursionGuard clone_level(depth);
        if (!clone_level.entered())
            return Call(as_function(init)).fail(ParameterInit::DictTable);
    }
    Ref self = new_instance(reinterpret_cast<PyTypeObject *>(cls));
    if (!self)
        return nullptr;
    // Stored as the module's own __setattr__ hands them to object's.
    if (PyObject_GenericSetAttr(self.get(), parameter_description_name.get(), described.get()) < 0)
        return Call(as_function(init)).fail(ParameterInit::DictTable);
    if (PyObject_GenericSetAttr(self.get(), parameter_attributes_name.get(), collected.get()) < 0)
        return Call(as_function(init)).fail(ParameterInit::AttributeTable);
    return self.release();
}
