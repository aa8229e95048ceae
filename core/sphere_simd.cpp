// One haversine kernel for one instruction set. The build compiles this file
// once per entry below, each time with that entry's macro and -m flags, and
// sphere dispatch picks among the results at run time.
#include <immintrin.h>
#include <sleef.h>

#include "sphere_kernel.hpp"

#if defined(TARNU_SPHERE_FINZ_AVX512F)
#define WIDTH avx512
#define KERNEL finz_avx512f
#define VEC __m512d
#define LANES 8
#define OP(name) _mm512_##name
#define SLEEF(fn) Sleef_finz_##fn##8_u10avx512f
#define SCALAR distance_finz
#define CPU_SUPPORTS (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("fma"))
#elif defined(TARNU_SPHERE_FINZ_AVX2)
#define WIDTH avx2
#define KERNEL finz_avx2
#define VEC __m256d
#define LANES 4
#define OP(name) _mm256_##name
#define SLEEF(fn) Sleef_finz_##fn##4_u10avx2
#define SCALAR distance_finz
#define PAIR_SLEEF(fn) Sleef_finz_##fn##2_u10avx2128
#define CPU_SUPPORTS (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"))
#elif defined(TARNU_SPHERE_CINZ_AVX512F)
#define WIDTH avx512
#define KERNEL cinz_avx512f
#define VEC __m512d
#define LANES 8
#define OP(name) _mm512_##name
#define SLEEF(fn) Sleef_cinz_##fn##8_u10avx512fnofma
#define SCALAR distance_cinz
#define CPU_SUPPORTS (__builtin_cpu_supports("avx512f"))
#elif defined(TARNU_SPHERE_CINZ_AVX)
#define WIDTH avx2
#define KERNEL cinz_avx
#define VEC __m256d
#define LANES 4
#define OP(name) _mm256_##name
#define SLEEF(fn) Sleef_cinz_##fn##4_u10avx
#define SCALAR distance_cinz
#define CPU_SUPPORTS (__builtin_cpu_supports("avx"))
#elif defined(TARNU_SPHERE_CINZ_SSE2)
#define WIDTH sse2
#define KERNEL cinz_sse2
#define VEC __m128d
#define LANES 2
#define OP(name) _mm_##name
#define SLEEF(fn) Sleef_cinz_##fn##2_u10sse2
#define SCALAR distance_cinz
#define PAIR_SLEEF(fn) Sleef_cinz_##fn##2_u10sse2
#define CPU_SUPPORTS (__builtin_cpu_supports("sse2"))
#else
#error "sphere_simd.cpp is built once per kernel, with one TARNU_SPHERE_* macro defined"
#endif

#define STRINGIFY_(x) #x
#define STRINGIFY(x) STRINGIFY_(x)

namespace tarnu::great_circle::detail {
namespace {

struct Math {
  using V = VEC;
  static constexpr std::size_t lanes = LANES;
  static V load(const double* p) noexcept { return OP(loadu_pd)(p); }
  static void store(double* p, V v) noexcept { OP(storeu_pd)(p, v); }
  static V splat(double x) noexcept { return OP(set1_pd)(x); }
  static V sqrt(V x) noexcept { return OP(sqrt_pd)(x); }
  static V sin(V x) noexcept { return SLEEF(sind)(x); }
  static V cos(V x) noexcept { return SLEEF(cosd)(x); }
  static V asin(V x) noexcept { return SLEEF(asind)(x); }
};

void kernel_distance_n(const double* lat1, const double* lon1, const double* lat2,
                       const double* lon2, double* s12, std::size_t n) noexcept {
  distance_n<Math>(lat1, lon1, lat2, lon2, s12, n);
}

bool kernel_cpu_supports() noexcept { return CPU_SUPPORTS; }

#ifdef PAIR_SLEEF
struct PairMath {
  using V = __m128d;
  static V pair(double lane0, double lane1) noexcept { return _mm_setr_pd(lane0, lane1); }
  static V sin(V x) noexcept { return PAIR_SLEEF(sind)(x); }
  static V cos(V x) noexcept { return PAIR_SLEEF(cosd)(x); }
  static V asin(V x) noexcept { return PAIR_SLEEF(asind)(x); }
};
#endif

}  // namespace

#ifdef PAIR_SLEEF
double SCALAR(double lat1, double lon1, double lat2, double lon2) noexcept {
  return haversine_pair<PairMath>(lat1, lon1, lat2, lon2);
}
#endif

extern const SphereKernel KERNEL{STRINGIFY(KERNEL), LANES, simd::Width::WIDTH, kernel_cpu_supports, SCALAR,
                                 kernel_distance_n};

}  // namespace tarnu::great_circle::detail
