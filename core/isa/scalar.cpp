// One lane at a time, on any CPU: SLEEF's portable C functions, whose results
// equal those of every other kernel of their family bit for bit. On x86-64,
// where FMA is optional, the family without it (cinz); on aarch64, where
// every CPU has FMA, the family with it (finz), as the AdvSIMD kernel. Built
// without instruction-set flags.
#include <sleef.h>

#if defined(__aarch64__)
#define FAMILY "finz"
#define SLEEF(fn) Sleef_finz_##fn##1_u10purecfma
#define SLEEF35(fn) Sleef_finz_##fn##1_u35purecfma
#else
#define FAMILY "cinz"
#define SLEEF(fn) Sleef_cinz_##fn##1_u10purec
#define SLEEF35(fn) Sleef_cinz_##fn##1_u35purec
#endif

#define TARNU_ISA scalar
#include "isa/kernels.hpp"

namespace tarnu::isa::scalar {

// Internal: each instance of a kernel template on these types is this
// file's own, and the compiler inlines as it sees fit.
namespace {

struct Lanes {
  using V = double __attribute__((vector_size(8)));
  using M = lanes::MaskOf<V>;
  static constexpr std::size_t lanes = 1;
  static constexpr char family[] = FAMILY;

  static V sqrt(V x) noexcept { return V{__builtin_sqrt(x[0])}; }
  static V sin(V x) noexcept { return V{SLEEF(sind)(x[0])}; }
  static V cos(V x) noexcept { return V{SLEEF(cosd)(x[0])}; }
  static V asin(V x) noexcept { return V{SLEEF(asind)(x[0])}; }
  static void sincos(V x, V& s, V& c) noexcept {
    const Sleef_double_2 r = SLEEF(sincosd)(x[0]);
    s = V{r.x};
    c = V{r.y};
  }
  // Within 3.5 ulp rather than 1: points along a line (geodesic_line.hpp).
  static void sincos35(V x, V& s, V& c) noexcept {
    const Sleef_double_2 r = SLEEF35(sincosd)(x[0]);
    s = V{r.x};
    c = V{r.y};
  }
  static V atan2_35(V y, V x) noexcept { return V{SLEEF35(atan2d)(y[0], x[0])}; }
  static unsigned bits(M m) noexcept { return m[0] != 0 ? 1u : 0u; }
  static bool any(M m) noexcept { return bits(m) != 0; }
};

bool cpu_supports() noexcept { return true; }

}  // namespace

// constinit: as in every instruction set's file, no code runs at load time.
extern constinit const dispatch::Isa kernels =
    make_isa<Lanes, void>("scalar", simd::Width::scalar, cpu_supports);

}  // namespace tarnu::isa::scalar
