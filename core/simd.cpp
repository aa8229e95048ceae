#include "tarnu/simd.hpp"

#include <cstdlib>
#include <cstring>
#include <iterator>

namespace tarnu::simd {

namespace {
constexpr const char* names[] = {"scalar", "sse2", "avx2", "avx512"};
}  // namespace

Width cpu_width() noexcept {
  // libgcc's feature bits already account for the OS saving the wider
  // registers (XCR0), so a CPU with AVX-512 under an OS without it reports
  // no AVX-512 here. The AVX2 kernels may use FMA, so they require it too.
  if (__builtin_cpu_supports("avx512f")) return Width::avx512;
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return Width::avx2;
  return Width::sse2;  // every x86-64 CPU has SSE2
}

Width parse_width(const char* value, Width fallback) noexcept {
  if (value == nullptr) return fallback;
  for (int w = 0; w < static_cast<int>(std::size(names)); ++w) {
    if (std::strcmp(value, names[w]) == 0) return static_cast<Width>(w);
  }
  return fallback;
}

Width simd_width() noexcept {
  static const Width chosen = [] {
    const Width cpu = cpu_width();
    // getenv is safe here: the function-local static runs this once, and
    // nothing in the library writes the environment.
    const Width cap = parse_width(std::getenv("TARNU_SIMD"), cpu);
    return cap < cpu ? cap : cpu;
  }();
  return chosen;
}

const char* width_name(Width width) noexcept { return names[static_cast<int>(width)]; }

}  // namespace tarnu::simd
