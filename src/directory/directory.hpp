// ParameterDirectory: its declaration (declaration.cpp), and the bodies of
// its folder members.
#pragma once
#include "table/table.hpp"

extern const TableClass directory_table;
// The name "ParameterDirectory" in the module namespace.
extern GlobalName directory_name;
// The private name of its table of books and directories.
extern InternedName directory_parameters_name;
// The class as the module made it, whatever the namespace names later.
extern PyObject *made_directory_class;

// The statements of the folder members that can fail.
enum class BackupStep { NewList = 1, Listing, Iteration, Match, BookPath, BackupPath, Tests, Rename, Append };
enum class DirectorySave {
    Plan = 1, MakeFolder, NoBackups, FolderCheck, Backup, SubDirectory, Book, BackupIteration, BackupRemoval
};
enum class DirectoryLoad { Listing = 1, NewDirectory, Entries, EntryPath, FolderTest, SubFolder, FileTest, Book };

PyObject *directory_backup_books(Call &call);
PyObject *directory_save(Call &call);
PyObject *directory_load(Call &call);
