// The entries of an exact dict in the order, and with the errors, of a walk
// over its items(), which an exact dict cannot override: without the view,
// its iterator and a pair for each entry.
#pragma once
#include "module/python.hpp"

class ItemsWalk {
public:
    // `dict` is an exact dict that the caller holds for the whole walk.
    explicit ItemsWalk(PyObject *dict) noexcept : dict_(dict), size_(PyDict_Size(dict)), left_(size_) {}
    ItemsWalk(const ItemsWalk &) = delete;
    ItemsWalk &operator=(const ItemsWalk &) = delete;

    // The next entry (borrowed): true; false at the end, or with RuntimeError
    // set when the dict has changed since the walk started, as the iterator
    // of items() checks it at each step.
    bool next(PyObject **key, PyObject **value) {
        if (PyDict_Size(dict_) != size_) {
            PyErr_SetString(PyExc_RuntimeError, "dictionary changed size during iteration");
            return false;
        }
        if (!PyDict_Next(dict_, &position_, key, value))
            return false;
        if (YOL_DICT_ITERATION_COUNTS_ENTRIES && left_ == 0) {
            PyErr_SetString(PyExc_RuntimeError, "dictionary keys changed during iteration");
            return false;
        }
        --left_;
        return true;
    }

private:
    PyObject *dict_;
    Py_ssize_t size_, left_;
    Py_ssize_t position_ = 0;
};
