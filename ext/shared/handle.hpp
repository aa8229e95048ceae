// The owning handle of every extension module: one new reference, released
// when the handle goes, so that a failure path needs no code of its own.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace tarnu::py {

class Ref {
 public:
  Ref() noexcept = default;
  explicit Ref(PyObject* new_reference) noexcept : ptr_(new_reference) {}
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& other) noexcept : ptr_(other.release()) {}
  Ref& operator=(Ref&& other) noexcept {
    // One use of `other`: the temporary takes it, then drops our old value.
    // cppcheck-suppress accessMoved
    Ref(std::move(other)).swap(*this);
    return *this;
  }
  ~Ref() { Py_XDECREF(ptr_); }

  PyObject* get() const noexcept { return ptr_; }
  PyObject* release() noexcept {
    PyObject* p = ptr_;
    ptr_ = nullptr;
    return p;
  }
  explicit operator bool() const noexcept { return ptr_ != nullptr; }
  void swap(Ref& other) noexcept { std::swap(ptr_, other.ptr_); }

 private:
  PyObject* ptr_ = nullptr;
};

}  // namespace tarnu::py
