// Reading a book file as the builtin open(path, "r", encoding="utf8") and
// read() do, without the file objects.
#pragma once
#include "module/python.hpp"

// The whole content of the file at `path`, as read_text_file gives it (the
// same text, or the same error at the same step; see book/text_file.hpp).
// While the module's captured open is the interpreter's own and `path` an
// exact str, the file is opened, read and closed here with the system calls
// that the file objects make (and the audit event of open), decoded as UTF-8
// and its line ends translated as text mode translates them.
PyObject *read_book_text(PyObject *path, bool &open_failed);
