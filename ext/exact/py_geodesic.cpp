// The `geodesic` submodule: the full direct and inverse problems on WGS84,
// as dicts keyed by the geodesy names, and the ellipsoid's two constants.
#include "boundary.hpp"
#include "submodules.hpp"
#include "tarnu/geodesic.hpp"

namespace tarnu::py::exact {
namespace {

namespace geodesic = tarnu::geodesic;

constexpr FunctionDescription<4> inverse_args{"inverse", {"lat1", "lon1", "lat2", "lon2"}};

PyObject* inverse(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                  PyObject* kwnames) noexcept {
  return call([&]() -> PyObject* {
    std::array<double, 4> x;
    if (!parse(inverse_args, args, nargs, kwnames, x)) return nullptr;
    const auto [lat1, lon1, lat2, lon2] = x;
    return make_solution(geodesic::wgs84().inverse_full(lat1, lon1, lat2, lon2), true);
  });
}

constexpr FunctionDescription<4> direct_args{"direct", {"lat1", "lon1", "azi1", "s12"}};

// lat1, lon1, azi1 and s12 come back as given (azi1 unreduced); a12 is the
// arc length the direct solution reached, not a placeholder.
PyObject* direct(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                 PyObject* kwnames) noexcept {
  return call([&]() -> PyObject* {
    std::array<double, 4> x;
    if (!parse(direct_args, args, nargs, kwnames, x)) return nullptr;
    const auto [lat1, lon1, azi1, s12] = x;
    return make_solution(geodesic::wgs84().direct(lat1, lon1, azi1, s12), false);
  });
}

// The constants alone: neither function builds the shared solver.
PyObject* wgs84_a(PyObject*, PyObject*) noexcept {
  return call([] { return make_float(geodesic::wgs84_a); });
}

PyObject* wgs84_f(PyObject*, PyObject*) noexcept {
  return call([] { return make_float(geodesic::wgs84_f); });
}

const PyMethodDef geodesic_methods[] = {
    fastcall_method("inverse", inverse,
                    "inverse(lat1, lon1, lat2, lon2)\n--\n\n"
                    "Full inverse geodesic problem on WGS84.\n"
                    "Returns dict with lat1, lon1, lat2, lon2, s12, azi1, azi2, a12, m12, M12, "
                    "M21, S12."),
    fastcall_method("direct", direct,
                    "direct(lat1, lon1, azi1, s12)\n--\n\n"
                    "Full direct geodesic problem on WGS84."),
    noargs_method("wgs84_a", wgs84_a, "wgs84_a()\n--\n\nWGS84 equatorial radius in meters."),
    noargs_method("wgs84_f", wgs84_f, "wgs84_f()\n--\n\nWGS84 flattening."),
};

}  // namespace

bool register_geodesic(PyObject* module) { return add_functions(module, geodesic_methods); }

}  // namespace tarnu::py::exact
