// ParameterDirectory: its table of books and directories.
#include "book/book.hpp"
#include "directory/directory.hpp"
#include "module/names.hpp"

namespace {

// Is an item: an instance of whatever the module names ParameterDirectory or
// ParameterBook now, tested in that order.
int is_item(PyObject *value) {
    for (GlobalName *kind : {&directory_name, &book_name}) {
        Ref cls = kind->lookup();
        const int is_instance = cls ? PyObject_IsInstance(value, cls.get()) : -1;
        if (is_instance != 0)
            return is_instance;
    }
    return 0;
}

const RoutedName item_table_name[] = {{&names.directory_parameters, &names.parameters}};

}  // namespace

const TableClass directory_table = {
    &names.directory_parameters,
    {&made_directory_class, &names.ParameterDirectory, item_table_name, 1, nullptr},
    {&made_directory_class, &names.ParameterDirectory, item_table_name, 1, nullptr},
    is_item,
    &made_directory_class,
    setattr_body<directory_table>,
    getattr_body<directory_table>,
    getattro_slot<directory_table>,
    &directory_name,
    init_body<directory_table>,
    true,
};
