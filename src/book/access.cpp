// ParameterBook: the table of parameters and its access protocol.
#include "book/book.hpp"
#include "module/classes.hpp"
#include "module/names.hpp"

namespace {

GlobalName book_name(names.ParameterBook);
GlobalName parameter_name(names.Parameter);

// Is a parameter: an instance of whatever the module names Parameter now.
int is_parameter(PyObject *value) {
    Ref parameter(parameter_name.lookup());
    return parameter ? PyObject_IsInstance(value, parameter.get()) : -1;
}

const PrivateName parameter_table[] = {{&names.book_parameters, &names.parameters}};

}  // namespace

const CollectionSpec book_collection = {
    &names.book_parameters,
    {&made_book_class, &names.ParameterBook, parameter_table, 1, nullptr},
    &made_book_class,
    &book_name,
    init_body<book_collection>,
    setattr_body<book_collection>,
    is_parameter,
    false,
    {
        189, 191, 192, 193, 194, 195,  // __init__
        202,                           // clone
        205,                           // items
        212,                           // names
        219,                           // clear
        222,                           // __getattr__
        225, 226, 227, 229, 230,       // __setattr__
        233, 234, 235, 237,            // __delattr__
        240,                           // __getitem__
        243, 244, 245,                 // __setitem__
        248,                           // __delitem__
        257, 259, 260, 261, 262, 263, 265, 266, 267,  // rename
    },
};
