#include "table/construct.hpp"

#include "module/fast_paths.hpp"
#include "module/names.hpp"
#include "module/ref.hpp"

Ref new_instance(PyTypeObject *type) {
    Ref no_arguments(PyTuple_New(0));
    return Ref(no_arguments ? type->tp_new(type, no_arguments.get(), nullptr) : nullptr);
}

PyObject *construct(PyObject *cls, PyObject *made_class, Body init_body, PyObject *const *args, Py_ssize_t count,
                    PyObject *keywords) {
    PyTypeObject *type = reinterpret_cast<PyTypeObject *>(cls);
    Ref init;
    DictKeywords kind = DictKeywords::ByName;
    if (cls == made_class && Py_TYPE(cls) == &PyType_Type && type->tp_new == PyBaseObject_Type.tp_new &&
        count < kMaxParameters)
        init = own_init(type, init_body, keywords, kind);
    if (!init) {
        Ref arguments(PyTuple_New(count));
        if (!arguments)
            return nullptr;
        for (Py_ssize_t i = 0; i < count; ++i) {
            Py_INCREF(args[i]);
            PyTuple_SET_ITEM(arguments.get(), i, args[i]);
        }
        return PyObject_Call(cls, arguments.get(), keywords);
    }
    Ref self = new_instance(type);
    if (!self)
        return nullptr;
    PyObject *positional[kMaxParameters] = {self.get()};
    for (Py_ssize_t i = 0; i < count; ++i)
        positional[i + 1] = args[i];
    Ref done(call_function_with_dict(as_function(init), positional, count + 1, keywords, kind));
    if (!done)
        return nullptr;
    return self.release();
}

bool made_as_module_makes(PyObject *cls, PyObject *made, Body init, Body setattr,
                          std::initializer_list<PyObject *> tables) {
    PyTypeObject *type = reinterpret_cast<PyTypeObject *>(cls);
    PyObject *order = type->tp_mro;
    if (cls != made || Py_TYPE(cls) != &PyType_Type || type->tp_new != PyBaseObject_Type.tp_new || !order ||
        !PyTuple_CheckExact(order) || PyTuple_GET_SIZE(order) != 2 ||
        PyTuple_GET_ITEM(order, 1) != reinterpret_cast<PyObject *>(&PyBaseObject_Type) ||
        !own_member(type, names.dunder_init, init) || !own_member(type, names.dunder_setattr, setattr))
        return false;
    for (PyObject *table : tables)
        if (_PyType_Lookup(type, table))
            return false;
    return true;
}

bool finalised_quietly(PyTypeObject *type) { return !_PyType_Lookup(type, names.dunder_del); }
