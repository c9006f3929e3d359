#include "book/make_folder.hpp"

#include "module/globals.hpp"
#include "module/names.hpp"
#include "module/ref.hpp"

namespace {

GlobalName os_name(names.os);
GlobalName path_name(names.path);

}  // namespace

bool make_folder(PyObject *folder) {
    Ref made(call_in(os_name, "makedirs", folder));
    if (made)
        return true;
    if (!PyErr_ExceptionMatches(PyExc_FileExistsError))
        return false;
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    Ref held_type(type), held_value(value), held_traceback(traceback);
    const int is_folder = test_in(path_name, "isdir", folder);
    if (is_folder > 0)
        return true;
    if (is_folder == 0)
        PyErr_Restore(held_type.release(), held_value.release(), held_traceback.release());
    return false;
}
