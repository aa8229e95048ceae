// The haversine distance written once for every vector width.
//
// `Math` supplies a lane type V (double, or a GCC vector of doubles), its
// loads and stores, a correctly rounded square root, and sine, cosine and
// arcsine from one deterministic SLEEF family. Those functions return the
// same bits in every width of a family, and IEEE products, sums and square
// roots are exact-rounded in every width, so each width computes the same
// double for the same four inputs. The build passes -ffp-contract=off, so no
// product and sum below is fused.
//
// Each instruction-set file defines its Math in an anonymous namespace, which
// gives these template instances internal linkage: code compiled for AVX-512
// can never be picked by the linker for a caller on an older CPU.
#pragma once

#include <cstddef>

#include "tarnu/great_circle.hpp"
#include "tarnu/simd.hpp"

namespace tarnu::great_circle::detail {

using DistanceFn = double (*)(double, double, double, double) noexcept;
using DistanceNFn = void (*)(const double*, const double*, const double*, const double*, double*,
                             std::size_t) noexcept;

// One compiled kernel: a SLEEF family at one vector width.
struct SphereKernel {
  const char* name;
  std::size_t lanes;
  simd::Width width;  // the narrowest TARNU_SIMD cap that still allows it
  bool (*cpu_supports)() noexcept;
  DistanceFn distance;      // one pair, with the family's scalar functions
  DistanceNFn distance_n;   // many pairs, `lanes` at a time
};

template <class Math>
inline typename Math::V haversine(typename Math::V lat1, typename Math::V lon1,
                                  typename Math::V lat2, typename Math::V lon2) noexcept {
  using V = typename Math::V;
  const V k = Math::splat(units::radians_per_degree);
  const V half = Math::splat(0.5);
  const V radius = Math::splat(sphere_radius);

  const V phi1 = lat1 * k;
  const V phi2 = lat2 * k;
  // Latitudes are differenced after conversion, longitudes before.
  const V s = Math::sin((phi2 - phi1) * half);
  const V a = s * s;
  const V dlambda = (lon2 - lon1) * k;
  const V g = Math::cos(phi1) * Math::cos(phi2);
  const V t = Math::sin(dlambda * half);
  const V b = t * t;
  // Not clamped: at the antipodes h may be 1 + ulp, and sqrt still gives 1.
  const V h = a + g * b;
  const V d = Math::asin(Math::sqrt(h));
  return (d + d) * radius;
}

// One pair, with both sines in one two-lane call and both cosines in
// another: three library calls instead of five. Lane by lane these are the
// operations of `haversine`, so the result has the same bits.
template <class PairMath>
inline double haversine_pair(double lat1, double lon1, double lat2, double lon2) noexcept {
  const double phi1 = lat1 * units::radians_per_degree;
  const double phi2 = lat2 * units::radians_per_degree;
  const double dlambda = (lon2 - lon1) * units::radians_per_degree;
  const auto sines = PairMath::sin(PairMath::pair((phi2 - phi1) * 0.5, dlambda * 0.5));
  const auto cosines = PairMath::cos(PairMath::pair(phi1, phi2));
  const double s = sines[0];
  const double t = sines[1];
  const double a = s * s;
  const double g = cosines[0] * cosines[1];
  const double b = t * t;
  const double h = a + g * b;
  const double d = PairMath::asin(PairMath::pair(__builtin_sqrt(h), 0.0))[0];
  return (d + d) * sphere_radius;
}

template <class Math>
inline void distance_n(const double* lat1, const double* lon1, const double* lat2,
                       const double* lon2, double* s12, std::size_t n) noexcept {
  constexpr std::size_t lanes = Math::lanes;
  std::size_t i = 0;
  for (; i + lanes <= n; i += lanes) {
    Math::store(s12 + i, haversine<Math>(Math::load(lat1 + i), Math::load(lon1 + i),
                                         Math::load(lat2 + i), Math::load(lon2 + i)));
  }
  if (i == n) return;
  // The tail runs through the same vector code on zero-padded lanes, so
  // every element takes the identical path.
  double a[lanes] = {}, b[lanes] = {}, c[lanes] = {}, d[lanes] = {}, out[lanes];
  const std::size_t rest = n - i;
  for (std::size_t j = 0; j < rest; ++j) {
    a[j] = lat1[i + j];
    b[j] = lon1[i + j];
    c[j] = lat2[i + j];
    d[j] = lon2[i + j];
  }
  Math::store(out, haversine<Math>(Math::load(a), Math::load(b), Math::load(c), Math::load(d)));
  for (std::size_t j = 0; j < rest; ++j) s12[i + j] = out[j];
}

// The two families one pair at a time: SLEEF's functions without FMA (cinz)
// and with FMA inside (finz), on two-lane vectors. Defined by the SSE2 and
// AVX2 builds of sphere_simd.cpp.
double distance_cinz(double lat1, double lon1, double lat2, double lon2) noexcept;
double distance_finz(double lat1, double lon1, double lat2, double lon2) noexcept;

// Kernels compiled for wider instruction sets; sphere_simd.cpp is built once
// per instruction set and defines one of these each time.
extern const SphereKernel finz_avx512f;
extern const SphereKernel finz_avx2;
extern const SphereKernel cinz_avx512f;
extern const SphereKernel cinz_avx;
extern const SphereKernel cinz_sse2;

// Every compiled kernel, most preferred first; `selected_kernel` is the first
// one the CPU supports whose width is within simd::simd_width(). Tests compare
// all supported ones with each other.
const SphereKernel* const* all_kernels(std::size_t& count) noexcept;
const SphereKernel& selected_kernel() noexcept;

}  // namespace tarnu::great_circle::detail
