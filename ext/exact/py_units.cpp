// The `units` submodule: conversions of lengths and angles (tarnu/units.hpp).
#include "boundary.hpp"
#include "submodules.hpp"
#include "tarnu/units.hpp"

namespace tarnu::py::exact {
namespace {

namespace units = tarnu::units;

using Args = PyObject* const*;

// The ten one-operation conversions share one body: bind and convert the one
// argument, apply `Convert`, return a float.
template <const FunctionDescription<1>& Description, double (*Convert)(double) noexcept>
PyObject* conversion(PyObject*, Args args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  return call([&]() -> PyObject* {
    std::array<double, 1> x;
    if (!parse(Description, args, nargs, kwnames, x)) return nullptr;
    return make_float(Convert(x[0]));
  });
}

constexpr FunctionDescription<1> km_to_mi_args{"km_to_mi", {"km"}};
constexpr FunctionDescription<1> mi_to_km_args{"mi_to_km", {"mi"}};
constexpr FunctionDescription<1> km_to_nm_args{"km_to_nm", {"km"}};
constexpr FunctionDescription<1> nm_to_km_args{"nm_to_km", {"nm"}};
constexpr FunctionDescription<1> m_to_ft_args{"m_to_ft", {"m"}};
constexpr FunctionDescription<1> ft_to_m_args{"ft_to_m", {"ft"}};
constexpr FunctionDescription<1> m_to_km_args{"m_to_km", {"m"}};
constexpr FunctionDescription<1> km_to_m_args{"km_to_m", {"km"}};
constexpr FunctionDescription<1> deg_to_rad_args{"deg_to_rad", {"d"}};
constexpr FunctionDescription<1> rad_to_deg_args{"rad_to_deg", {"r"}};

constexpr FunctionDescription<3> dms_to_deg_args{
    "dms_to_deg", {"degrees", "arcminutes", "arcseconds"}};

PyObject* dms_to_deg(PyObject*, Args args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  return call([&]() -> PyObject* {
    std::array<double, 3> x;
    if (!parse(dms_to_deg_args, args, nargs, kwnames, x)) return nullptr;
    const auto [degrees, arcminutes, arcseconds] = x;
    return make_float(units::dms_to_deg(degrees, arcminutes, arcseconds));
  });
}

constexpr FunctionDescription<1> deg_to_dms_args{"deg_to_dms", {"dd"}};

PyObject* deg_to_dms(PyObject*, Args args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  return call([&]() -> PyObject* {
    std::array<double, 1> x;
    if (!parse(deg_to_dms_args, args, nargs, kwnames, x)) return nullptr;
    const units::Dms dms = units::deg_to_dms(x[0]);
    return make_tuple(dms.degrees, dms.arcminutes, dms.arcseconds);
  });
}

template <const FunctionDescription<1>& Description, double (*Convert)(double) noexcept>
PyMethodDef conversion_method(const char* doc) noexcept {
  return fastcall_method(Description.name.data(), conversion<Description, Convert>, doc);
}

const PyMethodDef units_methods[] = {
    conversion_method<km_to_mi_args, units::km_to_mi>("km_to_mi(km)\n--\n\n"),
    conversion_method<mi_to_km_args, units::mi_to_km>("mi_to_km(mi)\n--\n\n"),
    conversion_method<km_to_nm_args, units::km_to_nm>("km_to_nm(km)\n--\n\n"),
    conversion_method<nm_to_km_args, units::nm_to_km>("nm_to_km(nm)\n--\n\n"),
    conversion_method<m_to_ft_args, units::m_to_ft>("m_to_ft(m)\n--\n\n"),
    conversion_method<ft_to_m_args, units::ft_to_m>("ft_to_m(ft)\n--\n\n"),
    conversion_method<m_to_km_args, units::m_to_km>("m_to_km(m)\n--\n\n"),
    conversion_method<km_to_m_args, units::km_to_m>("km_to_m(km)\n--\n\n"),
    conversion_method<deg_to_rad_args, units::deg_to_rad>("deg_to_rad(d)\n--\n\n"),
    conversion_method<rad_to_deg_args, units::rad_to_deg>("rad_to_deg(r)\n--\n\n"),
    fastcall_method("dms_to_deg", dms_to_deg, "dms_to_deg(degrees, arcminutes, arcseconds)\n--\n\n"),
    fastcall_method("deg_to_dms", deg_to_dms, "deg_to_dms(dd)\n--\n\n"),
};

}  // namespace

bool register_units(PyObject* module) { return add_functions(module, units_methods); }

}  // namespace tarnu::py::exact
