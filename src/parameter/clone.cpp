// _clone_attribute: an independent deep copy of one attribute value.
#include "module/call.hpp"
#include "module/protocols.hpp"
#include "module/fast_paths.hpp"
#include "module/globals.hpp"
#include "module/names.hpp"
#include "module/recursion.hpp"
#include "parameter/clone.hpp"

namespace {

enum class Statement { Complex = 1, NewList, ListIteration, ListAppend, NewDict, Items, KeyClone, ValueClone, Store, Raise };

// One walk of the body over a value and what it holds: the running call,
// and the recursion count of its thread, found once for all its levels.
struct Walk {
    Call &call;
    int &depth;
};

PyObject *clone_attribute(Call &call);
PyObject *clone_value(Walk &walk, PyObject *attr);
PyObject *clone_dict(Walk &walk, PyObject *attr);
PyObject *clone_exact_list(Walk &walk, PyObject *attr);

GlobalName clone_function_name(clone_attribute_member.name);

// The body, entered by a call or directly, for a value that is not a plain
// int, float or str (which is its own clone): walked one level deeper
// against the recursion limit, as a call of a Python function would count
// it (the interpreter counts none of the module's).
PyObject *clone_walked(Walk &walk, PyObject *value) {
    RecursionGuard guard(walk.depth);
    if (!guard.entered())
        return nullptr;
    return clone_value(walk, value);
}

PyObject *clone_walked(Call &call, PyObject *value) {
    Walk walk{call, RecursionGuard::thread_depth()};
    return clone_walked(walk, value);
}

// _clone_attribute(value), through whatever the module names
// `_clone_attribute` at this moment. While that is still this function its
// body is entered directly, within the running walk if there is one.
PyObject *clone_through_name(Walk *running, PyObject *value) {
    Ref clone_function = clone_function_name.lookup();
    if (!clone_function)
        return nullptr;
    FunctionObject *own = own_function(clone_function.get(), clone_attribute);
    if (!own)
        return PyObject_CallOneArg(clone_function.get(), value);
    if (is_exact_scalar(value)) {
        Py_INCREF(value);
        return value;
    }
    if (running)
        return clone_walked(*running, value);
    Call call(own);
    return clone_walked(call, value);
}

PyObject *clone_nested(Walk &walk, PyObject *item) {
    if (!clone_known_own())
        return clone_through_name(&walk, item);
    if (is_exact_scalar(item)) {
        Py_INCREF(item);
        return item;
    }
    return clone_walked(walk, item);
}

PyObject *clone_complex(Call &call, PyObject *attr) {
    if (PyComplex_CheckExact(attr))
        return PyComplex_FromCComplex(PyComplex_AsCComplex(attr));
    Ref real(PyObject_GetAttr(attr, names.real));
    if (!real)
        return call.fail(Statement::Complex);
    Ref imag(PyObject_GetAttr(attr, names.imag));
    if (!imag)
        return call.fail(Statement::Complex);
    PyObject *result = PyObject_CallFunctionObjArgs(reinterpret_cast<PyObject *>(&PyComplex_Type), real.get(),
                                                    imag.get(), nullptr);
    return result ? result : call.fail(Statement::Complex);
}

PyObject *clone_exact_list(Walk &walk, PyObject *attr) {
    // Walked by index up to the list's current length, which a nested clone
    // may change. The copy starts as a slice of the list, whose elements are
    // replaced by their clones in turn; a plain scalar stays as it is while
    // the module names this function, which one check covers for a run of
    // them: nothing between two of them runs code.
    Ref result(PyList_GetSlice(attr, 0, PyList_GET_SIZE(attr)));
    if (!result)
        return walk.call.fail(Statement::NewList);
    bool own_checked = false;
    Py_ssize_t i = 0;
    for (; i < PyList_GET_SIZE(attr); ++i) {
        // Held: the lookup and the clone below may run Python code, which may empty the list.
        Ref held = Ref::borrow(PyList_GET_ITEM(attr, i));
        PyObject *item = held.get();
        const bool in_place = i < PyList_GET_SIZE(result.get()) && PyList_GET_ITEM(result.get(), i) == item;
        if (in_place && is_exact_scalar(item)) {
            if (!own_checked) {
                const int own = clone_function_name.denotes(clone_attribute);
                if (own < 0)
                    return walk.call.fail(Statement::ListAppend);
                own_checked = own > 0;
            }
            if (own_checked)
                continue;
        }
        own_checked = false;
        PyObject *cloned = clone_nested(walk, item);
        if (!cloned)
            return walk.call.fail(Statement::ListAppend);
        if (i < PyList_GET_SIZE(result.get())) {
            PyObject *previous = PyList_GET_ITEM(result.get(), i);
            PyList_SET_ITEM(result.get(), i, cloned);
            Py_DECREF(previous);
        } else {
            const int appended = PyList_Append(result.get(), cloned);
            Py_DECREF(cloned);
            if (appended < 0)
                return walk.call.fail(Statement::ListAppend);
        }
    }
    if (i < PyList_GET_SIZE(result.get()) &&
        PyList_SetSlice(result.get(), i, PyList_GET_SIZE(result.get()), nullptr) < 0)
        return walk.call.fail(Statement::ListAppend);
    return result.release();
}

PyObject *clone_list(Walk &walk, PyObject *attr) {
    if (PyList_CheckExact(attr))
        return clone_exact_list(walk, attr);
    Ref result(PyList_New(0));
    if (!result)
        return walk.call.fail(Statement::NewList);
    Ref iterator(PyObject_GetIter(attr));
    if (!iterator)
        return walk.call.fail(Statement::ListIteration);
    while (Ref item{PyIter_Next(iterator.get())}) {
        Ref cloned(clone_nested(walk, item.get()));
        if (!cloned || PyList_Append(result.get(), cloned.get()) < 0)
            return walk.call.fail(Statement::ListAppend);
    }
    return PyErr_Occurred() ? walk.call.fail(Statement::ListIteration) : result.release();
}

bool store_clones(Walk &walk, PyObject *result, PyObject *key, PyObject *value) {
    Ref key_clone(clone_nested(walk, key));
    if (!key_clone)
        return walk.call.fail(Statement::KeyClone), false;
    Ref value_clone(clone_nested(walk, value));
    if (!value_clone)
        return walk.call.fail(Statement::ValueClone), false;
    if (PyDict_SetItem(result, key_clone.get(), value_clone.get()) < 0)
        return walk.call.fail(Statement::Store), false;
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

PyObject *clone_dict(Walk &walk, PyObject *attr) {
    Call &call = walk.call;
    if (PyDict_CheckExact(attr) && PyDict_Size(attr) > 0 && holds_only_scalars(attr)) {
        // Cloned by this function, every entry would be stored as it is.
        const int own = clone_function_name.denotes(clone_attribute);
        if (own < 0)
            return call.fail(Statement::KeyClone);
        // Checked again on the copy: the lookup and the copy's allocation may
        // run Python code, which may have stored other values in the dict.
        Ref copy(own ? PyDict_Copy(attr) : nullptr);
        if (own && !copy)
            return call.fail(Statement::NewDict);
        if (copy && holds_only_scalars(copy.get()))
            return copy.release();
    }
    Ref result(PyDict_New());
    if (!result)
        return call.fail(Statement::NewDict);
    if (PyDict_CheckExact(attr)) {
        // The same walk as over attr.items(), which an exact dict cannot override.
        const Py_ssize_t size = PyDict_Size(attr);
        Py_ssize_t position = 0;
        PyObject *key, *value;
        while (PyDict_Next(attr, &position, &key, &value)) {
            Ref held_key = Ref::borrow(key), held_value = Ref::borrow(value);
            if (!store_clones(walk, result.get(), key, value))
                return nullptr;
            if (PyDict_Size(attr) != size) {
                PyErr_SetString(PyExc_RuntimeError, "dictionary changed size during iteration");
                return call.fail(Statement::Items);
            }
        }
        return result.release();
    }
    ItemPairs pairs;
    if (!pairs.start(attr))
        return call.fail(Statement::Items);
    Ref key, value;
    while (pairs.next(key, value))
        if (!store_clones(walk, result.get(), key.get(), value.get()))
            return nullptr;
    return PyErr_Occurred() ? call.fail(Statement::Items) : result.release();
}

PyObject *raise_unsupported(Call &call, PyObject *attr) {
    Ref empty(PyUnicode_FromString(""));
    Ref type_text(empty ? PyObject_Format(reinterpret_cast<PyObject *>(Py_TYPE(attr)), empty.get()) : nullptr);
    Ref message(type_text ? PyUnicode_FromFormat("Error: Unsupported attribute type: %U", type_text.get()) : nullptr);
    if (message)
        raise_with(captured.TypeError, message.get());
    return call.fail(Statement::Raise);
}

PyObject *clone_value(Walk &walk, PyObject *attr) {
    // The common exact types first: the checks below call into the type
    // system for anything that is not an instance of the type asked about.
    if (is_exact_scalar(attr)) {
        Py_INCREF(attr);
        return attr;
    }
    PyTypeObject *type = Py_TYPE(attr);
    if (type == &PyList_Type)
        return clone_exact_list(walk, attr);
    if (type == &PyDict_Type)
        return clone_dict(walk, attr);
    if (PyLong_Check(attr) || PyFloat_Check(attr) || PyUnicode_Check(attr)) {
        Py_INCREF(attr);
        return attr;
    }
    if (PyComplex_Check(attr))
        return clone_complex(walk.call, attr);
    if (PyList_Check(attr))
        return clone_list(walk, attr);
    if (PyDict_Check(attr))
        return clone_dict(walk, attr);
    return raise_unsupported(walk.call, attr);
}

PyObject *clone_attribute(Call &call) {
    PyObject *value = call.arg(0);
    if (is_exact_scalar(value)) {
        Py_INCREF(value);
        return value;
    }
    return clone_walked(call, value);
}

}  // namespace

int clone_is_own() { return clone_function_name.denotes(clone_attribute); }

bool clone_known_own() {
    PyObject *found = clone_function_name.remembered();
    return found && own_function(found, clone_attribute);
}

PyObject *clone_through_module(PyObject *value) { return clone_through_name(nullptr, value); }

namespace {

constexpr MemberSpec clone_attribute_row = {
    "_clone_attribute", MemberKind::Function, 24, "(attr)", nullptr, clone_attribute,
    {at(Statement::Complex, 28), at(Statement::NewList, 30), at(Statement::ListIteration, 31),
     at(Statement::ListAppend, 32), at(Statement::NewDict, 34), at(Statement::Items, 35),
     at(Statement::KeyClone, 36), at(Statement::ValueClone, 37), at(Statement::Store, 38), at(Statement::Raise, 40)},
};
constexpr MemberSpec clone_attribute_rows[] = {clone_attribute_row};
static_assert(statement_lines_in_place(clone_attribute_rows, 45), "the statement lines of _clone_attribute are out of place");

}  // namespace

constexpr MemberSpec clone_attribute_member = clone_attribute_row;
