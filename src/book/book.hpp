// ParameterBook: the description of its table, and the bodies of its file members.
#pragma once
#include "module/collection.hpp"

extern const CollectionSpec book_collection;

PyObject *book_str(Call &call);
PyObject *book_save(Call &call);
PyObject *book_load(Call &call);
