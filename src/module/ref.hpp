// Ref: the owner of one strong reference to a Python object.
#pragma once
#include "module/python.hpp"

#include <utility>

class Ref {
public:
    Ref() noexcept = default;
    // Takes over a new reference (as the C API returns them); nullptr stays empty.
    explicit Ref(PyObject *owned) noexcept : object_(owned) {}
    Ref(Ref &&other) noexcept : object_(other.release()) {}
    Ref &operator=(Ref &&other) noexcept {
        reset(other.release());
        return *this;
    }
    Ref(const Ref &) = delete;
    Ref &operator=(const Ref &) = delete;
    ~Ref() { Py_XDECREF(object_); }

    // A new strong reference to a borrowed object.
    static Ref borrow(PyObject *borrowed) noexcept {
        Py_XINCREF(borrowed);
        return Ref(borrowed);
    }

    PyObject *get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }

    // Hands the reference back to the caller (usually the interpreter).
    PyObject *release() noexcept { return std::exchange(object_, nullptr); }

    void reset(PyObject *owned = nullptr) noexcept {
        PyObject *old = std::exchange(object_, owned);
        Py_XDECREF(old);
    }

private:
    PyObject *object_ = nullptr;
};
