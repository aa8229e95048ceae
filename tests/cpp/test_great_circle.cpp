// The spherical model: reference values, agreement of every compiled kernel
// with the scalar path, and agreement with libm where the formula is well
// conditioned.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "sphere_kernel.hpp"
#include "tarnu/great_circle.hpp"

namespace {

using namespace tarnu::great_circle;
using detail::SphereKernel;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double millimetre = 1e-3;

struct DistanceCase {
  double lat1, lon1, lat2, lon2, s12;
};

TEST(GreatCircleDistance, ReferenceValues) {
  const DistanceCase cases[] = {
      {0, 0, 0, 1, 111195.080},          // R * pi / 180 along the equator
      {0, 0, 1, 0, 111195.080},          // ... and along a meridian
      {0, 0, 0, 180, 20015114.442},      // antipodes: pi * R, not NaN
      {90, 0, -90, 0, 20015114.442},
      {0, 170, 0, -170, 2223901.605},    // across the antimeridian: 20 degrees
      {0, 0, 0, 361, 111195.080},        // longitudes are not normalised
      {12.5, 45, 12.5, 45, 0.0},
  };
  for (const auto& c : cases) {
    const double s12 = great_circle_distance(c.lat1, c.lon1, c.lat2, c.lon2);
    EXPECT_NEAR(s12, c.s12, millimetre) << c.lat1 << ' ' << c.lon1 << ' ' << c.lat2 << ' ' << c.lon2;
  }
  EXPECT_EQ(great_circle_distance(-33, 151, -33, 151), 0.0);
}

TEST(GreatCircleDistance, NonFiniteInputGivesNaN) {
  for (int i = 0; i < 4; ++i) {
    for (double bad : {nan, inf, -inf}) {
      double x[4] = {10, 20, 30, 40};
      x[i] = bad;
      EXPECT_TRUE(std::isnan(great_circle_distance(x[0], x[1], x[2], x[3]))) << i << ' ' << bad;
    }
  }
}

// Random pairs with latitudes uniform on the sphere, plus the values where
// sine and arcsine implementations tend to differ.
struct Inputs {
  std::vector<double> lat1, lon1, lat2, lon2;
};

Inputs make_inputs(std::size_t n) {
  std::mt19937_64 rng(20261207);
  std::uniform_real_distribution<double> u(-1.0, 1.0), lon(-540.0, 540.0);
  Inputs in;
  const double specials[] = {0.0, -0.0, 90.0, -90.0, 180.0, -180.0, 1e-300, 5e-324, 1e300,
                             nan, inf, -inf, 45.0, 89.99999999, 360.0};
  for (double a : specials) {
    for (double b : specials) {
      in.lat1.push_back(a);
      in.lon1.push_back(b);
      in.lat2.push_back(-b);
      in.lon2.push_back(a + 180.0);
    }
  }
  while (in.lat1.size() < n) {
    in.lat1.push_back(std::asin(u(rng)) * tarnu::units::degrees_per_radian);
    in.lon1.push_back(lon(rng));
    in.lat2.push_back(std::asin(u(rng)) * tarnu::units::degrees_per_radian);
    in.lon2.push_back(lon(rng));
  }
  return in;
}

bool same_bits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b));
}

TEST(GreatCircleKernels, EveryWidthMatchesItsScalarFamilyBitForBit) {
  const Inputs in = make_inputs(100003);  // odd: exercises the padded tail
  const std::size_t n = in.lat1.size();
  std::size_t count = 0;
  const SphereKernel* const* kernels = detail::all_kernels(count);
  std::size_t tested = 0;
  for (std::size_t k = 0; k < count; ++k) {
    const SphereKernel& kernel = *kernels[k];
    if (!kernel.cpu_supports()) continue;
    ++tested;
    std::vector<double> out(n);
    kernel.distance_n(in.lat1.data(), in.lon1.data(), in.lat2.data(), in.lon2.data(), out.data(), n);
    std::size_t mismatches = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const double one = kernel.distance(in.lat1[i], in.lon1[i], in.lat2[i], in.lon2[i]);
      if (!same_bits(out[i], one) && mismatches++ < 5) {
        ADD_FAILURE() << kernel.name << " element " << i << ": vector " << out[i] << " scalar " << one;
      }
    }
    EXPECT_EQ(mismatches, 0u) << kernel.name;
  }
  EXPECT_GT(tested, 0u);
}

TEST(GreatCircleKernels, BatchEqualsScalarForEveryLength) {
  const Inputs in = make_inputs(300);
  for (std::size_t n = 0; n <= 17; ++n) {
    std::vector<double> out(n + 1, -1.0);
    great_circle_distance_n(in.lat1.data() + 250, in.lon1.data() + 250, in.lat2.data() + 250,
                            in.lon2.data() + 250, out.data(), n);
    for (std::size_t i = 0; i < n; ++i) {
      const std::size_t j = 250 + i;
      EXPECT_TRUE(same_bits(out[i], great_circle_distance(in.lat1[j], in.lon1[j], in.lat2[j], in.lon2[j])))
          << "n " << n << " i " << i;
    }
    EXPECT_EQ(out[n], -1.0) << "wrote past the end for n " << n;
  }
}

double ulp(double x) { return std::nextafter(std::fabs(x), inf) - std::fabs(x); }

// The same formula with libm. Near the antipodes asin(sqrt(h)) turns one ulp
// of h into decimetres, so compare only where h stays well below 1.
double libm_distance(double lat1, double lon1, double lat2, double lon2) {
  const double phi1 = lat1 * tarnu::units::radians_per_degree, phi2 = lat2 * tarnu::units::radians_per_degree;
  const double s = std::sin((phi2 - phi1) * 0.5);
  const double t = std::sin((lon2 - lon1) * tarnu::units::radians_per_degree * 0.5);
  const double h = s * s + std::cos(phi1) * std::cos(phi2) * (t * t);
  const double d = std::asin(std::sqrt(h));
  return (d + d) * sphere_radius;
}

TEST(GreatCircleDistance, AgreesWithLibmWithinAFewUlp) {
  const Inputs in = make_inputs(20000);
  for (std::size_t i = 0; i < in.lat1.size(); ++i) {
    const double ours = great_circle_distance(in.lat1[i], in.lon1[i], in.lat2[i], in.lon2[i]);
    const double theirs = libm_distance(in.lat1[i], in.lon1[i], in.lat2[i], in.lon2[i]);
    if (!std::isfinite(theirs) || theirs > 0.9 * M_PI * sphere_radius) continue;
    EXPECT_NEAR(ours, theirs, 8 * ulp(theirs) + 1e-9) << i;  // 1 nm floor for tiny distances
  }
}

struct DestinationCase {
  double lat1, lon1, bearing, distance, lat2, lon2, tolerance;
};

TEST(GreatCircleDestination, ReferenceValues) {
  const DestinationCase cases[] = {
      {0, 0, 90, 111195.0802335329, 0.0, 1.0, 1e-12},
      {0, 170, 90, 2223901.604670657, 0.0, 190.0, 1e-12},   // not wrapped to -170
      {0, 0, 0, -111195.0802335329, -1.0, 0.0, 1e-12},      // backwards
      {0, 0, 90, 44478032.09341316, 0.0, 40.0, 1e-9},       // 400 degrees of arc fold to 40
      {89.5, 3.0, 17.0, 0.0, 89.50000000000014, 3.0000000000000004, 0.0},  // degrees -> radians -> degrees
  };
  for (const auto& c : cases) {
    const LatLon p = great_circle_destination(c.lat1, c.lon1, c.bearing, c.distance);
    EXPECT_NEAR(p.lat2, c.lat2, c.tolerance) << c.lat1 << ' ' << c.lon1 << ' ' << c.bearing;
    EXPECT_NEAR(p.lon2, c.lon2, c.tolerance) << c.lat1 << ' ' << c.lon1 << ' ' << c.bearing;
  }
}

TEST(GreatCircleDestination, NonFiniteInput) {
  for (double bad : {nan, inf, -inf}) {
    for (int i : {0, 2, 3}) {  // lat1, bearing, distance poison both coordinates
      double x[4] = {10, 20, 30, 1000};
      x[i] = bad;
      const LatLon p = great_circle_destination(x[0], x[1], x[2], x[3]);
      EXPECT_TRUE(std::isnan(p.lat2) && std::isnan(p.lon2)) << i << ' ' << bad;
    }
    const LatLon p = great_circle_destination(10, bad, 30, 1000);  // lon1 affects lon2 only
    EXPECT_TRUE(std::isfinite(p.lat2));
    EXPECT_TRUE(std::isnan(p.lon2) || p.lon2 == bad);
  }
}

}  // namespace
