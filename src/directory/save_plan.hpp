// The plan of a directory save, made before the save touches the disk: the
// whole tree with every name rendered once and checked, and the text of
// every book file that the module writes built and encoded. Whatever can be
// known in advance fails here, while every previous book is still in place.
#pragma once
#include "module/ref.hpp"

#include <memory>
#include <vector>

struct FolderPlan;

struct ItemPlan {
    Ref item;
    Ref path;  // where the item goes: folder + separator + name, + "." + extension for a book
    bool is_directory = false;
    Ref text;                            // a book file the module writes: its text, encoded
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
