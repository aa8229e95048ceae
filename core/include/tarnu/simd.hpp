// The instruction set the vectorised kernels run on, chosen once per process.
//
// Each architecture has its own widths, narrowest first in one table below;
// every width names one instruction set that has both kernels, the sphere's
// haversine and the WGS84 solver (core/dispatch.hpp). The widest one the CPU
// supports is the default. The environment variable TARNU_SIMD caps it with
// one of the names below ("scalar" is one lane at a time), so a machine can
// run as an older CPU would; a cap wider than the CPU gets the widest
// supported width below it; an unknown value is ignored, with one line on
// standard error when the library loads, and an empty one is as if unset.
// The variable is read once.
#pragma once

#include <cstddef>

namespace tarnu::simd {

// Ordered: a wider width compares greater.
#if defined(__x86_64__)
// sse2: two lanes; avx: four, without FMA (Sandy and Ivy Bridge); avx2:
// four, with FMA; avx512: eight (AVX-512F with FMA).
enum class Width { scalar, sse2, avx, avx2, avx512 };
inline constexpr const char* width_names[] = {"scalar", "sse2", "avx", "avx2", "avx512"};
#elif defined(__aarch64__)
// advsimd: two lanes (NEON), with FMA.
enum class Width { scalar, advsimd };
inline constexpr const char* width_names[] = {"scalar", "advsimd"};
#else
#error "tarnu's kernels are written for x86-64 and aarch64"
#endif

// The widest width this CPU (and its operating system) supports.
Width cpu_width() noexcept;

// The width the kernels use: cpu_width() capped by TARNU_SIMD.
Width simd_width() noexcept;

// The cap a TARNU_SIMD value asks for: its width, or `fallback` when the
// value is null or unknown. Exact, lower-case names only.
Width parse_width(const char* value, Width fallback) noexcept;

// One of width_names.
const char* width_name(Width width) noexcept;

// The kernel of one family that runs in this process: its instruction set
// (a width name), SLEEF's function family ("finz", FMA inside; "cinz",
// without) and the doubles per vector.
struct KernelInfo {
  const char* isa;
  const char* family;
  std::size_t lanes;
};
KernelInfo sphere_kernel() noexcept;
KernelInfo solver_kernel() noexcept;

}  // namespace tarnu::simd
