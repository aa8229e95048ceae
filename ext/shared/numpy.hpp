// NumPy's C API for every extension module: the one header that includes
// NumPy, and the one binder of its API tables.
//
// Compiled against NumPy 2's headers, and runs on NumPy 1.23 and later: the
// tables are bound at run time from whichever NumPy is installed. Each
// module binds them when it first needs them (tarnu._ufunc when imported,
// tarnu._tarnu on its first call that accepts an array), so a module that
// can work without NumPy imports where NumPy is not installed.
#pragma once

#define NPY_NO_DEPRECATED_API NPY_1_23_API_VERSION
#define NPY_TARGET_VERSION NPY_1_23_API_VERSION
#define PY_ARRAY_UNIQUE_SYMBOL tarnu_ARRAY_API
#define PY_UFUNC_UNIQUE_SYMBOL tarnu_UFUNC_API
#ifndef TARNU_NUMPY_TABLES
#define NO_IMPORT_ARRAY
#define NO_IMPORT_UFUNC
#endif
#include <numpy/arrayobject.h>
#include <numpy/ufuncobject.h>

#include "fault.hpp"

namespace tarnu::py {

namespace detail {
bool bind_numpy_tables(const char* missing);
}

// Binds NumPy's array and ufunc API tables the first time; later calls test
// two pointers. NumPy that cannot be imported raises ImportError(missing),
// the module's own words, chained to NumPy's own ImportError; a NumPy
// without its API tables is an internal fault (Fault). A failed attempt
// leaves the tables unset, so the next call tries again. Returns false with
// the exception set.
inline bool bind_numpy(const char* missing) {
  if (PyArray_API != nullptr && PyUFunc_API != nullptr) [[likely]] return true;
  return detail::bind_numpy_tables(missing);
}

}  // namespace tarnu::py
