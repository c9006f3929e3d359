// Parameter: the dictionary form {"name", "description", "attributes"}.
#include "module/protocols.hpp"
#include "table/construct.hpp"
#include "module/globals.hpp"
#include "module/names.hpp"
#include "module/notes.hpp"
#include "parameter/parameter.hpp"

namespace {

// `key in data`, where data is a dict or None.
int has_key(PyObject *data, PyObject *key) {
    if (data == Py_None) {
        PyErr_SetString(PyExc_TypeError, "'NoneType' object is not iterable");
        return -1;
    }
    return PyDict_Contains(data, key);
}

// "default" in description and isinstance(description["default"], str)
int has_default_text(PyObject *description) {
    const int present = PySequence_Contains(description, names.default_);
    if (present <= 0)
        return present;
    Ref text(get_item(description, names.default_));
    return text ? PyUnicode_Check(text.get()) != 0 : -1;
}

// An assertion check of the form, with a note saying which one failed.
bool check_form(const Call &call, int holds, FromDict statement, const char *failed) {
    if (call.asserts(holds, statement))
        return true;
    if (holds == 0)
        add_note_format("Parameter.from_dict: %s", failed);
    return false;
}

}  // namespace

bool parameter_form_parts(PyObject *self, Ref &description, Ref &attributes) {
    description = Ref(attribute_of(parameter_table, self, parameter_description_name.get()));
    if (description)
        attributes = Ref(attribute_of(parameter_table, self, parameter_attributes_name.get()));
    return bool(attributes);
}

PyObject *parameter_form(PyObject *name, PyObject *description, PyObject *attributes) {
    Ref form(PyDict_New());
    if (!form || PyDict_SetItem(form.get(), names.name, name) < 0 ||
        PyDict_SetItem(form.get(), names.description, description) < 0 ||
        PyDict_SetItem(form.get(), names.attributes, attributes) < 0)
        return nullptr;
    return form.release();
}

PyObject *parameter_to_dict(Call &call) {
    Ref description, attributes;
    if (!parameter_form_parts(call.self(), description, attributes))
        return call.fail(Whole::Body);
    PyObject *form = parameter_form(call.arg(1), description.get(), attributes.get());
    return form ? form : call.fail(Whole::Body);
}

PyObject *parameter_from_dict(Call &call) {
    PyObject *data = call.arg(0);
    if (assertions_enabled()) {
        if (!check_form(call, has_key(data, names.name), FromDict::NameKey, "the form has no \"name\"") ||
            !check_form(call, has_key(data, names.description), FromDict::DescriptionKey, "the form has no \"description\"") ||
            !check_form(call, has_key(data, names.attributes), FromDict::AttributesKey, "the form has no \"attributes\""))
            return nullptr;
    }
    Ref name(get_item(data, names.name));
    if (!name)
        return call.fail(FromDict::NameRead);
    Ref description(get_item(data, names.description));
    if (!description)
        return call.fail(FromDict::DescriptionRead);
    Ref attributes(get_item(data, names.attributes));
    if (!attributes)
        return call.fail(FromDict::AttributesRead);
    if (assertions_enabled()) {
        if (!check_form(call, PyUnicode_Check(name.get()), FromDict::NameCheck, "\"name\" is not a str") ||
            !check_form(call, PyDict_Check(description.get()), FromDict::DescriptionCheck, "\"description\" is not a dict") ||
            !check_form(call, PyDict_Check(attributes.get()), FromDict::AttributesCheck, "\"attributes\" is not a dict") ||
            !check_form(call, has_default_text(description.get()), FromDict::DefaultCheck, "the description has no \"default\" text"))
            return nullptr;
    }
    Ref cls(parameter_name.lookup());
    Ref parameter(cls ? make_parameter(cls.get(), description.get(), attributes.get()) : nullptr);
    PyObject *pair = parameter ? PyTuple_Pack(2, name.get(), parameter.get()) : nullptr;
    return pair ? pair : call.fail(FromDict::Construct);
}
