// The `distance` submodule: distances and destinations of one pair of points
// on the sphere and on the WGS84 ellipsoid.
#include "boundary.hpp"
#include "submodules.hpp"
#include "tarnu/geodesic.hpp"
#include "tarnu/great_circle.hpp"

namespace _tarnu {
namespace {

namespace geodesic = tarnu::geodesic;
namespace great_circle = tarnu::great_circle;

constexpr FunctionDescription<4> geodesic_distance_args{
    "geodesic_distance", {"lat1", "lon1", "lat2", "lon2"}};

PyObject* geodesic_distance(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) noexcept {
  return call([&]() -> PyObject* {
    std::array<double, 4> x;
    if (!parse(geodesic_distance_args, args, nargs, kwnames, x)) return nullptr;
    const auto [lat1, lon1, lat2, lon2] = x;
    return make_float(geodesic::wgs84().inverse(lat1, lon1, lat2, lon2).s12);
  });
}

constexpr FunctionDescription<4> geodesic_destination_args{
    "geodesic_destination", {"lat1", "lon1", "bearing", "distance"}};

PyObject* geodesic_destination(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) noexcept {
  return call([&]() -> PyObject* {
    std::array<double, 4> x;
    if (!parse(geodesic_destination_args, args, nargs, kwnames, x)) return nullptr;
    const auto [lat1, lon1, bearing, distance] = x;
    const geodesic::GeodesicResult r = geodesic::wgs84().direct(lat1, lon1, bearing, distance);
    return make_tuple(r.lat2, r.lon2);
  });
}

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

constexpr FunctionDescription<4> geodesic_inverse_args{
    "geodesic_inverse", {"lat1", "lon1", "lat2", "lon2"}};

// The distance-and-azimuths inverse (not inverse_full): the same solver call
// as geodesic_distance, so r.s12 equals its result bit for bit.
PyObject* geodesic_inverse(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) noexcept {
  return call([&]() -> PyObject* {
    std::array<double, 4> x;
    if (!parse(geodesic_inverse_args, args, nargs, kwnames, x)) return nullptr;
    const auto [lat1, lon1, lat2, lon2] = x;
    const geodesic::GeodesicResult r = geodesic::wgs84().inverse(lat1, lon1, lat2, lon2);
    return make_dict({{Key::lat1, r.lat1}, {Key::lon1, r.lon1}, {Key::lat2, r.lat2},
                      {Key::lon2, r.lon2}, {Key::s12, r.s12}, {Key::azi1, r.azi1},
                      {Key::azi2, r.azi2}, {Key::a12, r.a12}});
  });
}

const PyMethodDef distance_methods[] = {
    fastcall_method("geodesic_distance", geodesic_distance,
                    "geodesic_distance(lat1, lon1, lat2, lon2)\n--\n\n"
                    "Geodesic (ellipsoidal) distance between two points. Returns meters."),
    fastcall_method("geodesic_destination", geodesic_destination,
                    "geodesic_destination(lat1, lon1, bearing, distance)\n--\n\n"
                    "Geodesic destination given start, azimuth (degrees), and distance "
                    "(meters).\nReturns (lat2, lon2)."),
    fastcall_method("great_circle_distance", great_circle_distance,
                    "great_circle_distance(lat1, lon1, lat2, lon2)\n--\n\n"
                    "Great-circle (spherical) distance. Returns meters."),
    fastcall_method("great_circle_destination", great_circle_destination,
                    "great_circle_destination(lat1, lon1, bearing, distance)\n--\n\n"
                    "Great-circle destination. Returns (lat2, lon2)."),
    fastcall_method("geodesic_inverse", geodesic_inverse,
                    "geodesic_inverse(lat1, lon1, lat2, lon2)\n--\n\n"
                    "Full inverse geodesic result. Returns dict with s12, azi1, azi2, a12, "
                    "etc."),
};

}  // namespace

bool register_distance(PyObject* module) { return add_functions(module, distance_methods); }

}  // namespace _tarnu
