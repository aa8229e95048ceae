// The vector width the vectorised kernels run at, chosen once per process.
//
// The widest width the CPU supports is the default. The environment variable
// TARNU_SIMD caps it: `avx512`, `avx2`, `sse2` or `scalar` (one lane at a
// time), so a machine can run as an older CPU would. A request wider than the
// CPU supports gets the widest supported width below it; an unknown value is
// ignored. The variable is read once, on the first call of simd_width().
#pragma once

namespace tarnu::simd {

// Ordered: a wider width compares greater.
enum class Width { scalar, sse2, avx2, avx512 };

// The widest width this CPU (and its operating system) supports.
Width cpu_width() noexcept;

// The width the kernels use: cpu_width() capped by TARNU_SIMD.
Width simd_width() noexcept;

// The cap a TARNU_SIMD value asks for: its width, or `fallback` when the
// value is null or unknown. Exact, lower-case names only.
Width parse_width(const char* value, Width fallback) noexcept;

// "avx512", "avx2", "sse2" or "scalar".
const char* width_name(Width width) noexcept;

}  // namespace tarnu::simd
