// The `distance` submodule: distances and destinations of one pair of points
// on the sphere and on the WGS84 ellipsoid, and distances of whole arrays of
// pairs on the worker pool.
#include "arrays.hpp"
#include "boundary.hpp"
#include "tarnu/pool.hpp"
#include "submodules.hpp"
#include "tarnu/geodesic.hpp"
#include "tarnu/great_circle.hpp"

namespace tarnu::py::exact {
namespace {

namespace geodesic = tarnu::geodesic;
namespace great_circle = tarnu::great_circle;
namespace pool = tarnu::pool;

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
    return make_solution(geodesic::wgs84().inverse(lat1, lon1, lat2, lon2), false);
  });
}

// --- batches ------------------------------------------------------------------

// Runs body(begin, end) over [0, n) on the worker pool while the caller waits,
// holding the interpreter lock; the grain says how cheap one index is. The
// first batch call builds the pool, even an empty one: no memory for it is
// MemoryError.
template <class Body>
void map_indices(std::size_t n, pool::Grain grain, Body&& body) {
  start_pool();
  pool::parallel_for(n, body, grain);
}

constexpr FunctionDescription<4> geodesic_distance_batch_args{
    "geodesic_distance_batch", {"lat1", "lon1", "lat2", "lon2"}};

PyObject* geodesic_distance_batch(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) noexcept {
  return call([&]() -> PyObject* {
    std::array<InputArray, 4> x;
    if (!parse_arrays(geodesic_distance_batch_args, args, nargs, kwnames, x)) return nullptr;
    const auto& [lat1, lon1, lat2, lon2] = x;
    const geodesic::Geodesic& wgs84 = geodesic::wgs84();
    OutputBuffer s12(lat1.size);
    map_indices(s12.size(), pool::coarse_grain, [&](std::size_t begin, std::size_t end) {
      for (std::size_t i = begin; i < end; ++i) {
        s12[i] = wgs84.inverse(lat1[i], lon1[i], lat2[i], lon2[i]).s12;
      }
    });
    return make_array(std::move(s12));
  });
}

constexpr FunctionDescription<4> great_circle_distance_batch_args{
    "great_circle_distance_batch", {"lat1", "lon1", "lat2", "lon2"}};

PyObject* great_circle_distance_batch(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                      PyObject* kwnames) noexcept {
  return call([&]() -> PyObject* {
    std::array<InputArray, 4> x;
    if (!parse_arrays(great_circle_distance_batch_args, args, nargs, kwnames, x)) return nullptr;
    const auto& [lat1, lon1, lat2, lon2] = x;
    OutputBuffer s12(lat1.size);
    map_indices(s12.size(), pool::fine_grain, [&](std::size_t begin, std::size_t end) {
      great_circle::great_circle_distance_n(lat1.data + begin, lon1.data + begin, lat2.data + begin,
                                            lon2.data + begin, s12.data() + begin, end - begin);
    });
    return make_array(std::move(s12));
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
    // The pool's name in this docstring is kept because callers match the text.
    fastcall_method("geodesic_distance_batch", geodesic_distance_batch,
                    "geodesic_distance_batch(lat1, lon1, lat2, lon2)\n--\n\n"
                    "Batch geodesic distance: arrays of (lat1, lon1, lat2, lon2) \u2192 array of "
                    "distances (meters).\nUses rayon for parallel computation."),
    fastcall_method("great_circle_distance_batch", great_circle_distance_batch,
                    "great_circle_distance_batch(lat1, lon1, lat2, lon2)\n--\n\n"
                    "Batch great-circle distance: arrays \u2192 array of distances (meters)."),
};

}  // namespace

bool register_distance(PyObject* module) { return add_functions(module, distance_methods); }

}  // namespace tarnu::py::exact
