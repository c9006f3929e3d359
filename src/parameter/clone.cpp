// _clone_attribute: an independent deep copy of one attribute value.
#include "module/call.hpp"
#include "module/calls.hpp"
#include "module/classes.hpp"
#include "module/globals.hpp"
#include "module/names.hpp"
#include "module/recursion.hpp"
#include "parameter/clone.hpp"

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
PyObject *clone_dict(Call &call, PyObject *attr);
PyObject *clone_exact_list(Call &call, PyObject *attr);

// Values that are their own clone and hold nothing to walk.
inline bool is_exact_scalar(PyObject *value) {
    PyTypeObject *type = Py_TYPE(value);
    return type == &PyUnicode_Type || type == &PyLong_Type || type == &PyFloat_Type || type == &PyBool_Type;
}

// Each nested value is cloned by whatever `_clone_attribute` names in the
// module at the moment of its call. While that is still this function its
// body is entered directly, counted against the recursion limit as a call
// would be, and a plain int, float or str (its own clone) is taken at once.
GlobalName clone_function_name(names.clone_attribute);

PyObject *clone_nested(Call &call, PyObject *item) {
    Ref clone_function(clone_function_name.lookup());
    if (!clone_function)
        return nullptr;
    if (clone_function.get() != reinterpret_cast<const PyObject *>(call.function()))
        return PyObject_CallOneArg(clone_function.get(), item);
    if (is_exact_scalar(item)) {
        Py_INCREF(item);
        return item;
    }
    RecursionGuard guard;
    if (!guard.entered())
        return nullptr;
    return clone_value(call, item);
}

// 1 when `item` is a plain scalar that this function, still named by the
// module, would give back as it is; 0 when not; -1 when the lookup fails.
int kept_as_it_is(const Call &call, PyObject *item) {
    if (!is_exact_scalar(item))
        return 0;
    return clone_function_name.refers_to(reinterpret_cast<PyObject *>(const_cast<FunctionObject *>(call.function())));
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

PyObject *clone_exact_list(Call &call, PyObject *attr) {
    // Walked by index up to the list's current length, which a nested clone
    // may change. The copy starts as a slice of the list, whose elements are
    // replaced by their clones in turn (a plain scalar by itself).
    Ref result(PyList_GetSlice(attr, 0, PyList_GET_SIZE(attr)));
    if (!result)
        return call.fail(kNewListLine);
    Py_ssize_t i = 0;
    for (; i < PyList_GET_SIZE(attr); ++i) {
        // Held: the checks and the clone below may run Python code, which may empty the list.
        Ref item = Ref::borrow(PyList_GET_ITEM(attr, i));
        if (i < PyList_GET_SIZE(result.get()) && PyList_GET_ITEM(result.get(), i) == item.get()) {
            const int kept = kept_as_it_is(call, item.get());
            if (kept < 0)
                return call.fail(kListAppendLine);
            if (kept)
                continue;
        }
        PyObject *cloned = clone_nested(call, item.get());
        if (!cloned)
            return call.fail(kListAppendLine);
        if (i < PyList_GET_SIZE(result.get())) {
            PyObject *previous = PyList_GET_ITEM(result.get(), i);
            PyList_SET_ITEM(result.get(), i, cloned);
            Py_DECREF(previous);
        } else {
            const int appended = PyList_Append(result.get(), cloned);
            Py_DECREF(cloned);
            if (appended < 0)
                return call.fail(kListAppendLine);
        }
    }
    if (i < PyList_GET_SIZE(result.get()) && PyList_SetSlice(result.get(), i, PyList_GET_SIZE(result.get()), nullptr) < 0)
        return call.fail(kListAppendLine);
    return result.release();
}

PyObject *clone_list(Call &call, PyObject *attr) {
    if (PyList_CheckExact(attr))
        return clone_exact_list(call, attr);
    Ref result(PyList_New(0));
    if (!result)
        return call.fail(kNewListLine);
    Ref iterator(PyObject_GetIter(attr));
    if (!iterator)
        return call.fail(kListIterationLine);
    while (Ref item{PyIter_Next(iterator.get())}) {
        Ref cloned(clone_nested(call, item.get()));
        if (!cloned || PyList_Append(result.get(), cloned.get()) < 0)
            return call.fail(kListAppendLine);
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

// Whether every key and value of the exact dict `attr` is a plain scalar.
bool holds_only_scalars(PyObject *attr) {
    Py_ssize_t position = 0;
    PyObject *key, *value;
    while (PyDict_Next(attr, &position, &key, &value))
        if (!is_exact_scalar(key) || !is_exact_scalar(value))
            return false;
    return true;
}

PyObject *clone_dict(Call &call, PyObject *attr) {
    if (PyDict_CheckExact(attr) && PyDict_Size(attr) > 0 && holds_only_scalars(attr)) {
        // Cloned by this function, every entry would be stored as it is.
        const int own = clone_function_name.refers_to(
            reinterpret_cast<PyObject *>(const_cast<FunctionObject *>(call.function())));
        if (own < 0)
            return call.fail(kKeyCloneLine);
        // Checked again on the copy: the lookup and the copy's allocation may
        // run Python code, which may have stored other values in the dict.
        Ref copy(own ? PyDict_Copy(attr) : nullptr);
        if (own && !copy)
            return call.fail(kNewDictLine);
        if (copy && holds_only_scalars(copy.get()))
            return copy.release();
    }
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
    // The common exact types first: the checks below call into the type
    // system for anything that is not an instance of the type asked about.
    if (is_exact_scalar(attr)) {
        Py_INCREF(attr);
        return attr;
    }
    PyTypeObject *type = Py_TYPE(attr);
    if (type == &PyList_Type)
        return clone_exact_list(call, attr);
    if (type == &PyDict_Type)
        return clone_dict(call, attr);
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

int kept_by_clone(PyObject *value) {
    if (!is_exact_scalar(value))
        return 0;
    Ref clone_function(clone_function_name.lookup());
    if (!clone_function)
        return -1;
    return Py_TYPE(clone_function.get()) == &FunctionType &&
           reinterpret_cast<FunctionObject *>(clone_function.get())->spec == &clone_attribute_member;
}

PyObject *clone_through_module(PyObject *value) {
    Ref clone_function(clone_function_name.lookup());
    if (!clone_function)
        return nullptr;
    if (Py_TYPE(clone_function.get()) != &FunctionType ||
        reinterpret_cast<FunctionObject *>(clone_function.get())->spec != &clone_attribute_member)
        return PyObject_CallOneArg(clone_function.get(), value);
    if (is_exact_scalar(value)) {
        Py_INCREF(value);
        return value;
    }
    RecursionGuard guard;
    if (!guard.entered())
        return nullptr;
    Call call(reinterpret_cast<FunctionObject *>(clone_function.get()));
    return clone_value(call, value);
}

const MemberSpec clone_attribute_member = {
    "_clone_attribute", MemberKind::Function, 24, "(attr)", nullptr, clone_attribute,
};
