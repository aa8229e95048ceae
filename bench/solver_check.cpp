// `make accuracy`: the vectorised WGS84 solver at every width the CPU has,
// region by region (tests/cpp/solver_cases.hpp), against the truth (a
// long-double GeographicLib, bench/truth.hpp) beside GeographicLib's double
// build: the worst and RMS error of every output. Then agreement with
// GeographicLib within each region's tolerance, bit-for-bit agreement of
// the widths of each SLEEF family, and the time per pair on one thread.
//
//   solver_check [PAIRS [REPORT.md]]
//
// PAIRS is the sample of each region (default 100000; random pairs take ten
// times as many). REPORT.md receives the tables in markdown. Exits 1 when
// the solver is further from the truth than GeographicLib by more than the
// stated factor in some region, differs from GeographicLib by more than a
// region's tolerance, or two widths of one family disagree.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "dispatch.hpp"
#include "solver_cases.hpp"
#include "truth.hpp"

namespace {

using namespace tarnu::solver_cases;
using GeodesicKernel = tarnu::dispatch::SolverKernel;
using GL = GeographicLib::Geodesic;
using Kernels = std::vector<const GeodesicKernel*>;

// The promise checked against the truth: in every region and for every
// output, the solver's worst and RMS errors are within `factor` of
// GeographicLib's, or below `floor_of` (about an ulp of the quantity's
// usual size, where a ratio means nothing).
constexpr double factor = 2.0;
constexpr double inverse_floor[8] = {4e-9, 3e-14, 3e-14, 3e-14, 1e-9, 2.2e-16, 2.2e-16, 0.03};
constexpr double direct_floor[8] = {3e-14, 3e-14, 3e-14, 3e-14, 1e-9, 2.2e-16, 2.2e-16, 0.03};

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The first kernel of k's SLEEF family: k must match it bit for bit.
std::size_t leader(const Kernels& kernels, std::size_t k) {
  std::size_t j = 0;
  while (std::strcmp(kernels[j]->family, kernels[k]->family) != 0) ++j;
  return j;
}

// One solver's error in one quantity over a region, against the truth.
struct Error {
  long double worst = 0, sum_sq = 0;
  std::size_t count = 0, at = 0;
  void add(long double e, std::size_t i) {
    if (e > worst || (std::isinf(e) && !std::isinf(worst))) {
      worst = e;
      at = i;
    }
    if (std::isfinite(e)) {
      sum_sq += e * e;
      ++count;
    }
  }
  double rms() const { return count ? static_cast<double>(std::sqrt(sum_sq / count)) : 0; }
};

struct Row {  // one region: errors per solver (the family leaders, then GeographicLib)
  const Region* region;
  std::vector<std::array<Error, 8>> error;
  std::vector<std::array<double, 8>> apart;  // largest difference from GeographicLib, per kernel
};

Results solve(const GeodesicKernel& k, bool inverse, const Columns& in) {
  Results r(in.size());
  const auto& c = in.c;
  inverse ? k.inverse_n(c[0].data(), c[1].data(), c[2].data(), c[3].data(), in.size(), r.inverse(), 0)
          : k.direct_n(c[0].data(), c[1].data(), c[2].data(), c[3].data(), in.size(), r.direct(), 0);
  return r;
}

// The truth for every case, on all the CPU's threads: it costs ten times
// more than the rest.
std::vector<tarnu::truth::Answer> truth_of(const Columns& in, bool inverse) {
  std::vector<tarnu::truth::Answer> t(in.size());
  const std::size_t threads = std::max(1u, std::thread::hardware_concurrency());
  std::vector<std::thread> pool;
  for (std::size_t w = 0; w < threads; ++w) {
    pool.emplace_back([&, w] {
      for (std::size_t i = w; i < in.size(); i += threads) {
        const auto& c = in.c;
        t[i] = inverse ? tarnu::truth::inverse(c[0][i], c[1][i], c[2][i], c[3][i])
                       : tarnu::truth::direct(c[0][i], c[1][i], c[2][i], c[3][i]);
      }
    });
  }
  for (auto& th : pool) th.join();
  return t;
}

struct Checker {
  Kernels kernels;
  std::vector<std::size_t> leaders;  // one kernel per family
  bool ok = true;

  // Bit-for-bit agreement of each kernel with its family's leader.
  void check_widths(const char* what, const std::vector<Results>& got) {
    for (std::size_t k = 0; k < kernels.size(); ++k) {
      std::size_t differing = 0;
      for (int q = 0; q < 8; ++q) {
        for (std::size_t i = 0; i < got[k].q[q].size(); ++i) {
          differing += !same_bits(got[k].q[q][i], got[leader(kernels, k)].q[q][i]);
        }
      }
      if (differing) {
        std::printf("FAILED %s: %zu values of %s differ from %s\n", what, differing,
                    kernels[k]->name, kernels[leader(kernels, k)]->name);
        ok = false;
      }
    }
  }

  // Agreement with GeographicLib within `tolerance`; returns the largest
  // difference per quantity and reports the cases beyond it.
  std::array<double, 8> agree(const char* what, const GeodesicKernel& k, bool inverse,
                              const Columns& in, const Results& got, const Results& want,
                              const Agreement& tolerance, bool edges) {
    std::array<double, 8> apart{};
    const Quantity* qs = inverse ? inverse_quantities : direct_quantities;
    for (int q = 0; q < 8; ++q) {
      Worst w;
      track(w, qs[q], in, got.q[q], want.q[q], edges && inverse ? &want.q[0] : nullptr);
      apart[q] = w.error;
      if (!(w.error <= tolerance[q])) {
        std::printf("FAILED %s, %s: %s differs from GeographicLib by %.3g (tolerance %.3g) at "
                    "%.17g %.17g %.17g %.17g: %.17g, GeographicLib %.17g\n",
                    what, k.name, qs[q].name, w.error, tolerance[q], w.input[0], w.input[1],
                    w.input[2], w.input[3], w.got, w.want);
        ok = false;
      }
    }
    return apart;
  }

  void edges(bool inverse) {
    Columns in;
    inverse ? add_inverse_edges(in) : add_direct_edges(in);
    Results want(in.size());
    inverse ? reference_inverse(in, want) : reference_direct(in, want);
    std::vector<Results> got;
    for (const auto* k : kernels) {
      got.push_back(solve(*k, inverse, in));
      agree("edge sets", *k, inverse, in, got.back(), want,
            inverse ? inverse_agreement : direct_agreement, true);
    }
    check_widths("edge sets", got);
  }

  Row region(const Region& r, std::size_t n, std::uint64_t seed) {
    Columns in;
    add_region(in, r, n * static_cast<std::size_t>(r.weight), seed);
    const auto truth = truth_of(in, r.inverse);
    Results gl(in.size());
    r.inverse ? reference_inverse(in, gl) : reference_direct(in, gl);
    std::vector<Results> got;
    Row row{&r, {}, {}};
    for (const auto* k : kernels) {
      got.push_back(solve(*k, r.inverse, in));
      row.apart.push_back(agree(r.name, *k, r.inverse, in, got.back(), gl, r.agreement, false));
    }
    check_widths(r.name, got);
    const Quantity* qs = r.inverse ? inverse_quantities : direct_quantities;
    const double* floor_of = r.inverse ? inverse_floor : direct_floor;
    std::vector<const Results*> solvers;
    for (std::size_t k : leaders) solvers.push_back(&got[k]);
    solvers.push_back(&gl);
    for (const Results* s : solvers) {
      std::array<Error, 8> e;
      for (int q = 0; q < 8; ++q) {
        for (std::size_t i = 0; i < in.size(); ++i) e[q].add(error_of(qs[q], s->q[q][i], truth[i][q]), i);
      }
      row.error.push_back(e);
    }
    // The promise: each family no further from the truth than GeographicLib, within the factor.
    const auto& g = row.error.back();
    for (std::size_t f = 0; f < leaders.size(); ++f) {
      for (int q = 0; q < 8; ++q) {
        const Error& e = row.error[f][q];
        const bool worst_ok = e.worst <= factor * g[q].worst + floor_of[q];
        const bool rms_ok = e.rms() <= factor * g[q].rms() + floor_of[q];
        if (worst_ok && rms_ok) continue;
        const std::size_t i = e.at;
        std::printf("FAILED %s, %s: %s error %.3Lg (RMS %.3g), GeographicLib's %.3Lg (RMS %.3g); "
                    "worst at %.17g %.17g %.17g %.17g: %.17g, truth %.20Lg\n",
                    r.name, kernels[leaders[f]]->family, qs[q].name, e.worst, e.rms(), g[q].worst,
                    g[q].rms(), in.c[0][i], in.c[1][i], in.c[2][i], in.c[3][i],
                    solvers[f]->q[q][i], truth[i][q]);
        ok = false;
      }
    }
    return row;
  }
};

// --- the report ---------------------------------------------------------------

// printf into the end of a string.
[[gnu::format(printf, 2, 3)]] void append(std::string& s, const char* format, ...) {
  char buf[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  s += buf;
}

// "avx512, avx2 (finz)": the kernels of the leader's family.
std::string family_of(const Kernels& kernels, std::size_t leader_index) {
  std::string s;
  for (std::size_t k = 0; k < kernels.size(); ++k) {
    if (leader(kernels, k) == leader_index) append(s, "%s%s", s.empty() ? "" : ", ", kernels[k]->name);
  }
  append(s, " (%s)", kernels[leader_index]->family);
  return s;
}

void table_header(std::string& md, const Quantity* qs) {
  md += "\n| region |";
  for (int q = 0; q < 8; ++q) append(md, " %s |", qs[q].name);
  md += "\n|---|";
  for (int q = 0; q < 8; ++q) md += "---|";
  md += "\n";
}

// Markdown tables: per problem, worst and RMS error against the truth, the
// solver's (one family) before GeographicLib's; then the largest difference
// from GeographicLib with its tolerance.
std::string tables(const Checker& c, const std::vector<Row>& rows, std::size_t n) {
  std::string md;
  for (const bool inverse : {true, false}) {
    const Quantity* qs = inverse ? inverse_quantities : direct_quantities;
    const char* problem = inverse ? "Inverse" : "Direct";
    const char* units = inverse ? "s12, m12 in m; azi1, azi2, a12 in degrees; S12 in m^2"
                                : "lat2, lon2, azi2, a12 in degrees; m12 in m; S12 in m^2";
    for (std::size_t f = 0; f < c.leaders.size(); ++f) {
      for (const bool worst : {true, false}) {
        append(md, "\n### %s, %s error against the truth: %s / GeographicLib\n\n", problem,
               worst ? "worst" : "RMS", family_of(c.kernels, c.leaders[f]).c_str());
        append(md, "%s; %zu cases a region (random: %zu).\n", units, n, 10 * n);
        table_header(md, qs);
        for (const Row& row : rows) {
          if (row.region->inverse != inverse) continue;
          append(md, "| %s |", row.region->name);
          for (int q = 0; q < 8; ++q) {
            const Error &e = row.error[f][q], &g = row.error.back()[q];
            if (worst) {
              append(md, " %.2Lg / %.2Lg |", e.worst, g.worst);
            } else {
              append(md, " %.2g / %.2g |", e.rms(), g.rms());
            }
          }
          md += "\n";
        }
      }
    }
    append(md, "\n### %s, largest difference from GeographicLib (tolerance), any width\n", problem);
    table_header(md, qs);
    for (const Row& row : rows) {
      if (row.region->inverse != inverse) continue;
      append(md, "| %s |", row.region->name);
      for (int q = 0; q < 8; ++q) {
        double apart = 0;
        for (const auto& a : row.apart) apart = std::max(apart, a[q]);
        append(md, " %.2g (%.2g) |", apart, row.region->agreement[q]);
      }
      md += "\n";
    }
  }
  return md;
}

// The solver's error over GeographicLib's, worst or RMS, at its largest.
double largest_ratio(const Checker& c, const std::vector<Row>& rows, bool worst) {
  double largest = 0;
  for (const Row& row : rows) {
    const double* floor_of = row.region->inverse ? inverse_floor : direct_floor;
    for (std::size_t f = 0; f < c.leaders.size(); ++f) {
      for (int q = 0; q < 8; ++q) {
        const Error &e = row.error[f][q], &g = row.error.back()[q];
        const double a = worst ? static_cast<double>(e.worst) : e.rms();
        const double b = worst ? static_cast<double>(g.worst) : g.rms();
        if (b > floor_of[q]) largest = std::max(largest, a / b);
      }
    }
  }
  return largest;
}

// --- speed ----------------------------------------------------------------------

constexpr std::size_t block = 1024;  // elements per call, as a ufunc inner loop passes them

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

void timings(const Kernels& kernels, std::size_t n) {
  Columns inv, dir;
  add_region(inv, regions[0], n, 99);
  for (const Region& r : regions) {
    if (!r.inverse) {
      add_region(dir, r, n, 98);
      break;
    }
  }
  Results out(n);
  const GL& g = tarnu::geodesic::wgs84().solver();
  const auto c = [](const Columns& x, int j, std::size_t i) { return x.c[j].data() + i; };
  const auto o = [&](int j, std::size_t i) { return out.q[j].data() + i; };
  struct Timed {
    const char* name;
    bool inverse;
    unsigned gl_mask;
    int wanted[8];  // output indices asked for, -1 ends
  };
  const Timed rows[] = {
      {"inverse s12", true, GL::DISTANCE, {0, -1}},
      {"inverse s12 azi1 azi2", true, GL::DISTANCE | GL::AZIMUTH, {0, 1, 2, -1}},
      {"inverse all eight", true, GL::ALL, {0, 1, 2, 3, 4, 5, 6, 7}},
      {"direct lat2 lon2", false, GL::LATITUDE | GL::LONGITUDE, {0, 1, -1}},
      {"direct all eight", false, GL::ALL & ~GL::LONG_UNROLL, {0, 1, 2, 3, 4, 5, 6, 7}},
  };
  std::printf("\nns per pair (thread CPU time), one thread, blocks of %zu, best of 3 over %zu random"
              " pairs\n", block, n);
  std::printf("%-24s %12s", "operation", "GeographicLib");
  for (const auto* k : kernels) std::printf(" %9s", k->name);
  std::printf("   speed-up of %s\n", kernels[0]->name);
  for (const Timed& row : rows) {
    const Columns& in = row.inverse ? inv : dir;
    double dummy;
    const double gl = time_ns(in, [&](std::size_t i, std::size_t count) {
      for (std::size_t j = i; j < i + count; ++j) {
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
      const double t = time_ns(in, [&](std::size_t i, std::size_t count) {
        double* p[8] = {};
        for (int w : row.wanted) {
          if (w < 0) break;
          p[w] = o(w, i);
        }
        if (row.inverse) {
          k->inverse_n(c(in, 0, i), c(in, 1, i), c(in, 2, i), c(in, 3, i), count,
                       {p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7]}, 0);
        } else {
          k->direct_n(c(in, 0, i), c(in, 1, i), c(in, 2, i), c(in, 3, i), count,
                      {p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7]}, 0);
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
  const std::size_t n = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 100000;
  Checker c;
  for (const tarnu::dispatch::Isa* isa : tarnu::dispatch::registry()) {
    if (isa->cpu_supports()) c.kernels.push_back(&isa->solver);
  }
  for (std::size_t k = 0; k < c.kernels.size(); ++k) {
    if (leader(c.kernels, k) == k) c.leaders.push_back(k);
  }
  std::printf("widths on this CPU:");
  for (const auto* k : c.kernels) std::printf(" %s", k->name);
  std::printf("; %zu cases a region\n", n);

  c.edges(true);
  c.edges(false);
  std::vector<Row> rows;
  std::uint64_t seed = 1;
  for (const Region& r : regions) {
    const auto t0 = std::chrono::steady_clock::now();
    rows.push_back(c.region(r, n, seed++));
    std::printf("%-32s %6.1f s\n", r.name,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  std::string md =
      "# Accuracy of the vectorised WGS84 solver\n\n"
      "Written by `make accuracy` (bench/solver_check.cpp). Each region (tests/cpp/solver_cases.hpp)"
      " is solved by every width of the solver and by GeographicLib, and each answer compared with"
      " the truth: GeographicLib built in long double (64-bit significands, series of order 7),"
      " for the same double inputs. Angles are compared modulo 360 degrees.\n";
  md += "\nWidths on the CPU that wrote this file:";
  for (std::size_t k = 0; k < c.kernels.size(); ++k) {
    append(md, "%s %s", k ? "," : "", c.kernels[k]->name);
  }
  md += ".\n";
  append(md, "\nLargest ratio of the solver's error to GeographicLib's, over every region and "
             "output (where GeographicLib's exceeds about an ulp): worst %.2f, RMS %.2f "
             "(promised: %.0f).\n", largest_ratio(c, rows, true), largest_ratio(c, rows, false),
         factor);
  md += tables(c, rows, n);
  std::printf("%s", md.c_str());
  if (argc > 2) {
    if (FILE* f = std::fopen(argv[2], "w")) {
      std::fprintf(f, "%s", md.c_str());
      std::fclose(f);
    }
  }
  timings(c.kernels, n);
  std::printf("\n%s\n", c.ok ? "all within the promises; the widths of each family agree bit for bit"
                             : "FAILED");
  return c.ok ? 0 : 1;
}
