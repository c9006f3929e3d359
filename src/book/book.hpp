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
