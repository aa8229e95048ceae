// AdvSIMD (NEON), which every aarch64 CPU that Linux runs on has: two lanes,
// SLEEF's family with FMA inside (finz), as FMA is part of the base
// instruction set. Built with the compiler's aarch64 defaults.
#include <arm_neon.h>
#include <sleef.h>
#include <sys/auxv.h>

#define TARNU_ISA advsimd
#include "isa/kernels.hpp"

namespace tarnu::isa::advsimd {

// Internal: each instance of a kernel template on these types is this
// file's own, and the compiler inlines as it sees fit.
namespace {

// The lane type and NEON's float64x2_t hold the same two doubles; SLEEF's
// functions take the latter.
using V = double __attribute__((vector_size(16)));
float64x2_t neon(V x) noexcept { return __builtin_bit_cast(float64x2_t, x); }
V lanes_of(float64x2_t x) noexcept { return __builtin_bit_cast(V, x); }

struct Lanes {
  using V = advsimd::V;
  using M = lanes::MaskOf<V>;
  static constexpr std::size_t lanes = 2;
  static constexpr char family[] = "finz";

  static V sqrt(V x) noexcept { return lanes_of(vsqrtq_f64(neon(x))); }
  static V sin(V x) noexcept { return lanes_of(Sleef_finz_sind2_u10advsimd(neon(x))); }
  static V cos(V x) noexcept { return lanes_of(Sleef_finz_cosd2_u10advsimd(neon(x))); }
  static V asin(V x) noexcept { return lanes_of(Sleef_finz_asind2_u10advsimd(neon(x))); }
  static void sincos(V x, V& s, V& c) noexcept {
    const Sleef_float64x2_t_2 r = Sleef_finz_sincosd2_u10advsimd(neon(x));
    s = lanes_of(r.x);
    c = lanes_of(r.y);
  }
  // Within 3.5 ulp rather than 1: points along a line (geodesic_line.hpp).
  static void sincos35(V x, V& s, V& c) noexcept {
    const Sleef_float64x2_t_2 r = Sleef_finz_sincosd2_u35advsimd(neon(x));
    s = lanes_of(r.x);
    c = lanes_of(r.y);
  }
  static V atan2_35(V y, V x) noexcept {
    return lanes_of(Sleef_finz_atan2d2_u35advsimd(neon(y), neon(x)));
  }
  static unsigned bits(M m) noexcept { return (m[0] != 0 ? 1u : 0u) | (m[1] != 0 ? 2u : 0u); }
  static bool any(M m) noexcept { return bits(m) != 0; }
};

// Linux's aarch64 ABI passes doubles in these registers, so every CPU it
// runs on has them; the hardware capabilities confirm it.
bool cpu_supports() noexcept { return (getauxval(AT_HWCAP) & HWCAP_ASIMD) != 0; }

}  // namespace

// constinit: as in every instruction set's file, no code runs at load time.
extern constinit const dispatch::Isa kernels =
    make_isa<Lanes, Lanes>("advsimd", simd::Width::advsimd, cpu_supports);

}  // namespace tarnu::isa::advsimd
