#include "module.hpp"

namespace tarnu::py {

namespace {

[[gnu::cold]] PyObject* refuse(const char* message) {
  PyErr_SetString(PyExc_ImportError, message);
  return nullptr;
}

}  // namespace

PyObject* ModuleCell::get() {
  const std::int64_t interpreter = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (interpreter == -1) {
    if (!PyErr_Occurred()) {
      PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
    }
    return nullptr;
  }
  const std::int64_t owner = interpreter_.load();
  if (owner != -1 && owner != interpreter) return refuse(other_interpreter_);
  if (module_ == nullptr) {
    Ref module(make_());
    if (!module) return nullptr;
    // The import lock serialises this; should two interpreters race
    // anyway, the first to finish keeps it.
    std::int64_t expected = -1;
    if (!interpreter_.compare_exchange_strong(expected, interpreter) && expected != interpreter) {
      return refuse(other_interpreter_);
    }
    if (module_ == nullptr) module_ = module.release();
  }
  return Py_NewRef(module_);
}

}  // namespace tarnu::py
