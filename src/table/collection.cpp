// Tables of objects that are copied through their own clone(): a new table
// filled from anything whose items() yields pairs, and a copy of the whole.
#include "module/fast_paths.hpp"
#include "module/items_walk.hpp"
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

// contents[name] = member.clone(), after the checks of the body.
bool store_copy(const TableClass &table, const Call &call, PyObject *contents, PyObject *name, PyObject *member) {
    if (assertions_enabled() && (!call.asserts(PyUnicode_Check(name), Init::NameCheck) ||
                                 !call.asserts(table.accepts(member), Init::MemberCheck)))
        return false;
    Ref copy(clone_of(member));
    if (!copy)
        return call.fail(Init::Clone), false;
    if (PyDict_SetItem(contents, name, copy.get()) < 0)
        return call.fail(Init::Store), false;
    return true;
}

}  // namespace

PyObject *table_init(const TableClass &table, Call &call) {
    PyObject *self = call.self(), *members = call.arg(1);
    Ref contents(PyDict_New());
    if (!contents || assign_table(self, table.table_name->get(), contents.get(), *table.made, table.setattr_body) < 0)
        return call.fail(Init::NewTable);
    if (members == Py_None)
        Py_RETURN_NONE;
    if (walks_items_directly(members)) {
        // `members` is held by the call for the whole walk.
        ItemsWalk walk(members);
        PyObject *name, *member;
        // Held until the next step, as the pair of items() is: the copy runs
        // Python code, which may empty the dict.
        Ref held_name, held_member;
        while (walk.next(&name, &member)) {
            held_name = Ref::borrow(name);
            held_member = Ref::borrow(member);
            if (!store_copy(table, call, contents.get(), name, member))
                return nullptr;
        }
    } else {
        ItemPairs pairs;
        if (!pairs.start(members))
            return call.fail(Init::Items);
        Ref name, member;
        while (pairs.next(name, member))
            if (!store_copy(table, call, contents.get(), name.get(), member.get()))
                return nullptr;
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
