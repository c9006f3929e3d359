#include "book/native_load.hpp"

#include "book/book.hpp"
#include "book/json_read.hpp"
#include "module/fast_paths.hpp"
#include "module/names.hpp"
#include "module/standard_loads.hpp"
#include "module/standard_names.hpp"
#include "parameter/clone.hpp"
#include "parameter/parameter.hpp"
#include "table/construct.hpp"

#include <algorithm>
#include <new>
#include <vector>

namespace {

// The json module's own frames above the nesting levels, and some to spare:
// values are read here only where json and the copies of the general path
// would have the room to read them.
constexpr int general_path_frames = 16;

// The deepest nesting read here, which bounds the C stack the reading takes.
constexpr int deepest_native_nesting = 1000;

// Whether Parameter.from_dict is the module's own.
bool own_from_dict(PyTypeObject *type) {
    PyObject *found = _PyType_Lookup(type, names.from_dict);
    if (!found || Py_TYPE(found) != &PyStaticMethod_Type)
        return false;
    Ref function(Py_TYPE(found)->tp_descr_get(found, nullptr, reinterpret_cast<PyObject *>(type)));
    if (!function)
        PyErr_Clear();
    return function && own_function(function.get(), parameter_from_dict);
}

// 1 when the general path of the load would give what the native one makes:
// the module's _json is the json module it imported, with the json.loads it
// kept (and `constants` is what that gives for NaN and the infinities); the
// module's Parameter and ParameterBook are the classes it made, which it makes
// instances of, copies and fills with its own code; and _clone_attribute is
// its own. 0 when not, -1 with an interruption raised.
int native_load_stands_in(DecoderConstants &constants) {
    Ref json(json_name.lookup());
    Ref parameter(json ? parameter_name.lookup() : Ref());
    Ref book(parameter ? book_name.lookup() : Ref());
    if (!book) {
        if (!PyErr_ExceptionMatches(PyExc_Exception))
            return -1;
        PyErr_Clear();
        return 0;
    }
    if (json.get() != standard.json)
        return 0;
    const int json_kept = json_loads_as_kept(constants);
    if (json_kept <= 0)
        return json_kept;
    PyTypeObject *parameter_type = reinterpret_cast<PyTypeObject *>(parameter.get());
    if (!made_as_module_makes(parameter.get(), made_parameter_class, parameter_init, parameter_table.setattr_body,
                              {parameter_description_name.get(), parameter_attributes_name.get()}) ||
        !own_member(parameter_type, names.clone, parameter_clone) || !own_from_dict(parameter_type) ||
        !finalised_quietly(parameter_type) ||
        !made_as_module_makes(book.get(), made_book_class, book_table.init_body, book_table.setattr_body,
                              {book_parameters_name.get()}))
        return 0;
    const int own_clone = clone_is_own();
    if (own_clone < 0) {
        if (!PyErr_ExceptionMatches(PyExc_Exception))
            return -1;
        PyErr_Clear();
        return 0;
    }
    return own_clone;
}

// The parts of a form, borrowed from it.
struct FormParts {
    PyObject *name, *description, *attributes;
};

// The exact str at `key` in the exact dict `form`, or nullptr.
PyObject *str_at(PyObject *form, PyObject *key) {
    PyObject *found = PyDict_GetItemWithError(form, key);
    return found && PyUnicode_CheckExact(found) ? found : nullptr;
}

// Whether `element` is a form that from_dict and the constructors take as it
// is: {"name": str, "description": {"default": str, ...}, "attributes": {...}}
// and no other key, with no attribute named as an argument of the constructor.
bool plain_form(PyObject *element, FormParts &parts) {
    if (!PyDict_CheckExact(element) || PyDict_Size(element) != 3)
        return false;
    parts.name = str_at(element, names.name);
    parts.description = PyDict_GetItemWithError(element, names.description);
    parts.attributes = PyDict_GetItemWithError(element, names.attributes);
    if (!parts.name || !parts.description || !PyDict_CheckExact(parts.description) ||
        !str_at(parts.description, names.default_) || !parts.attributes || !PyDict_CheckExact(parts.attributes))
        return false;
    return !PyDict_GetItemWithError(parts.attributes, names.self) &&
           !PyDict_GetItemWithError(parts.attributes, names.description);
}

// A parameter of the module's class holding the two tables themselves, each
// stored as the module's own __setattr__ hands it to object.
PyObject *made_parameter(const FormParts &parts) {
    Ref self = new_instance(reinterpret_cast<PyTypeObject *>(made_parameter_class));
    if (!self || PyObject_GenericSetAttr(self.get(), parameter_description_name.get(), parts.description) < 0 ||
        PyObject_GenericSetAttr(self.get(), parameter_attributes_name.get(), parts.attributes) < 0)
        return nullptr;
    return self.release();
}

// The book of the forms in `content`, whose values nothing else holds.
PyObject *made_book(PyObject *content) {
    const Py_ssize_t count = PyList_GET_SIZE(content);
    std::vector<FormParts> forms(static_cast<std::size_t>(count));
    for (Py_ssize_t i = 0; i < count; ++i)
        if (!plain_form(PyList_GET_ITEM(content, i), forms[static_cast<std::size_t>(i)]))
            return nullptr;
    Ref table(PyDict_New());
    if (!table)
        return nullptr;
    for (const FormParts &parts : forms) {
        Ref parameter(made_parameter(parts));
        if (!parameter || PyDict_SetItem(table.get(), parts.name, parameter.get()) < 0)
            return nullptr;
    }
    Ref book = new_instance(reinterpret_cast<PyTypeObject *>(made_book_class));
    if (!book || PyObject_GenericSetAttr(book.get(), book_parameters_name.get(), table.get()) < 0)
        return nullptr;
    return book.release();
}

}  // namespace

PyObject *native_book_load(PyObject *text) {
    DecoderConstants constants;
    const int stands_in = native_load_stands_in(constants);
    if (stands_in <= 0)
        return nullptr;
    JsonReading how;
    how.nan = constants.nan;
    how.infinity = constants.infinity;
    how.negative_infinity = constants.negative_infinity;
    how.takes_null = false;  // no constructor copies a None
    PyObject *const known_keys[] = {names.name, names.description, names.attributes, names.default_};
    how.known_keys = known_keys;
    how.known_key_count = sizeof known_keys / sizeof *known_keys;
    how.deepest = std::min(yol_recursion_headroom(PyThreadState_Get()) - general_path_frames, deepest_native_nesting);
    Ref content(read_json(text, how));
    if (!content || !PyList_CheckExact(content.get()))
        return nullptr;
    PyObject *book;
    try {
        book = made_book(content.get());
    } catch (const std::bad_alloc &) {
        book = nullptr;
    }
    if (!book && PyErr_Occurred() && PyErr_ExceptionMatches(PyExc_Exception))
        PyErr_Clear();  // out of memory: the general path meets it again, or not
    return book;
}
