// Karney's inverse geodesic problem on WGS84, a few lanes at a time. The
// names are those of geodesic_solver.hpp.
//
// The common case only: two points off the equator, not on one meridian,
// far enough apart that Newton's method on the azimuth is needed, and not so
// near the antipodes that the astroid start is. Lanes outside it, or whose
// Newton iteration takes a rejected step or too many steps, come back
// flagged, and the caller solves them with GeographicLib's scalar code. So
// every branch taken here is also the branch GeographicLib takes, and the
// arithmetic follows GeographicLib's formulas in its order of operations,
// with the lanes' sin, cos and atan2 and a square-root hypot in place of
// libm's. The departures, each within an ulp or two of the value it
// replaces: 1 / cbet2 multiplied instead of two divisions per pass; both
// ends of the arc normalised by 1 / calp0, one root and one division per
// pass instead of two and four; unit vectors that are within a few ulps of
// the circle brought onto it without a root; eps by its series; small
// angles through their series instead of a library call. Newton's
// derivative alone is cheaper than GeographicLib's (its J12 series cut
// after eps^3): it decides how fast v reaches 0, never where.
#pragma once

#include "geodesic_solver.hpp"

namespace tarnu::isa::TARNU_ISA::solver {

// Which quantities an instance computes: the distance and arc length always,
// the azimuths at `azimuths`, the area alone at `area` (what polygons
// need), everything at `full`.
enum class InverseLevel { distance, azimuths, area, full };

template <class V>
struct InverseLanes {
  V s12, azi1, azi2, a12, m12, M12, M21, S12;
};

namespace inverse_detail {

using namespace lanes;
namespace S = series;

// Iterations after which a lane is handed to GeographicLib. Random global
// pairs converge in 2 to 4.
inline constexpr int max_newton = 10;

template <class V>
struct Canonical {  // the problem mapped to 0 <= lon12 <= 180, lat1 <= -|lat2|
  V sbet1, cbet1, dn1, sbet2, cbet2, dn2;
  V rcbet2;  // 1 / cbet2: the iteration divides by cbet2 twice per pass
  V lam12, slam12, clam12;
  V swapp, lonsign, latsign;  // +-1 each: how the mapping changed the points
};

template <class V>
struct Lambda {  // Lambda12's outputs at one trial azimuth
  V v;  // lam12 at this azimuth less the wanted one: Newton's method drives it to 0
  V salp2, calp2, sig12;
  Sigmas<V> sig;
  V calp0, eps, domg12;
};

// m12 / b for Newton's derivative alone, where an error only slows the
// convergence: J12 = (A1 - A2) sig12 + sum_l (A1 C1[l] - A2 C2[l]) (sin 2l sig2
// - sin 2l sig1) with A1 - A2 and the folded coefficients expanded in eps
// and cut after eps^3, relatively within eps^3 < 5e-9 of the full J12.
template <class V>
inline V newton_reduced_length(V eps, V sig12, V dn1, V dn2, const Sigmas<V>& s) noexcept {
  const V eps2 = eps * eps;
  const V m0x = eps * (2.0 + eps * (1.0 + eps * 1.5));
  const V cb[] = {V{}, -eps * (1.0 + eps2 * 0.625), eps2 * (-0.25 + eps * 0.125),
                  eps2 * eps * -0.125};
  const V j12 = m0x * sig12 + (S::sin_cos_series<true, 3>(s.ssig2, s.csig2, cb) -
                               S::sin_cos_series<true, 3>(s.ssig1, s.csig1, cb));
  return reduced_length(j12, dn1, dn2, s);
}

// `live` marks the lanes whose results matter.
template <class L, class V>
inline Lambda<V> lambda12(const Canonical<V>& p, V salp1, V calp1, MaskOf<V> live) noexcept {
  Lambda<V> r;
  // GeographicLib's guard for calp1 = 0 on the equator is not needed: both
  // points on the equator is a rare lane.
  const V salp0 = salp1 * p.cbet1;
  const V ss = salp1 * p.sbet1;
  const V calp0_sq = calp1 * calp1 + ss * ss;
  // (sbet, calp cbet) has length calp0 at both ends (Clairaut), so one root
  // and one division normalise both; within a few ulps, as the unit vectors
  // they feed allow.
  r.calp0 = L::sqrt(calp0_sq);
  const V rcalp0 = 1.0 / r.calp0;
  const V somg1 = salp0 * p.sbet1;
  const V comg1 = calp1 * p.cbet1;
  Sigmas<V>& sig = r.sig;
  sig.ssig1 = p.sbet1 * rcalp0;
  sig.csig1 = comg1 * rcalp0;

  // |bet2| = -bet1 is handled symmetrically, as it can stall the iteration.
  const auto same_cbet = p.cbet2 == p.cbet1;
  r.salp2 = select(same_cbet, salp1, salp0 * p.rcbet2);
  const V cc = calp1 * p.cbet1;
  const V diff = select(p.cbet1 < -p.sbet1, (p.cbet2 - p.cbet1) * (p.cbet1 + p.cbet2),
                        (p.sbet1 - p.sbet2) * (p.sbet1 + p.sbet2));
  r.calp2 = select(same_cbet & (abs(p.sbet2) == -p.sbet1), abs(calp1),
                   L::sqrt(cc * cc + diff) * p.rcbet2);
  const V somg2 = salp0 * p.sbet2;
  const V comg2 = r.calp2 * p.cbet2;
  sig.ssig2 = p.sbet2 * rcalp0;
  sig.csig2 = comg2 * rcalp0;

  r.sig12 = lanes::atan2(max(sig.csig1 * sig.ssig2 - sig.ssig1 * sig.csig2, 0.0) + 0.0,
                     sig.csig1 * sig.csig2 + sig.ssig1 * sig.ssig2);
  const V somg12 = max(comg1 * somg2 - somg1 * comg2, 0.0) + 0.0;
  const V comg12 = comg1 * comg2 + somg1 * somg2;
  // eta = omg12 - lam12 is what Newton's method drives to zero, so after
  // the first pass it is a small angle in the right half-plane.
  const V ey = somg12 * p.clam12 - comg12 * p.slam12;
  const V ex = comg12 * p.clam12 + somg12 * p.slam12;
  const V t = ey / ex;
  V eta = small_atan(t);
  const auto large = ~((ex > 0.0) & (abs(t) <= small_angle));
  if (L::any(large & live)) eta = select(large, lanes::atan2(ey, ex), eta);
  r.eps = eps_of(calp0_sq * S::ep2);
  V c3[S::order];
  S::C3(r.eps, c3);
  const V b312 = S::sin_cos_series<true, S::order - 1>(sig.ssig2, sig.csig2, c3) -
                 S::sin_cos_series<true, S::order - 1>(sig.ssig1, sig.csig1, c3);
  r.domg12 = -S::f * S::A3(r.eps) * salp0 * (r.sig12 + b312);
  r.v = eta + r.domg12;
  return r;
}

// Newton's step -v / (d lambda12 / d alp1) in one division; the derivative,
// f1 m12b / (calp2 cbet2) or, where calp2 = 0, -2 f1 dn1 / sbet1, is
// positive exactly where `ascending` is set (calp2 >= 0 and sbet1 < 0 here).
// Kept apart because the last pass, whose v has converged, needs no step.
template <class V>
inline V newton_step(const Canonical<V>& p, const Lambda<V>& r, MaskOf<V>& ascending) noexcept {
  const V m12b = newton_reduced_length(r.eps, r.sig12, p.dn1, p.dn2, r.sig);
  const auto vertex = r.calp2 == 0.0;
  ascending = vertex | (m12b > 0.0);
  return select(vertex, r.v * p.sbet1, -r.v * (r.calp2 * p.cbet2)) /
         select(vertex, (2.0 * S::f1) * p.dn1, m12b * S::f1);
}

// (x, y) within a few ulps of the unit circle brought onto it: one Newton
// step for 1 / hypot, with no root and no division.
template <class V>
inline void renorm(V& x, V& y) noexcept {
  const V g = (3.0 - (x * x + y * y)) * 0.5;
  x = x * g;
  y = y * g;
}

}  // namespace inverse_detail

// sin and cos of the reduced latitude of lat degrees, cos kept off zero.
template <class L, class V>
inline void reduced_latitude(V lat, V& sbet, V& cbet) noexcept {
  using namespace lanes;
  sincosd(lat, sbet, cbet);
  sbet = sbet * series::f1;
  norm<L>(sbet, cbet);
  cbet = lanes::max(cbet, series::tiny);
}

// A point that is the same in every lane and every block (a broadcast
// input): the sine and cosine of its reduced latitude, worked out once from
// the latitude rounded as the solver rounds it.
template <class V>
struct GivenPoint {
  int which = 0;  // 1 or 2: point 1 or point 2 is given; 0: neither
  V sbet, cbet;
};

template <class L, class V>
inline GivenPoint<V> given_point(int which, double lat) noexcept {
  GivenPoint<V> g{which, {}, {}};
  if (which != 0) reduced_latitude<L>(lanes::ang_round(lanes::splat<V>(lat)), g.sbet, g.cbet);
  return g;
}

// Solves the lanes it can; returns the mask of lanes left to the caller
// (their outputs are unspecified). `given` may spare the work one point
// alone decides; the answers are the same to the bit.
template <class L, InverseLevel Level, class V>
inline lanes::MaskOf<V> inverse(V lat1, V lon1, V lat2, V lon2, InverseLanes<V>& out,
                                const GivenPoint<V>& given = {}) noexcept {
  using namespace inverse_detail;
  using M = MaskOf<V>;

  // NaN, infinities, latitudes beyond +-90 and longitudes too large for the
  // exact reduction all go to GeographicLib.
  M rare = ~((abs(lat1) <= 90.0) & (abs(lat2) <= 90.0) & (abs(lon1) < reduction_limit) &
             (abs(lon2) < reduction_limit));

  Canonical<V> p;
  V lon12s;
  V lon12 = ang_diff(lon1, lon2, lon12s);
  p.lonsign = select(signbit(lon12), splat<V>(-1.0), splat<V>(1.0));
  lon12 = lon12 * p.lonsign;
  lon12s = lon12s * p.lonsign;
  p.lam12 = lon12 * degree;
  sincosd(lon12, lon12s, p.slam12, p.clam12, true);
  lon12s = (180.0 - lon12) - lon12s;  // the supplementary longitude difference

  lat1 = ang_round(lat1);
  lat2 = ang_round(lat2);
  const M swap = abs(lat1) < abs(lat2);
  p.swapp = select(swap, splat<V>(-1.0), splat<V>(1.0));
  p.lonsign = flip(swap, p.lonsign);
  const V lat1_given = lat1;
  lat1 = select(swap, lat2, lat1);
  lat2 = select(swap, lat1_given, lat2);
  p.latsign = select(signbit(lat1), splat<V>(1.0), splat<V>(-1.0));
  lat1 = lat1 * p.latsign;
  lat2 = lat2 * p.latsign;

  if (given.which == 0) {
    reduced_latitude<L>(lat1, p.sbet1, p.cbet1);
    reduced_latitude<L>(lat2, p.sbet2, p.cbet2);
  } else {
    // The given point is now point 1 where it was point 1 and stayed, or
    // was point 2 and was swapped. Its latitude took latsign, and its sbet
    // takes it exactly: sincosd(-x) is (-sin x, cos x) to the bit.
    const M first = given.which == 1 ? ~swap : swap;
    V sbet, cbet;
    reduced_latitude<L>(select(first, lat2, lat1), sbet, cbet);
    const V sbet_given = given.sbet * p.latsign;
    p.sbet1 = select(first, sbet_given, sbet);
    p.cbet1 = select(first, given.cbet, cbet);
    p.sbet2 = select(first, sbet, sbet_given);
    p.cbet2 = select(first, cbet, given.cbet);
  }
  // Where |bet2| and |bet1| differ by rounding only, make them equal.
  const M cbet_measure = p.cbet1 < -p.sbet1;
  p.sbet2 = select(cbet_measure & (p.cbet2 == p.cbet1), copysign(p.sbet1, p.sbet2), p.sbet2);
  p.cbet2 = select(~cbet_measure & (abs(p.sbet2) == -p.sbet1), p.cbet1, p.cbet2);
  p.dn1 = L::sqrt(1.0 + S::ep2 * (p.sbet1 * p.sbet1));
  p.dn2 = L::sqrt(1.0 + S::ep2 * (p.sbet2 * p.sbet2));
  p.rcbet2 = 1.0 / p.cbet2;

  // Meridional and equatorial lines have closed forms in GeographicLib.
  rare |= (lat1 == -90.0) | (p.slam12 == 0.0) | (p.sbet1 == 0.0);

  // The starting azimuth (InverseStart).
  const V sbet12 = p.sbet2 * p.cbet1 - p.cbet2 * p.sbet1;
  const V cbet12 = p.cbet2 * p.cbet1 + p.sbet2 * p.sbet1;
  const V sbet12a = p.sbet2 * p.cbet1 + p.cbet2 * p.sbet1;
  const M shortline = (cbet12 >= 0.0) & (sbet12 < 0.5) & (p.cbet2 * p.lam12 < 0.5);
  V somg12 = p.slam12, comg12 = p.clam12;
  if (L::any(shortline & ~rare)) {
    const V sum = p.sbet1 + p.sbet2, csum = p.cbet1 + p.cbet2;
    V sbetm2 = sum * sum;
    sbetm2 = sbetm2 / (sbetm2 + csum * csum);
    const V dnm = L::sqrt(1.0 + S::ep2 * sbetm2);
    V s, c;
    L::sincos(p.lam12 / (S::f1 * dnm), s, c);
    somg12 = select(shortline, s, somg12);
    comg12 = select(shortline, c, comg12);
  }
  V salp1 = p.cbet2 * somg12;
  const V sq = p.cbet2 * p.sbet1 * (somg12 * somg12);
  V calp1 = select(comg12 >= 0.0, sbet12 + sq / (1.0 + comg12), sbet12a - sq / (1.0 - comg12));
  const V ssig12 = hypot<L>(salp1, calp1);
  const V csig12 = p.sbet1 * p.sbet2 + p.cbet1 * p.cbet2 * comg12;
  // Really short lines are solved on the sphere, lines near the antipodes
  // start from the astroid: both GeographicLib's.
  rare |= shortline & (ssig12 < S::etol2);
  rare |= ~((csig12 >= 0.0) | (ssig12 >= 6.0 * abs(splat<V>(S::n)) * pi * (p.cbet1 * p.cbet1)));
  rare |= ~(salp1 > 0.0);
  norm<L>(salp1, calp1);

  // Newton's method on alp1. A lane that has converged keeps its azimuth,
  // so later passes recompute exactly the values it converged with.
  M active = ~rare;
  M tripn = V{} != V{};
  Lambda<V> r;
  for (int it = 0;; ++it) {
    r = lambda12<L>(p, salp1, calp1, ~rare);
    const V tol = select(tripn, splat<V>(8 * S::tol0), splat<V>(S::tol0));
    active &= abs(r.v) >= tol;
    if (!L::any(active)) break;
    if (it == max_newton) {
      rare |= active;
      break;
    }
    M ascending;
    const V dalp1 = newton_step(p, r, ascending);
    V sdalp1, cdalp1;
    // After the first step or two the corrections are small.
    small_sincos(dalp1, sdalp1, cdalp1);
    const M large = active & (abs(dalp1) > small_angle);
    if (L::any(large)) {
      V s, c;
      L::sincos(dalp1, s, c);
      sdalp1 = select(large, s, sdalp1);
      cdalp1 = select(large, c, cdalp1);
    }
    V nsalp1 = salp1 * cdalp1 + calp1 * sdalp1;
    // GeographicLib bisects instead of these steps; leave such lanes to it.
    const M rejected = active & ~(ascending & (abs(dalp1) < pi) & (nsalp1 > 0.0));
    rare |= rejected;
    active &= ~rejected;
    V ncalp1 = calp1 * cdalp1 - salp1 * sdalp1;
    renorm(nsalp1, ncalp1);  // a rotated unit vector
    salp1 = select(active, nsalp1, salp1);
    calp1 = select(active, ncalp1, calp1);
    tripn = select(active, abs(r.v) <= 16 * S::tol0, tripn);
  }

  // The distance always; the reduced length and the scales for full, the
  // area for area and full. The ends of the arc onto the unit circle first
  // (the passes left them within a few ulps of it).
  Sigmas<V>& sig = r.sig;
  renorm(sig.ssig1, sig.csig1);
  renorm(sig.ssig2, sig.csig2);
  V ca[S::order + 1];
  const V a1m1 = S::A1m1(r.eps);
  S::C1(r.eps, ca);
  const V b1 = S::sin_cos_series<true, S::order>(sig.ssig2, sig.csig2, ca) -
               S::sin_cos_series<true, S::order>(sig.ssig1, sig.csig1, ca);
  out.s12 = 0.0 + ((1.0 + a1m1) * (r.sig12 + b1)) * S::b;
  out.a12 = r.sig12 / degree;

  const V salp2 = r.salp2, calp2 = r.calp2;
  if constexpr (Level == InverseLevel::full) {
    const V csig12n = sig.csig1 * sig.csig2 + sig.ssig1 * sig.ssig2;  // of the final arc
    const V t = S::ep2 * (p.cbet1 - p.cbet2) * (p.cbet1 + p.cbet2) / (p.dn1 + p.dn2);
    const Lengths<V> len = lengths(r.eps, r.sig12, a1m1, b1, t, csig12n, p.dn1, p.dn2, sig);
    out.m12 = 0.0 + len.m12b * S::b;
    out.M12 = select(swap, len.M21, len.M12);
    out.M21 = select(swap, len.M12, len.M21);
  }
  if constexpr (Level >= InverseLevel::area) {
    // The area: I4 on the final pass's arc (GeographicLib works alp0 and
    // the arc out anew from the final azimuth, to the same values within
    // rounding), then the spherical excess c2 alp12.
    V sdomg12, cdomg12;
    small_sincos(r.domg12, sdomg12, cdomg12);  // |domg12| < f pi
    const V somg = p.slam12 * cdomg12 - p.clam12 * sdomg12;
    const V comg = p.clam12 * cdomg12 + p.slam12 * sdomg12;
    const V salp0 = salp1 * p.cbet1;
    V s12 = select((r.calp0 != 0.0) & (salp0 != 0.0), area_series(r.eps, r.calp0, salp0, sig),
                   V{});
    // alp12 from tan(Gamma/2) where the longitude and latitude differences
    // are moderate, else from the azimuths; one atan2 serves both.
    const M gamma = (comg > -0.7071) & (p.sbet2 - p.sbet1 < 1.75);
    const V domg = 1.0 + comg, dbet1 = 1.0 + p.cbet1, dbet2 = 1.0 + p.cbet2;
    const V gy = somg * (p.sbet1 * dbet2 + p.sbet2 * dbet1);
    const V gx = domg * (p.sbet1 * p.sbet2 + dbet1 * dbet2);
    V salp12 = salp2 * calp1 - calp2 * salp1;
    V calp12 = calp2 * calp1 + salp2 * salp1;
    const M back = (salp12 == 0.0) & (calp12 < 0.0);
    salp12 = select(back, S::tiny * calp1, salp12);
    calp12 = select(back, splat<V>(-1.0), calp12);
    const V alp = lanes::atan2(select(gamma, gy, salp12), select(gamma, gx, calp12));
    const V alp12 = select(gamma, 2.0 * alp, alp);
    s12 = s12 + S::c2 * alp12;
    s12 = s12 * (p.swapp * p.lonsign * p.latsign);
    out.S12 = s12 + 0.0;
  }

  if constexpr (Level == InverseLevel::azimuths || Level == InverseLevel::full) {
    V s1 = select(swap, salp2, salp1), c1 = select(swap, calp2, calp1);
    V s2 = select(swap, salp1, salp2), c2 = select(swap, calp1, calp2);
    const V ls = p.swapp * p.lonsign, la = p.swapp * p.latsign;
    out.azi1 = atan2d(s1 * ls, c1 * la);
    out.azi2 = atan2d(s2 * ls, c2 * la);
  }
  return rare;
}

}  // namespace tarnu::isa::TARNU_ISA::solver
