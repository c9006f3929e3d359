// ParameterDirectory: the description of its table, and the bodies of its
// folder members.
#pragma once
#include "table/table.hpp"

extern const TableClass directory_table;

PyObject *directory_backup_books(Call &call);
PyObject *directory_save(Call &call);
PyObject *directory_load(Call &call);
