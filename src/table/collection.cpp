// Tables of objects that are copied through their own clone(): a new table
// filled from anything whose items() yields pairs, and a copy of the whole.
#include "module/fast_paths.hpp"
#include "module/names.hpp"
#include "module/protocols.hpp"
#include "table/construct.hpp"
#include "table/table.hpp"

namespace {

// member.clone(), looked up as any attribute is; the module's own clone runs
// without the call that would bind its one argument.
PyObject *clone_of(PyObject *member) {
    PyObject *own = nullptr;
    const int found = own_method_of(member, names.clone, &own);
    if (found < 0)
        return nullptr;
    if (found) {
        Ref function(own);
        if (as_function(function)->single_argument)
            return run_bound(as_function(function), member);
    }
    Ref method(PyObject_GetAttr(member, names.clone));
    if (!method)
        return nullptr;
    FunctionObject *function = function_bound_to(method.get(), member);
    if (function && function->single_argument)
        return run_bound(function, member);
    return PyObject_CallNoArgs(method.get());
}

}  // namespace

PyObject *table_init(const TableClass &table, Call &call) {
    PyObject *self = call.self(), *members = call.arg(1);
    Ref contents(PyDict_New());
    if (!contents || assign_table(self, table.table_name->get(), contents.get(), *table.made, table.setattr_body) < 0)
        return call.fail(Init::NewTable);
    if (members == Py_None)
        Py_RETURN_NONE;
    ItemPairs pairs;
    if (!pairs.start(members))
        return call.fail(Init::Items);
    Ref name, member;
    while (pairs.next(name, member)) {
        if (assertions_enabled() && (!call.asserts(PyUnicode_Check(name.get()), Init::NameCheck) ||
                                     !call.asserts(table.accepts(member.get()), Init::MemberCheck)))
            return nullptr;
        Ref copy(clone_of(member.get()));
        if (!copy)
            return call.fail(Init::Clone);
        if (PyDict_SetItem(contents.get(), name.get(), copy.get()) < 0)
            return call.fail(Init::Store);
    }
    if (PyErr_Occurred())
        return call.fail(Init::Items);
    Py_RETURN_NONE;
}

Ref class_of_copy(const TableClass &table, PyObject *self) {
    PyTypeObject *made = reinterpret_cast<PyTypeObject *>(*table.made);
    if (PyObject_TypeCheck(self, made) && Py_TYPE(self) != made)
        return Ref::borrow(reinterpret_cast<PyObject *>(Py_TYPE(self)));
    return table.name->lookup();
}

PyObject *table_clone(const TableClass &table, Call &call) {
    PyObject *self = call.self();
    Ref cls = class_of_copy(table, self);
    Ref contents(cls ? attribute_of(table, self, table.table_name->get()) : nullptr);
    if (!contents)
        return call.fail(Whole::Body);
    PyObject *arguments[] = {contents.get()};
    PyObject *copy = construct(cls.get(), *table.made, table.init_body, arguments, 1, nullptr);
    return copy ? copy : call.fail(Whole::Body);
}
