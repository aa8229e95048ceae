// The haversine distance written once for every instruction set, compiled
// inside each one's namespace (see core/dispatch.hpp).
//
// `L` is the instruction set's lane type (geodesic_lanes.hpp): V, a GCC
// vector of one to eight doubles, a correctly rounded square root, and
// sine, cosine and arcsine from one deterministic SLEEF family. Those
// functions return the same bits in every width of a family, and IEEE
// products, sums and square roots are exact-rounded in every width, so each
// width computes the same double for the same four inputs. The build passes
// -ffp-contract=off, so no product and sum below is fused.
#pragma once

#include <cstddef>
#include <type_traits>

#include "geodesic_lanes.hpp"
#include "tarnu/great_circle.hpp"

namespace tarnu::isa::TARNU_ISA::sphere {

using great_circle::sphere_radius;

// The cosine of a latitude of lat degrees, as haversine_h takes it.
template <class L>
inline typename L::V cos_latitude(typename L::V lat) noexcept {
  return L::cos(lat * units::radians_per_degree);
}

// The haversine of the central angle, h = sin^2(dphi / 2) + cos phi1
// cos phi2 sin^2(dlambda / 2): every call but the arcsine's. cos1 and cos2,
// where not null, are cos phi1 and cos phi2 computed beforehand.
template <class L>
inline typename L::V haversine_h(typename L::V lat1, typename L::V lon1, typename L::V lat2,
                                 typename L::V lon2, const typename L::V* cos1 = nullptr,
                                 const typename L::V* cos2 = nullptr) noexcept {
  using V = typename L::V;
  const V k = lanes::splat<V>(units::radians_per_degree);
  const V half = lanes::splat<V>(0.5);

  const V phi1 = lat1 * k;
  const V phi2 = lat2 * k;
  // Latitudes are differenced after conversion, longitudes before.
  const V s = L::sin((phi2 - phi1) * half);
  const V a = s * s;
  const V dlambda = (lon2 - lon1) * k;
  const V g = (cos1 ? *cos1 : L::cos(phi1)) * (cos2 ? *cos2 : L::cos(phi2));
  const V t = L::sin(dlambda * half);
  const V b = t * t;
  return a + g * b;
}

// The distance from h. Not clamped: at the antipodes h may be 1 + ulp, and
// sqrt still gives 1.
template <class L>
inline typename L::V distance_of_h(typename L::V h) noexcept {
  const typename L::V d = L::asin(L::sqrt(h));
  return (d + d) * sphere_radius;
}

template <class L>
inline typename L::V haversine(typename L::V lat1, typename L::V lon1, typename L::V lat2,
                               typename L::V lon2) noexcept {
  return distance_of_h<L>(haversine_h<L>(lat1, lon1, lat2, lon2));
}

// One pair. With a two-lane `Pair` of the same SLEEF family, both sines go
// in one call and both cosines in another: three library calls instead of
// five. Lane by lane these are the operations of `haversine`, so the result
// has the same bits. Without one (Pair = void), the one-lane haversine.
template <class L, class Pair>
inline double distance(double lat1, double lon1, double lat2, double lon2) noexcept {
  if constexpr (std::is_void_v<Pair>) {
    static_assert(L::lanes == 1);
    using V = typename L::V;
    return haversine<L>(V{lat1}, V{lon1}, V{lat2}, V{lon2})[0];
  } else {
    using P = typename Pair::V;
    const double phi1 = lat1 * units::radians_per_degree;
    const double phi2 = lat2 * units::radians_per_degree;
    const double dlambda = (lon2 - lon1) * units::radians_per_degree;
    const P sines = Pair::sin(P{(phi2 - phi1) * 0.5, dlambda * 0.5});
    const P cosines = Pair::cos(P{phi1, phi2});
    const double s = sines[0];
    const double t = sines[1];
    const double a = s * s;
    const double g = cosines[0] * cosines[1];
    const double b = t * t;
    const double h = a + g * b;
    const double d = Pair::asin(P{__builtin_sqrt(h), 0.0})[0];
    return (d + d) * sphere_radius;
  }
}

// The full blocks of distance_n, with point 1 (First) or point 2 (Second)
// the same for every element: its coordinates are not loaded and its cosine
// is computed once. The arcsine waits on the four calls before it; run one
// block behind them (block i's arcsine after block i + 1's sines and
// cosines), it overlaps them instead, which saves a sixth of the time. The
// same functions of the same numbers: the same bits. Returns the elements
// done.
template <class L, bool First, bool Second>
inline std::size_t distance_blocks(const double* lat1, const double* lon1, const double* lat2,
                                   const double* lon2, double* s12, std::size_t n) noexcept {
  using V = typename L::V;
  constexpr std::size_t width = L::lanes;
  if (n < width) return 0;
  V lat1_given{}, lon1_given{}, cos1{}, lat2_given{}, lon2_given{}, cos2{};
  if constexpr (First) {
    lat1_given = lanes::splat<V>(*lat1);
    lon1_given = lanes::splat<V>(*lon1);
    cos1 = cos_latitude<L>(lat1_given);
  }
  if constexpr (Second) {
    lat2_given = lanes::splat<V>(*lat2);
    lon2_given = lanes::splat<V>(*lon2);
    cos2 = cos_latitude<L>(lat2_given);
  }
  const auto h_at = [&](std::size_t i) {
    return haversine_h<L>(First ? lat1_given : lanes::load<V>(lat1 + i),
                          First ? lon1_given : lanes::load<V>(lon1 + i),
                          Second ? lat2_given : lanes::load<V>(lat2 + i),
                          Second ? lon2_given : lanes::load<V>(lon2 + i), First ? &cos1 : nullptr,
                          Second ? &cos2 : nullptr);
  };
  V h = h_at(0);
  std::size_t i = width;
  for (; i + width <= n; i += width) {
    const V next = h_at(i);
    lanes::store(s12 + i - width, distance_of_h<L>(h));
    h = next;
  }
  lanes::store(s12 + i - width, distance_of_h<L>(h));
  return i;
}

// `fixed`: bits 0 and 1 for point 1, 2 and 3 for point 2, where the point is
// the same for every element.
template <class L>
inline void distance_n(const double* lat1, const double* lon1, const double* lat2,
                       const double* lon2, double* s12, std::size_t n, unsigned fixed) noexcept {
  using V = typename L::V;
  constexpr std::size_t width = L::lanes;
  const bool first = (fixed & 0b0011) == 0b0011, second = (fixed & 0b1100) == 0b1100;
  const std::size_t i =
      first ? (second ? distance_blocks<L, true, true>(lat1, lon1, lat2, lon2, s12, n)
                      : distance_blocks<L, true, false>(lat1, lon1, lat2, lon2, s12, n))
            : (second ? distance_blocks<L, false, true>(lat1, lon1, lat2, lon2, s12, n)
                      : distance_blocks<L, false, false>(lat1, lon1, lat2, lon2, s12, n));
  if (i == n) return;
  // The tail runs through the same vector code on zero-padded lanes, so
  // every element takes the identical path.
  double a[width] = {}, b[width] = {}, c[width] = {}, d[width] = {}, out[width];
  const std::size_t rest = n - i;
  for (std::size_t j = 0; j < rest; ++j) {
    a[j] = lat1[i + j];
    b[j] = lon1[i + j];
    c[j] = lat2[i + j];
    d[j] = lon2[i + j];
  }
  lanes::store(out, haversine<L>(lanes::load<V>(a), lanes::load<V>(b), lanes::load<V>(c),
                                 lanes::load<V>(d)));
  for (std::size_t j = 0; j < rest; ++j) s12[i + j] = out[j];
}

}  // namespace tarnu::isa::TARNU_ISA::sphere
