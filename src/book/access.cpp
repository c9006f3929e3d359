// ParameterBook: its table of parameters.
#include "book/book.hpp"
#include "module/names.hpp"
#include "parameter/parameter.hpp"

namespace {

// Is a parameter: an instance of whatever the module names Parameter now.
int is_parameter(PyObject *value) {
    Ref parameter = parameter_name.lookup();
    return parameter ? PyObject_IsInstance(value, parameter.get()) : -1;
}

const RoutedName parameter_table_name[] = {{&names.book_parameters, &names.parameters}};

}  // namespace

const TableClass book_table = {
    &names.book_parameters,
    {&made_book_class, &names.ParameterBook, parameter_table_name, 1, nullptr},
    {&made_book_class, &names.ParameterBook, parameter_table_name, 1, nullptr},
    is_parameter,
    &made_book_class,
    setattr_body<book_table>,
    getattr_body<book_table>,
    getattro_slot<book_table>,
    &book_name,
    init_body<book_table>,
    false,
};
