// ParameterDirectory: the description of its table, and the bodies of its
// folder members.
#pragma once
#include "module/collection.hpp"

extern const CollectionSpec directory_collection;

PyObject *directory_backup_books(Call &call);
PyObject *directory_save(Call &call);
PyObject *directory_load(Call &call);
