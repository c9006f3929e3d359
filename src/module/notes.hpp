// Notes on the exception being raised: short lines that say which file,
// parameter or check an error comes from, while its type and message stay as
// they are. They go where `add_note` puts them (the `__notes__` list), on
// every supported version.
#pragma once
#include "module/python.hpp"

// Adds `note` (a str) to the exception being raised. A failure to add it
// leaves the exception as it was.
void add_note(PyObject *note);

// add_note of the text that PyUnicode_FromFormat makes of `format`.
void add_note_format(const char *format, ...);

// Whether a note of the exception being raised already contains `text`.
bool notes_mention(PyObject *text);
