// The module's entry point and layout: `_tarnu` with its submodules
// `distance`, `geodesic` and `units`, created once per process.
#include "boundary.hpp"
#include "shared/module.hpp"
#include "submodules.hpp"

namespace tarnu::py::exact {
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

struct Submodule {
  const char* name;
  bool (*register_functions)(PyObject*);
};

constexpr Submodule submodules[] = {
    {"distance", register_distance},
    {"geodesic", register_geodesic},
    {"units", register_units},
};

PyObject* make_module() {
  Ref module(PyModule_Create(&module_definition));
  if (!module) return nullptr;
  for (const Submodule& submodule : submodules) {
    Ref name(PyUnicode_FromString(submodule.name));
    if (!name) return nullptr;
    Ref object(PyModule_NewObject(name.get()));
    if (!object || !submodule.register_functions(object.get())) return nullptr;
    Ref attribute(PyModule_GetNameObject(object.get()));
    if (!attribute || !add_to_module(module.get(), attribute.get(), object.get())) return nullptr;
  }
  return module.release();
}

ModuleCell module_cell{
    "tarnu._tarnu cannot be imported in more than one interpreter per process: "
    "subinterpreters are not supported yet",
    make_module};

}  // namespace
}  // namespace tarnu::py::exact

PyMODINIT_FUNC PyInit__tarnu() {
  return tarnu::py::call([] { return tarnu::py::exact::module_cell.get(); });
}
