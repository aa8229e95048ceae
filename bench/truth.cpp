// Built against build/truth/include alone: these headers are GeographicLib's
// in long double, under the namespace GeographicLibLD (bench/truth_config.h).
#include "truth.hpp"

#include <GeographicLib/Geodesic.hpp>

namespace tarnu::truth {
namespace {
using GL = GeographicLibLD::Geodesic;
static_assert(sizeof(GeographicLibLD::Math::real) == sizeof(long double),
              "the truth must be GeographicLib built with GEOGRAPHICLIB_PRECISION=3");
}  // namespace

Answer inverse(double lat1, double lon1, double lat2, double lon2) noexcept {
  Answer r;
  r[3] = GL::WGS84().GenInverse(lat1, lon1, lat2, lon2, GL::ALL, r[0], r[1], r[2], r[4], r[5],
                                r[6], r[7]);
  return r;
}

Answer direct(double lat1, double lon1, double azi1, double s12) noexcept {
  Answer r;
  long double unused;
  r[3] = GL::WGS84().GenDirect(lat1, lon1, azi1, false, s12, GL::ALL & ~GL::LONG_UNROLL, r[0],
                               r[1], r[2], unused, r[4], r[5], r[6], r[7]);
  return r;
}

}  // namespace tarnu::truth
