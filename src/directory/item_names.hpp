// The check that a save runs over the whole tree before it touches the disk:
// every item name must address an entry of its own inside its folder.
#pragma once
#include "module/python.hpp"

// True when every item of `directory`, and of each directory below it, may
// be saved under `folder`; otherwise false with a ValueError that names the
// offending path.
bool check_item_names(PyObject *directory, PyObject *folder);
