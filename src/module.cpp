// The module's entry point and layout: `_tarnu` with its submodules
// `distance`, `geodesic` and `units`, created once per process.
#include <atomic>
#include <cstdint>

#include "boundary.hpp"
#include "submodules.hpp"

namespace _tarnu {
namespace {

constexpr const char module_doc[] =
    "Native core of tarnu, exposed as tarnu._tarnu: great-circle and WGS84 geodesic "
    "distances, destinations and unit conversions.";

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "_tarnu",
    module_doc,
    0,        // no per-module state
    nullptr,  // no functions of its own: they live in the submodules
    nullptr,  // single-phase initialisation: no slots, traverse, clear or free
    nullptr,
    nullptr,
    nullptr,
};

// The interpreter that first imported the module; -1 before any did.
std::atomic<std::int64_t> initialised_interpreter{-1};

// The module, once made: a strong reference kept for the rest of the process,
// so every later import (even after `del sys.modules[...]`) gets the same one.
PyObject* module_cell = nullptr;

struct Submodule {
  const char* name;
  bool (*register_functions)(PyObject*);
};

constexpr Submodule submodules[] = {
    {"distance", register_distance},
    {"geodesic", register_geodesic},
    {"units", register_units},
};

bool fill_module(PyObject* module) {
  for (const Submodule& submodule : submodules) {
    Ref name(PyUnicode_FromString(submodule.name));
    if (!name) return false;
    Ref object(PyModule_NewObject(name.get()));
    if (!object || !submodule.register_functions(object.get())) return false;
    Ref attribute(PyModule_GetNameObject(object.get()));
    if (!attribute || !add_to_module(module, attribute.get(), object.get())) return false;
  }
  return true;
}

[[gnu::cold]] PyObject* raise_pending_or_system_error() {
  if (!PyErr_Occurred()) {
    PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
  }
  return nullptr;
}

PyObject* initialise() {
  const std::int64_t interpreter = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (interpreter == -1) return raise_pending_or_system_error();

  std::int64_t expected = -1;
  if (!initialised_interpreter.compare_exchange_strong(expected, interpreter) &&
      expected != interpreter) {
    PyErr_SetString(PyExc_ImportError,
                    "tarnu._tarnu cannot be imported in more than one interpreter per process: "
                    "subinterpreters are not supported yet");
    return nullptr;
  }
  if (module_cell != nullptr) return Py_NewRef(module_cell);

  Ref module(PyModule_Create(&module_definition));
  if (!module || !fill_module(module.get())) return nullptr;
  // The import lock serialises this, but a racing store keeps the first.
  if (module_cell == nullptr) module_cell = module.release();
  return Py_NewRef(module_cell);
}

}  // namespace
}  // namespace _tarnu

PyMODINIT_FUNC PyInit__tarnu() {
  return _tarnu::call([] { return _tarnu::initialise(); });
}
