// The text form of a book, which __str__ returns and its file holds.
#pragma once
#include "book/book.hpp"

// The text form of `book`: a new reference, or nullptr with the exception set
// and `failed` the statement of __str__ that failed.
PyObject *text_form(PyObject *book, BookText &failed);
