// Inputs and error measures for checking the vectorised WGS84 solver against
// GeographicLib, shared by the C++ tests (a small sample) and
// bench/solver_check.cpp (`make accuracy`, ten million pairs).
//
// Random cases are points uniform on the sphere, azimuths uniform, distances
// uniform up to half the meridian circumference and beyond. Edge cases are
// the products of the special values below plus pairs built near the
// antipodes and a few millimetres apart.
#pragma once

#include <GeographicLib/Geodesic.hpp>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <random>
#include <vector>

#include "tarnu/geodesic.hpp"
#include "tarnu/geodesic_n.hpp"

namespace tarnu::solver_cases {

inline constexpr double nan = std::numeric_limits<double>::quiet_NaN();
inline constexpr double inf = std::numeric_limits<double>::infinity();

// Four input columns: lat1, lon1, lat2, lon2 or lat1, lon1, azi1, s12.
struct Columns {
  std::vector<double> c[4];
  std::size_t size() const { return c[0].size(); }
  void add(double a, double b, double x, double y) {
    c[0].push_back(a);
    c[1].push_back(b);
    c[2].push_back(x);
    c[3].push_back(y);
  }
};

// Eight output columns, in the order of InverseOutputs / DirectOutputs.
struct Results {
  std::vector<double> q[8];
  explicit Results(std::size_t n) {
    for (auto& v : q) v.assign(n, 0.0);
  }
  geodesic::InverseOutputs inverse() {
    return {q[0].data(), q[1].data(), q[2].data(), q[3].data(),
            q[4].data(), q[5].data(), q[6].data(), q[7].data()};
  }
  geodesic::DirectOutputs direct() {
    return {q[0].data(), q[1].data(), q[2].data(), q[3].data(),
            q[4].data(), q[5].data(), q[6].data(), q[7].data()};
  }
};

struct Quantity {
  const char* name;
  double tolerance;
  bool angle;         // compared modulo 360 degrees
  bool long_lines;    // compared only where s12 exceeds 1 m
};

inline constexpr double nm = 1e-9;
// Areas reach 2.5e14 m^2 (ulp 0.03 m^2), and the term c2 alp12 turns an
// azimuth difference of 1e-15 rad, the rounding noise of two independent
// evaluations, into 0.04 m^2; near-antipodal lines amplify that noise.
inline constexpr double S12_tolerance = 4.0;
inline constexpr Quantity inverse_quantities[8] = {
    {"s12", 20 * nm, false, false}, {"azi1", 1e-11, true, true}, {"azi2", 1e-11, true, true},
    {"a12", 1e-12, false, false},   {"m12", 20 * nm, false, false}, {"M12", 1e-14, false, false},
    {"M21", 1e-14, false, false},   {"S12", S12_tolerance, false, false}};
inline constexpr Quantity direct_quantities[8] = {
    {"lat2", 1e-12, false, false}, {"lon2", 1e-12, true, false}, {"azi2", 1e-11, true, false},
    {"a12", 1e-12, false, false},  {"m12", 20 * nm, false, false}, {"M12", 1e-14, false, false},
    {"M21", 1e-14, false, false},  {"S12", S12_tolerance, false, false}};

inline double random_latitude(std::mt19937_64& rng) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  return std::asin(u(rng)) / (M_PI / 180);
}

inline void add_inverse_random(Columns& in, std::size_t n, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> lon(-180.0, 180.0);
  for (std::size_t i = 0; i < n; ++i) {
    const double lat1 = random_latitude(rng), lon1 = lon(rng);
    in.add(lat1, lon1, random_latitude(rng), lon(rng));
  }
}

inline void add_direct_random(Columns& in, std::size_t n, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> lon(-180.0, 180.0), azi(-180.0, 180.0), s(-1e6, 2.1e7);
  for (std::size_t i = 0; i < n; ++i) {
    const double lat1 = random_latitude(rng), lon1 = lon(rng), azi1 = azi(rng);
    in.add(lat1, lon1, azi1, s(rng));
  }
}

inline const std::initializer_list<double> special_latitudes = {
    0.0, -0.0, 90.0, -90.0, 89.99999999, -89.99999999, 1e-13, -1e-200, 45.0, -30.0, 60.0};
inline const std::initializer_list<double> special_longitudes = {
    0.0, -0.0, 180.0, -180.0, 179.9995, -179.9995, 360.0, -540.0, 1e-9, 90.0, 1e7, 1e13};

inline void add_inverse_edges(Columns& in) {
  for (double la1 : special_latitudes)
    for (double la2 : special_latitudes)
      for (double lo2 : special_longitudes) in.add(la1, 0.0, la2, lo2);
  for (double lo : special_longitudes) in.add(20.0, lo, -20.0, -lo);
  for (double bad : {nan, inf, -inf, 91.0, -90.5}) {
    in.add(bad, 0.0, 10.0, 20.0);
    in.add(10.0, bad, 10.0, 20.0);
    in.add(10.0, 20.0, bad, 20.0);
    in.add(10.0, 20.0, 10.0, bad);
  }
  // Near the antipodes (within 1e-3 degrees), and under a millimetre apart.
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> d(-1e-3, 1e-3), lon(-180.0, 180.0);
  for (int i = 0; i < 2000; ++i) {
    const double lat = random_latitude(rng), lo = lon(rng);
    in.add(lat, lo, -lat + d(rng), lo + 180.0 + d(rng));
    in.add(lat, lo, lat + d(rng) * 1e-5, lo + d(rng) * 1e-5);
    in.add(lat, lo, lat, lo);
  }
}

inline void add_direct_edges(Columns& in) {
  const double azimuths[] = {0.0, -0.0, 90.0, -90.0, 180.0, -180.0, 45.0, 1e-12, 540.0, 1e9};
  const double distances[] = {0.0, -0.0, 1e-3, 1.0, 1e4, 1.0001965729e7, 2.0003931458e7,
                              -2e7, 4e7, 1e9};
  for (double lat : special_latitudes)
    for (double azi : azimuths)
      for (double s : distances) in.add(lat, 179.9999999, azi, s);
  for (double bad : {nan, inf, -inf, 91.0, 1e13}) {
    in.add(bad, 0.0, 10.0, 1e6);
    in.add(10.0, bad, 10.0, 1e6);
    in.add(10.0, 20.0, bad, 1e6);
    in.add(10.0, 20.0, 10.0, bad);
  }
}

// GeographicLib's answers, as the scalar reference.
inline void reference_inverse(const Columns& in, Results& out) {
  using GL = GeographicLib::Geodesic;
  const GL& g = geodesic::wgs84().solver();
  for (std::size_t i = 0; i < in.size(); ++i) {
    out.q[3][i] = g.GenInverse(in.c[0][i], in.c[1][i], in.c[2][i], in.c[3][i], GL::ALL,
                               out.q[0][i], out.q[1][i], out.q[2][i], out.q[4][i], out.q[5][i],
                               out.q[6][i], out.q[7][i]);
  }
}

inline void reference_direct(const Columns& in, Results& out) {
  using GL = GeographicLib::Geodesic;
  const GL& g = geodesic::wgs84().solver();
  const unsigned mask = GL::ALL & ~GL::LONG_UNROLL;
  for (std::size_t i = 0; i < in.size(); ++i) {
    double s12;
    out.q[3][i] = g.GenDirect(in.c[0][i], in.c[1][i], in.c[2][i], false, in.c[3][i], mask,
                              out.q[0][i], out.q[1][i], out.q[2][i], s12, out.q[4][i],
                              out.q[5][i], out.q[6][i], out.q[7][i]);
  }
}

// The largest error of one quantity and where it occurred; a NaN on one side
// only is an infinite error.
struct Worst {
  double error = 0;
  double input[4] = {};
  double got = 0, want = 0;
};

inline double error_of(const Quantity& q, double got, double want) {
  if (std::isnan(got) || std::isnan(want)) return std::isnan(got) == std::isnan(want) ? 0 : inf;
  if (got == want) return 0;  // equal infinities too
  return std::abs(q.angle ? std::remainder(got - want, 360.0) : got - want);
}

// `lengths` holds s12 for inverse checks (azimuths of lines up to 1 m are
// not compared), or is null.
inline void track(Worst& w, const Quantity& q, const Columns& in, const std::vector<double>& got,
                  const std::vector<double>& want, const std::vector<double>* lengths) {
  for (std::size_t i = 0; i < got.size(); ++i) {
    if (q.long_lines && lengths && !((*lengths)[i] > 1.0)) continue;
    const double e = error_of(q, got[i], want[i]);
    if (e > w.error || (std::isinf(e) && !std::isinf(w.error))) {
      w = {e, {in.c[0][i], in.c[1][i], in.c[2][i], in.c[3][i]}, got[i], want[i]};
    }
  }
}

}  // namespace tarnu::solver_cases
