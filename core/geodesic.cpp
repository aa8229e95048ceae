#include "tarnu/geodesic.hpp"

#include <type_traits>

namespace tarnu::geodesic {

namespace {
using GL = GeographicLib::Geodesic;

// Output masks.  Each requests only what its operation returns: the mask
// decides which series coefficients GeographicLib evaluates, so asking for
// m12, M12, M21 or S12 costs time even when the values are thrown away.
// The direct mask leaves out LONG_UNROLL, so lon2 comes back reduced.
constexpr unsigned direct_mask = GL::LATITUDE | GL::LONGITUDE | GL::AZIMUTH;
constexpr unsigned inverse_mask = GL::DISTANCE | GL::AZIMUTH;
constexpr unsigned inverse_full_mask = GL::DISTANCE | GL::AZIMUTH |
                                       GL::REDUCEDLENGTH | GL::GEODESICSCALE |
                                       GL::AREA;
}  // namespace

Geodesic::Geodesic(double a, double f) : solver_(a, f) {}

GeodesicResult Geodesic::direct(double lat1, double lon1, double azi1,
                                double s12) const noexcept {
  double lat2, lon2, azi2, unused;
  // Distance mode (arcmode false).  GenDirect always computes the arc length
  // and returns it, whatever the mask, so a12 is the true arc length at no
  // extra cost.
  const double a12 =
      solver_.GenDirect(lat1, lon1, azi1, false, s12, direct_mask, lat2, lon2,
                        azi2, unused, unused, unused, unused, unused);
  return {.lat1 = lat1, .lon1 = lon1, .lat2 = lat2, .lon2 = lon2,
          .a12 = a12, .s12 = s12, .azi1 = azi1, .azi2 = azi2};
}

GeodesicResult Geodesic::inverse(double lat1, double lon1, double lat2,
                                 double lon2) const noexcept {
  double s12, azi1, azi2, unused;
  const double a12 =
      solver_.GenInverse(lat1, lon1, lat2, lon2, inverse_mask, s12, azi1, azi2,
                         unused, unused, unused, unused);
  return {.lat1 = lat1, .lon1 = lon1, .lat2 = lat2, .lon2 = lon2,
          .a12 = a12, .s12 = s12, .azi1 = azi1, .azi2 = azi2};
}

GeodesicResult Geodesic::inverse_full(double lat1, double lon1, double lat2,
                                      double lon2) const noexcept {
  double s12, azi1, azi2, m12, M12, M21, S12;
  const double a12 =
      solver_.GenInverse(lat1, lon1, lat2, lon2, inverse_full_mask, s12, azi1,
                         azi2, m12, M12, M21, S12);
  return {.lat1 = lat1, .lon1 = lon1, .lat2 = lat2, .lon2 = lon2,
          .a12 = a12, .s12 = s12, .azi1 = azi1, .azi2 = azi2,
          .m12 = m12, .M12 = M12, .M21 = M21, .S12 = S12};
}

// Threads that are never joined may still be inside an operation while the
// process exits, so the shared solver has no destructor to run under them.
static_assert(std::is_trivially_destructible_v<Geodesic>);

const Geodesic& wgs84() noexcept {
  // A function-local static is the once-guard: the first caller constructs
  // it, callers arriving meanwhile block until it is complete, and the guard
  // variable publishes it with release/acquire ordering.
  static const Geodesic WGS84(wgs84_a, wgs84_f);
  return WGS84;
}

}  // namespace tarnu::geodesic
