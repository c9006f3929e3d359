// ParameterBook: its declaration (declaration.cpp), and the bodies of its file members.
#pragma once
#include "table/table.hpp"

extern const TableClass book_table;
// The name "ParameterBook" in the module namespace.
extern GlobalName book_name;
// The private name of its table of parameters.
extern InternedName book_parameters_name;
// The class as the module made it, whatever the namespace names later.
extern PyObject *made_book_class;

// The statements of __str__, save and load that can fail.
enum class BookText { NewList = 1, Names, Sort, Read, ToDict, Dumps };
enum class BookSave { FolderPart = 1, FolderTest, MakeFolder, FolderCheck, Text, ExtensionTest, NewName, Open, Write };
enum class BookLoad {
    FileCheck = 1, Open, Read, Decode, ListCheck, NewDict, Iteration, ElementCheck, FromDict, Store, NewBook
};

// ParameterBook.ExtName, read at each use from the class the module names now.
PyObject *book_extension();

PyObject *book_str(Call &call);
PyObject *book_save(Call &call);
PyObject *book_load(Call &call);

// What a directory save needs, which prepares every book file before it
// touches the disk and writes them afterwards.
//
// 1 when the module writes the file of `book` itself (its class keeps the
// module's save and __str__, and every parameter the module's to_dict), so
// that its text can be built in advance; 0 when the book's own code saves it.
int module_writes_book(PyObject *book);

// The text of the book file at `path`, with the checks of save and encoded as
// UTF-8 (kept with the text): a new reference, or nullptr with the error, the
// traceback entries of the steps of save it failed in, and a note naming
// the file (and the parameter and attribute at fault).
PyObject *prepare_book_file(PyObject *book, PyObject *path);

// Writes a prepared text to `path` as save writes it; false with the error,
// the traceback entry of save and a note naming the file.
bool write_book_file(PyObject *book, PyObject *path, PyObject *text);
