#include "module/collection.hpp"

#include "module/calls.hpp"
#include "module/construct.hpp"
#include "module/names.hpp"

namespace {

PyObject *table_of(const CollectionSpec &spec, PyObject *self) { return read_attribute(self, *spec.table_name); }

PyObject *call_method(PyObject *object, PyObject *name) { return PyObject_CallMethodObjArgs(object, name, nullptr); }

}  // namespace

PyObject *collection_init(const CollectionSpec &spec, Call &call) {
    const CollectionLines &lines = spec.lines;
    PyObject *self = call.self(), *members = call.arg(1);
    Ref table(PyDict_New());
    if (!table || assign_table(self, *spec.table_name, table.get(), *spec.made_class, spec.setattr_body) < 0)
        return call.fail(lines.init_table);
    if (members == Py_None)
        Py_RETURN_NONE;
    Ref pairs(call_method(members, names.items));
    Ref iterator(pairs ? PyObject_GetIter(pairs.get()) : nullptr);
    if (!iterator)
        return call.fail(lines.init_items);
    while (Ref pair{PyIter_Next(iterator.get())}) {
        PyObject *name, *member;
        if (!unpack_pair(pair.get(), &name, &member))
            return call.fail(lines.init_items);
        Ref held_name(name), held_member(member);
        if (assertions_enabled() && (!call.asserts(PyUnicode_Check(name), lines.init_name_check) ||
                                     !call.asserts(spec.accepts(member), lines.init_member_check)))
            return nullptr;
        Ref copy(PyObject_CallMethodObjArgs(member, names.clone, nullptr));
        if (!copy)
            return call.fail(lines.init_clone);
        if (PyDict_SetItem(table.get(), name, copy.get()) < 0)
            return call.fail(lines.init_store);
    }
    if (PyErr_Occurred())
        return call.fail(lines.init_items);
    Py_RETURN_NONE;
}

PyObject *collection_clone(const CollectionSpec &spec, Call &call) {
    PyObject *self = call.self();
    PyTypeObject *made = reinterpret_cast<PyTypeObject *>(*spec.made_class);
    // A subclass's instance is copied into its own class; the class itself
    // into whatever the module names it now.
    Ref cls(PyObject_TypeCheck(self, made) && Py_TYPE(self) != made
                ? Ref::borrow(reinterpret_cast<PyObject *>(Py_TYPE(self)))
                : Ref(spec.class_name->lookup()));
    Ref table(cls ? table_of(spec, self) : nullptr);
    if (!table)
        return call.fail(spec.lines.clone);
    PyObject *arguments[] = {table.get()};
    PyObject *copy = construct(cls.get(), *spec.made_class, spec.init_body, arguments, 1, nullptr);
    return copy ? copy : call.fail(spec.lines.clone);
}

PyObject *collection_items(const CollectionSpec &spec, Call &call) {
    Ref table(table_of(spec, call.self()));
    PyObject *view = table ? call_method(table.get(), names.items) : nullptr;
    return view ? view : call.fail(spec.lines.items);
}

PyObject *collection_names(const CollectionSpec &spec, Call &call) {
    Ref table(table_of(spec, call.self()));
    PyObject *view = table ? call_method(table.get(), names.keys) : nullptr;
    return view ? view : call.fail(spec.lines.names);
}

PyObject *collection_clear(const CollectionSpec &spec, Call &call) {
    Ref table(table_of(spec, call.self()));
    Ref done(table ? PyObject_CallMethod(table.get(), "clear", nullptr) : nullptr);
    if (!done)
        return call.fail(spec.lines.clear);
    Py_RETURN_NONE;
}

PyObject *collection_getattr(const CollectionSpec &spec, Call &call) {
    PyObject *item = call.arg(1);
    Ref table(table_for_fallback(call.self(), *spec.table_name, item));
    PyObject *member = table ? get_item(table.get(), item) : nullptr;
    return member ? member : call.fail(spec.lines.getattr);
}

PyObject *collection_setattr(const CollectionSpec &spec, Call &call) {
    const CollectionLines &lines = spec.lines;
    PyObject *self = call.self(), *key = call.arg(1), *value = call.arg(2);
    const int private_name =
        is_private_name(call, self, key, spec.private_names, lines.setattr_prefix, lines.setattr_compare);
    if (private_name < 0)
        return nullptr;
    if (private_name) {
        if (hand_to_base(*spec.made_class, self, key, value) < 0)
            return call.fail(lines.setattr_hand_over);
        Py_RETURN_NONE;
    }
    if (assertions_enabled() && !call.asserts(spec.accepts(value), lines.setattr_member_check))
        return nullptr;
    Ref table(table_of(spec, self));
    if (!table || set_item(table.get(), key, value) < 0)
        return call.fail(lines.setattr_store);
    Py_RETURN_NONE;
}

PyObject *collection_delattr(const CollectionSpec &spec, Call &call) {
    const CollectionLines &lines = spec.lines;
    PyObject *self = call.self(), *item = call.arg(1);
    const int private_name =
        is_private_name(call, self, item, spec.private_names, lines.delattr_prefix, lines.delattr_compare);
    if (private_name < 0)
        return nullptr;
    if (private_name) {
        if (hand_to_base(*spec.made_class, self, item, nullptr) < 0)
            return call.fail(lines.delattr_hand_over);
        Py_RETURN_NONE;
    }
    Ref table(table_of(spec, self));
    if (!table || delete_item(table.get(), item) < 0)
        return call.fail(lines.delattr_remove);
    Py_RETURN_NONE;
}

PyObject *collection_getitem(const CollectionSpec &spec, Call &call) {
    Ref table(table_of(spec, call.self()));
    PyObject *member = table ? get_item(table.get(), call.arg(1)) : nullptr;
    return member ? member : call.fail(spec.lines.getitem);
}

PyObject *collection_setitem(const CollectionSpec &spec, Call &call) {
    const CollectionLines &lines = spec.lines;
    PyObject *key = call.arg(1), *value = call.arg(2);
    if (assertions_enabled() && (!call.asserts(PyUnicode_Check(key), lines.setitem_key_check) ||
                                 !call.asserts(spec.accepts(value), lines.setitem_member_check)))
        return nullptr;
    Ref table(table_of(spec, call.self()));
    if (!table || set_item(table.get(), key, value) < 0)
        return call.fail(lines.setitem_store);
    Py_RETURN_NONE;
}

PyObject *collection_delitem(const CollectionSpec &spec, Call &call) {
    Ref table(table_of(spec, call.self()));
    if (!table || delete_item(table.get(), call.arg(1)) < 0)
        return call.fail(spec.lines.delitem);
    Py_RETURN_NONE;
}

PyObject *collection_rename(const CollectionSpec &spec, Call &call) {
    const CollectionLines &lines = spec.lines;
    PyObject *self = call.self(), *old_name = call.arg(1), *new_name = call.arg(2);
    const int same = PyObject_RichCompareBool(old_name, new_name, Py_EQ);
    if (same < 0)
        return call.fail(lines.rename_equal);
    if (same)
        Py_RETURN_NONE;
    Ref table(table_of(spec, self));
    const int has_old = table ? PySequence_Contains(table.get(), old_name) : -1;
    if (has_old < 0)
        return call.fail(lines.rename_old_test);
    if (!has_old) {
        Ref message(PyUnicode_FromFormat("Old name `%S` does not exist.", old_name));
        if (message)
            raise_with(captured.KeyError, message.get());
        return call.fail(lines.rename_old_error);
    }
    const int has_new = PySequence_Contains(table.get(), new_name);
    if (has_new < 0)
        return call.fail(lines.rename_new_test);
    if (has_new) {
        Ref message(PyUnicode_FromFormat("New name `%S` already exists.", new_name));
        if (message)
            raise_with(captured.KeyError, message.get());
        return call.fail(lines.rename_new_error);
    }
    if (assertions_enabled() &&
        !call.asserts(PyUnicode_Check(new_name) && PyUnicode_GetLength(new_name) > 0, lines.rename_new_check))
        return nullptr;
    if (spec.rename_through_items) {
        Ref member(PyObject_GetItem(self, old_name));
        if (!member)
            return call.fail(lines.rename_read);
        if (PyObject_DelItem(self, old_name) < 0)
            return call.fail(lines.rename_remove);
        if (PyObject_SetItem(self, new_name, member.get()) < 0)
            return call.fail(lines.rename_store);
        Py_RETURN_NONE;
    }
    Ref member(get_item(table.get(), old_name));
    if (!member)
        return call.fail(lines.rename_read);
    if (delete_item(table.get(), old_name) < 0)
        return call.fail(lines.rename_remove);
    if (set_item(table.get(), new_name, member.get()) < 0)
        return call.fail(lines.rename_store);
    Py_RETURN_NONE;
}
