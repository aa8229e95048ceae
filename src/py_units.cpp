// The `units` submodule: conversions of lengths and angles.
//
// Each length pair shares one constant: one direction multiplies by it, the
// other divides by it. A division stays a true division: multiplying by a
// reciprocal would change the last bit for some inputs (3 m / 0.3048 is
// 9.84251968503937, 3 * (1 / 0.3048) is 9.842519685039369). Nothing is
// rounded or range-tested; NaN and infinities follow IEEE-754.
#include <cmath>

#include "boundary.hpp"
#include "submodules.hpp"

namespace _tarnu {
namespace {

constexpr double metres_per_foot = 0.3048;                 // international foot, exact
constexpr double metres_per_kilometre = 1000.0;
constexpr double kilometres_per_mile = 1.609344;           // statute mile, exact
constexpr double kilometres_per_nautical_mile = 1.852;     // exact
constexpr double radians_per_degree = 0.017453292519943295;  // double nearest pi/180
constexpr double degrees_per_radian = 57.29577951308232;     // double nearest 180/pi
constexpr double arcminutes_per_degree = 60.0;             // and arcseconds per arcminute
constexpr double arcseconds_per_degree = 3600.0;

using Args = PyObject* const*;

// The ten one-operation conversions share one body: bind and convert the one
// argument, apply `Convert`, return a float.
template <const FunctionDescription<1>& Description, double (*Convert)(double)>
PyObject* conversion(PyObject*, Args args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  return call([&]() -> PyObject* {
    std::array<double, 1> x;
    if (!parse(Description, args, nargs, kwnames, x)) return nullptr;
    return make_float(Convert(x[0]));
  });
}

constexpr FunctionDescription<1> km_to_mi_args{"km_to_mi", {"km"}};
constexpr double km_to_mi(double km) { return km / kilometres_per_mile; }

constexpr FunctionDescription<1> mi_to_km_args{"mi_to_km", {"mi"}};
constexpr double mi_to_km(double mi) { return mi * kilometres_per_mile; }

constexpr FunctionDescription<1> km_to_nm_args{"km_to_nm", {"km"}};
constexpr double km_to_nm(double km) { return km / kilometres_per_nautical_mile; }

constexpr FunctionDescription<1> nm_to_km_args{"nm_to_km", {"nm"}};
constexpr double nm_to_km(double nm) { return nm * kilometres_per_nautical_mile; }

constexpr FunctionDescription<1> m_to_ft_args{"m_to_ft", {"m"}};
constexpr double m_to_ft(double m) { return m / metres_per_foot; }

constexpr FunctionDescription<1> ft_to_m_args{"ft_to_m", {"ft"}};
constexpr double ft_to_m(double ft) { return ft * metres_per_foot; }

constexpr FunctionDescription<1> m_to_km_args{"m_to_km", {"m"}};
constexpr double m_to_km(double m) { return m / metres_per_kilometre; }

constexpr FunctionDescription<1> km_to_m_args{"km_to_m", {"km"}};
constexpr double km_to_m(double km) { return km * metres_per_kilometre; }

constexpr FunctionDescription<1> deg_to_rad_args{"deg_to_rad", {"d"}};
constexpr double deg_to_rad(double d) { return d * radians_per_degree; }

constexpr FunctionDescription<1> rad_to_deg_args{"rad_to_deg", {"r"}};
constexpr double rad_to_deg(double r) { return r * degrees_per_radian; }

constexpr FunctionDescription<3> dms_to_deg_args{
    "dms_to_deg", {"degrees", "arcminutes", "arcseconds"}};

// Each component keeps its own sign: (-10, 30, 0) is -9.5 and -10.5 degrees
// is (-10, -30, 0). The sum runs left to right, minutes before seconds.
PyObject* dms_to_deg(PyObject*, Args args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  return call([&]() -> PyObject* {
    std::array<double, 3> x;
    if (!parse(dms_to_deg_args, args, nargs, kwnames, x)) return nullptr;
    const auto [degrees, arcminutes, arcseconds] = x;
    return make_float(degrees + arcminutes / arcminutes_per_degree +
                      arcseconds / arcseconds_per_degree);
  });
}

constexpr FunctionDescription<1> deg_to_dms_args{"deg_to_dms", {"dd"}};

// The sign rides on the degrees alone, as a negative zero for -0.5; minutes
// and seconds are non-negative. Seconds keep the subtraction's residue: no
// rounding and no carry into minutes or degrees. Infinity gives (inf, nan,
// nan), since inf - inf is NaN.
PyObject* deg_to_dms(PyObject*, Args args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  return call([&]() -> PyObject* {
    std::array<double, 1> x;
    if (!parse(deg_to_dms_args, args, nargs, kwnames, x)) return nullptr;
    const double dd = x[0];
    const double degrees = std::trunc(dd);
    const double minutes = std::fabs(dd - degrees) * arcminutes_per_degree;  // with fraction
    const double arcminutes = std::trunc(minutes);
    const double arcseconds = (minutes - arcminutes) * arcminutes_per_degree;
    return make_tuple(degrees, arcminutes, arcseconds);
  });
}

const PyMethodDef units_methods[] = {
    fastcall_method("km_to_mi", conversion<km_to_mi_args, km_to_mi>, "km_to_mi(km)\n--\n\n"),
    fastcall_method("mi_to_km", conversion<mi_to_km_args, mi_to_km>, "mi_to_km(mi)\n--\n\n"),
    fastcall_method("km_to_nm", conversion<km_to_nm_args, km_to_nm>, "km_to_nm(km)\n--\n\n"),
    fastcall_method("nm_to_km", conversion<nm_to_km_args, nm_to_km>, "nm_to_km(nm)\n--\n\n"),
    fastcall_method("m_to_ft", conversion<m_to_ft_args, m_to_ft>, "m_to_ft(m)\n--\n\n"),
    fastcall_method("ft_to_m", conversion<ft_to_m_args, ft_to_m>, "ft_to_m(ft)\n--\n\n"),
    fastcall_method("m_to_km", conversion<m_to_km_args, m_to_km>, "m_to_km(m)\n--\n\n"),
    fastcall_method("km_to_m", conversion<km_to_m_args, km_to_m>, "km_to_m(km)\n--\n\n"),
    fastcall_method("deg_to_rad", conversion<deg_to_rad_args, deg_to_rad>, "deg_to_rad(d)\n--\n\n"),
    fastcall_method("rad_to_deg", conversion<rad_to_deg_args, rad_to_deg>, "rad_to_deg(r)\n--\n\n"),
    fastcall_method("dms_to_deg", dms_to_deg, "dms_to_deg(degrees, arcminutes, arcseconds)\n--\n\n"),
    fastcall_method("deg_to_dms", deg_to_dms, "deg_to_dms(dd)\n--\n\n"),
};

}  // namespace

bool register_units(PyObject* module) { return add_functions(module, units_methods); }

}  // namespace _tarnu
