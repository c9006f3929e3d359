// The two steps of a book save: its file prepared (named, its text built,
// checked and encoded) before the disk is touched, then written.
// ParameterBook.save takes them, and so does a directory save for each book
// that the module saves itself: it prepares the files of its whole tree, then
// writes them. A failing step gives the statement of save that failed, for
// the caller to report; an error of the text or of the file has a note naming
// the file (and the parameter and attribute at fault).
#pragma once
#include "book/book.hpp"
#include "files/text_file.hpp"
#include "module/ref.hpp"

struct BookFile {
    Ref path;          // the name the file is written under
    Ref text;          // its text (a str), which holds `encoded`
    Utf8Text encoded;  // the text as UTF-8: the str's own bytes where it keeps them
    bool prepared() const { return bool(text); }
};

// Prepares the file that book.save(filename, append) writes: the text is
// str(book), refused where it is the module's own text form and holds a value
// that ParameterBook.load refuses; the name is `filename`, with ExtName added
// when `append` is true and `filename` does not end with it. False with the
// error and `failed` set.
bool prepare_book_file(PyObject *book, PyObject *filename, PyObject *append, BookFile &file, BookSave &failed);

// Writes a prepared file, atomically where it can; false with the error and
// `failed` set.
bool write_book_file(const BookFile &file, BookSave &failed);

// 1 when a directory save may take these steps for `book` at the time it
// plans the tree (its class keeps the module's save and __str__, and every
// parameter the module's to_dict: no code of the book's own runs then);
// 0 when the book's own save is called at its turn.
int module_writes_book(PyObject *book);

// The traceback entry of the step `statement` of the book's save, for a
// directory save that takes the step without calling save.
void fail_as_book_save(PyObject *book, BookSave statement);
