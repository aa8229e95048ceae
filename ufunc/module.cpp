// The module tarnu._ufunc: every operation of ufunc/operations.cpp as a NumPy
// ufunc with one float64 loop. NumPy casts other numeric inputs to float64
// by its own rules, broadcasts, allocates or checks the outputs, and runs the
// loop without the interpreter lock, since nothing in it touches Python.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cfenv>
#include <memory>

#include "loops.hpp"

// The only file that sees NumPy's C API, bound when the module is imported.
#define NPY_NO_DEPRECATED_API NPY_1_23_API_VERSION
#define NPY_TARGET_VERSION NPY_1_23_API_VERSION
#include <numpy/arrayobject.h>
#include <numpy/ufuncobject.h>

namespace _ufunc {
namespace {

static_assert(sizeof(npy_intp) == sizeof(std::ptrdiff_t));

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
    NPY_DOUBLE, NPY_DOUBLE, NPY_DOUBLE, NPY_DOUBLE, NPY_DOUBLE, NPY_DOUBLE};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "tarnu._ufunc",
    "The ufuncs of tarnu.ufunc.",
    0,        // no per-module state
    nullptr,  // no functions: its attributes are ufuncs
    nullptr,  // single-phase initialisation: no slots, traverse, clear or free
    nullptr,
    nullptr,
    nullptr,
};

// The module, once made: a re-import gets the same ufuncs, so that a pickled
// ufunc always comes back as the very object.
PyObject* module_cell = nullptr;

struct Decref {
  void operator()(PyObject* object) const noexcept { Py_DECREF(object); }
};
using Owned = std::unique_ptr<PyObject, Decref>;

// Adds op to the module as a ufunc named after it, pickled by reference to
// tarnu.ufunc (its __module__), where the package re-exports it. `data` is
// the loop's data slot, which must live as long as the ufunc.
bool add_ufunc(PyObject* module, PyObject* public_module, const Operation& op, void** data) {
  *data = const_cast<Operation*>(&op);
  Owned ufunc(PyUFunc_FromFuncAndData(loops, data, float64s, 1, op.nin, op.nout, PyUFunc_None,
                                      op.name, op.doc, 0));
  if (!ufunc) return false;
  if (PyObject_SetAttrString(ufunc.get(), "__module__", public_module) < 0) {
    PyErr_Clear();  // an older NumPy's ufuncs take no attributes: pickle searches the modules
  }
  return PyModule_AddObjectRef(module, op.name, ufunc.get()) == 0;
}

PyObject* initialise() {
  if (module_cell != nullptr) return Py_NewRef(module_cell);
  if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
    PyErr_SetString(PyExc_ImportError, "tarnu._ufunc can only be imported in the main interpreter");
    return nullptr;
  }
  // NumPy's own binders, which leave NumPy's error pending (the macros
  // import_array and import_umath would print it and replace it). NumPy
  // missing altogether is said so, chained to NumPy's own ImportError.
  if (_import_array() < 0 || _import_umath() < 0) {
    if (PyErr_ExceptionMatches(PyExc_ImportError)) {
      PyObject* cause = PyErr_GetRaisedException();  // new reference
      PyErr_SetString(PyExc_ImportError, "tarnu.ufunc needs numpy, which could not be imported");
      PyObject* error = PyErr_GetRaisedException();  // new reference
      PyException_SetCause(error, cause);            // steals cause
      PyErr_SetRaisedException(error);               // steals error
    }
    return nullptr;
  }
  std::size_t count = 0;
  const Operation* ops = operations(count);
  Owned module(PyModule_Create(&module_definition));
  Owned public_module(PyUnicode_InternFromString("tarnu.ufunc"));
  if (!module || !public_module) return nullptr;
  void** data = new void*[count];  // kept, like the ufuncs, for the process
  for (std::size_t i = 0; i < count; ++i) {
    if (!add_ufunc(module.get(), public_module.get(), ops[i], &data[i])) return nullptr;
  }
  module_cell = module.release();
  return Py_NewRef(module_cell);
}

}  // namespace
}  // namespace _ufunc

PyMODINIT_FUNC PyInit__ufunc() { return _ufunc::initialise(); }
