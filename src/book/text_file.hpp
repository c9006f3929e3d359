// Reading and writing a book file's text, through the module's captured
// `open` and its module-level `_os` and `_path`.
#pragma once
#include "module/python.hpp"

// The whole content of the file at `path`, decoded as UTF-8 in text mode.
// `open_failed` tells whether opening or closing (rather than reading) failed.
PyObject *read_text_file(PyObject *path, bool &open_failed);

// Writes `text` as UTF-8 in text mode to the file at `path` so that the file
// holds either its old content or the whole new text at every moment: the
// text goes to a temporary file beside it, which then replaces it. The file
// keeps its permission bits; a symbolic link is written through. On failure
// the temporary file is removed, and `write_failed` tells whether writing
// (rather than opening, closing or replacing) failed.
bool write_text_file_atomically(PyObject *path, PyObject *text, bool &write_failed);
