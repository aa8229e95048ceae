// Each submodule's register step adds its functions, in a fixed order, to
// the (still empty) submodule object. One file per submodule defines it.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace tarnu::py::exact {

bool register_distance(PyObject* module);
bool register_geodesic(PyObject* module);
bool register_units(PyObject* module);

}  // namespace tarnu::py::exact
