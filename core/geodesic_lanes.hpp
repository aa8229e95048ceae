// Lane-wise arithmetic for the vectorised geodesic solver.
//
// `L` describes one instruction set (a file of core/isa/): a lane type V (a
// GCC vector of doubles, one to eight lanes), its mask type M (the result of
// comparing two Vs: all bits set in a true lane), and the functions that
// need the instruction set or SLEEF: sqrt (the hardware's, correctly
// rounded), sin, cos, asin and sincos from one deterministic SLEEF family,
// and any()/bits() over a mask.
// Everything else is plain IEEE arithmetic, each operation rounded on its
// own (the build passes -ffp-contract=off), so a lane computes the same bits
// whatever the width.
//
// The degree helpers follow GeographicLib's Math class: the same exact
// reductions by 90 and 360 degrees (for |x| < 2^40; callers send larger
// arguments elsewhere), error-free sums and octant folding. After those
// reductions the arguments are small, and sine, cosine and arctangent are
// fdlibm's polynomials (under an ulp, as libm's and SLEEF's are) evaluated
// here in a few dozen operations, where a library call costs several times
// that.
#pragma once

#include <cstdint>

#ifndef TARNU_ISA
#error "compiled only inside an instruction set's namespace: see core/dispatch.hpp"
#endif

namespace tarnu::isa::TARNU_ISA::lanes {

inline constexpr double pi = 3.141592653589793;           // nearest double to pi
inline constexpr double degree = pi / 180;                // radians per degree, rounded once
inline constexpr double per_radian = 180 / pi;            // degrees per radian, rounded once
inline constexpr double reduction_limit = 0x1p40;         // exact reductions below this magnitude
inline constexpr std::int64_t sign_bit = INT64_MIN;

template <class V>
using MaskOf = decltype(V{} < V{});

template <class V>
inline V splat(double x) noexcept {
  return V{} + x;
}

template <class V>
inline V select(MaskOf<V> m, V a, V b) noexcept {
  return m ? a : b;
}

template <class V>
inline MaskOf<V> signbit(V x) noexcept {
  return __builtin_bit_cast(MaskOf<V>, x) < 0;
}

template <class V>
inline V abs(V x) noexcept {
  using M = MaskOf<V>;
  return __builtin_bit_cast(V, __builtin_bit_cast(M, x) & ~sign_bit);
}

// The magnitude of x with the sign of y, as std::copysign.
template <class V>
inline V copysign(V x, V y) noexcept {
  using M = MaskOf<V>;
  return __builtin_bit_cast(
      V, (__builtin_bit_cast(M, x) & ~sign_bit) | (__builtin_bit_cast(M, y) & sign_bit));
}

// x with its sign flipped where m is set.
template <class V>
inline V flip(MaskOf<V> m, V x) noexcept {
  using M = MaskOf<V>;
  return __builtin_bit_cast(V, __builtin_bit_cast(M, x) ^ (m & sign_bit));
}

// std::fmax(x, y) for y not NaN: a NaN x gives y.
template <class V>
inline V max(V x, double y) noexcept {
  return select(x > y, x, splat<V>(y));
}

// Round to the nearest integer, ties to even, as std::rint in the default
// rounding mode. Adding and removing 2^52 rounds away the fraction; at and
// beyond 2^52 every double is already an integer.
template <class V>
inline V rint(V x) noexcept {
  const V big = copysign(splat<V>(0x1p52), x);
  const V r = (x + big) - big;
  return select(abs(x) < 0x1p52, r, x);
}

// x - n * y with n the integer nearest x / y (ties to even), exactly, as
// std::remquo; the quotient comes back in n. The quotient comes from a
// product with the rounded reciprocal (a division costs as much as the rest
// of this), so it can be one off near a half-integer: the remainder then
// lands just outside [-y/2, y/2], or on its edge with an odd quotient, and
// one step of y puts both right. Each step is exact: n * y is an integer
// below 2^53, and the difference is a multiple of ulp(x) no larger than x. A
// zero remainder takes the sign of x, as in C.
template <class V>
inline V remquo(V x, double y, V& n) noexcept {
  const double half = 0.5 * y;
  n = rint(x * (1 / y));
  V r = x - n * y;
  const V n2 = n * 0.5;
  const auto odd = rint(n2) != n2;
  const auto up = (r > half) | ((r == half) & odd);
  const auto down = (r < -half) | ((r == -half) & odd);
  r = select(up, r - y, select(down, r + y, r));
  n = select(up, n + 1.0, select(down, n - 1.0, n));
  return select(r == 0.0, copysign(r, x), r);
}

template <class V>
inline V remainder(V x, double y) noexcept {
  V n;
  return remquo(x, y, n);
}

// Math::sum: s = u + v rounded, and t the rounding error, u + v = s + t.
template <class V>
inline V two_sum(V u, V v, V& t) noexcept {
  const V s = u + v;
  V up = s - v;
  V vpp = s - up;
  up = up - u;
  vpp = vpp - v;
  t = select(s != 0.0, 0.0 - (up + vpp), s);
  return s;
}

// Math::AngNormalize: x reduced to [-180, 180], keeping the sign of x at
// +-180.
template <class V>
inline V ang_normalize(V x) noexcept {
  const V y = remainder(x, 360.0);
  return select(abs(y) == 180.0, copysign(splat<V>(180.0), x), y);
}

// Math::AngDiff: y - x reduced to [-180, 180], with its rounding error in e.
template <class V>
inline V ang_diff(V x, V y, V& e) noexcept {
  V d = two_sum(remainder(-x, 360.0), remainder(y, 360.0), e);
  d = two_sum(remainder(d, 360.0), e, e);
  const auto edge = (d == 0.0) | (abs(d) == 180.0);
  return select(edge, copysign(d, select(e == 0.0, y - x, -e)), d);
}

// Math::AngRound: tiny angles rounded to multiples of 2^-57, so that angles
// within about 1e-17 degrees of zero become zero.
template <class V>
inline V ang_round(V x) noexcept {
  constexpr double z = 1.0 / 16;
  V y = abs(x);
  const V w = z - y;
  y = select(w > 0.0, z - w, y);
  return copysign(y, x);
}

// sin and cos of x radians for |x| <= pi/4 (a hair beyond is fine):
// fdlibm's __kernel_sin and __kernel_cos, whose minimax polynomials are
// within an ulp there.
template <class V>
inline void sincos_quarter(V x, V& s, V& c) noexcept {
  const V z = x * x;
  const V w = z * z;
  const V rs = 8.33333333332248946124e-03 +
               z * (-1.98412698298579493134e-04 + z * 2.75573137070700676789e-06) +
               z * w * (-2.50507602534068634195e-08 + z * 1.58969099521155010221e-10);
  s = x + (z * x) * (-1.66666666666666324348e-01 + z * rs);
  const V rc = z * (4.16666666666666019037e-02 +
                    z * (-1.38888888888741095749e-03 + z * 2.48015872894767294178e-05)) +
               w * w * (-2.75573143513906633035e-07 +
                        z * (2.08757232129817482790e-09 + z * -1.13596475577881948265e-11));
  // 1 - z/2 split so that its rounding error is carried, not lost.
  const V hz = 0.5 * z;
  const V v = 1.0 - hz;
  c = v + (((1.0 - v) - hz) + z * rc);
}

// atan2(y, x) in radians, within 1.5 ulps: fdlibm's atan, which reduces
// |y / x| to |t| <= 7/16 about atan of 0, 1/2, 1, 3/2 or infinity and sums a
// minimax polynomial onto that angle's two-part value. Here t is formed
// from y and x directly, (2y - x) / (2x + y) and so on, so the whole costs
// one division. The signs of zeros are C's; NaN gives NaN; infinite
// arguments are not handled.
template <class V>
inline V atan2(V y, V x) noexcept {
  using M = MaskOf<V>;
  const V ax = abs(x), ay = abs(y);
  // Which of ay / ax's intervals, split at 7/16, 11/16, 19/16 and 39/16.
  const V y16 = 16.0 * ay;
  const M k0 = y16 > 7.0 * ax, k1 = y16 > 11.0 * ax, k2 = y16 > 19.0 * ax, k3 = y16 > 39.0 * ax;
  // ax = 0 in the first interval means y = 0 too: 0 / 1, not 0 / 0.
  V num = select(k0, 2.0 * ay - ax, ay);
  V den = select(k0, 2.0 * ax + ay, select(ax == 0.0, splat<V>(1.0), ax));
  V hi = select(k0, splat<V>(4.63647609000806093515e-01), V{});  // atan(1/2)
  V lo = select(k0, splat<V>(2.26987774529616870924e-17), V{});
  num = select(k1, ay - ax, num);
  den = select(k1, ay + ax, den);
  hi = select(k1, splat<V>(7.85398163397448278999e-01), hi);  // atan(1)
  lo = select(k1, splat<V>(3.06161699786838301793e-17), lo);
  num = select(k2, 2.0 * ay - 3.0 * ax, num);
  den = select(k2, 2.0 * ax + 3.0 * ay, den);
  hi = select(k2, splat<V>(9.82793723247329054082e-01), hi);  // atan(3/2)
  lo = select(k2, splat<V>(1.39033110312309984516e-17), lo);
  num = select(k3, -ax, num);
  den = select(k3, ay, den);
  hi = select(k3, splat<V>(1.57079632679489655800e+00), hi);  // pi/2
  lo = select(k3, splat<V>(6.12323399573676603587e-17), lo);
  const V t = num / den;
  const V z = t * t;
  const V w = z * z;
  const V s1 = z * (3.33333333333329318027e-01 +
                    w * (1.42857142725034663711e-01 +
                         w * (9.09088713343650656196e-02 +
                              w * (6.66107313738753120669e-02 +
                                   w * (4.97687799461593236017e-02 +
                                        w * 1.62858201153657823623e-02)))));
  const V s2 = w * (-1.99999999998764832476e-01 +
                    w * (-1.11111104054623557880e-01 +
                         w * (-7.69187620504482999495e-02 +
                              w * (-5.83357013379057348645e-02 +
                                   w * -3.65315727442169155270e-02))));
  V a = hi + (t - (t * (s1 + s2) - lo));
  // The left half-plane: pi - a, pi in two parts.
  a = select(signbit(x), 3.1415926535897931160e+00 - (a - 1.2246467991473531772e-16), a);
  return copysign(a, y);
}

// sin and cos of x + t degrees (t a small correction, 0 for Math::sincosd):
// reduced exactly into [-45, 45] before the conversion to radians, then
// mapped back by quadrant; -0 gives sin -0, cos +0 as in C.
template <class V>
inline void sincosd(V x, V t, V& sinx, V& cosx, bool round) noexcept {
  V n;
  V r = remquo(x, 90.0, n);
  if (round) r = ang_round(r + t);
  V s, c;
  sincos_quarter(r * degree, s, c);
  // The quadrant is n mod 4, from floor(n / 4).
  const V quarter = n * 0.25;
  V fl = rint(quarter);
  fl = select(fl > quarter, fl - 1.0, fl);
  const V q = n - 4.0 * fl;
  const auto odd = (q == 1.0) | (q == 3.0);
  sinx = select(odd, c, s);
  cosx = select(odd, s, c);
  sinx = flip(q >= 2.0, sinx);
  cosx = flip((q == 1.0) | (q == 2.0), cosx);
  cosx = cosx + 0.0;
  sinx = select(sinx == 0.0, copysign(sinx, x), sinx);
}

template <class V>
inline void sincosd(V x, V& sinx, V& cosx) noexcept {
  sincosd(x, V{}, sinx, cosx, false);
}

// Math::atan2d: the angle in degrees, computed in the octant where atan2's
// result lies in [-45, 45] and mapped back exactly.
template <class V>
inline V atan2d(V y, V x) noexcept {
  const auto swap = abs(y) > abs(x);
  const V xs = select(swap, y, x);
  const V ys = select(swap, x, y);
  const auto neg = signbit(xs);
  const V ang = lanes::atan2(ys, abs(xs)) * per_radian;
  // Quadrant q = 2 * swap + neg: 1 -> +-180 - ang, 2 -> 90 - ang, 3 -> -90 + ang.
  const V q1 = copysign(splat<V>(180.0), ys) - ang;
  const V q2 = 90.0 - ang;
  const V q3 = -90.0 + ang;
  return select(swap, select(neg, q3, q2), select(neg, q1, ang));
}

// sin and cos of x radians for |x| <= small_angle, by their Taylor series:
// the truncation error is below 1e-24 and the rounding error half an ulp
// or so, as good as SLEEF's functions and without a call.
inline constexpr double small_angle = 1.0 / 32;

// cm1 is cos x - 1, for angle sums that keep its low bits.
template <class V>
inline void small_sincos(V x, V& s, V& c, V& cm1) noexcept {
  const V x2 = x * x;
  const V ps = -1.0 / 6 + x2 * (1.0 / 120 + x2 * (-1.0 / 5040 + x2 * (1.0 / 362880)));
  const V pc = -0.5 + x2 * (1.0 / 24 + x2 * (-1.0 / 720 + x2 * (1.0 / 40320)));
  s = x + x * (x2 * ps);
  cm1 = x2 * pc;
  c = 1.0 + cm1;
}

template <class V>
inline void small_sincos(V x, V& s, V& c) noexcept {
  V cm1;
  small_sincos(x, s, c, cm1);
}

// atan(t) for |t| <= small_angle, by its Taylor series: truncation below
// 1e-19 ulp, rounding about half an ulp.
template <class V>
inline V small_atan(V t) noexcept {
  const V t2 = t * t;
  const V p = -1.0 / 3 + t2 * (1.0 / 5 + t2 * (-1.0 / 7 + t2 * (1.0 / 9 + t2 * (-1.0 / 11))));
  return t + t * (t2 * p);
}

template <class L, class V>
inline V hypot(V x, V y) noexcept {
  return L::sqrt(x * x + y * y);
}

// Math::norm: (x, y) scaled to unit length.
template <class L, class V>
inline void norm(V& x, V& y) noexcept {
  const V h = hypot<L>(x, y);
  x = x / h;
  y = y / h;
}

// A whole vector from memory and back, at any alignment.
template <class V>
inline V load(const double* p) noexcept {
  V v;
  __builtin_memcpy(&v, p, sizeof v);
  return v;
}

template <class V>
inline void store(double* p, V v) noexcept {
  __builtin_memcpy(p, &v, sizeof v);
}

}  // namespace tarnu::isa::TARNU_ISA::lanes
