// The `geodesic` submodule: the full direct and inverse problems on WGS84.
#include "boundary.hpp"
#include "submodules.hpp"

namespace _tarnu {

bool register_geodesic(PyObject*) { return true; }

}  // namespace _tarnu
