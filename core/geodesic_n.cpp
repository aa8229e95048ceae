#include "tarnu/geodesic_n.hpp"

#include <limits>

#include "dispatch.hpp"
#include "geodesic_fallback.hpp"
#include "tarnu/geodesic.hpp"

namespace tarnu::geodesic {

namespace fallback {
namespace {
using GL = GeographicLib::Geodesic;
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// The GeographicLib output mask for what the caller wants: it decides which
// series GeographicLib evaluates, so unwanted quantities cost nothing.
// The arc length comes back whatever the mask.
template <class Outputs>
unsigned length_mask(const Outputs& out) noexcept {
  unsigned mask = 0;
  if (out.m12) mask |= GL::REDUCEDLENGTH;
  if (out.M12 || out.M21) mask |= GL::GEODESICSCALE;
  if (out.S12) mask |= GL::AREA;
  return mask;
}

inline void put(double* p, std::size_t i, double v) noexcept {
  if (p) p[i] = v;
}

// The four quantities both problems may add, where the caller asked for them.
template <class Outputs>
void put_lengths(const Outputs& out, std::size_t i, double m12, double M12, double M21,
                 double S12) noexcept {
  put(out.m12, i, m12);
  put(out.M12, i, M12);
  put(out.M21, i, M21);
  put(out.S12, i, S12);
}
}  // namespace

void inverse_one(const double* lat1, const double* lon1, const double* lat2, const double* lon2,
                 std::size_t i, const InverseOutputs& out) noexcept {
  // Distance and azimuths together, as the one-pair functions ask for them.
  const unsigned mask = GL::DISTANCE | GL::AZIMUTH | length_mask(out);
  // What the mask does not ask for, GeographicLib leaves as it is.
  double s12 = nan, azi1 = nan, azi2 = nan, m12 = nan, M12 = nan, M21 = nan, S12 = nan;
  const double a12 = wgs84().solver().GenInverse(lat1[i], lon1[i], lat2[i], lon2[i], mask, s12,
                                                 azi1, azi2, m12, M12, M21, S12);
  put(out.s12, i, s12);
  put(out.azi1, i, azi1);
  put(out.azi2, i, azi2);
  put(out.a12, i, a12);
  put_lengths(out, i, m12, M12, M21, S12);
}

void direct_one(const double* lat1, const double* lon1, const double* azi1, const double* s12,
                std::size_t i, const DirectOutputs& out) noexcept {
  // Without LONG_UNROLL: lon2 comes back reduced, as from the one-pair direct.
  const unsigned mask = GL::LATITUDE | GL::LONGITUDE | GL::AZIMUTH | length_mask(out);
  double lat2 = nan, lon2 = nan, azi2 = nan, unused = nan;
  double m12 = nan, M12 = nan, M21 = nan, S12 = nan;
  const double a12 = wgs84().solver().GenDirect(lat1[i], lon1[i], azi1[i], false, s12[i], mask,
                                                lat2, lon2, azi2, unused, m12, M12, M21, S12);
  put(out.lat2, i, lat2);
  put(out.lon2, i, lon2);
  put(out.azi2, i, azi2);
  put(out.a12, i, a12);
  put_lengths(out, i, m12, M12, M21, S12);
}

void line_one(double lat1, double lon1, double azi1, const double* s12, std::size_t j,
              double* lat2, double* lon2) noexcept {
  wgs84().solver().Direct(lat1, lon1, azi1, s12[j], lat2[j], lon2[j]);
  lon2[j] = lon1 + GeographicLib::Math::AngDiff(lon1, lon2[j]);
}

}  // namespace fallback

void inverse_n(const double* lat1, const double* lon1, const double* lat2, const double* lon2,
               std::size_t n, const InverseOutputs& out, unsigned fixed) noexcept {
  dispatch::selected().solver.inverse_n(lat1, lon1, lat2, lon2, n, out, fixed);
}

void direct_n(const double* lat1, const double* lon1, const double* azi1, const double* s12,
              std::size_t n, const DirectOutputs& out, unsigned fixed) noexcept {
  dispatch::selected().solver.direct_n(lat1, lon1, azi1, s12, n, out, fixed);
}

void line_n(double lat1, double lon1, double azi1, const double* s12, std::size_t n,
            double* lat2, double* lon2) noexcept {
  dispatch::selected().solver.line_n(lat1, lon1, azi1, s12, n, lat2, lon2);
}

}  // namespace tarnu::geodesic
