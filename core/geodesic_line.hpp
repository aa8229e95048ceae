// Points along one WGS84 geodesic, a few at a time: the line's constants
// once, then any number of positions on it.
//
// The arithmetic is the direct problem's (geodesic_direct.hpp), cut where
// GeographicLib's GeodesicLine cuts it: line_setup is the constructor,
// line_position is GenPosition in distance mode with the longitude reduced.
// The departures, each moving a position by a few ulps of its angles
// (below 1e-14 degrees): the sine and cosine of the arc sig12 come from
// tau12's by a small rotation rather than from a second library call, the
// library calls are SLEEF's within 3.5 ulp (sincos35, atan2_35) rather than
// 1, and the longitude is lon1 plus the reduced longitude travelled, so
// that points along a line are continuous with its start. The notation is GeographicLib's: alp0 the azimuth at the
// equator crossing, sig the arc length on the auxiliary sphere measured
// from that crossing, omg the longitude there, tau the distance scaled to
// an arc, A1m1 and A3c the secular terms of distance and longitude, B11 and
// B31 their periodic terms at point 1, C1p and C3 the series coefficients.
#pragma once

#include "geodesic_direct.hpp"
#include "geodesic_solver.hpp"

namespace tarnu::isa::TARNU_ISA::solver {

template <class V>
struct LineLanes {
  Line<V> line;  // GeodesicLine's set-up, as the direct problem has it
  V lon1;        // point 1's longitude, as given
  V rscale;      // 1 / (b (1 + A1m1)): tau12 per metre
};

// The constants of the geodesic through (lat1, lon1) at azimuth azi1.
// Returns the lanes GeographicLib must solve: an argument NaN, infinite,
// beyond +-90 (latitude) or too large for the exact reductions.
template <class L, class V>
inline lanes::MaskOf<V> line_setup(V lat1, V lon1, V azi1, LineLanes<V>& g) noexcept {
  g.line = line<L>(lat1, lon1, azi1);
  g.lon1 = lon1;
  g.rscale = 1.0 / (series::b * (1.0 + g.line.a1m1));
  return g.line.rare;
}

// The point s12 metres along the line: lat2, and lon2 = lon1 plus the
// longitude travelled reduced to [-180, 180], degrees. Returns the lanes
// GeographicLib must solve: s12 NaN, infinite or of 1e12 m or more, or
// point 2 within 3.6 degrees of a pole (see geodesic_direct.hpp).
template <class L, class V>
inline lanes::MaskOf<V> line_position(const LineLanes<V>& lg, V s12, V& lat2, V& lon2) noexcept {
  using namespace lanes;
  namespace S = series;
  const Line<V>& g = lg.line;
  auto rare = ~(abs(s12) < direct_distance_limit);
  // s12 becomes the arc sig12 through the reverted series.
  const V tau12 = s12 * lg.rscale;
  V s, c;
  L::sincos35(tau12, s, c);
  const V b12 = -S::sin_cos_series<true, S::order>(g.stau1 * c + g.ctau1 * s,
                                                   g.ctau1 * c - g.stau1 * s, g.c1p);
  // sig12 = tau12 + delta with |delta| = |B11 - B12| < 4e-3: its sine and
  // cosine are tau12's turned by delta, whose own come from the series,
  // where GeographicLib calls sin and cos once more.
  const V delta = g.b11 - b12;
  const V sig12 = tau12 + delta;
  V sdelta, cdelta, cdelta_m1;
  small_sincos(delta, sdelta, cdelta, cdelta_m1);
  const V ssig12 = s + (s * cdelta_m1 + c * sdelta);
  const V csig12 = c + (c * cdelta_m1 - s * sdelta);
  const V ssig2 = g.ssig1 * csig12 + g.csig1 * ssig12;
  V csig2 = g.csig1 * csig12 - g.ssig1 * ssig12;
  const V sbet2 = g.calp0 * ssig2;
  V cbet2 = hypot<L>(g.salp0, g.calp0 * csig2);
  rare |= cbet2 < direct_pole_margin;
  // cbet2 = 0: a meridian through the pole; break the degeneracy.
  const auto at_pole = cbet2 == 0.0;
  cbet2 = select(at_pole, splat<V>(S::tiny), cbet2);
  csig2 = select(at_pole, splat<V>(S::tiny), csig2);

  const V somg2 = g.salp0 * ssig2;
  const V omg12 =
      L::atan2_35(somg2 * g.comg1 - csig2 * g.somg1, csig2 * g.comg1 + somg2 * g.somg1);
  const V lam12 = omg12 + g.a3c * (sig12 + (S::sin_cos_series<true, S::order - 1>(ssig2, csig2,
                                                                                  g.c3) -
                                            g.b31));
  // |lam12| stays within a turn: one step of 360 reduces it.
  V lon12 = lam12 * per_radian;
  lon12 = select(lon12 > 180.0, lon12 - 360.0, select(lon12 < -180.0, lon12 + 360.0, lon12));
  lon2 = lg.lon1 + lon12;
  // cbet2 >= 0: the angle is within [-90, 90], where atan2 needs no octants.
  lat2 = L::atan2_35(sbet2, S::f1 * cbet2) * per_radian;
  return rare;
}

}  // namespace tarnu::isa::TARNU_ISA::solver
