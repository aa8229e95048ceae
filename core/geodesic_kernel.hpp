// The vectorised WGS84 solver's driver: the one loop that feeds either
// problem whole arrays, a block of lanes at a time, and hands the lanes it
// flags to GeographicLib. Compiled inside each instruction set's namespace
// (see core/dispatch.hpp); L is that set's lane type.
#pragma once

#include <cstddef>

#include "geodesic_direct.hpp"
#include "geodesic_fallback.hpp"
#include "geodesic_inverse.hpp"
#include "geodesic_line.hpp"
#include "tarnu/geodesic_n.hpp"

namespace tarnu::isa::TARNU_ISA::solver {

using geodesic::DirectOutputs;
using geodesic::InverseOutputs;

// Each problem at one level, as the driver sees it: its outputs, its
// answer for a block of lanes (the same eight quantities in the same
// order), the solver of a block and GeographicLib's answer for one element.
template <InverseLevel Level>
struct Inverse {
  using Outputs = InverseOutputs;
  template <class V>
  using Answer = InverseLanes<V>;
  template <class L, class V>
  static lanes::MaskOf<V> solve(V lat1, V lon1, V lat2, V lon2, Answer<V>& r) noexcept {
    return inverse<L, Level>(lat1, lon1, lat2, lon2, r);
  }
  static constexpr auto fallback = geodesic::fallback::inverse_one;
};

template <DirectLevel Level>
struct Direct {
  using Outputs = DirectOutputs;
  template <class V>
  using Answer = DirectLanes<V>;
  template <class L, class V>
  static lanes::MaskOf<V> solve(V lat1, V lon1, V azi1, V s12, Answer<V>& r) noexcept {
    return direct<L, Level>(lat1, lon1, azi1, s12, r);
  }
  static constexpr auto fallback = geodesic::fallback::direct_one;
};

namespace drive {

// Loads lanes [i, i + count) of p; lanes past count repeat element i, so a
// short block iterates no longer than its first element does.
template <class V>
inline V load(const double* p, std::size_t i, std::size_t count) noexcept {
  constexpr std::size_t width = sizeof(V) / sizeof(double);
  V v;
  if (count == width) {
    __builtin_memcpy(&v, p + i, sizeof v);
  } else {
    for (std::size_t j = 0; j < width; ++j) v[j] = p[i + (j < count ? j : 0)];
  }
  return v;
}

// Lanes [0, count) of v to p[i...], unless p is null. v is not read then:
// a quantity nobody asked for may never have been computed.
template <class V>
inline void store(double* p, std::size_t i, std::size_t count, const V& v) noexcept {
  if (p == nullptr) return;
  if (count == sizeof(V) / sizeof(double)) {
    __builtin_memcpy(p + i, &v, sizeof v);
  } else {
    for (std::size_t j = 0; j < count; ++j) p[i + j] = v[j];
  }
}

// Every quantity asked for, in the order of the outputs.
template <class Outputs, class Answer>
inline void store_all(const Outputs& out, std::size_t i, std::size_t count,
                      const Answer& r) noexcept {
  const auto& [o0, o1, o2, o3, o4, o5, o6, o7] = out;
  const auto& [v0, v1, v2, v3, v4, v5, v6, v7] = r;
  store(o0, i, count, v0);
  store(o1, i, count, v1);
  store(o2, i, count, v2);
  store(o3, i, count, v3);
  store(o4, i, count, v4);
  store(o5, i, count, v5);
  store(o6, i, count, v6);
  store(o7, i, count, v7);
}

// The loop of both problems over n elements of four input arrays.
template <class L, class Problem>
void solve_n(const double* in0, const double* in1, const double* in2, const double* in3,
             std::size_t n, const typename Problem::Outputs& out) noexcept {
  using V = typename L::V;
  constexpr std::size_t width = L::lanes;
  for (std::size_t i = 0; i < n; i += width) {
    const std::size_t count = n - i < width ? n - i : width;
    typename Problem::template Answer<V> r;
    const auto rare = Problem::template solve<L>(load<V>(in0, i, count), load<V>(in1, i, count),
                                                 load<V>(in2, i, count), load<V>(in3, i, count), r);
    store_all(out, i, count, r);
    for (unsigned bits = L::bits(rare) & ((1u << count) - 1); bits != 0; bits &= bits - 1) {
      Problem::fallback(in0, in1, in2, in3, i + static_cast<unsigned>(__builtin_ctz(bits)), out);
    }
  }
}

// Points along one line: its constants once, then positions a block at a
// time, GeographicLib's for the lanes the solver flags.
template <class L>
void line_n(double lat1, double lon1, double azi1, const double* s12, std::size_t n, double* lat2,
            double* lon2) noexcept {
  using V = typename L::V;
  constexpr std::size_t width = L::lanes;
  LineLanes<V> g;
  // Every lane holds the same line; one that GeographicLib must solve
  // sends every point there.
  const bool rare_line = L::any(line_setup<L>(lanes::splat<V>(lat1), lanes::splat<V>(lon1),
                                              lanes::splat<V>(azi1), g));
  for (std::size_t i = 0; i < n; i += width) {
    const std::size_t count = n - i < width ? n - i : width;
    unsigned rare = (1u << count) - 1;
    if (!rare_line) {
      V lat, lon;
      rare &= L::bits(line_position<L>(g, load<V>(s12, i, count), lat, lon));
      store(lat2, i, count, lat);
      store(lon2, i, count, lon);
    }
    for (; rare != 0; rare &= rare - 1) {
      geodesic::fallback::line_one(lat1, lon1, azi1, s12, i + static_cast<unsigned>(__builtin_ctz(rare)),
                                   lat2, lon2);
    }
  }
}

// The cheapest level that computes everything the caller asked for.
template <class L>
void inverse_any(const double* lat1, const double* lon1, const double* lat2, const double* lon2,
                 std::size_t n, const InverseOutputs& out) noexcept {
  const bool azimuths = out.azi1 || out.azi2;
  if (out.m12 || out.M12 || out.M21 || (out.S12 && azimuths)) {
    solve_n<L, Inverse<InverseLevel::full>>(lat1, lon1, lat2, lon2, n, out);
  } else if (out.S12) {  // the area alone, as polygons want it
    solve_n<L, Inverse<InverseLevel::area>>(lat1, lon1, lat2, lon2, n, out);
  } else if (azimuths) {
    solve_n<L, Inverse<InverseLevel::azimuths>>(lat1, lon1, lat2, lon2, n, out);
  } else {
    solve_n<L, Inverse<InverseLevel::distance>>(lat1, lon1, lat2, lon2, n, out);
  }
}

template <class L>
void direct_any(const double* lat1, const double* lon1, const double* azi1, const double* s12,
                std::size_t n, const DirectOutputs& out) noexcept {
  if (out.m12 || out.M12 || out.M21 || out.S12) {
    solve_n<L, Direct<DirectLevel::full>>(lat1, lon1, azi1, s12, n, out);
  } else {
    solve_n<L, Direct<DirectLevel::position>>(lat1, lon1, azi1, s12, n, out);
  }
}

}  // namespace drive
}  // namespace tarnu::isa::TARNU_ISA::solver
