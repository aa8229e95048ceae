// Every kernel of one instruction set, instantiated on its lane type inside
// its namespace, and the registry entry that points at them. Included once
// by each file of core/isa/, after it has defined TARNU_ISA.
#pragma once

#include "dispatch.hpp"
#include "geodesic_kernel.hpp"
#include "sphere_kernel.hpp"

namespace tarnu::isa::TARNU_ISA {

// L: the lane type (geodesic_lanes.hpp), with `family`, SLEEF's family.
// Pair: two lanes of the same family for the sphere's one-pair path, or void.
template <class L, class Pair>
constexpr dispatch::Isa make_isa(const char* name, simd::Width width,
                                 bool (*cpu_supports)() noexcept) noexcept {
  return {name,
          width,
          cpu_supports,
          {name, L::family, L::lanes, sphere::distance<L, Pair>, sphere::distance_n<L>},
          {name, L::family, L::lanes, solver::drive::inverse_any<L>, solver::drive::direct_any<L>,
           solver::drive::line_n<L>}};
}

}  // namespace tarnu::isa::TARNU_ISA
