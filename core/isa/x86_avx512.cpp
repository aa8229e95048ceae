// AVX-512F with FMA: eight lanes, SLEEF's family with FMA inside (finz).
// Built with -mavx512f -mfma.
#include <immintrin.h>
#include <sleef.h>

#define TARNU_ISA avx512
#include "isa/kernels.hpp"

namespace tarnu::isa::avx512 {

// Internal: each instance of a kernel template on these types is this
// file's own, and the compiler inlines as it sees fit.
namespace {

struct Lanes {
  using V = double __attribute__((vector_size(64)));
  using M = lanes::MaskOf<V>;
  static constexpr std::size_t lanes = 8;
  static constexpr char family[] = "finz";

  static V sqrt(V x) noexcept { return _mm512_sqrt_pd(x); }
  static V sin(V x) noexcept { return Sleef_finz_sind8_u10avx512f(x); }
  static V cos(V x) noexcept { return Sleef_finz_cosd8_u10avx512f(x); }
  static V asin(V x) noexcept { return Sleef_finz_asind8_u10avx512f(x); }
  static void sincos(V x, V& s, V& c) noexcept {
    const Sleef___m512d_2 r = Sleef_finz_sincosd8_u10avx512f(x);
    s = r.x;
    c = r.y;
  }
  // Within 3.5 ulp rather than 1: points along a line (geodesic_line.hpp).
  static void sincos35(V x, V& s, V& c) noexcept {
    const Sleef___m512d_2 r = Sleef_finz_sincosd8_u35avx512f(x);
    s = r.x;
    c = r.y;
  }
  static V atan2_35(V y, V x) noexcept { return Sleef_finz_atan2d8_u35avx512f(y, x); }
  static unsigned bits(M m) noexcept {
    return _mm512_cmplt_epi64_mask(reinterpret_cast<__m512i>(m), _mm512_setzero_si512());
  }
  static bool any(M m) noexcept { return bits(m) != 0; }
};

// SLEEF has no two-lane AVX-512 functions; its two-lane AVX2 ones need AVX2
// and FMA, which every AVX-512 CPU has.
struct Pair {
  using V = double __attribute__((vector_size(16)));
  static V sin(V x) noexcept { return Sleef_finz_sind2_u10avx2128(x); }
  static V cos(V x) noexcept { return Sleef_finz_cosd2_u10avx2128(x); }
  static V asin(V x) noexcept { return Sleef_finz_asind2_u10avx2128(x); }
};

// The features account for the OS saving the wider registers (XCR0):
// under an OS without AVX-512 state this is false.
bool cpu_supports() noexcept {
  const dispatch::X86Features& cpu = dispatch::x86_features();
  return cpu.avx512f && cpu.fma;
}

}  // namespace

// constinit: an initialiser run at load time would be code for this
// instruction set, executed whatever the CPU.
extern constinit const dispatch::Isa kernels =
    make_isa<Lanes, Pair>("avx512", simd::Width::avx512, cpu_supports);

}  // namespace tarnu::isa::avx512
