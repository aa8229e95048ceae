// The one registry of compiled instruction sets, and the choice among them.
//
// Each instruction set is a file of core/isa/, compiled with its own -m
// flags, that defines its lane type and instantiates every kernel template
// on it inside its own namespace, tarnu::isa::<name>. Nothing compiled with
// those flags lives outside that namespace (CTest checks the objects'
// symbols), so the linker can never hand code built for one instruction set
// to a caller of another. An instruction set gives both families, the
// sphere's haversine and the WGS84 solver, from one SLEEF family; kernels of
// one SLEEF family give the same bits at every width.
#pragma once

#include <cstddef>
#include <span>

#include "tarnu/geodesic_n.hpp"
#include "tarnu/simd.hpp"

namespace tarnu::dispatch {

// great_circle_distance and great_circle_distance_n, as in
// tarnu/great_circle.hpp.
struct SphereKernel {
  const char* name;    // the instruction set's width name
  const char* family;  // SLEEF's: "finz" (FMA inside) or "cinz"
  std::size_t lanes;
  double (*distance)(double lat1, double lon1, double lat2, double lon2) noexcept;
  void (*distance_n)(const double* lat1, const double* lon1, const double* lat2,
                     const double* lon2, double* s12, std::size_t n, unsigned fixed) noexcept;
};

// geodesic::inverse_n, geodesic::direct_n and geodesic::line_n, as in
// tarnu/geodesic_n.hpp.
struct SolverKernel {
  const char* name;
  const char* family;
  std::size_t lanes;
  void (*inverse_n)(const double* lat1, const double* lon1, const double* lat2,
                    const double* lon2, std::size_t n, const geodesic::InverseOutputs& out,
                    unsigned fixed) noexcept;
  void (*direct_n)(const double* lat1, const double* lon1, const double* azi1,
                   const double* s12, std::size_t n, const geodesic::DirectOutputs& out,
                   unsigned fixed) noexcept;
  void (*line_n)(double lat1, double lon1, double azi1, const double* s12, std::size_t n,
                 double* lat2, double* lon2) noexcept;
};

struct Isa {
  const char* name;  // as simd::width_name(width)
  simd::Width width;
  bool (*cpu_supports)() noexcept;  // false: its code must not run here
  SphereKernel sphere;
  SolverKernel solver;
};

// Every compiled instruction set of this architecture, widest first; the
// last is the scalar one, which every CPU supports.
std::span<const Isa* const> registry() noexcept;

// The first of the registry the CPU supports within simd::simd_width().
const Isa& selected() noexcept;

#if defined(__x86_64__)
// What this x86-64 CPU can run, asked of the CPU itself (CPUID) and of the
// operating system (XGETBV: which registers it saves on a context switch).
// The compiler's __builtin_cpu_supports depends on its runtime library
// having run an initialiser first, which not every toolchain's runtime
// does inside a shared library: the wheels' would report no features at all.
struct X86Features {
  bool sse2;
  bool avx;      // and the OS saves the YMM registers
  bool fma;      // and the OS saves the YMM registers
  bool avx2;     // and the OS saves the YMM registers
  bool avx512f;  // and the OS saves the ZMM and mask registers
};
const X86Features& x86_features() noexcept;
#endif

}  // namespace tarnu::dispatch
