// Karney's direct geodesic problem on WGS84, a few lanes at a time. The
// names are those of geodesic_solver.hpp.
//
// The direct problem has no iteration and no branch that changes the
// formulas. Lanes come back flagged for GeographicLib when an argument is
// NaN or infinite, a latitude lies beyond +-90, an argument is too large for
// the exact angle reductions (|lon1|, |azi1| >= 2^40 degrees, |s12| >= 1e12
// m), or point 2 lies within 3.6 degrees of a pole: there the longitude and
// azimuth turn an ulp in cos(sig2) into up to 1e-11 degrees, and only
// GeographicLib's own roundings reproduce its answer. The arithmetic is
// GeographicLib's (GeodesicLine in distance mode, longitude reduced)
// operation for operation, with the lanes' sin, cos and atan2, a
// square-root hypot and eps by its series.
#pragma once

#include "geodesic_solver.hpp"

namespace tarnu::isa::TARNU_ISA::solver {

// Position: lat2, lon2, azi2 and a12. Full: also m12, M12, M21, S12.
enum class DirectLevel { position, full };

template <class V>
struct DirectLanes {
  V lat2, lon2, azi2, a12, m12, M12, M21, S12;
};

inline constexpr double direct_distance_limit = 1e12;  // metres
// Point 2 is near a pole where the cosine of its reduced latitude is below this.
inline constexpr double direct_pole_margin = 1.0 / 16;

// The geodesic line from point 1 at azimuth azi1 (GeodesicLine's set-up):
// everything the position of point 2 needs that does not depend on s12.
template <class V>
struct Line {
  lanes::MaskOf<V> rare;  // lat1, lon1 or azi1 out of the common case
  V lon1;                 // reduced to [-180, 180]
  V salp1, calp1, cbet1, dn1, salp0, calp0;
  V ssig1, csig1, somg1, comg1;
  V k2, eps, a1m1, b11, stau1, ctau1, a3c, b31;
  V c1p[series::order + 1], c3[series::order];
};

template <class L, class V>
inline Line<V> line(V lat1, V lon1, V azi1) noexcept {
  using namespace lanes;
  namespace S = series;
  Line<V> g;
  g.rare = ~((abs(lat1) <= 90.0) & (abs(lon1) < reduction_limit) &
             (abs(azi1) < reduction_limit));
  g.lon1 = ang_normalize(lon1);
  V sbet1;
  sincosd(ang_round(ang_normalize(azi1)), g.salp1, g.calp1);
  sincosd(ang_round(lat1), sbet1, g.cbet1);
  sbet1 = sbet1 * S::f1;
  norm<L>(sbet1, g.cbet1);
  g.cbet1 = max(g.cbet1, S::tiny);
  g.dn1 = L::sqrt(1.0 + S::ep2 * (sbet1 * sbet1));
  g.salp0 = g.salp1 * g.cbet1;
  g.calp0 = hypot<L>(g.calp1, g.salp1 * sbet1);
  g.ssig1 = sbet1;
  g.somg1 = g.salp0 * sbet1;
  g.csig1 = select((sbet1 != 0.0) | (g.calp1 != 0.0), g.cbet1 * g.calp1, splat<V>(1.0));
  g.comg1 = g.csig1;
  norm<L>(g.ssig1, g.csig1);
  g.k2 = g.calp0 * g.calp0 * S::ep2;
  g.eps = eps_of(g.k2);

  g.a1m1 = S::A1m1(g.eps);
  V c1[S::order + 1];
  S::C1(g.eps, c1);
  g.b11 = S::sin_cos_series<true, S::order>(g.ssig1, g.csig1, c1);
  V s, c;
  small_sincos(g.b11, s, c);  // |B11| < 2e-3
  g.stau1 = g.ssig1 * c + g.csig1 * s;
  g.ctau1 = g.csig1 * c - g.ssig1 * s;
  S::C1p(g.eps, g.c1p);
  S::C3(g.eps, g.c3);
  g.a3c = -S::f * g.salp0 * S::A3(g.eps);
  g.b31 = S::sin_cos_series<true, S::order - 1>(g.ssig1, g.csig1, g.c3);
  return g;
}

// Point 2, s12 metres along the line; returns the lanes left to the caller
// (their outputs are unspecified).
template <class L, DirectLevel Level, class V>
inline lanes::MaskOf<V> position(const Line<V>& g, V s12, DirectLanes<V>& out) noexcept {
  using namespace lanes;
  namespace S = series;
  using M = MaskOf<V>;
  M rare = g.rare | ~(abs(s12) < direct_distance_limit);

  // s12 becomes the arc sig12 through the reverted series.
  const V tau12 = s12 / (S::b * (1.0 + g.a1m1));
  V s, c;
  L::sincos(tau12, s, c);
  const V b12 = -S::sin_cos_series<true, S::order>(g.stau1 * c + g.ctau1 * s,
                                                   g.ctau1 * c - g.stau1 * s, g.c1p);
  const V sig12 = tau12 - (b12 - g.b11);
  V ssig12, csig12;
  L::sincos(sig12, ssig12, csig12);
  const V ssig2 = g.ssig1 * csig12 + g.csig1 * ssig12;
  V csig2 = g.csig1 * csig12 - g.ssig1 * ssig12;
  const V sbet2 = g.calp0 * ssig2;
  V cbet2 = hypot<L>(g.salp0, g.calp0 * csig2);
  rare |= cbet2 < direct_pole_margin;
  // cbet2 = 0: a meridian through the pole; break the degeneracy.
  const M at_pole = cbet2 == 0.0;
  cbet2 = select(at_pole, splat<V>(S::tiny), cbet2);
  csig2 = select(at_pole, splat<V>(S::tiny), csig2);
  const V calp2 = g.calp0 * csig2;

  const V somg2 = g.salp0 * ssig2;
  const V omg12 =
      lanes::atan2(somg2 * g.comg1 - csig2 * g.somg1, csig2 * g.comg1 + somg2 * g.somg1);
  const V lam12 = omg12 + g.a3c * (sig12 + (S::sin_cos_series<true, S::order - 1>(
                                                ssig2, csig2, g.c3) - g.b31));
  const V lon12 = lam12 * per_radian;
  out.lon2 = ang_normalize(g.lon1 + ang_normalize(lon12));
  out.lat2 = atan2d(sbet2, S::f1 * cbet2);
  out.azi2 = atan2d(g.salp0, calp2);
  out.a12 = sig12 / degree;

  if constexpr (Level == DirectLevel::full) {
    const Sigmas<V> sig{g.ssig1, g.csig1, ssig2, csig2};
    const V dn2 = L::sqrt(1.0 + g.k2 * (ssig2 * ssig2));
    const V t = g.k2 * (ssig2 - g.ssig1) * (ssig2 + g.ssig1) / (g.dn1 + dn2);
    const Lengths<V> len =
        lengths(g.eps, sig12, g.a1m1, b12 - g.b11, t, csig12, g.dn1, dn2, sig);
    out.m12 = S::b * len.m12b;
    out.M12 = len.M12;
    out.M21 = len.M21;

    // alp12 = alp2 - alp1 from tan(alp) = tan(alp0) sec(sig), written to
    // avoid cancellation on either side of csig12 = 0.
    const M degenerate = (g.calp0 == 0.0) | (g.salp0 == 0.0);
    const V salp12_d = g.salp0 * g.calp1 - calp2 * g.salp1;
    const V calp12_d = calp2 * g.calp1 + g.salp0 * g.salp1;
    const V salp12 = g.calp0 * g.salp0 *
                     select(csig12 <= 0.0, g.csig1 * (1.0 - csig12) + ssig12 * g.ssig1,
                            ssig12 * (g.csig1 * ssig12 / (1.0 + csig12) + g.ssig1));
    const V calp12 = g.salp0 * g.salp0 + g.calp0 * g.calp0 * g.csig1 * csig2;
    out.S12 = S::c2 * lanes::atan2(select(degenerate, salp12_d, salp12),
                                   select(degenerate, calp12_d, calp12)) +
              area_series(g.eps, g.calp0, g.salp0, sig);
  }
  return rare;
}

template <class L, DirectLevel Level, class V>
inline lanes::MaskOf<V> direct(V lat1, V lon1, V azi1, V s12, DirectLanes<V>& out) noexcept {
  return position<L, Level>(line<L>(lat1, lon1, azi1), s12, out);
}

}  // namespace tarnu::isa::TARNU_ISA::solver
