#include "module/protocols.hpp"

#include <utility>

void raise_with(PyObject *exception_class, PyObject *argument) {
    Ref exception(PyObject_CallOneArg(exception_class, argument));
    if (!exception)
        return;
    if (!PyExceptionInstance_Check(exception.get())) {
        PyErr_SetString(PyExc_TypeError, "exceptions must derive from BaseException");
        return;
    }
    PyErr_SetObject(reinterpret_cast<PyObject *>(Py_TYPE(exception.get())), exception.get());
}

namespace {

void raise_need_more(Py_ssize_t found) {
    PyErr_Format(PyExc_ValueError, "need more than %zd value%.1s to unpack", found, found == 1 ? "" : "s");
}

void raise_too_many() { PyErr_Format(PyExc_ValueError, "too many values to unpack (expected %zd)", Py_ssize_t(2)); }

}  // namespace

bool unpack_pair(PyObject *pair, Ref &first, Ref &second) {
    if (PyTuple_CheckExact(pair) || PyList_CheckExact(pair)) {
        Py_ssize_t size = Py_SIZE(pair);
        if (size != 2) {
            size > 2 ? raise_too_many() : raise_need_more(size);
            return false;
        }
        PyObject *const *items = PyTuple_CheckExact(pair) ? &PyTuple_GET_ITEM(pair, 0) : &PyList_GET_ITEM(pair, 0);
        first = Ref::borrow(items[0]);
        second = Ref::borrow(items[1]);
        return true;
    }
    Ref iterator(PyObject_GetIter(pair));
    if (!iterator)
        return false;
    Ref values[2];
    for (Py_ssize_t i = 0; i < 2; ++i) {
        values[i].reset(PyIter_Next(iterator.get()));
        if (!values[i]) {
            if (!PyErr_Occurred())
                raise_need_more(i);
            return false;
        }
    }
    Ref extra(PyIter_Next(iterator.get()));
    if (extra) {
        raise_too_many();
        return false;
    }
    if (PyErr_Occurred())
        return false;
    first = std::move(values[0]);
    second = std::move(values[1]);
    return true;
}

bool ItemPairs::start(PyObject *mapping) {
    static PyObject *items = PyUnicode_InternFromString("items");
    Ref pairs(items ? PyObject_CallMethodObjArgs(mapping, items, nullptr) : nullptr);
    iterator_.reset(pairs ? PyObject_GetIter(pairs.get()) : nullptr);
    return bool(iterator_);
}

bool ItemPairs::next(Ref &first, Ref &second) {
    Ref pair(PyIter_Next(iterator_.get()));
    return pair && unpack_pair(pair.get(), first, second);
}

PyObject *keyword_mapping(PyObject *mapping) {
    if (PyDict_CheckExact(mapping))
        return PyDict_Copy(mapping);
    int is_mapping = PyDict_Check(mapping) ? 1 : PyObject_HasAttrString(mapping, "keys");
    if (!is_mapping) {
        PyErr_Format(PyExc_TypeError, "argument after ** must be a mapping, not %.200s", Py_TYPE(mapping)->tp_name);
        return nullptr;
    }
    Ref copy(PyDict_New());
    if (!copy || PyDict_Merge(copy.get(), mapping, 1) < 0)
        return nullptr;
    return copy.release();
}
