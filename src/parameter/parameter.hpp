// The bodies of the members of Parameter.
#pragma once
#include "module/call.hpp"

// Attributes and access.
PyObject *parameter_init(Call &call);
PyObject *parameter_clone(Call &call);
PyObject *parameter_items(Call &call);
PyObject *parameter_names(Call &call);
PyObject *parameter_clear(Call &call);
PyObject *parameter_getattr(Call &call);
PyObject *parameter_setattr(Call &call);
PyObject *parameter_delattr(Call &call);
PyObject *parameter_get(Call &call);
PyObject *parameter_getitem(Call &call);
PyObject *parameter_setitem(Call &call);
PyObject *parameter_delitem(Call &call);

// Descriptions.
PyObject *parameter_description(Call &call);
PyObject *parameter_get_description(Call &call);
PyObject *parameter_set_description(Call &call);
PyObject *parameter_all_descriptions(Call &call);

// Dictionary form.
PyObject *parameter_to_dict(Call &call);
PyObject *parameter_from_dict(Call &call);

// cls(description, **attributes), as clone and from_dict make a parameter.
PyObject *make_parameter(PyObject *cls, PyObject *description, PyObject *attributes);
