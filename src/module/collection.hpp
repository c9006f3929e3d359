// The behaviour that ParameterBook and ParameterDirectory share: a named
// table of members in a private dict, reached by attribute and by item,
// deep-copied through the members' own clone(), renamed, cleared. Each class
// describes itself with a CollectionSpec; the members' bodies are the
// templates at the end, instantiated with that description.
#pragma once
#include "module/call.hpp"
#include "module/globals.hpp"
#include "module/table.hpp"

// The source lines of the statements of each member.
struct CollectionLines {
    int init_table, init_items, init_name_check, init_member_check, init_clone, init_store;
    int clone;
    int items;
    int names;
    int clear;
    int getattr;
    int setattr_prefix, setattr_compare, setattr_hand_over, setattr_member_check, setattr_store;
    int delattr_prefix, delattr_compare, delattr_hand_over, delattr_remove;
    int getitem;
    int setitem_key_check, setitem_member_check, setitem_store;
    int delitem;
    int rename_equal, rename_old_test, rename_old_error, rename_new_test, rename_new_error, rename_new_check,
        rename_read, rename_remove, rename_store;
};

struct CollectionSpec {
    PyObject *const *table_name;  // the private name of the table, "_<Class>__parameters"
    PrivateNames private_names;   // what __setattr__ and __delattr__ hand to the base class
    PyObject **made_class;        // the class as the module made it
    GlobalName *class_name;       // the module-level name that clone() calls
    Body init_body;               // the class's __init__, for making copies directly
    Body setattr_body;            // the class's __setattr__, for storing its table directly
    // 1 when `value` may be stored in the table, 0 when not, -1 on error
    // (with the module-level names the check uses looked up at each call).
    int (*accepts)(PyObject *value);
    // rename moves the member through the object's own item protocol
    // (self[old], del self[old], self[new] = member) instead of the table.
    bool rename_through_items;
    CollectionLines lines;
};

PyObject *collection_init(const CollectionSpec &spec, Call &call);
PyObject *collection_clone(const CollectionSpec &spec, Call &call);
PyObject *collection_items(const CollectionSpec &spec, Call &call);
PyObject *collection_names(const CollectionSpec &spec, Call &call);
PyObject *collection_clear(const CollectionSpec &spec, Call &call);
PyObject *collection_getattr(const CollectionSpec &spec, Call &call);
PyObject *collection_setattr(const CollectionSpec &spec, Call &call);
PyObject *collection_delattr(const CollectionSpec &spec, Call &call);
PyObject *collection_getitem(const CollectionSpec &spec, Call &call);
PyObject *collection_setitem(const CollectionSpec &spec, Call &call);
PyObject *collection_delitem(const CollectionSpec &spec, Call &call);
PyObject *collection_rename(const CollectionSpec &spec, Call &call);

// The bodies, one instantiation per class.
template <const CollectionSpec &spec> PyObject *init_body(Call &call) { return collection_init(spec, call); }
template <const CollectionSpec &spec> PyObject *clone_body(Call &call) { return collection_clone(spec, call); }
template <const CollectionSpec &spec> PyObject *items_body(Call &call) { return collection_items(spec, call); }
template <const CollectionSpec &spec> PyObject *names_body(Call &call) { return collection_names(spec, call); }
template <const CollectionSpec &spec> PyObject *clear_body(Call &call) { return collection_clear(spec, call); }
template <const CollectionSpec &spec> PyObject *getattr_body(Call &call) { return collection_getattr(spec, call); }
template <const CollectionSpec &spec> PyObject *setattr_body(Call &call) { return collection_setattr(spec, call); }
template <const CollectionSpec &spec> PyObject *delattr_body(Call &call) { return collection_delattr(spec, call); }
template <const CollectionSpec &spec> PyObject *getitem_body(Call &call) { return collection_getitem(spec, call); }
template <const CollectionSpec &spec> PyObject *setitem_body(Call &call) { return collection_setitem(spec, call); }
template <const CollectionSpec &spec> PyObject *delitem_body(Call &call) { return collection_delitem(spec, call); }
template <const CollectionSpec &spec> PyObject *rename_body(Call &call) { return collection_rename(spec, call); }
