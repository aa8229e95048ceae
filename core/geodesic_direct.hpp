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

template <class L, DirectLevel Level, class V>
inline lanes::MaskOf<V> direct(V lat1, V lon1, V azi1, V s12, DirectLanes<V>& out) noexcept {
  using namespace lanes;
  namespace S = series;
  using M = MaskOf<V>;
  constexpr bool full = Level == DirectLevel::full;

  M rare = ~((abs(lat1) <= 90.0) & (abs(lon1) < reduction_limit) &
             (abs(azi1) < reduction_limit) & (abs(s12) < direct_distance_limit));

  // The line through point 1 (GeodesicLine's set-up).
  V salp1, calp1, sbet1, cbet1;
  sincosd(ang_round(ang_normalize(azi1)), salp1, calp1);
  sincosd(ang_round(lat1), sbet1, cbet1);
  sbet1 = sbet1 * S::f1;
  norm<L>(sbet1, cbet1);
  cbet1 = max(cbet1, S::tiny);
  const V dn1 = L::sqrt(1.0 + S::ep2 * (sbet1 * sbet1));
  const V salp0 = salp1 * cbet1;
  const V calp0 = hypot<L>(calp1, salp1 * sbet1);
  V ssig1 = sbet1;
  const V somg1 = salp0 * sbet1;
  V csig1 = select((sbet1 != 0.0) | (calp1 != 0.0), cbet1 * calp1, splat<V>(1.0));
  const V comg1 = csig1;
  norm<L>(ssig1, csig1);
  const V k2 = calp0 * calp0 * S::ep2;
  const V eps = eps_of(k2);

  const V a1m1 = S::A1m1(eps);
  V c1a[S::order + 1], c1pa[S::order + 1], c3a[S::order];
  S::C1(eps, c1a);
  const V b11 = S::sin_cos_series<true, S::order>(ssig1, csig1, c1a);
  V s, c;
  small_sincos(b11, s, c);  // |B11| < 2e-3
  const V stau1 = ssig1 * c + csig1 * s;
  const V ctau1 = csig1 * c - ssig1 * s;
  S::C1p(eps, c1pa);
  S::C3(eps, c3a);
  const V a3c = -S::f * salp0 * S::A3(eps);
  const V b31 = S::sin_cos_series<true, S::order - 1>(ssig1, csig1, c3a);

  // Point 2: s12 becomes the arc sig12 through the reverted series.
  const V tau12 = s12 / (S::b * (1.0 + a1m1));
  L::sincos(tau12, s, c);
  const V b12 = -S::sin_cos_series<true, S::order>(stau1 * c + ctau1 * s, ctau1 * c - stau1 * s,
                                                   c1pa);
  const V sig12 = tau12 - (b12 - b11);
  V ssig12, csig12;
  L::sincos(sig12, ssig12, csig12);
  const V ssig2 = ssig1 * csig12 + csig1 * ssig12;
  V csig2 = csig1 * csig12 - ssig1 * ssig12;
  const V sbet2 = calp0 * ssig2;
  V cbet2 = hypot<L>(salp0, calp0 * csig2);
  rare |= cbet2 < direct_pole_margin;
  // cbet2 = 0: a meridian through the pole; break the degeneracy.
  const M at_pole = cbet2 == 0.0;
  cbet2 = select(at_pole, splat<V>(S::tiny), cbet2);
  csig2 = select(at_pole, splat<V>(S::tiny), csig2);
  const V calp2 = calp0 * csig2;

  const V somg2 = salp0 * ssig2;
  const V omg12 = lanes::atan2(somg2 * comg1 - csig2 * somg1, csig2 * comg1 + somg2 * somg1);
  const V lam12 =
      omg12 + a3c * (sig12 + (S::sin_cos_series<true, S::order - 1>(ssig2, csig2, c3a) - b31));
  const V lon12 = lam12 * per_radian;
  out.lon2 = ang_normalize(ang_normalize(lon1) + ang_normalize(lon12));
  out.lat2 = atan2d(sbet2, S::f1 * cbet2);
  out.azi2 = atan2d(salp0, calp2);
  out.a12 = sig12 / degree;

  if constexpr (full) {
    const Sigmas<V> sig{ssig1, csig1, ssig2, csig2};
    const V dn2 = L::sqrt(1.0 + k2 * (ssig2 * ssig2));
    const V t = k2 * (ssig2 - ssig1) * (ssig2 + ssig1) / (dn1 + dn2);
    const Lengths<V> len = lengths(eps, sig12, a1m1, b12 - b11, t, csig12, dn1, dn2, sig);
    out.m12 = S::b * len.m12b;
    out.M12 = len.M12;
    out.M21 = len.M21;

    // alp12 = alp2 - alp1 from tan(alp) = tan(alp0) sec(sig), written to
    // avoid cancellation on either side of csig12 = 0.
    const M degenerate = (calp0 == 0.0) | (salp0 == 0.0);
    const V salp12_d = salp0 * calp1 - calp2 * salp1;
    const V calp12_d = calp2 * calp1 + salp0 * salp1;
    const V salp12 = calp0 * salp0 *
                     select(csig12 <= 0.0, csig1 * (1.0 - csig12) + ssig12 * ssig1,
                            ssig12 * (csig1 * ssig12 / (1.0 + csig12) + ssig1));
    const V calp12 = salp0 * salp0 + calp0 * calp0 * csig1 * csig2;
    out.S12 = S::c2 * lanes::atan2(select(degenerate, salp12_d, salp12),
                               select(degenerate, calp12_d, calp12)) +
              area_series(eps, calp0, salp0, sig);
  }
  return rare;
}

}  // namespace tarnu::isa::TARNU_ISA::solver
