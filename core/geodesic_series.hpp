// The WGS84 ellipsoid's constants and the series of Karney's geodesic
// solution ("Algorithms for geodesics", J. Geodesy 87, 2013), to sixth order
// in the third flattening n and in eps, evaluated lane by lane.
//
// The series coefficients are Karney's (his eqs. 17, 18, 21, 24, 25 and the
// area series of sec. 6); each polynomial is written with integer
// coefficients and one divisor so that it is exact in doubles, and is
// evaluated by Horner's rule in the same order as GeographicLib. Everything
// here is a constant expression: the per-instruction-set objects must not
// run initialisers of their own.
#pragma once

#include <array>
#include <cfloat>
#include <algorithm>
#include <cmath>
#include <cstddef>

#include "tarnu/geodesic.hpp"

#ifndef TARNU_ISA
#error "compiled only inside an instruction set's namespace: see core/dispatch.hpp"
#endif

namespace tarnu::isa::TARNU_ISA::series {

inline constexpr int order = 6;

inline constexpr double a = geodesic::wgs84_a;
inline constexpr double f = geodesic::wgs84_f;
inline constexpr double f1 = 1 - f;
inline constexpr double e2 = f * (2 - f);
inline constexpr double ep2 = e2 / (f1 * f1);
inline constexpr double n = f / (2 - f);
inline constexpr double b = a * f1;
// Authalic radius squared: (a^2 + b^2 atanh(e) / e) / 2, e = sqrt(e2).
inline constexpr double c2 = 0x1.275444b27b961p+45;

inline constexpr double tiny = 0x1p-511;  // sqrt(DBL_MIN): its square is still normal
inline constexpr double tol0 = DBL_EPSILON;
inline constexpr double tol2 = 0x1p-26;   // sqrt(tol0)
// Below this arc (radians) a line is "really short": solved on the
// auxiliary sphere without iterating.
inline constexpr double etol2 = 0x1.38e291574bf71p-25;  // 0.1 tol2 / sqrt(f (1 - f/2) / 2)

// Clang cannot evaluate sqrt and atanh in a constant expression, so the two
// values above are written out; GCC checks them against their formulas, each
// result rounded once.
#if !defined(__clang__)
static_assert(c2 == (a * a + (b * b) * (std::sqrt(e2) * std::atanh(std::sqrt(e2)) / e2)) / 2);
static_assert(etol2 == 0.1 * tol2 / std::sqrt(f * (1 - f / 2) / 2));
#endif

// Horner's rule on p[0..N] (highest power first).
template <class T>
constexpr T polyval(int N, const double* p, T x) noexcept {
  T y = T{} + p[0];
  for (int i = 1; i <= N; ++i) y = y * x + p[i];
  return y;
}

namespace detail {

// A3 = mean value of dI3/dsigma: coefficients of eps^5 .. eps^0, each a
// polynomial in n with a divisor.
inline constexpr double A3_coeff[] = {
    -3, 128, -2, -3, 64, -1, -3, -1, 16, 3, -1, -2, 8, 1, -1, 2, 1, 1,
};
// C3[l], l = 1..5: coefficients of eps^5 .. eps^l, each a polynomial in n.
inline constexpr double C3_coeff[] = {
    3, 128, 2, 5, 128, -1, 3, 3, 64, -1, 0, 1, 8, -1, 1, 4,  // C3[1]
    5, 256, 1, 3, 128, -3, -2, 3, 64, 1, -3, 2, 32,          // C3[2]
    7, 512, -10, 9, 384, 5, -9, 5, 192,                      // C3[3]
    7, 512, -14, 7, 512,                                     // C3[4]
    21, 2560,                                                // C3[5]
};
// C4[l], l = 0..5: coefficients of eps^5 .. eps^l, each a polynomial in n.
inline constexpr double C4_coeff[] = {
    97, 15015, 1088, 156, 45045, -224, -4784, 1573, 45045,  // C4[0]
    -10656, 14144, -4576, -858, 45045,
    64, 624, -4576, 6864, -3003, 15015,
    100, 208, 572, 3432, -12012, 30030, 45045,
    1, 9009, -2944, 468, 135135, 5792, 1040, -1287, 135135,  // C4[1]
    5952, -11648, 9152, -2574, 135135,
    -64, -624, 4576, -6864, 3003, 135135,
    8, 10725, 1856, -936, 225225, -8448, 4992, -1144, 225225,  // C4[2]
    -1440, 4160, -4576, 1716, 225225,
    -136, 63063, 1024, -208, 105105, 3584, -3328, 1144, 315315,  // C4[3]
    -128, 135135, -2560, 832, 405405,                            // C4[4]
    128, 99099,                                                  // C4[5]
};

constexpr std::array<double, 6> make_A3x() {
  std::array<double, 6> x{};
  int o = 0;
  std::size_t k = 0;
  for (int j = order - 1; j >= 0; --j) {
    const int m = std::min(order - j - 1, j);
    x[k++] = polyval(m, A3_coeff + o, n) / A3_coeff[o + m + 1];
    o += m + 2;
  }
  return x;
}

constexpr std::array<double, 15> make_C3x() {
  std::array<double, 15> x{};
  int o = 0;
  std::size_t k = 0;
  for (int l = 1; l < order; ++l) {
    for (int j = order - 1; j >= l; --j) {
      const int m = std::min(order - j - 1, j);
      x[k++] = polyval(m, C3_coeff + o, n) / C3_coeff[o + m + 1];
      o += m + 2;
    }
  }
  return x;
}

constexpr std::array<double, 21> make_C4x() {
  std::array<double, 21> x{};
  int o = 0;
  std::size_t k = 0;
  for (int l = 0; l < order; ++l) {
    for (int j = order - 1; j >= l; --j) {
      const int m = order - j - 1;
      x[k++] = polyval(m, C4_coeff + o, n) / C4_coeff[o + m + 1];
      o += m + 2;
    }
  }
  return x;
}

}  // namespace detail

// The n-dependent coefficients, polynomials in eps (highest power first).
inline constexpr std::array<double, 6> A3x = detail::make_A3x();
inline constexpr std::array<double, 15> C3x = detail::make_C3x();
inline constexpr std::array<double, 21> C4x = detail::make_C4x();

// I1 and I2 (eqs. 17, 18, 42, 43): A1 - 1, A2 - 1 and the Fourier
// coefficients C1[l], C2[l], l = 1..6, as polynomials in eps^2 with a
// divisor; the reverted series C1'[l] (eq. 21) likewise.
namespace detail {
inline constexpr double A1m1_coeff[] = {1, 4, 64, 0, 256};
inline constexpr double A2m1_coeff[] = {-11, -28, -192, 0, 256};
inline constexpr double C1_coeff[] = {
    -1, 6, -16, 32, -9, 64, -128, 2048, 9, -16, 768, 3, -5, 512, -7, 1280, -7, 2048,
};
inline constexpr double C1p_coeff[] = {
    205, -432, 768, 1536, 4005, -4736, 3840, 12288, -225, 116, 384,
    -7173, 2695, 7680, 3467, 7680, 38081, 61440,
};
inline constexpr double C2_coeff[] = {
    1, 2, 16, 32, 35, 64, 384, 2048, 15, 80, 768, 7, 35, 512, 63, 1280, 77, 2048,
};

// The divisors d_l of a table of six polynomials in eps^2, as reciprocals
// (element l - 1):
// a product costs far less than a division, and these terms are small
// corrections whose last bit does not reach the results.
constexpr std::array<double, order> reciprocals(const double* coeff) {
  std::array<double, order> r{};
  int o = 0;
  for (int l = 1; l <= order; ++l) {
    const int m = (order - l) / 2;
    r[static_cast<std::size_t>(l - 1)] = 1 / coeff[o + m + 1];
    o += m + 2;
  }
  return r;
}

// c[l] = eps^l * P_l(eps^2) / d_l for l = 1..6, P_l of order (6 - l) / 2.
template <class V>
inline void fourier(const double* coeff, const std::array<double, order>& inv, V eps,
                    V* c) noexcept {
  const V eps2 = eps * eps;
  V d = eps;
  int o = 0;
  for (int l = 1; l <= order; ++l) {
    const int m = (order - l) / 2;
    c[l] = d * (polyval(m, coeff + o, eps2) * inv[static_cast<std::size_t>(l - 1)]);
    o += m + 2;
    d = d * eps;
  }
}
inline constexpr auto C1_inv = reciprocals(C1_coeff);
inline constexpr auto C1p_inv = reciprocals(C1p_coeff);
inline constexpr auto C2_inv = reciprocals(C2_coeff);
}  // namespace detail

template <class V>
inline V A1m1(V eps) noexcept {
  const V t = polyval(3, detail::A1m1_coeff, eps * eps) / detail::A1m1_coeff[4];
  return (t + eps) / (1.0 - eps);
}

template <class V>
inline V A2m1(V eps) noexcept {
  const V t = polyval(3, detail::A2m1_coeff, eps * eps) / detail::A2m1_coeff[4];
  return (t - eps) / (1.0 + eps);
}

// c[1..6]; c[0] is not written.
template <class V>
inline void C1(V eps, V* c) noexcept {
  detail::fourier(detail::C1_coeff, detail::C1_inv, eps, c);
}
template <class V>
inline void C1p(V eps, V* c) noexcept {
  detail::fourier(detail::C1p_coeff, detail::C1p_inv, eps, c);
}
template <class V>
inline void C2(V eps, V* c) noexcept {
  detail::fourier(detail::C2_coeff, detail::C2_inv, eps, c);
}

template <class V>
inline V A3(V eps) noexcept {
  return polyval(order - 1, A3x.data(), eps);
}

// c[1..5]; c[0] is not written.
template <class V>
inline void C3(V eps, V* c) noexcept {
  V mult = V{} + 1.0;
  int o = 0;
  for (int l = 1; l < order; ++l) {
    const int m = order - l - 1;
    mult = mult * eps;
    c[l] = mult * polyval(m, C3x.data() + o, eps);
    o += m + 1;
  }
}

// c[0..5].
template <class V>
inline void C4(V eps, V* c) noexcept {
  V mult = V{} + 1.0;
  int o = 0;
  for (int l = 0; l < order; ++l) {
    const int m = order - l - 1;
    c[l] = mult * polyval(m, C4x.data() + o, eps);
    o += m + 1;
    mult = mult * eps;
  }
}

// Clenshaw summation of sum c[l] sin(2 l x), l = 1..N (Sine true), or of
// sum c[l] cos((2 l + 1) x), l = 0..N-1, from sin x and cos x.
template <bool Sine, int N, class V>
inline V sin_cos_series(V sinx, V cosx, const V* c) noexcept {
  const V ar = 2.0 * (cosx - sinx) * (cosx + sinx);  // 2 cos 2x
  int k = N + (Sine ? 1 : 0);                          // one past the last coefficient
  V y0 = (N & 1) ? c[--k] : V{};
  V y1{};
  for (int i = 0; i < N / 2; ++i) {
    y1 = ar * y0 - y1 + c[--k];
    y0 = ar * y1 - y0 + c[--k];
  }
  return Sine ? 2.0 * sinx * cosx * y0 : cosx * (y0 - y1);
}

}  // namespace tarnu::isa::TARNU_ISA::series
