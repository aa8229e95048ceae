// The `distance` submodule: distances and destinations of one pair of points
// on the sphere and on the WGS84 ellipsoid.
#include "boundary.hpp"
#include "submodules.hpp"
#include "tarnu/great_circle.hpp"

namespace _tarnu {
namespace {

namespace great_circle = tarnu::great_circle;

constexpr FunctionDescription<4> great_circle_distance_args{
    "great_circle_distance", {"lat1", "lon1", "lat2", "lon2"}};

PyObject* great_circle_distance(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames) noexcept {
  return call([&]() -> PyObject* {
    std::array<double, 4> x;
    if (!parse(great_circle_distance_args, args, nargs, kwnames, x)) return nullptr;
    const auto [lat1, lon1, lat2, lon2] = x;
    return make_float(great_circle::great_circle_distance(lat1, lon1, lat2, lon2));
  });
}

constexpr FunctionDescription<4> great_circle_destination_args{
    "great_circle_destination", {"lat1", "lon1", "bearing", "distance"}};

PyObject* great_circle_destination(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames) noexcept {
  return call([&]() -> PyObject* {
    std::array<double, 4> x;
    if (!parse(great_circle_destination_args, args, nargs, kwnames, x)) return nullptr;
    const auto [lat1, lon1, bearing, distance] = x;
    const auto [lat2, lon2] = great_circle::great_circle_destination(lat1, lon1, bearing, distance);
    return make_tuple(lat2, lon2);
  });
}

const PyMethodDef distance_methods[] = {
    fastcall_method("great_circle_distance", great_circle_distance,
                    "great_circle_distance(lat1, lon1, lat2, lon2)\n--\n\n"
                    "Great-circle (spherical) distance. Returns meters."),
    fastcall_method("great_circle_destination", great_circle_destination,
                    "great_circle_destination(lat1, lon1, bearing, distance)\n--\n\n"
                    "Great-circle destination. Returns (lat2, lon2)."),
};

}  // namespace

bool register_distance(PyObject* module) { return add_functions(module, distance_methods); }

}  // namespace _tarnu
