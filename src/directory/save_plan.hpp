// The plan of a directory save, made before the save touches the disk: the
// whole tree with every name rendered once and checked, and the file of
// every book that the module saves itself prepared as ParameterBook.save
// prepares it. Whatever can be known in advance fails here, while every
// previous book is still in place.
#pragma once
#include "book/save_steps.hpp"
#include "module/ref.hpp"

#include <memory>
#include <vector>

struct FolderPlan;

struct ItemPlan {
    Ref item;
    Ref path;  // where the item goes: folder + separator + name, + "." + extension for a book
    bool is_directory = false;
    BookFile book_file;                  // a book the module saves itself: its file, prepared
    std::unique_ptr<FolderPlan> folder;  // a sub-directory saved from this plan
    // Neither of the two: the item's own save is called with `path`.
};

struct FolderPlan {
    Ref folder;
    std::vector<ItemPlan> items;  // in table order
    Ref book_files;               // the set of the entry names of the book files saved into the folder
};

// Plans the save of `directory` into `folder`; false with the exception set
// (a ValueError naming the path of a refused name, or the error of a book
// text, with its traceback entries and note).
bool plan_save(PyObject *directory, PyObject *folder, FolderPlan &plan);
