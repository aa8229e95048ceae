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
  V lon1;     // point 1's longitude, as given
  V rscale;   // 1 / (b (1 + A1m1)): tau12 per metre
  V salp0, calp0, ssig1, csig1, somg1, comg1, stau1, ctau1;
  V a1m1, b11, a3c, b31;
  V c1pa[series::order + 1], c3a[series::order];
};

// The constants of the geodesic through (lat1, lon1) at azimuth azi1.
// Returns the lanes GeographicLib must solve: an argument NaN, infinite,
// beyond +-90 (latitude) or too large for the exact reductions.
template <class L, class V>
inline lanes::MaskOf<V> line_setup(V lat1, V lon1, V azi1, LineLanes<V>& g) noexcept {
  using namespace lanes;
  namespace S = series;
  const auto rare = ~((abs(lat1) <= 90.0) & (abs(lon1) < reduction_limit) &
                      (abs(azi1) < reduction_limit));
  g.lon1 = lon1;
  V salp1, calp1, sbet1, cbet1;
  sincosd(ang_round(ang_normalize(azi1)), salp1, calp1);
  sincosd(ang_round(lat1), sbet1, cbet1);
  sbet1 = sbet1 * S::f1;
  norm<L>(sbet1, cbet1);
  cbet1 = max(cbet1, S::tiny);
  g.salp0 = salp1 * cbet1;
  g.calp0 = hypot<L>(calp1, salp1 * sbet1);
  g.ssig1 = sbet1;
  g.somg1 = g.salp0 * sbet1;
  g.csig1 = select((sbet1 != 0.0) | (calp1 != 0.0), cbet1 * calp1, splat<V>(1.0));
  g.comg1 = g.csig1;
  norm<L>(g.ssig1, g.csig1);
  const V k2 = g.calp0 * g.calp0 * S::ep2;
  const V eps = eps_of(k2);

  g.a1m1 = S::A1m1(eps);
  g.rscale = 1.0 / (S::b * (1.0 + g.a1m1));
  V c1a[S::order + 1];
  S::C1(eps, c1a);
  g.b11 = S::sin_cos_series<true, S::order>(g.ssig1, g.csig1, c1a);
  V s, c;
  small_sincos(g.b11, s, c);  // |B11| < 2e-3
  g.stau1 = g.ssig1 * c + g.csig1 * s;
  g.ctau1 = g.csig1 * c - g.ssig1 * s;
  S::C1p(eps, g.c1pa);
  S::C3(eps, g.c3a);
  g.a3c = -S::f * g.salp0 * S::A3(eps);
  g.b31 = S::sin_cos_series<true, S::order - 1>(g.ssig1, g.csig1, g.c3a);
  return rare;
}

// The point s12 metres along the line: lat2, and lon2 = lon1 plus the
// longitude travelled reduced to [-180, 180], degrees. Returns the lanes
// GeographicLib must solve: s12 NaN, infinite or of 1e12 m or more, or
// point 2 within 3.6 degrees of a pole (see geodesic_direct.hpp).
template <class L, class V>
inline lanes::MaskOf<V> line_position(const LineLanes<V>& g, V s12, V& lat2, V& lon2) noexcept {
  using namespace lanes;
  namespace S = series;
  auto rare = ~(abs(s12) < direct_distance_limit);
  // s12 becomes the arc sig12 through the reverted series.
  const V tau12 = s12 * g.rscale;
  V s, c;
  L::sincos35(tau12, s, c);
  const V b12 = -S::sin_cos_series<true, S::order>(g.stau1 * c + g.ctau1 * s,
                                                   g.ctau1 * c - g.stau1 * s, g.c1pa);
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
                                                                                  g.c3a) -
                                            g.b31));
  // |lam12| stays within a turn: one step of 360 reduces it.
  V lon12 = lam12 * per_radian;
  lon12 = select(lon12 > 180.0, lon12 - 360.0, select(lon12 < -180.0, lon12 + 360.0, lon12));
  lon2 = g.lon1 + lon12;
  // cbet2 >= 0: the angle is within [-90, 90], where atan2 needs no octants.
  lat2 = L::atan2_35(sbet2, S::f1 * cbet2) * per_radian;
  return rare;
}

}  // namespace tarnu::isa::TARNU_ISA::solver
