// ParameterDirectory: the table of books and directories and its access protocol.
#include "directory/directory.hpp"
#include "module/classes.hpp"
#include "module/names.hpp"

namespace {

GlobalName directory_name(names.ParameterDirectory);
GlobalName book_name(names.ParameterBook);

// Is an item: an instance of whatever the module names ParameterDirectory or
// ParameterBook now, tested in that order.
int is_item(PyObject *value) {
    for (GlobalName *kind : {&directory_name, &book_name}) {
        Ref cls(kind->lookup());
        const int is_instance = cls ? PyObject_IsInstance(value, cls.get()) : -1;
        if (is_instance != 0)
            return is_instance;
    }
    return 0;
}

const PrivateName item_table[] = {{&names.directory_parameters, &names.parameters}};

}  // namespace

const CollectionSpec directory_collection = {
    &names.directory_parameters,
    {&made_directory_class, &names.ParameterDirectory, item_table, 1, nullptr},
    &made_directory_class,
    &directory_name,
    init_body<directory_collection>,
    setattr_body<directory_collection>,
    is_item,
    true,
    {
        319, 321, 322, 323, 324, 325,  // __init__
        332,                           // clone
        335,                           // items
        338,                           // names
        374,                           // clear
        341,                           // __getattr__
        344, 345, 346, 348, 349,       // __setattr__
        352, 353, 354, 356,            // __delattr__
        362,                           // __getitem__
        365, 366, 367,                 // __setitem__
        359,                           // __delitem__
        384, 386, 387, 388, 389, 390, 391, 392, 393,  // rename
    },
};
