// SSE2, which every x86-64 CPU has: two lanes, SLEEF's family without FMA
// (cinz). Built with the compiler's x86-64 defaults.
#include <immintrin.h>
#include <sleef.h>

#define TARNU_ISA sse2
#include "isa/kernels.hpp"

namespace tarnu::isa::sse2 {

// Internal: each instance of a kernel template on these types is this
// file's own, and the compiler inlines as it sees fit.
namespace {

struct Lanes {
  using V = double __attribute__((vector_size(16)));
  using M = lanes::MaskOf<V>;
  static constexpr std::size_t lanes = 2;
  static constexpr char family[] = "cinz";

  static V sqrt(V x) noexcept { return _mm_sqrt_pd(x); }
  static V sin(V x) noexcept { return Sleef_cinz_sind2_u10sse2(x); }
  static V cos(V x) noexcept { return Sleef_cinz_cosd2_u10sse2(x); }
  static V asin(V x) noexcept { return Sleef_cinz_asind2_u10sse2(x); }
  static void sincos(V x, V& s, V& c) noexcept {
    const Sleef___m128d_2 r = Sleef_cinz_sincosd2_u10sse2(x);
    s = r.x;
    c = r.y;
  }
  // Within 3.5 ulp rather than 1: points along a line (geodesic_line.hpp).
  static void sincos35(V x, V& s, V& c) noexcept {
    const Sleef___m128d_2 r = Sleef_cinz_sincosd2_u35sse2(x);
    s = r.x;
    c = r.y;
  }
  static V atan2_35(V y, V x) noexcept { return Sleef_cinz_atan2d2_u35sse2(y, x); }
  static unsigned bits(M m) noexcept {
    return static_cast<unsigned>(_mm_movemask_pd(reinterpret_cast<__m128d>(m)));
  }
  static bool any(M m) noexcept { return bits(m) != 0; }
};

bool cpu_supports() noexcept { return dispatch::x86_features().sse2; }

}  // namespace

// constinit: an initialiser run at load time would be code for this
// instruction set, executed whatever the CPU.
extern constinit const dispatch::Isa kernels =
    make_isa<Lanes, Lanes>("sse2", simd::Width::sse2, cpu_supports);

}  // namespace tarnu::isa::sse2
