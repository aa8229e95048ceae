// Every operation as a kernel over contiguous blocks, with its docstring:
// one core call per block, or one core call per element where the core has
// no array form.
#include <algorithm>
#include <iterator>

#include "loops.hpp"
#include "tarnu/geodesic_n.hpp"
#include "tarnu/great_circle.hpp"
#include "tarnu/units.hpp"

namespace tarnu::py::ufunc {
namespace {

namespace geodesic = tarnu::geodesic;
namespace great_circle = tarnu::great_circle;
namespace units = tarnu::units;
using In = const double* const*;
using Out = double* const*;
using Grain = tarnu::pool::Grain;

// What one element costs decides how finely the pool may split a loop.
constexpr Grain vector_kernel = tarnu::pool::fine_grain;  // nanoseconds: the haversine
constexpr Grain libm_kernel{256, 64};    // tens of nanoseconds
constexpr Grain solver_kernel{128, 32};  // about a hundred nanoseconds (a tenth of GeographicLib)
constexpr Grain arithmetic{1 << 16, 1 << 14};  // one operation: memory bound below this

void great_circle_distance(In in, Out out, std::size_t n, unsigned fixed) noexcept {
  great_circle::great_circle_distance_n(in[0], in[1], in[2], in[3], out[0], n, fixed);
}

void great_circle_destination(In in, Out out, std::size_t n, unsigned) noexcept {
  for (std::size_t i = 0; i < n; ++i) {
    const auto [lat2, lon2] =
        great_circle::great_circle_destination(in[0][i], in[1][i], in[2][i], in[3][i]);
    out[0][i] = lat2;
    out[1][i] = lon2;
  }
}

void geodesic_distance(In in, Out out, std::size_t n, unsigned fixed) noexcept {
  geodesic::inverse_n(in[0], in[1], in[2], in[3], n, {.s12 = out[0]}, fixed);
}

void geodesic_inverse(In in, Out out, std::size_t n, unsigned fixed) noexcept {
  geodesic::inverse_n(in[0], in[1], in[2], in[3], n,
                      {.s12 = out[0], .azi1 = out[1], .azi2 = out[2], .a12 = out[3]}, fixed);
}

void geodesic_inverse_full(In in, Out out, std::size_t n, unsigned fixed) noexcept {
  geodesic::inverse_n(in[0], in[1], in[2], in[3], n,
                      {.s12 = out[0], .azi1 = out[1], .azi2 = out[2], .a12 = out[3],
                       .m12 = out[4], .M12 = out[5], .M21 = out[6], .S12 = out[7]},
                      fixed);
}

void geodesic_destination(In in, Out out, std::size_t n, unsigned fixed) noexcept {
  geodesic::direct_n(in[0], in[1], in[2], in[3], n, {.lat2 = out[0], .lon2 = out[1]}, fixed);
}

void geodesic_direct(In in, Out out, std::size_t n, unsigned fixed) noexcept {
  geodesic::direct_n(in[0], in[1], in[2], in[3], n,
                     {.lat2 = out[0], .lon2 = out[1], .azi2 = out[2], .a12 = out[3],
                      .m12 = out[4], .M12 = out[5], .M21 = out[6], .S12 = out[7]},
                     fixed);
}

// The point a fraction of the way along the geodesic from point 1 to
// point 2: the inverse gives the line's length and azimuth, then the direct
// problem walks fraction * s12 along it. With both points fixed the
// azimuth is too, and the direct problem has one line.
void geodesic_intermediate(In in, Out out, std::size_t n, unsigned fixed) noexcept {
  constexpr std::size_t m = 256;
  double s12[m], azi1[m];
  const unsigned points = fixed & 0b1111, line = points == 0b1111 ? 0b0111 : 0;
  for (std::size_t i = 0; i < n; i += m) {
    const std::size_t k = std::min(m, n - i);
    geodesic::inverse_n(in[0] + i, in[1] + i, in[2] + i, in[3] + i, k, {.s12 = s12, .azi1 = azi1},
                        points);
    for (std::size_t j = 0; j < k; ++j) s12[j] *= in[4][i + j];
    geodesic::direct_n(in[0] + i, in[1] + i, azi1, s12, k, {.lat2 = out[0] + i, .lon2 = out[1] + i},
                       line);
  }
}

template <double (*Convert)(double) noexcept>
void conversion(In in, Out out, std::size_t n, unsigned) noexcept {
  for (std::size_t i = 0; i < n; ++i) out[0][i] = Convert(in[0][i]);
}

void dms_to_deg(In in, Out out, std::size_t n, unsigned) noexcept {
  for (std::size_t i = 0; i < n; ++i) out[0][i] = units::dms_to_deg(in[0][i], in[1][i], in[2][i]);
}

void deg_to_dms(In in, Out out, std::size_t n, unsigned) noexcept {
  for (std::size_t i = 0; i < n; ++i) {
    const units::Dms dms = units::deg_to_dms(in[0][i]);
    out[0][i] = dms.degrees;
    out[1][i] = dms.arcminutes;
    out[2][i] = dms.arcseconds;
  }
}

#define ON_THE_SPHERE \
  "on a sphere of radius 6371008.8 m (the mean Earth radius); angles in degrees."
#define ON_WGS84 "on the WGS84 ellipsoid; angles in degrees, lengths in metres."

// What the solver promises, as `make accuracy` measures it (bench/ACCURACY.md).
#define VECTORISED                                                                         \
  "\n\nSolved several elements at a time on the CPU's widest vectors. Against the exact " \
  "answer (GeographicLib built in long double), each output's error is within a factor "   \
  "of 2 of GeographicLib's own in every region `make accuracy` measures. "
#define DISTANCE_AGREES                                                               \
  VECTORISED "s12 agrees with GeographicLib's within 20 nm, and is NaN exactly where " \
             "GeographicLib's is."
#define WELL_CONDITIONED                                                                    \
  "Where the problem is well conditioned, every output agrees with GeographicLib's "        \
  "(lengths within 20 nm, angles within 1e-11 degrees, areas within 4 m^2), and is NaN "    \
  "exactly where GeographicLib's is. Elsewhere the two differ by as much as each differs "  \
  "from the truth: "
#define INVERSE_AGREES                                                                      \
  VECTORISED WELL_CONDITIONED                                                               \
  "the azimuths of a line of s12 metres by up to 3e-7 / s12 degrees; for nearly antipodal " \
  "pairs beyond 60, 80 and 89 degrees of latitude, the azimuths by up to 2e-11, 1e-10 and " \
  "1e-7 degrees and S12 by up to 20, 100 and 2e5 m^2."
#define DIRECT_AGREES                                                                       \
  VECTORISED WELL_CONDITIONED                                                               \
  "beyond |s12| = 2e7 m, where the arc carries the rounding of s12, the angles by up to "   \
  "2e-12, 2e-10 and 1e-8 degrees for |s12| up to 1e8, 1e10 and 1e12 m"
#define ELEMENTWISE(function) \
  "\n\nElement for element what " function " returns for the same numbers."

const Operation table[] = {
    {"great_circle_distance", 4, 1, vector_kernel, great_circle_distance,
     "great_circle_distance(lat1, lon1, lat2, lon2) -> s12\n\n"
     "Great-circle distance in metres between two points, " ON_THE_SPHERE
     ELEMENTWISE("tarnu.distance.great_circle_distance")},
    {"great_circle_destination", 4, 2, libm_kernel, great_circle_destination,
     "great_circle_destination(lat1, lon1, azi1, s12) -> (lat2, lon2)\n\n"
     "The point s12 metres from (lat1, lon1) along the great circle of initial azimuth "
     "azi1, " ON_THE_SPHERE " lon2 is not reduced: it lies within 180 of lon1."
     ELEMENTWISE("tarnu.distance.great_circle_destination")},
    {"geodesic_distance", 4, 1, solver_kernel, geodesic_distance,
     "geodesic_distance(lat1, lon1, lat2, lon2) -> s12\n\n"
     "Length in metres of the shortest geodesic between two points, " ON_WGS84 DISTANCE_AGREES},
    {"geodesic_destination", 4, 2, solver_kernel, geodesic_destination,
     "geodesic_destination(lat1, lon1, azi1, s12) -> (lat2, lon2)\n\n"
     "The point s12 metres from (lat1, lon1) along the geodesic of initial azimuth azi1, "
     ON_WGS84 " lon2 is reduced to [-180, 180]." DIRECT_AGREES "."},
    {"geodesic_inverse", 4, 4, solver_kernel, geodesic_inverse,
     "geodesic_inverse(lat1, lon1, lat2, lon2) -> (s12, azi1, azi2, a12)\n\n"
     "The inverse problem " ON_WGS84 " s12 is the distance, azi1 and azi2 the azimuths "
     "at both ends (clockwise from north, in [-180, 180]), a12 the arc length on the "
     "auxiliary sphere." INVERSE_AGREES},
    {"geodesic_inverse_full", 4, 8, solver_kernel, geodesic_inverse_full,
     "geodesic_inverse_full(lat1, lon1, lat2, lon2) -> (s12, azi1, azi2, a12, m12, M12, "
     "M21, S12)\n\n"
     "The inverse problem " ON_WGS84 " Besides geodesic_inverse's outputs: the reduced "
     "length m12 (metres), the geodesic scales M12 and M21 (no unit) and the area S12 "
     "between the geodesic and the equator (square metres)." INVERSE_AGREES},
    {"geodesic_direct", 4, 8, solver_kernel, geodesic_direct,
     "geodesic_direct(lat1, lon1, azi1, s12) -> (lat2, lon2, azi2, a12, m12, M12, M21, "
     "S12)\n\n"
     "The direct problem " ON_WGS84 " lon2 and azi2 are reduced to [-180, 180]; a12 is "
     "the arc length travelled on the auxiliary sphere; m12, M12, M21 and S12 as for "
     "geodesic_inverse_full." DIRECT_AGREES
     "; m12, M12, M21 and S12 by up to 3e-5 m, 3e-12 and 100 m^2 up to 1e10 m, and 0.1 m, "
     "3e-8 and 5000 m^2 up to 1e12 m."},
    {"geodesic_intermediate", 5, 2, solver_kernel, geodesic_intermediate,
     "geodesic_intermediate(lat1, lon1, lat2, lon2, fraction) -> (lat, lon)\n\n"
     "The point `fraction` of the way along the shortest geodesic from (lat1, lon1) to "
     "(lat2, lon2), " ON_WGS84 " 0 gives point 1, 1 point 2, 0.5 the midpoint; fractions "
     "outside [0, 1] go on along the same geodesic. lon is reduced to [-180, 180]. "
     "Within 1e-12 degrees of GeographicLib's InverseLine position at fraction * s12 "
     "(a few 1e-12 for points within a degree of antipodal, where the azimuth is "
     "ill-conditioned)."},
    {"km_to_mi", 1, 1, arithmetic, conversion<units::km_to_mi>,
     "km_to_mi(km) -> mi\n\nKilometres to statute miles (1 mi = 1.609344 km)."},
    {"mi_to_km", 1, 1, arithmetic, conversion<units::mi_to_km>,
     "mi_to_km(mi) -> km\n\nStatute miles to kilometres (1 mi = 1.609344 km)."},
    {"km_to_nm", 1, 1, arithmetic, conversion<units::km_to_nm>,
     "km_to_nm(km) -> nm\n\nKilometres to nautical miles (1 nm = 1.852 km)."},
    {"nm_to_km", 1, 1, arithmetic, conversion<units::nm_to_km>,
     "nm_to_km(nm) -> km\n\nNautical miles to kilometres (1 nm = 1.852 km)."},
    {"m_to_ft", 1, 1, arithmetic, conversion<units::m_to_ft>,
     "m_to_ft(m) -> ft\n\nMetres to international feet (1 ft = 0.3048 m)."},
    {"ft_to_m", 1, 1, arithmetic, conversion<units::ft_to_m>,
     "ft_to_m(ft) -> m\n\nInternational feet to metres (1 ft = 0.3048 m)."},
    {"m_to_km", 1, 1, arithmetic, conversion<units::m_to_km>,
     "m_to_km(m) -> km\n\nMetres to kilometres."},
    {"km_to_m", 1, 1, arithmetic, conversion<units::km_to_m>,
     "km_to_m(km) -> m\n\nKilometres to metres."},
    {"deg_to_rad", 1, 1, arithmetic, conversion<units::deg_to_rad>,
     "deg_to_rad(d) -> r\n\nDegrees to radians."},
    {"rad_to_deg", 1, 1, arithmetic, conversion<units::rad_to_deg>,
     "rad_to_deg(r) -> d\n\nRadians to degrees."},
    {"dms_to_deg", 3, 1, arithmetic, dms_to_deg,
     "dms_to_deg(degrees, arcminutes, arcseconds) -> dd\n\n"
     "Degrees from degrees, arcminutes and arcseconds, each keeping its own sign: "
     "(-10, 30, 0) is -9.5 and -10.5 is (-10, -30, 0)."},
    {"deg_to_dms", 1, 3, arithmetic, deg_to_dms,
     "deg_to_dms(dd) -> (degrees, arcminutes, arcseconds)\n\n"
     "Degrees, arcminutes and arcseconds of an angle in degrees: the sign rides on the "
     "degrees alone (a negative zero for -0.5), minutes and seconds are never negative "
     "and the seconds are not rounded."},
};

}  // namespace

const Operation* operations(std::size_t& count) noexcept {
  count = std::size(table);
  return table;
}

}  // namespace tarnu::py::ufunc
