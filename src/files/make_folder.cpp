#include "files/make_folder.hpp"

#include "module/globals.hpp"
#include "module/names.hpp"
#include "module/pending_error.hpp"
#include "module/ref.hpp"
#include "module/standard_names.hpp"

bool make_folder(PyObject *folder) {
    Ref made(call_in(os_name, names.makedirs, folder));
    if (made)
        return true;
    if (!PyErr_ExceptionMatches(PyExc_FileExistsError))
        return false;
    // Made meanwhile by another process: that is what was asked for.
    PendingError exists;
    const int is_folder = test_in(path_name, names.isdir, folder);
    if (is_folder != 0)
        exists.discard();
    return is_folder > 0;
}
