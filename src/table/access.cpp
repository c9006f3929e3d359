// The table's access protocol: views, attributes, items, rename.
#include "module/names.hpp"
#include "module/protocols.hpp"
#include "table/table.hpp"

namespace {

PyObject *table_of(const TableClass &table, PyObject *self, Reads reads = Reads::Once) {
    return attribute_of(table, self, table.table_name->get(), reads);
}

// The first steps of __setattr__ and __delattr__ (whose statements share
// these names): hands call.arg(1) to the base class, with `value` or to be
// deleted, when it is one of `routed`. None when it did; nullptr without an
// exception when the name goes to the table; nullptr with the exception
// set and the entry added when a step failed.
template <typename Statement>
PyObject *hand_over_routed(const TableClass &table, const Call &call, const RoutedNames &routed, PyObject *value) {
    PyObject *self = call.self(), *key = call.arg(1);
    switch (route(self, key, routed, table.name->name())) {
    case Routing::FailedAtPrefix:
        return call.fail(Statement::Prefix);
    case Routing::FailedAtCompare:
        return call.fail(Statement::Compare);
    case Routing::Base:
        if (hand_to_base(*table.made, self, key, value) < 0)
            return call.fail(Statement::HandOver);
        Py_RETURN_NONE;
    case Routing::Table:
        break;
    }
    return nullptr;
}

PyObject *call_method(PyObject *object, PyObject *name) { return PyObject_CallMethodObjArgs(object, name, nullptr); }

}  // namespace

PyObject *table_items(const TableClass &table, Call &call) {
    Ref contents(table_of(table, call.self()));
    PyObject *view = contents ? call_method(contents.get(), names.items) : nullptr;
    return view ? view : call.fail(Whole::Body);
}

PyObject *table_names(const TableClass &table, Call &call) {
    Ref contents(table_of(table, call.self()));
    PyObject *view = contents ? call_method(contents.get(), names.keys) : nullptr;
    return view ? view : call.fail(Whole::Body);
}

PyObject *table_clear(const TableClass &table, Call &call) {
    Ref contents(table_of(table, call.self()));
    Ref done(contents ? PyObject_CallMethod(contents.get(), "clear", nullptr) : nullptr);
    if (!done)
        return call.fail(Whole::Body);
    Py_RETURN_NONE;
}

PyObject *read_for_fallback(const TableClass &table, PyObject *self, PyObject *name) {
    PyObject *found = nullptr;
    const int read = reads_instance_first(self, table.slots.getattro)
                         ? read_from_instance(self, table.table_name->get(), table.slots.getattro, &found,
                                              Reads::Repeated)
                         : 0;
    if (read < 0)
        return nullptr;
    Ref contents(read ? found : table_for_fallback(self, table.table_name->get(), name));
    return contents ? get_item(contents.get(), name) : nullptr;
}

PyObject *quick_fallback_read(const TableClass &table, const FunctionObject *function, PyObject *self,
                              PyObject *name) {
    if (!PyUnicode_CheckExact(name))
        return nullptr;
    PyObject *found = nullptr;
    const int read = read_from_instance(self, table.table_name->get(), table.slots.getattro, &found, Reads::Repeated);
    if (read <= 0)
        return read < 0 ? Call(function).fail(Whole::Body) : nullptr;
    Ref contents(found);
    if (!PyDict_CheckExact(contents.get()))
        return nullptr;
    PyObject *value = get_item(contents.get(), name);
    return value ? value : Call(function).fail(Whole::Body);
}

PyObject *table_getattr(const TableClass &table, Call &call) {
    PyObject *value = read_for_fallback(table, call.self(), call.arg(1));
    return value ? value : call.fail(Whole::Body);
}

PyObject *table_setattr(const TableClass &table, Call &call) {
    PyObject *self = call.self(), *key = call.arg(1), *value = call.arg(2);
    PyObject *handed_over = hand_over_routed<SetAttribute>(table, call, table.assigned_past, value);
    if (handed_over || PyErr_Occurred())
        return handed_over;
    if (table.accepts && assertions_enabled() && !call.asserts(table.accepts(value), SetAttribute::ValueCheck))
        return nullptr;
    Ref contents(table_of(table, self));
    if (!contents || set_item(contents.get(), key, value) < 0)
        return call.fail(SetAttribute::Store);
    Py_RETURN_NONE;
}

PyObject *table_delattr(const TableClass &table, Call &call) {
    PyObject *self = call.self(), *item = call.arg(1);
    PyObject *handed_over = hand_over_routed<DeleteAttribute>(table, call, table.deleted_past, nullptr);
    if (handed_over || PyErr_Occurred())
        return handed_over;
    Ref contents(table_of(table, self));
    if (!contents || delete_item(contents.get(), item) < 0)
        return call.fail(DeleteAttribute::Remove);
    Py_RETURN_NONE;
}

SetItem store_item(const TableClass &table, PyObject *self, PyObject *key, PyObject *value) {
    if (assertions_enabled()) {
        if (!PyUnicode_Check(key))
            return PyErr_SetNone(PyExc_AssertionError), SetItem::KeyCheck;
        const int accepted = table.accepts ? table.accepts(value) : 1;
        if (accepted <= 0) {
            if (accepted == 0)
                PyErr_SetNone(PyExc_AssertionError);
            return SetItem::ValueCheck;
        }
    }
    Ref contents(table_of(table, self, Reads::Repeated));
    return contents && set_item(contents.get(), key, value) == 0 ? SetItem{} : SetItem::Store;
}

bool remove_item(const TableClass &table, PyObject *self, PyObject *key) {
    Ref contents(table_of(table, self));
    return contents && delete_item(contents.get(), key) == 0;
}

PyObject *table_getitem(const TableClass &table, Call &call) {
    PyObject *value = read_item(table, call.self(), call.arg(1));
    return value ? value : call.fail(Whole::Body);
}

PyObject *table_setitem(const TableClass &table, Call &call) {
    const SetItem failed = store_item(table, call.self(), call.arg(1), call.arg(2));
    if (failed != SetItem{})
        return call.fail(failed);
    Py_RETURN_NONE;
}

PyObject *table_delitem(const TableClass &table, Call &call) {
    if (!remove_item(table, call.self(), call.arg(1)))
        return call.fail(Whole::Body);
    Py_RETURN_NONE;
}

PyObject *table_rename(const TableClass &table, Call &call) {
    PyObject *self = call.self(), *old_name = call.arg(1), *new_name = call.arg(2);
    const int same = PyObject_RichCompareBool(old_name, new_name, Py_EQ);
    if (same < 0)
        return call.fail(Rename::Equal);
    if (same)
        Py_RETURN_NONE;
    Ref contents(table_of(table, self));
    const int has_old = contents ? PySequence_Contains(contents.get(), old_name) : -1;
    if (has_old < 0)
        return call.fail(Rename::OldTest);
    if (!has_old) {
        Ref message(PyUnicode_FromFormat("Old name `%S` does not exist.", old_name));
        if (message)
            raise_with(captured.KeyError, message.get());
        return call.fail(Rename::OldError);
    }
    const int has_new = PySequence_Contains(contents.get(), new_name);
    if (has_new < 0)
        return call.fail(Rename::NewTest);
    if (has_new) {
        Ref message(PyUnicode_FromFormat("New name `%S` already exists.", new_name));
        if (message)
            raise_with(captured.KeyError, message.get());
        return call.fail(Rename::NewError);
    }
    if (assertions_enabled() &&
        !call.asserts(PyUnicode_Check(new_name) && PyUnicode_GetLength(new_name) > 0, Rename::NewCheck))
        return nullptr;
    // Through the object's own item protocol, or in the table directly.
    PyObject *holder = table.rename_through_items ? self : contents.get();
    Ref member(get_item(holder, old_name));
    if (!member)
        return call.fail(Rename::Read);
    if (delete_item(holder, old_name) < 0)
        return call.fail(Rename::Remove);
    if (set_item(holder, new_name, member.get()) < 0)
        return call.fail(Rename::Store);
    Py_RETURN_NONE;
}
