// One geodesic kernel for one vector width. The build compiles this file
// once per entry below, each time with that entry's macro and -m flags.
//
// sincos35 and atan2_35 are the same families' functions within 3.5 ulp
// rather than 1, for points along a line (geodesic_line.hpp), where an
// ulp or two of an angle is far below what is asked of a position.
//
// The AVX-512 and AVX2 kernels call SLEEF's deterministic family with FMA
// inside (finz), about 15% faster than without; the SSE2 and scalar kernels,
// for CPUs without FMA, the family without (cinz). A deterministic family
// returns the same bits at every width, the square root is the hardware's
// (correctly rounded everywhere) and our own products and sums are never
// fused, so the two FMA kernels agree bit for bit, as do the other two; the
// families differ by an ulp here and there, well within the tolerances
// against GeographicLib.
//
// Lanes is in an anonymous namespace, and the lane type of each width has a
// size of its own, so no template instance is shared between objects built
// with different -m flags.
#include <immintrin.h>
#include <sleef.h>

#include "geodesic_kernel.hpp"

#if defined(TARNU_GEODESIC_AVX512)
#define KERNEL geodesic_avx512
#define WIDTH avx512
#define FAMILY finz
#define LANES 8
#define SLEEF(fn) Sleef_finz_##fn##8_u10avx512f
#define SLEEF35(fn) Sleef_finz_##fn##8_u35avx512f
#define CPU_SUPPORTS (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("fma"))
#elif defined(TARNU_GEODESIC_AVX2)
#define KERNEL geodesic_avx2
#define WIDTH avx2
#define FAMILY finz
#define LANES 4
#define SLEEF(fn) Sleef_finz_##fn##4_u10avx2
#define SLEEF35(fn) Sleef_finz_##fn##4_u35avx2
#define CPU_SUPPORTS (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"))
#elif defined(TARNU_GEODESIC_SSE2)
#define KERNEL geodesic_sse2
#define WIDTH sse2
#define FAMILY cinz
#define LANES 2
#define SLEEF(fn) Sleef_cinz_##fn##2_u10sse2
#define SLEEF35(fn) Sleef_cinz_##fn##2_u35sse2
#define CPU_SUPPORTS __builtin_cpu_supports("sse2")
#elif defined(TARNU_GEODESIC_SCALAR)
#define KERNEL geodesic_scalar
#define WIDTH scalar
#define FAMILY cinz
#define LANES 1
#define SLEEF(fn) Sleef_cinz_##fn##1_u10purec
#define SLEEF35(fn) Sleef_cinz_##fn##1_u35purec
#define CPU_SUPPORTS true
#else
#error "geodesic_simd.cpp is built once per width, with one TARNU_GEODESIC_* macro defined"
#endif

namespace tarnu::geodesic::kernel {
namespace {

struct Lanes {
  using V = double __attribute__((vector_size(LANES * sizeof(double))));
  using M = lanes::MaskOf<V>;
  static constexpr std::size_t lanes = LANES;

#if LANES == 1
  static V sqrt(V x) noexcept { return V{__builtin_sqrt(x[0])}; }
  static void sincos(V x, V& s, V& c) noexcept {
    const Sleef_double_2 r = SLEEF(sincosd)(x[0]);
    s = V{r.x};
    c = V{r.y};
  }
  static V atan2(V y, V x) noexcept { return V{SLEEF(atan2d)(y[0], x[0])}; }
  static void sincos35(V x, V& s, V& c) noexcept {
    const Sleef_double_2 r = SLEEF35(sincosd)(x[0]);
    s = V{r.x};
    c = V{r.y};
  }
  static V atan2_35(V y, V x) noexcept { return V{SLEEF35(atan2d)(y[0], x[0])}; }
  static unsigned bits(M m) noexcept { return m[0] != 0 ? 1u : 0u; }
#else
  static void sincos(V x, V& s, V& c) noexcept {
    const auto r = SLEEF(sincosd)(x);
    s = r.x;
    c = r.y;
  }
  static V atan2(V y, V x) noexcept { return SLEEF(atan2d)(y, x); }
  static void sincos35(V x, V& s, V& c) noexcept {
    const auto r = SLEEF35(sincosd)(x);
    s = r.x;
    c = r.y;
  }
  static V atan2_35(V y, V x) noexcept { return SLEEF35(atan2d)(y, x); }
#if LANES == 8
  static V sqrt(V x) noexcept { return _mm512_sqrt_pd(x); }
  static unsigned bits(M m) noexcept {
    return _mm512_cmplt_epi64_mask(reinterpret_cast<__m512i>(m), _mm512_setzero_si512());
  }
#elif LANES == 4
  static V sqrt(V x) noexcept { return _mm256_sqrt_pd(x); }
  static unsigned bits(M m) noexcept {
    return static_cast<unsigned>(_mm256_movemask_pd(reinterpret_cast<__m256d>(m)));
  }
#else
  static V sqrt(V x) noexcept { return _mm_sqrt_pd(x); }
  static unsigned bits(M m) noexcept {
    return static_cast<unsigned>(_mm_movemask_pd(reinterpret_cast<__m128d>(m)));
  }
#endif
#endif
  static bool any(M m) noexcept { return bits(m) != 0; }
};

bool cpu_supports() noexcept { return CPU_SUPPORTS; }

}  // namespace

#define STRINGIFY_(x) #x
#define STRINGIFY(x) STRINGIFY_(x)

// constinit: an initialiser run at load time would be code for this width,
// executed whatever the CPU.
extern constinit const GeodesicKernel KERNEL{STRINGIFY(WIDTH), STRINGIFY(FAMILY), LANES, simd::Width::WIDTH,
                                             cpu_supports, drive::inverse_any<Lanes>,
                                             drive::direct_any<Lanes>, drive::line_n<Lanes>};

}  // namespace tarnu::geodesic::kernel
