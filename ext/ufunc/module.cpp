// The module tarnu._ufunc: every operation of operations.cpp as a NumPy
// ufunc with one float64 loop. NumPy casts other numeric inputs to float64
// by its own rules, broadcasts, allocates or checks the outputs, and runs the
// loop without the interpreter lock, since nothing in it touches Python.
#include <GeographicLib/Config.h>
#include <sleef.h>

#include <cfenv>
#include <iterator>
#include <memory>

#include "loops.hpp"
#include "shared/module.hpp"
#include "shared/numpy.hpp"
#include "tarnu/pool.hpp"
#include "tarnu/simd.hpp"

namespace tarnu::py::ufunc {
namespace {

static_assert(sizeof(npy_intp) == sizeof(std::ptrdiff_t));

#define TARNU_STRINGIFY_(x) #x
#define TARNU_STRINGIFY(x) TARNU_STRINGIFY_(x)

void loop(char** args, const npy_intp* dimensions, const npy_intp* steps, void* data) {
  run(*static_cast<const Operation*>(data), args, reinterpret_cast<const std::ptrdiff_t*>(steps),
      static_cast<std::size_t>(dimensions[0]));
  // A NaN that comes out is an answer, as from the scalar functions, not a
  // floating-point error for NumPy to warn about (and the pool's threads
  // would raise their flags unseen anyway).
  std::feclearexcept(FE_ALL_EXCEPT);
}

PyUFuncGenericFunction loops[] = {loop};
constexpr char float64s[max_inputs + max_outputs] = {
    NPY_DOUBLE, NPY_DOUBLE, NPY_DOUBLE, NPY_DOUBLE, NPY_DOUBLE, NPY_DOUBLE,
    NPY_DOUBLE, NPY_DOUBLE, NPY_DOUBLE, NPY_DOUBLE, NPY_DOUBLE, NPY_DOUBLE, NPY_DOUBLE};

// _runtime() -> dict: what runs in this process, for `tarnu info`. Builds
// the worker pool if it is not built yet.
PyObject* runtime(PyObject*, PyObject*) noexcept {
  return call([]() -> PyObject* {
    const simd::KernelInfo sphere = simd::sphere_kernel();
    const simd::KernelInfo solver = simd::solver_kernel();
    Ref names(PyTuple_New(std::ssize(simd::width_names)));
    if (!names) return nullptr;
    for (Py_ssize_t i = 0; i < std::ssize(simd::width_names); ++i) {
      PyObject* name = PyUnicode_FromString(simd::width_names[i]);  // new reference
      if (name == nullptr) return nullptr;
      PyTuple_SET_ITEM(names.get(), i, name);  // steals
    }
    // The versions whose headers the library was built with.
    constexpr char sleef_version[] = TARNU_STRINGIFY(SLEEF_VERSION_MAJOR) "." TARNU_STRINGIFY(
        SLEEF_VERSION_MINOR) "." TARNU_STRINGIFY(SLEEF_VERSION_PATCHLEVEL);
    return Py_BuildValue("{s:{s:s,s:s,s:n},s:{s:s,s:s,s:n},s:O,s:n,s:{s:s,s:s}}",
                         "sphere", "isa", sphere.isa, "family", sphere.family, "lanes",
                         static_cast<Py_ssize_t>(sphere.lanes),
                         "solver", "isa", solver.isa, "family", solver.family, "lanes",
                         static_cast<Py_ssize_t>(solver.lanes),
                         "simd_names", names.get(),
                         "threads", static_cast<Py_ssize_t>(pool::thread_count()),
                         "versions", "GeographicLib", GEOGRAPHICLIB_VERSION_STRING, "SLEEF",
                         sleef_version);
  });
}

PyMethodDef functions[] = {
    {"_runtime", runtime, METH_NOARGS,
     "_runtime()\n--\n\nThe kernel of each family that runs in this process (instruction "
     "set, SLEEF family, lanes), the valid TARNU_SIMD values, the worker pool's size and "
     "the versions of GeographicLib and SLEEF built with."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "tarnu._ufunc",
    "The ufuncs of tarnu.ufunc.",
    0,  // no per-module state
    functions,
    nullptr,  // single-phase initialisation: no slots, traverse, clear or free
    nullptr,
    nullptr,
    nullptr,
};

// Adds op to the module as a ufunc named after it, pickled by reference to
// tarnu.ufunc (its __module__), where the package re-exports it. `data` is
// the loop's data slot, which must live as long as the ufunc.
bool add_ufunc(PyObject* module, PyObject* public_module, const Operation& op, void** data) {
  *data = const_cast<Operation*>(&op);
  Ref ufunc(PyUFunc_FromFuncAndData(loops, data, float64s, 1, op.nin, op.nout, PyUFunc_None,
                                    op.name, op.doc, 0));
  if (!ufunc) return false;
  if (PyObject_SetAttrString(ufunc.get(), "__module__", public_module) < 0) {
    PyErr_Clear();  // an older NumPy's ufuncs take no attributes: pickle searches the modules
  }
  return PyModule_AddObjectRef(module, op.name, ufunc.get()) == 0;
}

PyObject* make_module() {
  if (!bind_numpy("tarnu.ufunc needs numpy, which could not be imported")) return nullptr;
  std::size_t count = 0;
  const Operation* ops = operations(count);
  Ref module(PyModule_Create(&module_definition));
  Ref public_module(PyUnicode_InternFromString("tarnu.ufunc"));
  if (!module || !public_module) return nullptr;
  // The loops' data slots, kept like the ufuncs for the process once the
  // module is made.
  auto data = std::make_unique<void*[]>(count);
  for (std::size_t i = 0; i < count; ++i) {
    if (!add_ufunc(module.get(), public_module.get(), ops[i], &data[i])) return nullptr;
  }
  data.release();
  return module.release();
}

ModuleCell module_cell{
    "tarnu._ufunc cannot be imported in more than one interpreter per process: "
    "subinterpreters are not supported yet",
    make_module};

}  // namespace
}  // namespace tarnu::py::ufunc

PyMODINIT_FUNC PyInit__ufunc() {
  return tarnu::py::call([] { return tarnu::py::ufunc::module_cell.get(); });
}
