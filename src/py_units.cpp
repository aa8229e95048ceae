// The `units` submodule: conversions of lengths and angles.
#include "boundary.hpp"
#include "submodules.hpp"

namespace _tarnu {

bool register_units(PyObject*) { return true; }

}  // namespace _tarnu
