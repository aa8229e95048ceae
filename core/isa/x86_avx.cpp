// AVX without FMA (Sandy Bridge, Ivy Bridge): four lanes, SLEEF's family
// without FMA (cinz), whose results equal the SSE2 and scalar kernels' bit
// for bit. Built with -mavx.
#include <immintrin.h>
#include <sleef.h>

#define TARNU_ISA avx
#include "isa/kernels.hpp"

namespace tarnu::isa::avx {

// Internal: each instance of a kernel template on these types is this
// file's own, and the compiler inlines as it sees fit.
namespace {

struct Lanes {
  using V = double __attribute__((vector_size(32)));
  using M = lanes::MaskOf<V>;
  static constexpr std::size_t lanes = 4;
  static constexpr char family[] = "cinz";

  static V sqrt(V x) noexcept { return _mm256_sqrt_pd(x); }
  static V sin(V x) noexcept { return Sleef_cinz_sind4_u10avx(x); }
  static V cos(V x) noexcept { return Sleef_cinz_cosd4_u10avx(x); }
  static V asin(V x) noexcept { return Sleef_cinz_asind4_u10avx(x); }
  static void sincos(V x, V& s, V& c) noexcept {
    const Sleef___m256d_2 r = Sleef_cinz_sincosd4_u10avx(x);
    s = r.x;
    c = r.y;
  }
  // Within 3.5 ulp rather than 1: points along a line (geodesic_line.hpp).
  static void sincos35(V x, V& s, V& c) noexcept {
    const Sleef___m256d_2 r = Sleef_cinz_sincosd4_u35avx(x);
    s = r.x;
    c = r.y;
  }
  static V atan2_35(V y, V x) noexcept { return Sleef_cinz_atan2d4_u35avx(y, x); }
  static unsigned bits(M m) noexcept {
    return static_cast<unsigned>(_mm256_movemask_pd(reinterpret_cast<__m256d>(m)));
  }
  static bool any(M m) noexcept { return bits(m) != 0; }
};

// SSE2 is part of every AVX CPU.
struct Pair {
  using V = double __attribute__((vector_size(16)));
  static V sin(V x) noexcept { return Sleef_cinz_sind2_u10sse2(x); }
  static V cos(V x) noexcept { return Sleef_cinz_cosd2_u10sse2(x); }
  static V asin(V x) noexcept { return Sleef_cinz_asind2_u10sse2(x); }
};

bool cpu_supports() noexcept { return dispatch::x86_features().avx; }

}  // namespace

// constinit: an initialiser run at load time would be code for this
// instruction set, executed whatever the CPU.
extern constinit const dispatch::Isa kernels =
    make_isa<Lanes, Pair>("avx", simd::Width::avx, cpu_supports);

}  // namespace tarnu::isa::avx
