#include "dispatch.hpp"

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
