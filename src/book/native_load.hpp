// ParameterBook.load's reading of a book file straight from its text: while
// nothing that the load calls on the way has changed, the values are read as
// json.loads gives them and each parameter and the book are made once, with
// the tables that the module's own from_dict and constructors would store.
#pragma once
#include "module/python.hpp"

// The book that ParameterBook.load makes of `text`, the content of a book
// file: a new reference. nullptr with no exception set where the load is left
// to its general path, which then runs on the same text: the module's json,
// classes or functions are not the module's own as it made them, the text is
// one that json or the checks of the load would refuse, or a value in it one
// that the constructors treat specially. nullptr with an exception set only
// for an interruption raised meanwhile.
PyObject *native_book_load(PyObject *text);
