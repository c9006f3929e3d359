// _clone_attribute: an independent deep copy of one attribute value.
#include "module/call.hpp"
#include "module/calls.hpp"
#include "module/classes.hpp"
#include "module/globals.hpp"
#include "module/names.hpp"
#include "module/recursion.hpp"

namespace {

constexpr int kComplexLine = 28;
constexpr int kNewListLine = 30;
constexpr int kListIterationLine = 31;
constexpr int kListAppendLine = 32;
constexpr int kNewDictLine = 34;
constexpr int kItemsLine = 35;
constexpr int kKeyCloneLine = 36;
constexpr int kValueCloneLine = 37;
constexpr int kStoreLine = 38;
constexpr int kRaiseLine = 40;

PyObject *clone_value(Call &call, PyObject *attr);

// A nested value is cloned by whatever `_clone_attribute` names in the module
// at that moment; while that is still this function, its body is entered
// directly, counted against the recursion limit as a call would be.
PyObject *clone_nested(Call &call, PyObject *item) {
    Ref clone_function(lookup_global(names.clone_attribute));
    if (!clone_function)
        return nullptr;
    if (clone_function.get() != reinterpret_cast<const PyObject *>(call.function()))
        return call_one(clone_function.get(), item);
    RecursionGuard guard;
    if (!guard.entered())
        return nullptr;
    Call nested(call.function());
    return clone_value(nested, item);
}

PyObject *clone_complex(Call &call, PyObject *attr) {
    if (PyComplex_CheckExact(attr))
        return PyComplex_FromCComplex(PyComplex_AsCComplex(attr));
    Ref real(PyObject_GetAttr(attr, names.real));
    if (!real)
        return call.fail(kComplexLine);
    Ref imag(PyObject_GetAttr(attr, names.imag));
    if (!imag)
        return call.fail(kComplexLine);
    PyObject *result = PyObject_CallFunctionObjArgs(reinterpret_cast<PyObject *>(&PyComplex_Type), real.get(),
                                                    imag.get(), nullptr);
    return result ? result : call.fail(kComplexLine);
}

bool append_clone(Call &call, PyObject *result, PyObject *item) {
    Ref cloned(clone_nested(call, item));
    if (!cloned || PyList_Append(result, cloned.get()) < 0)
        return call.fail(kListAppendLine), false;
    return true;
}

PyObject *clone_list(Call &call, PyObject *attr) {
    Ref result(PyList_New(0));
    if (!result)
        return call.fail(kNewListLine);
    if (PyList_CheckExact(attr)) {
        // Walked by index up to the list's current length.
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(attr); ++i) {
            Ref item = Ref::borrow(PyList_GET_ITEM(attr, i));
            if (!append_clone(call, result.get(), item.get()))
                return nullptr;
        }
        return result.release();
    }
    Ref iterator(PyObject_GetIter(attr));
    if (!iterator)
        return call.fail(kListIterationLine);
    while (Ref item{PyIter_Next(iterator.get())}) {
        if (!append_clone(call, result.get(), item.get()))
            return nullptr;
    }
    return PyErr_Occurred() ? call.fail(kListIterationLine) : result.release();
}

bool store_clones(Call &call, PyObject *result, PyObject *key, PyObject *value) {
    Ref key_clone(clone_nested(call, key));
    if (!key_clone)
        return call.fail(kKeyCloneLine), false;
    Ref value_clone(clone_nested(call, value));
    if (!value_clone)
        return call.fail(kValueCloneLine), false;
    if (PyDict_SetItem(result, key_clone.get(), value_clone.get()) < 0)
        return call.fail(kStoreLine), false;
    return true;
}

PyObject *clone_dict(Call &call, PyObject *attr) {
    Ref result(PyDict_New());
    if (!result)
        return call.fail(kNewDictLine);
    if (PyDict_CheckExact(attr)) {
        // The same walk as over attr.items(), which an exact dict cannot override.
        const Py_ssize_t size = PyDict_Size(attr);
        Py_ssize_t position = 0;
        PyObject *key, *value;
        while (PyDict_Next(attr, &position, &key, &value)) {
            Ref held_key = Ref::borrow(key), held_value = Ref::borrow(value);
            if (!store_clones(call, result.get(), key, value))
                return nullptr;
            if (PyDict_Size(attr) != size) {
                PyErr_SetString(PyExc_RuntimeError, "dictionary changed size during iteration");
                return call.fail(kItemsLine);
            }
        }
        return result.release();
    }
    Ref items(PyObject_CallMethodObjArgs(attr, names.items, nullptr));
    if (!items)
        return call.fail(kItemsLine);
    Ref iterator(PyObject_GetIter(items.get()));
    if (!iterator)
        return call.fail(kItemsLine);
    while (Ref element{PyIter_Next(iterator.get())}) {
        PyObject *key, *value;
        if (!unpack_pair(element.get(), &key, &value))
            return call.fail(kItemsLine);
        Ref held_key(key), held_value(value);
        if (!store_clones(call, result.get(), key, value))
            return nullptr;
    }
    return PyErr_Occurred() ? call.fail(kItemsLine) : result.release();
}

PyObject *raise_unsupported(Call &call, PyObject *attr) {
    Ref empty(PyUnicode_FromString(""));
    Ref type_text(empty ? PyObject_Format(reinterpret_cast<PyObject *>(Py_TYPE(attr)), empty.get()) : nullptr);
    Ref message(type_text ? PyUnicode_FromFormat("Error: Unsupported attribute type: %U", type_text.get()) : nullptr);
    if (message)
        raise_with(captured.TypeError, message.get());
    return call.fail(kRaiseLine);
}

PyObject *clone_value(Call &call, PyObject *attr) {
    if (PyLong_Check(attr) || PyFloat_Check(attr) || PyUnicode_Check(attr)) {
        Py_INCREF(attr);
        return attr;
    }
    if (PyComplex_Check(attr))
        return clone_complex(call, attr);
    if (PyList_Check(attr))
        return clone_list(call, attr);
    if (PyDict_Check(attr))
        return clone_dict(call, attr);
    return raise_unsupported(call, attr);
}

PyObject *clone_attribute(Call &call) { return clone_value(call, call.arg(0)); }

}  // namespace

const MemberSpec clone_attribute_member = {
    "_clone_attribute", MemberKind::Function, 24, "(attr)", nullptr, clone_attribute,
};
