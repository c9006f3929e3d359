// The table layer of the module's classes. Each keeps its contents in a dict
// in the instance dictionary under a private name; it is read, assigned and
// deleted by attribute and by item, its own private names pass to the base
// class, it is listed through live views, cleared and renamed. A class is
// declared once, as a TableClass; the bodies are instantiated with it, so
// that another class would be a declaration and its own bodies.
#pragma once
#include "module/call.hpp"
#include "module/fast_paths.hpp"
#include "module/globals.hpp"
#include "table/lookup.hpp"
#include "table/routing.hpp"

// One class of the module: what the module body builds (its name, line,
// members and slots, and where the class made is kept; the name is also
// what clone() calls) and its table. Each class assembles its declaration
// field by field, starting from table_class below, so that every field is
// given by name.
struct TableClass : ClassSpec {
    const InternedName *table_name = nullptr;  // the private name of the table, "_<Class>__<table>"
    RoutedNames assigned_past;                 // what __setattr__ hands to the base class
    RoutedNames deleted_past;                  // what __delattr__ hands to the base class
    // 1 when `value` may be stored in the table, 0 when not, -1 on error
    // (the module-level names it uses are looked up at each call); nullptr
    // when any value may.
    int (*accepts)(PyObject *value) = nullptr;
    Body init_body = nullptr;           // its __init__, by which copies are made directly
    bool rename_through_items = false;  // rename moves through self[old], del self[old], self[new] = ...
    // Given by table_class:
    Body setattr_body = nullptr;  // its __setattr__, which routes the table's own name
    Body getattr_body = nullptr;  // its __getattr__: the fallback of the attribute lookup slot
};

// The statements of the shared bodies that can fail.
enum class Whole { Body = 1 };
enum class Init { NewTable = 1, Items, NameCheck, MemberCheck, Clone, Store };
enum class SetAttribute { Prefix = 1, Compare, HandOver, ValueCheck, Store };
enum class DeleteAttribute { Prefix = 1, Compare, HandOver, Remove };
enum class SetItem { KeyCheck = 1, ValueCheck, Store };
enum class Rename { Equal = 1, OldTest, OldError, NewTest, NewError, NewCheck, Read, Remove, Store };

PyObject *table_items(const TableClass &table, Call &call);
PyObject *table_names(const TableClass &table, Call &call);
PyObject *table_clear(const TableClass &table, Call &call);
PyObject *table_getattr(const TableClass &table, Call &call);
PyObject *table_setattr(const TableClass &table, Call &call);
PyObject *table_delattr(const TableClass &table, Call &call);
PyObject *table_getitem(const TableClass &table, Call &call);
PyObject *table_setitem(const TableClass &table, Call &call);
PyObject *table_delitem(const TableClass &table, Call &call);
PyObject *table_rename(const TableClass &table, Call &call);
// self.<name> by ordinary attribute access: read straight from the instance
// dictionary where that comes first (reads_instance_first); while the
// object's class has the lookup that the module installs, that lookup is run
// without the indirection.
inline PyObject *attribute_of(const TableClass &table, PyObject *self, PyObject *name, Reads reads = Reads::Once) {
    PyObject *found = nullptr;
    if (reads_instance_first(self, table.slots.getattro) &&
        read_from_instance(self, name, table.slots.getattro, &found, reads) != 0)
        return found;
    return has_installed_getattro(self, table.slots.getattro) ? table.slots.getattro(self, name)
                                                              : read_attribute(self, name);
}

// The same, read first straight from the instance dictionary where ordinary
// access would find it there, which runs no code; where it does not,
// ordinary access answers, which may run code, and `quiet` is cleared.
inline Ref attribute_of_quietly(const TableClass &table, PyObject *self, PyObject *name, bool &quiet) {
    PyObject *found = nullptr;
    if (read_from_instance(self, name, table.slots.getattro, &found) != 0)
        return Ref(found);
    quiet = false;
    return Ref(attribute_of(table, self, name));
}

// The class that a copy of `self` is made in: a subclass's instance's own
// class, or whatever the module names the class itself now.
Ref class_of_copy(const TableClass &table, PyObject *self);

// For a table of objects copied through their own clone().
PyObject *table_init(const TableClass &table, Call &call);
PyObject *table_clone(const TableClass &table, Call &call);

template <const TableClass &table> PyObject *items_body(Call &call) { return table_items(table, call); }
template <const TableClass &table> PyObject *names_body(Call &call) { return table_names(table, call); }
template <const TableClass &table> PyObject *clear_body(Call &call) { return table_clear(table, call); }
template <const TableClass &table> PyObject *getattr_body(Call &call) { return table_getattr(table, call); }
template <const TableClass &table> PyObject *setattr_body(Call &call) { return table_setattr(table, call); }
template <const TableClass &table> PyObject *delattr_body(Call &call) { return table_delattr(table, call); }
template <const TableClass &table> PyObject *getitem_body(Call &call) { return table_getitem(table, call); }
template <const TableClass &table> PyObject *setitem_body(Call &call) { return table_setitem(table, call); }
template <const TableClass &table> PyObject *delitem_body(Call &call) { return table_delitem(table, call); }
template <const TableClass &table> PyObject *rename_body(Call &call) { return table_rename(table, call); }
template <const TableClass &table> PyObject *init_body(Call &call) { return table_init(table, call); }
template <const TableClass &table> PyObject *clone_body(Call &call) { return table_clone(table, call); }

// The statements of __getattr__, __getitem__, __setitem__ and __delitem__
// without the call. They give the value (or nullptr), the statement that
// failed (SetItem{} when none) and whether the item was removed; each sets
// the exception on failure.
PyObject *read_for_fallback(const TableClass &table, PyObject *self, PyObject *name);
inline PyObject *read_item(const TableClass &table, PyObject *self, PyObject *key) {
    Ref contents(attribute_of(table, self, table.table_name->get(), Reads::Repeated));
    return contents ? get_item(contents.get(), key) : nullptr;
}
SetItem store_item(const TableClass &table, PyObject *self, PyObject *key, PyObject *value);
bool remove_item(const TableClass &table, PyObject *self, PyObject *key);

// The slots that run these bodies without a call (see DirectSlots): item
// reads, assignments and deletions, and attribute reads with the class's
// __getattr__ body as the fallback.
PyObject *lookup_through(const TableClass &table, PyObject *self, PyObject *name);
// type(self).__init__(self, *args, **keywords), checked to give None, as the
// interpreter's generic slot calls it.
int init_through_lookup(PyObject *self, PyObject *args, PyObject *keywords);
// The same, with the class's own __init__ body (table.init_body) run without
// the lookup and the bound method while the class has it.
int init_through(const TableClass &table, PyObject *self, PyObject *args, PyObject *keywords);
// Names the failure of a read of self[key] in the traceback, as the failure
// of the class's __getitem__ (which is `getitem`); gives nullptr.
PyObject *subscript_failed(Body getitem, PyObject *self);
int assign_subscript_through(const TableClass &table, Body setitem, Body delitem, PyObject *self, PyObject *key,
                             PyObject *value);

// __getattr__'s answer for a str name and an exact dict as the table, read
// straight from the instance dictionary; nullptr with no exception otherwise.
PyObject *quick_fallback_read(const TableClass &table, const FunctionObject *function, PyObject *self,
                              PyObject *name);
template <const TableClass &table>
PyObject *getattr_quick(const FunctionObject *function, PyObject *const *args, Py_ssize_t count) {
    return count == 2 ? quick_fallback_read(table, function, args[0], args[1]) : nullptr;
}

template <const TableClass &table> PyObject *getattro_slot(PyObject *self, PyObject *name) {
    return lookup_through(table, self, name);
}
template <const TableClass &table> PyObject *subscript_slot(PyObject *self, PyObject *key) {
    // The slot stands on the class only while its __getitem__ is the module's own.
    PyObject *value = read_item(table, self, key);
    return value ? value : subscript_failed(getitem_body<table>, self);
}
template <const TableClass &table> int assign_subscript_slot(PyObject *self, PyObject *key, PyObject *value) {
    return assign_subscript_through(table, setitem_body<table>, delitem_body<table>, self, key, value);
}

template <const TableClass &table> int init_slot(PyObject *self, PyObject *args, PyObject *keywords) {
    return init_through(table, self, args, keywords);
}

// The start of the declaration of `table`: what the table layer gives every
// class, namely the bodies it runs itself and the slots that run the item
// and attribute bodies and __init__.
template <const TableClass &table> constexpr TableClass table_class() {
    TableClass declared{};
    declared.setattr_body = setattr_body<table>;
    declared.getattr_body = getattr_body<table>;
    declared.slots.getattro = getattro_slot<table>;
    declared.slots.subscript = subscript_slot<table>;
    declared.slots.assign_subscript = assign_subscript_slot<table>;
    declared.slots.init = init_slot<table>;
    return declared;
}
