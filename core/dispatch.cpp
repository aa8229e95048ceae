#include "dispatch.hpp"

#if defined(__x86_64__)
#include <cpuid.h>
#endif

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

// Each instruction set's kernels, defined by its file of core/isa/.
namespace tarnu::isa {
#if defined(__x86_64__)
namespace avx512 { extern const dispatch::Isa kernels; }
namespace avx2 { extern const dispatch::Isa kernels; }
namespace avx { extern const dispatch::Isa kernels; }
namespace sse2 { extern const dispatch::Isa kernels; }
#elif defined(__aarch64__)
namespace advsimd { extern const dispatch::Isa kernels; }
#endif
namespace scalar { extern const dispatch::Isa kernels; }
}  // namespace tarnu::isa

namespace tarnu::dispatch {
namespace {

const Isa* const isas[] = {
#if defined(__x86_64__)
    &isa::avx512::kernels, &isa::avx2::kernels, &isa::avx::kernels, &isa::sse2::kernels,
#elif defined(__aarch64__)
    &isa::advsimd::kernels,
#endif
    &isa::scalar::kernels,
};
static_assert(std::size(isas) == std::size(simd::width_names),
              "one instruction set per width of this architecture");

const Isa& choose() noexcept {
  const simd::Width cap = simd::simd_width();
  for (const Isa* isa : isas) {
    if (isa->width <= cap && isa->cpu_supports()) return *isa;
  }
  return isa::scalar::kernels;
}

}  // namespace

std::span<const Isa* const> registry() noexcept { return isas; }

const Isa& selected() noexcept {
  static const Isa& chosen = choose();
  return chosen;
}

#if defined(__x86_64__)
namespace {

X86Features probe_x86() noexcept {
  X86Features f{};
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return f;
  f.sse2 = (edx & bit_SSE2) != 0;
  // XGETBV exists only where the OS has enabled it (OSXSAVE).
  std::uint64_t xcr0 = 0;
  if ((ecx & bit_OSXSAVE) != 0) {
    unsigned lo = 0, hi = 0;
    __asm__("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    xcr0 = (std::uint64_t{hi} << 32) | lo;
  }
  const bool ymm = (xcr0 & 0x6) == 0x6;     // SSE and AVX state
  const bool zmm = (xcr0 & 0xe6) == 0xe6;   // and opmask, ZMM_Hi256, Hi16_ZMM
  f.avx = ymm && (ecx & bit_AVX) != 0;
  f.fma = ymm && (ecx & bit_FMA) != 0;
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) != 0) {
    f.avx2 = ymm && (ebx & bit_AVX2) != 0;
    f.avx512f = zmm && (ebx & bit_AVX512F) != 0;
  }
  return f;
}

}  // namespace

const X86Features& x86_features() noexcept {
  static const X86Features features = probe_x86();
  return features;
}
#endif

}  // namespace tarnu::dispatch

namespace tarnu::simd {

Width cpu_width() noexcept {
  for (const dispatch::Isa* isa : dispatch::registry()) {
    if (isa->cpu_supports()) return isa->width;
  }
  return Width::scalar;
}

Width parse_width(const char* value, Width fallback) noexcept {
  if (value == nullptr) return fallback;
  for (std::size_t w = 0; w < std::size(width_names); ++w) {
    if (std::strcmp(value, width_names[w]) == 0) return static_cast<Width>(w);
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

const char* width_name(Width width) noexcept { return width_names[static_cast<int>(width)]; }

namespace {

// One line on standard error when the library loads with a TARNU_SIMD it
// does not know, so that a misspelt cap is not silently the CPU's width.
// Bytes outside printable ASCII are shown as '?': the line stays one line.
bool warn_about_unknown_cap() noexcept {
  const char* value = std::getenv("TARNU_SIMD");
  if (value == nullptr || *value == '\0') return false;  // empty: as if unset
  for (const char* name : width_names) {
    if (std::strcmp(value, name) == 0) return false;
  }
  try {
    std::string shown, names;
    for (const char* c = value; *c != '\0'; ++c) shown += *c >= ' ' && *c <= '~' ? *c : '?';
    for (const char* name : width_names) names.append(names.empty() ? "" : ", ").append(name);
    std::fprintf(stderr, "tarnu: TARNU_SIMD=%s is not one of %s; ignored\n", shown.c_str(),
                 names.c_str());
  } catch (...) {  // no memory for the message: say nothing
  }
  return true;
}

[[maybe_unused]] const bool warned = warn_about_unknown_cap();

}  // namespace

KernelInfo sphere_kernel() noexcept {
  const dispatch::SphereKernel& k = dispatch::selected().sphere;
  return {k.name, k.family, k.lanes};
}

KernelInfo solver_kernel() noexcept {
  const dispatch::SolverKernel& k = dispatch::selected().solver;
  return {k.name, k.family, k.lanes};
}

}  // namespace tarnu::simd
