// Reading and writing the whole text of a file as UTF-8, through the
// module's captured `open` and its module-level `_path`.
#pragma once
#include "module/python.hpp"

// The whole content of the file at `path`, decoded as UTF-8 in text mode.
// The builtin file object opens and reads without the interpreter lock, and
// runs the signal handlers when a signal interrupts it.
// `open_failed` tells whether opening or closing (rather than reading) failed.
PyObject *read_text_file(PyObject *path, bool &open_failed);

// A text encoded as UTF-8: `size` bytes at `data`, which whoever gives it
// keeps alive (and unchanged) for as long as it is used.
struct Utf8Text {
    const char *data = nullptr;
    Py_ssize_t size = 0;
};

// Writes `text` to the file at `path` so that the file holds either its old
// content or the whole new text at every moment: the text goes to a temporary
// file beside it, which then replaces it, keeping the file's permission bits
// and, where this process may give them, its owner and group. A symbolic link
// is written through. The file is written in place instead, where replacing it
// would change what a plain write keeps: a file that is not a regular one
// (opened with truncation, written, closed, as a plain write would), a file
// with other hard links, a file in a folder that refuses a new file or the
// replacement (for lack of rights, not room). A regular file written in place
// keeps its old text when the write fails: the new text goes over the old one,
// which is written back on failure. Opening, writing and closing happen
// without the interpreter lock; a signal handler that raises ends a blocked
// save. On failure the temporary file is removed, and `write_failed` tells
// whether writing (rather than opening, closing or replacing) failed.
bool write_text_file_atomically(PyObject *path, const Utf8Text &text, bool &write_failed);
