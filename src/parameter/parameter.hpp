// Parameter: its declaration (declaration.cpp), the statements of its own
// bodies that can fail, and those bodies.
#pragma once
#include "table/table.hpp"

extern const TableClass parameter_table;
// The name "Parameter" in the module namespace.
extern GlobalName parameter_name;
// The private names of its tables of attributes and descriptions.
extern InternedName parameter_attributes_name;
extern InternedName parameter_description_name;
// The class as the module made it, whatever the namespace names later.
extern PyObject *made_parameter_class;

enum class ParameterInit {
    DescriptionCheck = 1, StrTable, DictSize, DefaultCheck, DictTable, Raise, AttributeTable, NameCheck, Clone
};
enum class Get { Lookup = 1, Read, Truth, Raise };
enum class Description { Language = 1, Lookup, Read };
enum class FromDict {
    NameKey = 1, DescriptionKey, AttributesKey, NameRead, DescriptionRead, AttributesRead,
    NameCheck, DescriptionCheck, AttributesCheck, DefaultCheck, Construct
};

// Attributes and access (the rest is the table layer's).
PyObject *parameter_init(Call &call);
PyObject *parameter_clone(Call &call);
PyObject *parameter_get(Call &call);
PyObject *parameter_get_quick(const FunctionObject *function, PyObject *const *args, Py_ssize_t count);

// Descriptions.
PyObject *parameter_description(Call &call);
PyObject *parameter_get_description(Call &call);
PyObject *parameter_set_description(Call &call);
PyObject *parameter_all_descriptions(Call &call);

// Dictionary form.
PyObject *parameter_to_dict(Call &call);
// What the module's to_dict puts into the form: the parameter's description
// and attribute tables, read as attributes; false with the exception set.
bool parameter_form_parts(PyObject *self, Ref &description, Ref &attributes);
// The form {"name", "description", "attributes"} of those parts: a new dict.
PyObject *parameter_form(PyObject *name, PyObject *description, PyObject *attributes);
PyObject *parameter_from_dict(Call &call);

// cls(description, **attributes), as clone and from_dict make a parameter.
PyObject *make_parameter(PyObject *cls, PyObject *description, PyObject *attributes);
// The same for clone, made without the call while the call would run only the
// module's own code and the tables hold plain scalars (direct_copy.cpp):
// nullptr with no exception set when the copy is left to the call.
PyObject *copy_parameter_directly(PyObject *cls, PyObject *description, PyObject *attributes);
