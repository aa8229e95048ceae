// The vectorised WGS84 solver's drivers: the loop that feeds a kernel whole
// arrays, a block of lanes at a time, and hands the lanes it flags to
// GeographicLib. Compiled inside each instruction set's namespace (see
// core/dispatch.hpp); L is that set's lane type.
#pragma once

#include <cstddef>

#include "geodesic_direct.hpp"
#include "geodesic_fallback.hpp"
#include "geodesic_inverse.hpp"
#include "tarnu/geodesic_n.hpp"

namespace tarnu::isa::TARNU_ISA::solver {

using geodesic::DirectOutputs;
using geodesic::InverseOutputs;

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
      geodesic::fallback::inverse_one(lat1, lon1, lat2, lon2, i + static_cast<unsigned>(__builtin_ctz(bits)), out);
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
      geodesic::fallback::direct_one(lat1, lon1, azi1, s12, i + static_cast<unsigned>(__builtin_ctz(bits)), out);
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
}  // namespace tarnu::isa::TARNU_ISA::solver
