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

// Inputs the caller says hold one value for every element (bit k: input k).
inline constexpr unsigned first_point = 0b0011, second_point = 0b1100, whole_line = 0b0111;

// Each problem at one level, as the driver sees it: its outputs, its
// answer for a block of lanes (the same eight quantities in the same
// order), GeographicLib's answer for one element, and a solver of blocks
// that works out once what the inputs held fixed decide alone.
template <InverseLevel Level>
struct Inverse {
  using Outputs = InverseOutputs;
  template <class V>
  using Answer = InverseLanes<V>;
  static constexpr auto fallback = geodesic::fallback::inverse_one;

  // A point held fixed: its reduced latitude.
  template <class L, class V = typename L::V>
  struct Solver {
    GivenPoint<V> point;
    Solver(const double* lat1, const double*, const double* lat2, const double*,
           unsigned fixed) noexcept
        : point((fixed & first_point) == first_point    ? given_point<L, V>(1, *lat1)
                : (fixed & second_point) == second_point ? given_point<L, V>(2, *lat2)
                                                         : GivenPoint<V>{}) {}
    lanes::MaskOf<V> operator()(V lat1, V lon1, V lat2, V lon2, Answer<V>& r) const noexcept {
      return inverse<L, Level>(lat1, lon1, lat2, lon2, r, point);
    }
  };
};

template <DirectLevel Level>
struct Direct {
  using Outputs = DirectOutputs;
  template <class V>
  using Answer = DirectLanes<V>;
  static constexpr auto fallback = geodesic::fallback::direct_one;

  // A start and azimuth held fixed: the whole line.
  template <class L, class V = typename L::V>
  struct Solver {
    bool fixed_line;
    Line<V> given;
    Solver(const double* lat1, const double* lon1, const double* azi1, const double*,
           unsigned fixed) noexcept
        : fixed_line((fixed & whole_line) == whole_line) {
      if (fixed_line) {
        given = line<L>(lanes::splat<V>(*lat1), lanes::splat<V>(*lon1), lanes::splat<V>(*azi1));
      }
    }
    lanes::MaskOf<V> operator()(V lat1, V lon1, V azi1, V s12, Answer<V>& r) const noexcept {
      return fixed_line ? position<L, Level>(given, s12, r)
                        : direct<L, Level>(lat1, lon1, azi1, s12, r);
    }
  };
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

// The loop of both problems over n elements of four input arrays, of which
// those in `fixed` hold one value n times.
//
// The inverse problem's lanes iterate in lockstep: a lane that has
// converged recomputes its values until the block's last lane converges,
// 4.14 passes per element at four lanes where one at a time takes 3.77
// (random pairs). Refilling converged lanes with new elements, or
// compacting the live ones, saves at most 7% of the time on AVX2 (inputs
// ordered by their passes run that much faster), and moving the 18 doubles
// of a lane's state in and out, with its outputs scattered back, costs as
// much: lockstep stays.
template <class L, class Problem>
void solve_n(const double* in0, const double* in1, const double* in2, const double* in3,
             std::size_t n, const typename Problem::Outputs& out, unsigned fixed) noexcept {
  using V = typename L::V;
  constexpr std::size_t width = L::lanes;
  if (n == 0) return;
  const typename Problem::template Solver<L> solve(in0, in1, in2, in3, fixed);
  for (std::size_t i = 0; i < n; i += width) {
    const std::size_t count = n - i < width ? n - i : width;
    typename Problem::template Answer<V> r;
    const auto rare = solve(load<V>(in0, i, count), load<V>(in1, i, count),
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
                 std::size_t n, const InverseOutputs& out, unsigned fixed) noexcept {
  const bool azimuths = out.azi1 || out.azi2;
  if (out.m12 || out.M12 || out.M21 || (out.S12 && azimuths)) {
    solve_n<L, Inverse<InverseLevel::full>>(lat1, lon1, lat2, lon2, n, out, fixed);
  } else if (out.S12) {  // the area alone, as polygons want it
    solve_n<L, Inverse<InverseLevel::area>>(lat1, lon1, lat2, lon2, n, out, fixed);
  } else if (azimuths) {
    solve_n<L, Inverse<InverseLevel::azimuths>>(lat1, lon1, lat2, lon2, n, out, fixed);
  } else {
    solve_n<L, Inverse<InverseLevel::distance>>(lat1, lon1, lat2, lon2, n, out, fixed);
  }
}

template <class L>
void direct_any(const double* lat1, const double* lon1, const double* azi1, const double* s12,
                std::size_t n, const DirectOutputs& out, unsigned fixed) noexcept {
  if (out.m12 || out.M12 || out.M21 || out.S12) {
    solve_n<L, Direct<DirectLevel::full>>(lat1, lon1, azi1, s12, n, out, fixed);
  } else {
    solve_n<L, Direct<DirectLevel::position>>(lat1, lon1, azi1, s12, n, out, fixed);
  }
}

}  // namespace drive
}  // namespace tarnu::isa::TARNU_ISA::solver
