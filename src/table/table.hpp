// The table layer of the module's classes. Each keeps its contents in a dict
// in the instance dictionary under a private name; it is read, assigned and
// deleted by attribute and by item, its own private names pass to the base
// class, it is listed through live views, cleared and renamed. A class is
// described by one TableClass; the bodies are instantiated with it, so that
// another class would be a declaration and its own bodies.
#pragma once
#include "module/call.hpp"
#include "module/globals.hpp"
#include "table/lookup.hpp"
#include "table/routing.hpp"

struct TableClass {
    PyObject *const *table_name;  // the private name of the table, "_<Class>__<table>"
    RoutedNames assigned_past;    // what __setattr__ hands to the base class
    RoutedNames deleted_past;     // what __delattr__ hands to the base class
    // 1 when `value` may be stored in the table, 0 when not, -1 on error
    // (the module-level names it uses are looked up at each call); nullptr
    // when any value may.
    int (*accepts)(PyObject *value);
    PyObject **made_class;  // the class as the module made it
    Body setattr_body;      // its __setattr__, which routes the table's own name
    // For a table of objects copied through their own clone():
    GlobalName *class_name;     // the module-level name that clone() calls
    Body init_body;             // the class's __init__, to make copies directly
    bool rename_through_items;  // rename moves through self[old], del self[old], self[new] = ...
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

// The attribute lookup installed on the class: the interpreter's own with the
// class's __getattr__ body as its fallback.
template <const TableClass &table> constexpr getattrofunc table_getattro = getattro_with_fallback<getattr_body<table>>;
