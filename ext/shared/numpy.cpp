// The one definition of NumPy's API tables in each module.
#define TARNU_NUMPY_TABLES
#include "numpy.hpp"

namespace tarnu::py {
namespace {

[[gnu::cold, gnu::noinline]] bool raise_numpy_missing(const char* missing) {
  Ref cause(PyErr_GetRaisedException());
  PyErr_SetString(PyExc_ImportError, missing);
  Ref error(PyErr_GetRaisedException());
  PyException_SetCause(error.get(), cause.release());  // steals
  PyErr_SetRaisedException(error.release());
  return false;
}

}  // namespace

// NumPy's own _import_array and _import_umath, not the macros import_array
// and import_umath nor PyArray_ImportNumPyAPI: those print the error and
// replace it with a message of their own.
bool detail::bind_numpy_tables(const char* missing) {
  if (PyArray_API == nullptr && _import_array() < 0) {
    if (PyErr_ExceptionMatches(PyExc_ImportError)) return raise_numpy_missing(missing);
    throw_fault("Failed to access NumPy array API capsule");
  }
  if (PyUFunc_API == nullptr && _import_umath() < 0) {
    throw_fault("Failed to access NumPy ufunc API capsule");
  }
  return true;
}

}  // namespace tarnu::py
