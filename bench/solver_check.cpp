// `make accuracy`: every compiled width of the vectorised WGS84 solver
// against GeographicLib over ten million random pairs plus the edge sets,
// the worst error per quantity, agreement between widths, and the time per
// pair on one thread.
//
//   solver_check [PAIRS]    (default 10000000; a multiple of 10^6 or less)
//
// Exits 1 when a quantity exceeds its tolerance or two widths disagree.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "dispatch.hpp"
#include "solver_cases.hpp"

namespace {

using namespace tarnu::solver_cases;
using GeodesicKernel = tarnu::dispatch::SolverKernel;
using GL = GeographicLib::Geodesic;

constexpr std::size_t chunk = 1'000'000;
constexpr std::size_t block = 1024;  // elements per call, as a ufunc inner loop passes them

struct Tally {
  Worst worst[8];                    // against GeographicLib
  double apart[8] = {};              // largest difference from the first kernel
  std::size_t width_mismatches = 0;  // values differing from the family's first kernel
};

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The first kernel of k's SLEEF family: k must match it bit for bit.
std::size_t leader(const std::vector<const GeodesicKernel*>& kernels, std::size_t k) {
  std::size_t j = 0;
  while (std::strcmp(kernels[j]->family, kernels[k]->family) != 0) ++j;
  return j;
}

// Runs every supported kernel on one chunk and folds its errors in.
void check_chunk(const Columns& in, bool inverse, const std::vector<const GeodesicKernel*>& kernels,
                 std::vector<Tally>& tallies) {
  const std::size_t n = in.size();
  Results want(n);
  inverse ? reference_inverse(in, want) : reference_direct(in, want);
  std::vector<Results> got;
  for (std::size_t k = 0; k < kernels.size(); ++k) {
    got.emplace_back(n);
    if (inverse) {
      kernels[k]->inverse_n(in.c[0].data(), in.c[1].data(), in.c[2].data(), in.c[3].data(), n,
                            got[k].inverse());
    } else {
      kernels[k]->direct_n(in.c[0].data(), in.c[1].data(), in.c[2].data(), in.c[3].data(), n,
                           got[k].direct());
    }
    const Quantity* qs = inverse ? inverse_quantities : direct_quantities;
    for (int q = 0; q < 8; ++q) {
      Worst w;
      track(w, qs[q], in, got[k].q[q], want.q[q], inverse ? &want.q[0] : nullptr);
      Worst& t = tallies[k].worst[q];
      if (w.error > t.error || (std::isinf(w.error) && !std::isinf(t.error))) t = w;
      for (std::size_t i = 0; i < n; ++i) {
        if (!same_bits(got[k].q[q][i], got[leader(kernels, k)].q[q][i])) {
          ++tallies[k].width_mismatches;
        }
        const double d = error_of(qs[q], got[k].q[q][i], got[0].q[q][i]);
        if (!(d <= tallies[k].apart[q])) tallies[k].apart[q] = d;
      }
    }
  }
}

bool report(const char* title, bool inverse, const std::vector<const GeodesicKernel*>& kernels,
            const std::vector<Tally>& tallies) {
  const Quantity* qs = inverse ? inverse_quantities : direct_quantities;
  bool ok = true;
  std::printf("\n%s: worst |error| against GeographicLib (tolerance)\n%-12s", title, "width");
  for (int q = 0; q < 8; ++q) std::printf(" %11s", qs[q].name);
  std::printf("  values differing from the family's first\n");
  for (std::size_t k = 0; k < kernels.size(); ++k) {
    std::printf("%-12s", (std::string(kernels[k]->name) + "/" + kernels[k]->family).c_str());
    for (int q = 0; q < 8; ++q) {
      std::printf(" %11.3g", tallies[k].worst[q].error);
      ok &= tallies[k].worst[q].error <= qs[q].tolerance;
    }
    std::printf("  %zu\n", tallies[k].width_mismatches);
    ok &= tallies[k].width_mismatches == 0;
  }
  std::printf("%-12s", "(tol)");
  for (int q = 0; q < 8; ++q) std::printf(" %11.3g", qs[q].tolerance);
  std::printf("\nlargest difference from %s\n", kernels[0]->name);
  for (std::size_t k = 1; k < kernels.size(); ++k) {
    std::printf("%-12s", kernels[k]->name);
    for (int q = 0; q < 8; ++q) std::printf(" %11.3g", tallies[k].apart[q]);
    std::printf("\n");
  }
  std::printf("where the worst errors are (%s):\n", kernels[0]->name);
  for (int q = 0; q < 8; ++q) {
    const Worst& w = tallies[0].worst[q];
    std::printf("  %-4s %.17g %.17g %.17g %.17g: %.17g, GeographicLib %.17g\n", qs[q].name,
                w.input[0], w.input[1], w.input[2], w.input[3], w.got, w.want);
  }
  return ok;
}

// CPU time of this thread, so that other processes on a shared machine
// inflate the figures less than wall time would.
double thread_ns() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}

// Best of three passes over the columns, in blocks; ns per element.
double time_ns(const Columns& in, const std::function<void(std::size_t, std::size_t)>& run) {
  double best = 1e300;
  for (int rep = 0; rep < 3; ++rep) {
    const double t0 = thread_ns();
    for (std::size_t i = 0; i < in.size(); i += block) run(i, std::min(block, in.size() - i));
    best = std::min(best, (thread_ns() - t0) / static_cast<double>(in.size()));
  }
  return best;
}

void timings(const std::vector<const GeodesicKernel*>& kernels) {
  Columns inv, dir;
  add_inverse_random(inv, chunk, 99);
  add_direct_random(dir, chunk, 98);
  Results out(chunk);
  const GL& g = tarnu::geodesic::wgs84().solver();
  const auto c = [](const Columns& x, int j, std::size_t i) { return x.c[j].data() + i; };
  const auto o = [&](int j, std::size_t i) { return out.q[j].data() + i; };
  struct Row {
    const char* name;
    bool inverse;
    unsigned gl_mask;
    int wanted[8];  // output indices asked for, -1 ends
  };
  const Row rows[] = {
      {"inverse s12", true, GL::DISTANCE, {0, -1}},
      {"inverse s12 azi1 azi2", true, GL::DISTANCE | GL::AZIMUTH, {0, 1, 2, -1}},
      {"inverse all eight", true, GL::ALL, {0, 1, 2, 3, 4, 5, 6, 7}},
      {"direct lat2 lon2", false, GL::LATITUDE | GL::LONGITUDE, {0, 1, -1}},
      {"direct all eight", false, GL::ALL & ~GL::LONG_UNROLL, {0, 1, 2, 3, 4, 5, 6, 7}},
  };
  std::printf("\nns per pair (thread CPU time), one thread, blocks of %zu, best of 3 over %zu random"
              " pairs\n", block, chunk);
  std::printf("%-24s %12s", "operation", "GeographicLib");
  for (const auto* k : kernels) std::printf(" %9s", k->name);
  std::printf("   speed-up of %s\n", kernels[0]->name);
  for (const Row& row : rows) {
    const Columns& in = row.inverse ? inv : dir;
    double dummy;
    const double gl = time_ns(in, [&](std::size_t i, std::size_t n) {
      for (std::size_t j = i; j < i + n; ++j) {
        double* r[8];
        for (auto& p : r) p = &dummy;
        for (int w : row.wanted) {
          if (w < 0) break;
          r[w] = o(w, j);
        }
        if (row.inverse) {
          *r[3] = g.GenInverse(inv.c[0][j], inv.c[1][j], inv.c[2][j], inv.c[3][j], row.gl_mask,
                               *r[0], *r[1], *r[2], *r[4], *r[5], *r[6], *r[7]);
        } else {
          *r[3] = g.GenDirect(dir.c[0][j], dir.c[1][j], dir.c[2][j], false, dir.c[3][j],
                              row.gl_mask, *r[0], *r[1], *r[2], dummy, *r[4], *r[5], *r[6], *r[7]);
        }
      }
    });
    std::printf("%-24s %12.1f", row.name, gl);
    double first = 0;
    for (const auto* k : kernels) {
      const double t = time_ns(in, [&](std::size_t i, std::size_t n) {
        double* p[8] = {};
        for (int w : row.wanted) {
          if (w < 0) break;
          p[w] = o(w, i);
        }
        if (row.inverse) {
          k->inverse_n(c(in, 0, i), c(in, 1, i), c(in, 2, i), c(in, 3, i), n,
                       {p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7]});
        } else {
          k->direct_n(c(in, 0, i), c(in, 1, i), c(in, 2, i), c(in, 3, i), n,
                      {p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7]});
        }
      });
      if (first == 0) first = t;
      std::printf(" %9.1f", t);
    }
    std::printf("   %.2fx\n", gl / first);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // progress shows under make
  const std::size_t pairs = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 10 * chunk;
  std::vector<const GeodesicKernel*> kernels;
  for (const tarnu::dispatch::Isa* isa : tarnu::dispatch::registry()) {
    if (isa->cpu_supports()) kernels.push_back(&isa->solver);
  }
  std::printf("widths on this CPU:");
  for (const auto* k : kernels) std::printf(" %s", k->name);
  std::printf("; %zu random pairs plus the edge sets\n", pairs);

  bool ok = true;
  for (const bool inverse : {true, false}) {
    std::vector<Tally> tallies(kernels.size());
    Columns edges;
    inverse ? add_inverse_edges(edges) : add_direct_edges(edges);
    check_chunk(edges, inverse, kernels, tallies);
    for (std::size_t done = 0, seed = 1; done < pairs; done += chunk, ++seed) {
      Columns in;
      const std::size_t n = std::min(chunk, pairs - done);
      inverse ? add_inverse_random(in, n, seed) : add_direct_random(in, n, seed);
      check_chunk(in, inverse, kernels, tallies);
    }
    ok &= report(inverse ? "inverse" : "direct", inverse, kernels, tallies);
  }
  timings(kernels);
  std::printf("\n%s\n", ok ? "all within tolerance; the widths of each family agree bit for bit"
                           : "FAILED");
  return ok ? 0 : 1;
}
