// ParameterBook: the description of its table, and the bodies of its file members.
#pragma once
#include "table/table.hpp"

extern const TableClass book_table;

// ParameterBook.ExtName, read at each use from the class the module names now.
PyObject *book_extension();

PyObject *book_str(Call &call);
PyObject *book_save(Call &call);
PyObject *book_load(Call &call);
