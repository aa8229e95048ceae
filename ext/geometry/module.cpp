// The module tarnu._geometry: length, perimeter, area and densification
// over flat geometry layouts, created once per process.
#include "module.hpp"

#include "shared/fault.hpp"
#include "shared/module.hpp"
#include "shared/numpy.hpp"

namespace tarnu::py::geometry {
namespace {

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "tarnu._geometry",
    "Native core of tarnu.geometry: lines and polygons over flat arrays with offsets.",
    0,        // no per-module state
    methods,  // py_geometry.cpp
    nullptr,  // single-phase initialisation: no slots, traverse, clear or free
    nullptr,
    nullptr,
    nullptr,
};

PyObject* make_module() {
  if (!bind_numpy("tarnu.geometry needs numpy, which could not be imported")) return nullptr;
  return PyModule_Create(&module_definition);
}

ModuleCell module_cell{
    "tarnu._geometry cannot be imported in more than one interpreter per process: "
    "subinterpreters are not supported yet",
    make_module};

}  // namespace
}  // namespace tarnu::py::geometry

PyMODINIT_FUNC PyInit__geometry() {
  return tarnu::py::call([] { return tarnu::py::geometry::module_cell.get(); });
}
