// The vectorised WGS84 solver: every compiled width against GeographicLib
// (each region and the edge sets of solver_cases.hpp, with the region's
// tolerance per quantity, NaN exactly where GeographicLib), outputs within
// their ranges, bit-for-bit agreement within a SLEEF family, partial
// outputs and short arrays, and the TARNU_SIMD cap.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iomanip>
#include <initializer_list>
#include <iterator>

#include "dispatch.hpp"
#include "solver_cases.hpp"

namespace {

using namespace tarnu::solver_cases;
using GeodesicKernel = tarnu::dispatch::SolverKernel;
namespace dispatch = tarnu::dispatch;
namespace simd = tarnu::simd;

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

struct Problem {
  const char* name;
  bool inverse;
  Columns in;
  Agreement agreement;
  bool edges;
};

// The edge sets, then a sample of every region.
std::vector<Problem> problems() {
  std::vector<Problem> p{{"inverse edges", true, {}, inverse_agreement, true},
                         {"direct edges", false, {}, direct_agreement, true}};
  add_inverse_edges(p[0].in);
  add_direct_edges(p[1].in);
  std::uint64_t seed = 11;
  for (const Region& r : regions) {
    p.push_back({r.name, r.inverse, {}, r.agreement, false});
    add_region(p.back().in, r, 300 * static_cast<std::size_t>(r.weight), seed++);
  }
  return p;
}

Results solve(const GeodesicKernel& k, Problem& p, unsigned fixed = 0) {
  Results r(p.in.size());
  const double *a = p.in.c[0].data(), *b = p.in.c[1].data(), *c = p.in.c[2].data(),
               *d = p.in.c[3].data();
  p.inverse ? k.inverse_n(a, b, c, d, p.in.size(), r.inverse(), fixed)
            : k.direct_n(a, b, c, d, p.in.size(), r.direct(), fixed);
  return r;
}

std::vector<const GeodesicKernel*> supported() {
  std::vector<const GeodesicKernel*> ks;
  for (const dispatch::Isa* isa : dispatch::registry()) {
    if (isa->cpu_supports()) ks.push_back(&isa->solver);
  }
  return ks;
}

TEST(Solver, EveryWidthWithinEachRegionsToleranceOfGeographicLib) {
  for (Problem& p : problems()) {
    Results want(p.in.size());
    p.inverse ? reference_inverse(p.in, want) : reference_direct(p.in, want);
    for (const GeodesicKernel* k : supported()) {
      const Results got = solve(*k, p);
      for (int q = 0; q < 8; ++q) {
        const Quantity& qty = (p.inverse ? inverse_quantities : direct_quantities)[q];
        Worst w;
        track(w, qty, p.in, got.q[q], want.q[q], p.inverse && p.edges ? &want.q[0] : nullptr);
        EXPECT_LE(w.error, p.agreement[q])
            << std::setprecision(17) << k->name << ' ' << p.name << ' ' << qty.name << " at "
            << w.input[0] << ' ' << w.input[1] << ' ' << w.input[2] << ' ' << w.input[3]
            << ": got " << w.got << ", GeographicLib " << w.want;
      }
    }
  }
}

// Azimuths and the direct longitude reduced to [-180, 180], latitudes
// within the poles, distances and arcs of the inverse not negative: a
// value out of range can hide behind a comparison modulo 360.
TEST(Solver, EveryOutputLiesInItsRange) {
  for (Problem& p : problems()) {
    const Results got = solve(tarnu::dispatch::selected().solver, p);
    for (int q = 0; q < 8; ++q) {
      const Quantity& qty = (p.inverse ? inverse_quantities : direct_quantities)[q];
      std::size_t outside = 0, first = 0;
      for (std::size_t i = 0; i < p.in.size(); ++i) {
        const double v = got.q[q][i];
        if (std::isnan(v) || (qty.low <= v && v <= qty.high)) continue;
        if (outside++ == 0) first = i;
      }
      EXPECT_EQ(outside, 0u) << std::setprecision(17) << p.name << ' ' << qty.name << " = "
                             << got.q[q][first] << " at " << p.in.c[0][first] << ' '
                             << p.in.c[1][first] << ' ' << p.in.c[2][first] << ' '
                             << p.in.c[3][first];
    }
  }
}

TEST(Solver, WidthsOfOneFamilyAgreeBitForBit) {
  const auto ks = supported();
  for (Problem& p : problems()) {
    for (const GeodesicKernel* k : ks) {
      const GeodesicKernel* first = k;
      for (const GeodesicKernel* j : ks) {
        if (std::strcmp(j->family, k->family) == 0) {
          first = j;
          break;
        }
      }
      const Results a = solve(*first, p), b = solve(*k, p);
      std::size_t differing = 0;
      for (int q = 0; q < 8; ++q) {
        for (std::size_t i = 0; i < p.in.size(); ++i) differing += !same_bits(a.q[q][i], b.q[q][i]);
      }
      EXPECT_EQ(differing, 0u) << p.name << ": " << k->name << " against " << first->name;
    }
  }
}

// A point or a line that every element shares, said to be fixed, changes no
// bit: the fixed point of either end, or start and azimuth, taken from a few
// elements of each set (specials and NaN among them), at every width.
TEST(Solver, FixedInputsChangeNoBit) {
  for (const GeodesicKernel* k : supported()) {
    for (Problem& p : problems()) {
      for (const unsigned fixed : p.inverse ? std::vector{3u, 12u} : std::vector{7u}) {
        for (const std::size_t from : {std::size_t{0}, p.in.size() / 3, p.in.size() - 5}) {
          Problem q = p;
          for (int j = 0; j < 4; ++j) {
            if (fixed >> j & 1) q.in.c[j].assign(q.in.size(), p.in.c[j][from]);
          }
          const Results a = solve(*k, q), b = solve(*k, q, fixed);
          for (int o = 0; o < 8; ++o) {
            EXPECT_TRUE(std::equal(a.q[o].begin(), a.q[o].end(), b.q[o].begin(), same_bits))
                << k->name << ' ' << p.name << " fixed " << fixed << " from " << from << ": "
                << o;
          }
        }
      }
    }
  }
}

// Every element of a short array, through the tail path and the cheaper
// instances that skip unwanted outputs, equals the full answer for that
// element, and nothing past n is written.
TEST(Solver, PartialOutputsAndShortArraysMatchTheFullAnswer) {
  std::vector<Problem> ps = problems();
  for (const GeodesicKernel* k : supported()) {
    for (Problem& p : ps) {
      const Results full = solve(*k, p);
      const std::size_t start = p.in.size() - 40;
      const double* c[4];
      for (int j = 0; j < 4; ++j) c[j] = p.in.c[j].data() + start;
      for (std::size_t n = 0; n <= 17; ++n) {
        for (const std::vector<int>& wanted : {std::vector<int>{0}, {0, 1, 2, 3}, {0, 1},
                                               {0, 1, 2, 3, 4, 5, 6, 7}}) {
          Results r(n + 1);
          for (auto& v : r.q) v.assign(n + 1, -7.0);
          double* o[8] = {};
          for (int w : wanted) o[w] = r.q[w].data();
          const auto& [o0, o1, o2, o3, o4, o5, o6, o7] = o;
          if (p.inverse) {
            k->inverse_n(c[0], c[1], c[2], c[3], n, {o0, o1, o2, o3, o4, o5, o6, o7}, 0);
          } else {
            k->direct_n(c[0], c[1], c[2], c[3], n, {o0, o1, o2, o3, o4, o5, o6, o7}, 0);
          }
          for (int w : wanted) {
            for (std::size_t i = 0; i < n; ++i) {
              EXPECT_TRUE(same_bits(r.q[w][i], full.q[w][start + i]))
                  << k->name << ' ' << p.name << " output " << w << " n " << n << " i " << i
                  << ": " << r.q[w][i] << " vs " << full.q[w][start + i];
            }
            EXPECT_EQ(r.q[w][n], -7.0) << k->name << " wrote past n = " << n;
          }
        }
      }
    }
  }
}

TEST(Simd, ParsesExactNamesAndIgnoresOthers) {
  // Each name of this architecture's table gives its width.
  for (std::size_t w = 0; w < std::size(simd::width_names); ++w) {
    EXPECT_EQ(simd::parse_width(simd::width_names[w], simd::Width::scalar), static_cast<simd::Width>(w))
        << simd::width_names[w];
  }
  // Anything else gives the fallback: near misses, and names no architecture has.
  const auto widest = static_cast<simd::Width>(std::size(simd::width_names) - 1);
  for (const char* value :
       std::initializer_list<const char*>{"SCALAR", "Scalar", "scalar ", "", "sse", "neon", "x86", nullptr}) {
    EXPECT_EQ(simd::parse_width(value, widest), widest) << (value ? value : "null");
  }
}

// CTest runs this once more under each cap below the widest: both the solver
// and the sphere must stay within the cap, and never above the CPU.
TEST(Simd, KernelsStayWithinTheCap) {
  const simd::Width cap = simd::parse_width(std::getenv("TARNU_SIMD"), simd::cpu_width());
  EXPECT_EQ(simd::simd_width(), std::min(cap, simd::cpu_width()));
  // Below the CPU's width, the cap itself: each width has its kernels.
  EXPECT_EQ(dispatch::selected().width, simd::simd_width());
  EXPECT_TRUE(dispatch::selected().cpu_supports());
  EXPECT_STREQ(simd::solver_kernel().isa, simd::width_name(simd::simd_width()));
  EXPECT_STREQ(simd::sphere_kernel().isa, simd::width_name(simd::simd_width()));
}

#if defined(__x86_64__) && !defined(__clang__)
// The dispatch asks the CPU itself; libgcc, which does initialise itself in
// an executable, must agree on every feature.
TEST(Simd, CpuProbeAgreesWithLibgcc) {
  __builtin_cpu_init();
  const dispatch::X86Features& cpu = dispatch::x86_features();
  EXPECT_EQ(cpu.sse2, bool(__builtin_cpu_supports("sse2")));
  EXPECT_EQ(cpu.avx, bool(__builtin_cpu_supports("avx")));
  EXPECT_EQ(cpu.fma, bool(__builtin_cpu_supports("fma")));
  EXPECT_EQ(cpu.avx2, bool(__builtin_cpu_supports("avx2")));
  EXPECT_EQ(cpu.avx512f, bool(__builtin_cpu_supports("avx512f")));
}
#endif

}  // namespace
