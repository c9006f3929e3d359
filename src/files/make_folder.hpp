// Creating a missing folder with every missing level above it.
#pragma once
#include "module/python.hpp"

// _os.makedirs(folder), where a folder that another process or thread made
// at the same moment is no error: true, or false with the exception set.
bool make_folder(PyObject *folder);
