// The vectorised WGS84 solver: one kernel per vector width, the loop that
// feeds it whole arrays, and the hand-off of rare lanes to GeographicLib.
//
// geodesic_simd.cpp is compiled once per width and defines one kernel each
// time, with its lane type in an anonymous namespace so that code built for
// AVX-512 can never be linked into a caller meant for an older CPU. Kernels
// of one SLEEF family compute the same bits for the same element (see
// geodesic_simd.cpp).
#pragma once

#include <cstddef>
#include <span>

#include "geodesic_direct.hpp"
#include "geodesic_inverse.hpp"
#include "geodesic_line.hpp"
#include "tarnu/geodesic_n.hpp"
#include "tarnu/simd.hpp"

namespace tarnu::geodesic::kernel {

using InverseNFn = void (*)(const double*, const double*, const double*, const double*,
                            std::size_t, const InverseOutputs&) noexcept;
using DirectNFn = void (*)(const double*, const double*, const double*, const double*,
                           std::size_t, const DirectOutputs&) noexcept;
using LineNFn = void (*)(double, double, double, const double*, std::size_t, double*,
                         double*) noexcept;

struct GeodesicKernel {
  const char* name;    // the width's name, as simd::width_name
  const char* family;  // SLEEF's: "finz" (FMA inside) or "cinz"
  std::size_t lanes;
  simd::Width width;
  bool (*cpu_supports)() noexcept;
  InverseNFn inverse_n;  // the contract of geodesic::inverse_n
  DirectNFn direct_n;    // the contract of geodesic::direct_n
  LineNFn line_n;        // the contract of geodesic::line_n
};

extern const GeodesicKernel geodesic_avx512;
extern const GeodesicKernel geodesic_avx2;
extern const GeodesicKernel geodesic_sse2;
extern const GeodesicKernel geodesic_scalar;

// Every compiled kernel, widest first; the selected one is the widest the
// CPU supports within simd::simd_width().
std::span<const GeodesicKernel* const> all_kernels() noexcept;
const GeodesicKernel& selected_kernel() noexcept;

// GeographicLib's answer for element i, written to the outputs asked for.
void inverse_one(const double* lat1, const double* lon1, const double* lat2, const double* lon2,
                 std::size_t i, const InverseOutputs& out) noexcept;
void direct_one(const double* lat1, const double* lon1, const double* azi1, const double* s12,
                std::size_t i, const DirectOutputs& out) noexcept;
// GeographicLib's position of point j on a line, for line_n.
void line_one(double lat1, double lon1, double azi1, const double* s12, std::size_t j,
              double* lat2, double* lon2) noexcept;

namespace drive {

// Loads lanes [i, i + count) of p; lanes past count repeat element i, so a
// short block iterates no longer than its first element does.
template <class V>
inline V load(const double* p, std::size_t i, std::size_t count) noexcept {
  constexpr std::size_t lanes = sizeof(V) / sizeof(double);
  V v;
  if (count == lanes) {
    __builtin_memcpy(&v, p + i, sizeof v);
  } else {
    for (std::size_t j = 0; j < lanes; ++j) v[j] = p[i + (j < count ? j : 0)];
  }
  return v;
}

template <class V>
inline void store(double* p, std::size_t i, std::size_t count, V v) noexcept {
  if (p == nullptr) return;
  if (count == sizeof(V) / sizeof(double)) {
    __builtin_memcpy(p + i, &v, sizeof v);
  } else {
    for (std::size_t j = 0; j < count; ++j) p[i + j] = v[j];
  }
}

// The four quantities either problem may add: m12, M12, M21, S12.
template <class Outputs, class Lanes>
inline void store_lengths(const Outputs& out, std::size_t i, std::size_t count,
                          const Lanes& r) noexcept {
  store(out.m12, i, count, r.m12);
  store(out.M12, i, count, r.M12);
  store(out.M21, i, count, r.M21);
  store(out.S12, i, count, r.S12);
}

template <class L, InverseLevel Level>
void inverse_n(const double* lat1, const double* lon1, const double* lat2, const double* lon2,
               std::size_t n, const InverseOutputs& out) noexcept {
  using V = typename L::V;
  constexpr std::size_t lanes = L::lanes;
  for (std::size_t i = 0; i < n; i += lanes) {
    const std::size_t count = n - i < lanes ? n - i : lanes;
    InverseLanes<V> r;
    const auto rare = inverse<L, Level>(load<V>(lat1, i, count), load<V>(lon1, i, count),
                                        load<V>(lat2, i, count), load<V>(lon2, i, count), r);
    store(out.s12, i, count, r.s12);
    store(out.a12, i, count, r.a12);
    if constexpr (Level != InverseLevel::distance) {
      store(out.azi1, i, count, r.azi1);
      store(out.azi2, i, count, r.azi2);
    }
    if constexpr (Level == InverseLevel::full) store_lengths(out, i, count, r);
    for (unsigned bits = L::bits(rare) & ((1u << count) - 1); bits != 0; bits &= bits - 1) {
      inverse_one(lat1, lon1, lat2, lon2, i + static_cast<unsigned>(__builtin_ctz(bits)), out);
    }
  }
}

template <class L, DirectLevel Level>
void direct_n(const double* lat1, const double* lon1, const double* azi1, const double* s12,
              std::size_t n, const DirectOutputs& out) noexcept {
  using V = typename L::V;
  constexpr std::size_t lanes = L::lanes;
  for (std::size_t i = 0; i < n; i += lanes) {
    const std::size_t count = n - i < lanes ? n - i : lanes;
    DirectLanes<V> r;
    const auto rare = direct<L, Level>(load<V>(lat1, i, count), load<V>(lon1, i, count),
                                       load<V>(azi1, i, count), load<V>(s12, i, count), r);
    store(out.lat2, i, count, r.lat2);
    store(out.lon2, i, count, r.lon2);
    store(out.azi2, i, count, r.azi2);
    store(out.a12, i, count, r.a12);
    if constexpr (Level == DirectLevel::full) store_lengths(out, i, count, r);
    for (unsigned bits = L::bits(rare) & ((1u << count) - 1); bits != 0; bits &= bits - 1) {
      direct_one(lat1, lon1, azi1, s12, i + static_cast<unsigned>(__builtin_ctz(bits)), out);
    }
  }
}

template <class L>
void line_n(double lat1, double lon1, double azi1, const double* s12, std::size_t n, double* lat2,
            double* lon2) noexcept {
  using V = typename L::V;
  constexpr std::size_t lanes = L::lanes;
  LineLanes<V> g;
  // Every lane holds the same line; one that GeographicLib must solve
  // sends every point there.
  const bool rare_line = L::any(line_setup<L>(lanes::splat<V>(lat1), lanes::splat<V>(lon1),
                                              lanes::splat<V>(azi1), g));
  for (std::size_t i = 0; i < n; i += lanes) {
    const std::size_t count = n - i < lanes ? n - i : lanes;
    unsigned rare = (1u << count) - 1;
    if (!rare_line) {
      V lat, lon;
      rare &= L::bits(line_position<L>(g, load<V>(s12, i, count), lat, lon));
      store(lat2, i, count, lat);
      store(lon2, i, count, lon);
    }
    for (; rare != 0; rare &= rare - 1) {
      line_one(lat1, lon1, azi1, s12, i + static_cast<unsigned>(__builtin_ctz(rare)), lat2, lon2);
    }
  }
}

// The cheapest instance that computes everything the caller asked for.
template <class L>
void inverse_any(const double* lat1, const double* lon1, const double* lat2, const double* lon2,
                 std::size_t n, const InverseOutputs& out) noexcept {
  if (out.m12 || out.M12 || out.M21 || out.S12) {
    inverse_n<L, InverseLevel::full>(lat1, lon1, lat2, lon2, n, out);
  } else if (out.azi1 || out.azi2) {
    inverse_n<L, InverseLevel::azimuths>(lat1, lon1, lat2, lon2, n, out);
  } else {
    inverse_n<L, InverseLevel::distance>(lat1, lon1, lat2, lon2, n, out);
  }
}

template <class L>
void direct_any(const double* lat1, const double* lon1, const double* azi1, const double* s12,
                std::size_t n, const DirectOutputs& out) noexcept {
  if (out.m12 || out.M12 || out.M21 || out.S12) {
    direct_n<L, DirectLevel::full>(lat1, lon1, azi1, s12, n, out);
  } else {
    direct_n<L, DirectLevel::position>(lat1, lon1, azi1, s12, n, out);
  }
}

}  // namespace drive
}  // namespace tarnu::geodesic::kernel
