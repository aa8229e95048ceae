// What both problems of the vectorised WGS84 solver share: the notation of
// every name below and in geodesic_inverse.hpp and geodesic_direct.hpp, and
// the formulas both use. Compiled inside each instruction set's namespace
// (see core/dispatch.hpp); every function works lane by lane.
//
// Notation (Karney, "Algorithms for geodesics", J. Geodesy 87, 2013, whose
// names GeographicLib uses too). A prefix s or c is a sine or a cosine:
// sbet1 = sin(bet1). Angles in radians unless a name says degrees.
//
//   f, n, e2, ep2  the flattening, third flattening, eccentricity squared
//                  and second eccentricity squared of WGS84; b = a (1 - f)
//                  is the polar semi-axis and f1 = 1 - f (geodesic_series.hpp)
//   bet1, bet2     reduced latitudes of points 1 and 2: tan(bet) = f1 tan(lat)
//   dn1, dn2       sqrt(1 + ep2 sbet^2) at each point, the factor between
//                  an arc on the auxiliary sphere and one on the ellipsoid
//   alp1, alp2     the geodesic's azimuths at the two points (clockwise from
//                  north)
//   alp0           its azimuth where it crosses the equator northwards:
//                  salp0 = salp1 cbet1 (Clairaut's constant, the same all
//                  along the line) and calp0 = hypot(calp1, salp1 sbet1)
//   sig1, sig2     arc lengths on the auxiliary sphere from that crossing:
//                  ssig = sbet and csig = calp cbet, normalised
//   sig12          sig2 - sig1, the arc between the points; a12 is sig12 in
//                  degrees
//   omg1, omg2     longitudes on the auxiliary sphere from the crossing:
//                  somg = salp0 sbet and comg = csig; omg12 = omg2 - omg1
//   lam12          the longitude difference on the ellipsoid (lon12 in
//                  degrees): lam12 = omg12 + domg12
//   domg12         the ellipsoid's share of it, -f A3 salp0 (sig12 + B312)
//   k2             ep2 calp0^2, the eccentricity the line itself meets
//   eps            the series' small parameter, from k2 (eps_of below)
//   A1, C1         I1, the distance: s12 = b A1 (sig12 + B1), where
//                  B1 = B1(sig2) - B1(sig1) and B1(sig) = sum_l C1[l] sin 2l sig
//   A2, C2         I2; with I1 it gives J12 = (A1 - A2) sig12 + A1 B1 - A2 B2
//   A3, C3         I3, the longitude: B312 = B3(sig2) - B3(sig1)
//   C4, A4         I4, the area: A4 = a^2 calp0 salp0 e2, and
//                  B4(sig) = sum_l C4[l] cos (2l + 1) sig
//   m12            the reduced length, m12 = b m12b
//   M12, M21       the geodesic scales of each point relative to the other
//   alp12          alp2 - alp1; S12 = c2 alp12 + A4 (B4(sig2) - B4(sig1)),
//                  c2 the authalic radius squared
//   tau12          (direct) s12 / (b A1), the arc sig12 would be without B1
//
// Each series is a function of eps (geodesic_series.hpp): A1m1 is A1 - 1,
// A2m1 is A2 - 1, and the C arrays hold the Fourier coefficients.
#pragma once

#include "geodesic_lanes.hpp"
#include "geodesic_series.hpp"

namespace tarnu::isa::TARNU_ISA::solver {

// eps = (sqrt(1 + k2) - 1) / (sqrt(1 + k2) + 1) for 0 <= k2 <= ep2, by its
// Taylor series in k2 to k2^8: the coefficients are exact in binary and the
// truncation is below 4e-19 relative, so it keeps the digits the closed
// form keeps, without its root and division.
template <class V>
inline V eps_of(V k2) noexcept {
  constexpr double c[] = {-715.0 / 32768, 429.0 / 16384, -33.0 / 1024, 21.0 / 512,
                          -7.0 / 128,     5.0 / 64,      -1.0 / 8,     1.0 / 4};
  return k2 * series::polyval(7, c, k2);
}

// The ends of the arc on the auxiliary sphere.
template <class V>
struct Sigmas {
  V ssig1, csig1, ssig2, csig2;
};

// m12 / b from J12. The parentheses keep the cancellation exact for
// coincident points.
template <class V>
inline V reduced_length(V j12, V dn1, V dn2, const Sigmas<V>& s) noexcept {
  return dn2 * (s.csig1 * s.ssig2) - dn1 * (s.ssig1 * s.csig2) - s.csig1 * s.csig2 * j12;
}

template <class V>
struct Lengths {
  V m12b, M12, M21;
};

// The reduced length (over b) and the geodesic scales, from B1 as each
// problem has it (the direct problem from its reverted series), and
// t = dn2 - dn1 and csig12 in the form each problem has them.
template <class V>
inline Lengths<V> lengths(V eps, V sig12, V a1m1, V b1, V t, V csig12, V dn1, V dn2,
                          const Sigmas<V>& s) noexcept {
  namespace S = series;
  V c2[S::order + 1];
  const V a2m1 = S::A2m1(eps);
  S::C2(eps, c2);
  const V b2 = S::sin_cos_series<true, S::order>(s.ssig2, s.csig2, c2) -
               S::sin_cos_series<true, S::order>(s.ssig1, s.csig1, c2);
  const V j12 = (a1m1 - a2m1) * sig12 + ((1.0 + a1m1) * b1 - (1.0 + a2m1) * b2);
  return {reduced_length(j12, dn1, dn2, s),
          csig12 + (t * s.ssig2 - s.csig2 * j12) * s.ssig1 / dn1,
          csig12 - (t * s.ssig1 - s.csig1 * j12) * s.ssig2 / dn2};
}

// A4 (B4(sig2) - B4(sig1)): the area under the geodesic less the spherical
// excess c2 alp12, which each problem adds in its own way.
template <class V>
inline V area_series(V eps, V calp0, V salp0, const Sigmas<V>& s) noexcept {
  namespace S = series;
  V c4[S::order];
  S::C4(eps, c4);
  const V a4 = S::a * S::a * calp0 * salp0 * S::e2;
  const V b41 = S::sin_cos_series<false, S::order>(s.ssig1, s.csig1, c4);
  const V b42 = S::sin_cos_series<false, S::order>(s.ssig2, s.csig2, c4);
  return a4 * (b42 - b41);
}

}  // namespace tarnu::isa::TARNU_ISA::solver
