// The function table of tarnu._geometry (py_geometry.cpp).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace tarnu::py::geometry {
extern PyMethodDef methods[];
}
