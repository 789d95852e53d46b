// PyRef: an owned (strong) reference to a Python object, shared by the
// extension modules.
#pragma once

#include <Python.h>

#include <utility>

namespace marlune::python {

// An owned (strong) reference, released when it goes out of scope.
class PyRef {
public:
    PyRef() noexcept = default;
    explicit PyRef(PyObject* object) noexcept : object_(object) {}
    PyRef(const PyRef&) = delete;
    PyRef& operator=(const PyRef&) = delete;
    PyRef(PyRef&& other) noexcept : object_(other.release()) {}
    PyRef& operator=(PyRef&& other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    ~PyRef() { Py_XDECREF(object_); }

    PyObject* get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }
    PyObject* release() noexcept { return std::exchange(object_, nullptr); }

private:
    PyObject* object_ = nullptr;
};

}  // namespace marlune::python
