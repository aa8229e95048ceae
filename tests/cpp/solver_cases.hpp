// Inputs and error measures for checking the vectorised WGS84 solver against
// GeographicLib, shared by the C++ tests (a small sample of each region) and
// bench/solver_check.cpp (`make accuracy`: large samples, and a long-double
// GeographicLib as the truth).
//
// A region is a family of problems drawn at random: pairs uniform on the
// globe, lines of each length decade, nearly antipodal pairs by latitude
// band, pairs on and near the equator or a meridian, direct distances up to
// 1e12 m. Each region states how closely the solver agrees with
// GeographicLib there: as closely as rounding allows where the problem is
// well conditioned, and within the problem's own conditioning where it is
// not (azimuths of short lines, nearly antipodal pairs near the poles, very
// long direct lines). The edge sets are the products of the special values
// below plus pairs built near the antipodes and a few millimetres apart.
#pragma once

#include <GeographicLib/Geodesic.hpp>

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <random>
#include <utility>
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
  bool angle;        // compared modulo 360 degrees
  bool long_lines;   // in the edge sets, compared only where s12 exceeds 1 m
  double low, high;  // the range every value but NaN lies in
};

inline constexpr Quantity inverse_quantities[8] = {
    {"s12", false, false, 0, 2.0004e7},  {"azi1", true, true, -180, 180},
    {"azi2", true, true, -180, 180},     {"a12", false, false, 0, 180},
    {"m12", false, false, -inf, inf},    {"M12", false, false, -inf, inf},
    {"M21", false, false, -inf, inf},    {"S12", false, false, -inf, inf}};
inline constexpr Quantity direct_quantities[8] = {
    {"lat2", false, false, -90, 90},     {"lon2", true, false, -180, 180},
    {"azi2", true, false, -180, 180},    {"a12", false, false, -inf, inf},
    {"m12", false, false, -inf, inf},    {"M12", false, false, -inf, inf},
    {"M21", false, false, -inf, inf},    {"S12", false, false, -inf, inf}};

// The largest difference from GeographicLib, per quantity in the order
// above. Where the problem is well conditioned both solvers are within
// rounding of the truth: lengths within 20 nm, azimuths within 1e-11
// degrees, areas within 4 m^2 (areas reach 2.5e14 m^2, ulp 0.03 m^2, and the
// term c2 alp12 turns an azimuth difference of 1e-15 rad, the rounding noise
// of two independent evaluations, into 0.04 m^2).
using Agreement = std::array<double, 8>;
inline constexpr double nm = 1e-9;
inline constexpr Agreement inverse_agreement = {20 * nm, 1e-11, 1e-11, 1e-12,
                                                20 * nm, 1e-14, 1e-14, 4.0};
inline constexpr Agreement direct_agreement = {1e-12, 1e-12, 1e-11, 1e-12,
                                               20 * nm, 1e-14, 1e-14, 4.0};

inline double uniform(std::mt19937_64& rng, double a, double b) {
  return std::uniform_real_distribution<double>(a, b)(rng);
}

inline double random_sign(std::mt19937_64& rng) { return rng() & 1 ? 1.0 : -1.0; }

// Uniform in log |x| over [a, b), either sign.
inline double log_uniform(std::mt19937_64& rng, double a, double b) {
  return random_sign(rng) * std::exp(uniform(rng, std::log(a), std::log(b)));
}

inline double random_latitude(std::mt19937_64& rng) {
  return std::asin(uniform(rng, -1.0, 1.0)) / (M_PI / 180);
}

inline double random_longitude(std::mt19937_64& rng) { return uniform(rng, -180.0, 180.0); }

// One problem of a region: lat1, lon1, lat2, lon2 or lat1, lon1, azi1, s12.
// `lo` and `hi` are the region's parameters (a length, a latitude band).
using Draw = std::array<double, 4> (*)(std::mt19937_64& rng, double lo, double hi);

struct Region {
  const char* name;
  bool inverse;
  Draw draw;
  double lo, hi;
  Agreement agreement;
  int weight = 1;  // samples, in multiples of the common size
};

namespace draw {

// Both points uniform on the sphere.
inline std::array<double, 4> global_pair(std::mt19937_64& rng, double, double) {
  const double lat1 = random_latitude(rng), lon1 = random_longitude(rng);
  return {lat1, lon1, random_latitude(rng), random_longitude(rng)};
}

// The end of a line of length in [lo, hi) metres from a random point, in a
// random direction, rounded to doubles.
inline std::array<double, 4> line(std::mt19937_64& rng, double lo, double hi) {
  const double lat1 = random_latitude(rng), lon1 = random_longitude(rng);
  const double azi1 = random_longitude(rng), s12 = std::abs(log_uniform(rng, lo, hi));
  double lat2, lon2;
  geodesic::wgs84().solver().Direct(lat1, lon1, azi1, s12, lat2, lon2);
  return {lat1, lon1, lat2, lon2};
}

// Point 1 with |lat1| in [lo, hi], point 2 within a degree of its antipode
// (offsets from 1e-9 to 1 degree in latitude and longitude).
inline std::array<double, 4> near_antipodes(std::mt19937_64& rng, double lo, double hi) {
  const double lat1 = random_sign(rng) * uniform(rng, lo, hi);
  const double lon1 = random_longitude(rng);
  const double lat2 = std::fmax(-90.0, std::fmin(90.0, -lat1 + log_uniform(rng, 1e-9, 1)));
  return {lat1, lon1, lat2, std::remainder(lon1 + 180 + log_uniform(rng, 1e-9, 1), 360.0)};
}

// Both points on the equator (lo = 0), or off it by up to hi degrees.
inline std::array<double, 4> equator(std::mt19937_64& rng, double lo, double hi) {
  const double lat1 = lo == 0 ? 0.0 : log_uniform(rng, lo, hi);
  const double lat2 = lo == 0 ? 0.0 : log_uniform(rng, lo, hi);
  return {lat1, random_longitude(rng), lat2, random_longitude(rng)};
}

// Both points on one meridian, or its continuation over a pole (lo = 0), or
// off it by up to hi degrees of longitude.
inline std::array<double, 4> meridian(std::mt19937_64& rng, double lo, double hi) {
  const double lat1 = random_latitude(rng), lon1 = random_longitude(rng);
  const double lon12 = (rng() & 1 ? 180.0 : 0.0) + (lo == 0 ? 0.0 : log_uniform(rng, lo, hi));
  return {lat1, lon1, random_latitude(rng), std::remainder(lon1 + lon12, 360.0)};
}

// A start uniform on the sphere, any direction, s12 from -1e6 to 2.1e7 m.
inline std::array<double, 4> global_direct(std::mt19937_64& rng, double, double) {
  const double lat1 = random_latitude(rng), lon1 = random_longitude(rng);
  const double azi1 = random_longitude(rng);
  return {lat1, lon1, azi1, uniform(rng, -1e6, 2.1e7)};
}

// A random start and direction, |s12| in [lo, hi) metres, either way.
inline std::array<double, 4> distance(std::mt19937_64& rng, double lo, double hi) {
  const double lat1 = random_latitude(rng), lon1 = random_longitude(rng);
  const double azi1 = random_longitude(rng);
  return {lat1, lon1, azi1, log_uniform(rng, lo, hi)};
}

// Along the equator (lo = 0) or a meridian (lo = 1), up to hi metres either way.
inline std::array<double, 4> along(std::mt19937_64& rng, double lo, double hi) {
  const double lat1 = lo == 0 ? 0.0 : random_latitude(rng);
  const double azi1 = (lo == 0 ? 90.0 : 0.0) + (rng() & 1 ? 180.0 : 0.0);
  const double lon1 = random_longitude(rng);
  return {lat1, lon1, azi1, uniform(rng, -hi, hi)};
}

// From a start with |lat1| in [lo, hi] degrees, up to 2e7 m either way.
inline std::array<double, 4> from_band(std::mt19937_64& rng, double lo, double hi) {
  const double lat1 = random_sign(rng) * uniform(rng, lo, hi);
  const double lon1 = random_longitude(rng), azi1 = random_longitude(rng);
  return {lat1, lon1, azi1, uniform(rng, -2e7, 2e7)};
}

}  // namespace draw

// Agreement with a few quantities loosened: {index, tolerance} pairs.
constexpr Agreement loosened(Agreement a, std::initializer_list<std::pair<int, double>> l) {
  for (const auto& [q, tolerance] : l) a[q] = tolerance;
  return a;
}

// On a line of length s, an ulp in a reduced latitude (1e-16 rad, 0.7 nm on
// the ground) turns the azimuths by 0.7 nm / s radians, 4e-8 degrees m / s:
// both solvers' azimuths are a few such steps from the truth and from each
// other (1.7e-7 degrees m / s measured). `lo` is the shortest line of the
// region, in metres.
constexpr Agreement short_lines(double lo) {
  return loosened(inverse_agreement, {{1, 3e-7 / lo}, {2, 3e-7 / lo}});
}

// Nearly antipodal pairs near the poles: the azimuths and the area depend
// on the inputs as steeply as anywhere, and both solvers are up to 3e-8
// degrees and 4e4 m^2 from the truth beyond 89 degrees.
constexpr Agreement polar_antipodes(double azimuths, double S12) {
  return loosened(inverse_agreement, {{1, azimuths}, {2, azimuths}, {7, S12}});
}

// Direct lines of many circuits: the arc is s12 / b with s12's rounding
// error (1e-16 s12), so every output drifts in proportion to s12.
constexpr Agreement long_lines(double angles, double m12, double M, double S12) {
  return {angles, angles, angles, angles, m12, M, M, S12};
}

inline const Region regions[] = {
    {"random pairs", true, draw::global_pair, 0, 0, inverse_agreement, 10},
    // Lines under a centimetre are GeographicLib's; above, 5e-7 degrees at most.
    {"lines 1 mm - 1 m", true, draw::line, 1e-3, 1, short_lines(0.3)},
    {"lines 1 m - 10 m", true, draw::line, 1, 10, short_lines(1)},
    {"lines 10 m - 100 m", true, draw::line, 10, 100, short_lines(10)},
    {"lines 100 m - 1 km", true, draw::line, 100, 1e3, short_lines(100)},
    {"lines 1 km - 10 km", true, draw::line, 1e3, 1e4, short_lines(1e3)},
    {"lines 10 km - 100 km", true, draw::line, 1e4, 1e5, short_lines(1e4)},
    {"lines 100 km - 1000 km", true, draw::line, 1e5, 1e6, inverse_agreement},
    {"lines 1000 km - 10000 km", true, draw::line, 1e6, 1e7, inverse_agreement},
    {"lines 10000 km and longer", true, draw::line, 1e7, 2.0003e7, inverse_agreement},
    {"antipodal, lat 0 - 30", true, draw::near_antipodes, 0, 30, inverse_agreement},
    {"antipodal, lat 30 - 60", true, draw::near_antipodes, 30, 60, inverse_agreement},
    {"antipodal, lat 60 - 80", true, draw::near_antipodes, 60, 80, polar_antipodes(2e-11, 20)},
    {"antipodal, lat 80 - 89", true, draw::near_antipodes, 80, 89, polar_antipodes(1e-10, 100)},
    {"antipodal, lat 89 - 89.99", true, draw::near_antipodes, 89, 89.99,
     polar_antipodes(1e-7, 2e5)},
    {"antipodal, lat 89.99 - 89.9999", true, draw::near_antipodes, 89.99, 89.9999,
     polar_antipodes(1e-7, 2e5)},
    {"on the equator", true, draw::equator, 0, 0, inverse_agreement},
    {"near the equator", true, draw::equator, 1e-12, 1e-2, inverse_agreement},
    {"on a meridian", true, draw::meridian, 0, 0, inverse_agreement},
    {"near a meridian", true, draw::meridian, 1e-12, 1e-2, inverse_agreement},
    {"random lines", false, draw::global_direct, 0, 0, direct_agreement, 10},
    {"s12 1 mm - 1 m", false, draw::distance, 1e-3, 1, direct_agreement},
    {"s12 1 m - 1 km", false, draw::distance, 1, 1e3, direct_agreement},
    {"s12 1 km - 1000 km", false, draw::distance, 1e3, 1e6, direct_agreement},
    {"s12 1000 km - 10000 km", false, draw::distance, 1e6, 1e7, direct_agreement},
    {"s12 1e7 m - 2e7 m", false, draw::distance, 1e7, 2e7, direct_agreement},
    {"s12 2e7 m - 1e8 m", false, draw::distance, 2e7, 1e8, long_lines(2e-12, 5e-8, 1e-14, 4)},
    {"s12 1e8 m - 1e10 m", false, draw::distance, 1e8, 1e10, long_lines(2e-10, 3e-5, 3e-12, 100)},
    {"s12 1e10 m - 1e12 m", false, draw::distance, 1e10, 1e12, long_lines(1e-8, 0.1, 3e-8, 5000)},
    {"along the equator", false, draw::along, 0, 4e7, direct_agreement},
    {"along a meridian", false, draw::along, 1, 4e7, direct_agreement},
    {"from lat 89 - 90", false, draw::from_band, 89, 90, direct_agreement},
};

inline void add_region(Columns& in, const Region& r, std::size_t n, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  for (std::size_t i = 0; i < n; ++i) {
    const auto [a, b, x, y] = r.draw(rng, r.lo, r.hi);
    in.add(a, b, x, y);
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
  for (int i = 0; i < 2000; ++i) {
    const double lat = random_latitude(rng), lo = random_longitude(rng);
    in.add(lat, lo, -lat + uniform(rng, -1e-3, 1e-3), lo + 180.0 + uniform(rng, -1e-3, 1e-3));
    in.add(lat, lo, lat + uniform(rng, -1e-8, 1e-8), lo + uniform(rng, -1e-8, 1e-8));
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

// |got - want|, modulo 360 for angles; T is double or long double (the truth).
template <class T>
inline T error_of(const Quantity& q, double got, T want) {
  if (std::isnan(got) || std::isnan(want)) return std::isnan(got) == std::isnan(want) ? 0 : inf;
  if (got == want) return 0;  // equal infinities too
  const T d = static_cast<T>(got) - want;
  return std::abs(q.angle ? std::remainder(d, T(360)) : d);
}

// `lengths` holds s12 for inverse checks of the edge sets (azimuths of lines
// up to 1 m are not compared there), or is null.
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
