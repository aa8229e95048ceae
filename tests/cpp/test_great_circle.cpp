// The haversine kernels: every compiled width agrees with its one-pair path
// and with the other widths of its SLEEF family to the bit, every length is covered exactly, and the result is libm's
// within a few ulp where the formula is well conditioned.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "dispatch.hpp"
#include "tarnu/great_circle.hpp"

namespace {

using namespace tarnu::great_circle;
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double degree = tarnu::units::radians_per_degree;

struct Inputs {
  std::vector<double> lat1, lon1, lat2, lon2;
};

// Every pair of the values where sine and arcsine implementations tend to
// differ, then random pairs uniform on the sphere.
Inputs make_inputs(std::size_t n) {
  const double specials[] = {0.0, -0.0, 90.0, -90.0, 180.0, -180.0, 1e-300, 5e-324, 1e300,
                             nan, inf, -inf, 45.0, 89.99999999, 360.0};
  Inputs in;
  for (double a : specials) {
    for (double b : specials) {
      in.lat1.push_back(a), in.lon1.push_back(b), in.lat2.push_back(-b), in.lon2.push_back(a + 180);
    }
  }
  std::mt19937_64 rng(20261207);
  std::uniform_real_distribution<double> u(-1.0, 1.0), lon(-540.0, 540.0);
  while (in.lat1.size() < n) {
    in.lat1.push_back(std::asin(u(rng)) / degree), in.lon1.push_back(lon(rng));
    in.lat2.push_back(std::asin(u(rng)) / degree), in.lon2.push_back(lon(rng));
  }
  return in;
}

bool same_bits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b));
}

// Each kernel's arrays equal its own one-pair path, and the first kernel of
// its SLEEF family, to the bit.
TEST(GreatCircleKernels, WidthsOfOneFamilyAndTheOnePairPathAgreeBitForBit) {
  const Inputs in = make_inputs(100003);  // odd: the padded tail runs too
  const std::size_t n = in.lat1.size();
  std::vector<std::pair<const char*, std::vector<double>>> leaders;  // family, its first answers
  for (const tarnu::dispatch::Isa* isa : tarnu::dispatch::registry()) {
    if (!isa->cpu_supports()) continue;
    const tarnu::dispatch::SphereKernel& kernel = isa->sphere;
    std::vector<double> out(n);
    kernel.distance_n(in.lat1.data(), in.lon1.data(), in.lat2.data(), in.lon2.data(), out.data(),
                      n, 0);
    const std::vector<double>* leader = &out;
    for (const auto& [family, answers] : leaders) {
      if (std::strcmp(family, kernel.family) == 0) leader = &answers;
    }
    std::size_t mismatches = 0;
    for (std::size_t i = 0; i < n && mismatches < 5; ++i) {
      const double one = kernel.distance(in.lat1[i], in.lon1[i], in.lat2[i], in.lon2[i]);
      if (!same_bits(out[i], one) || !same_bits(out[i], (*leader)[i])) {
        ++mismatches;
        ADD_FAILURE() << kernel.name << " element " << i << ": vector " << out[i] << ", one pair "
                      << one << ", first of " << kernel.family << ' ' << (*leader)[i];
      }
    }
    if (leader == &out) leaders.emplace_back(kernel.family, std::move(out));
  }
  EXPECT_FALSE(leaders.empty());
}

TEST(GreatCircleKernels, EveryLengthIsCoveredExactly) {
  const Inputs in = make_inputs(300);
  for (std::size_t n = 0; n <= 17; ++n) {
    std::vector<double> out(n + 1, -1.0);
    great_circle_distance_n(&in.lat1[250], &in.lon1[250], &in.lat2[250], &in.lon2[250],
                            out.data(), n);
    for (std::size_t i = 0, j = 250; i < n; ++i, ++j) {
      EXPECT_TRUE(same_bits(out[i], great_circle_distance(in.lat1[j], in.lon1[j], in.lat2[j],
                                                          in.lon2[j])))
          << "n " << n << " i " << i;
    }
    EXPECT_EQ(out[n], -1.0) << "wrote past the end for n " << n;
  }
}

// Near the antipodes asin(sqrt(h)) turns one ulp of h into decimetres, so
// compare only where h stays well below 1; a 1 nm floor for tiny distances.
TEST(GreatCircleDistance, AgreesWithLibmWithinAFewUlp) {
  const Inputs in = make_inputs(20000);
  for (std::size_t i = 0; i < in.lat1.size(); ++i) {
    const double phi1 = in.lat1[i] * degree, phi2 = in.lat2[i] * degree;
    const double s = std::sin((phi2 - phi1) * 0.5);
    const double t = std::sin((in.lon2[i] - in.lon1[i]) * degree * 0.5);
    const double d = std::asin(std::sqrt(s * s + std::cos(phi1) * std::cos(phi2) * (t * t)));
    const double libm = (d + d) * sphere_radius;
    if (!std::isfinite(libm) || libm > 0.9 * M_PI * sphere_radius) continue;
    const double ulp = std::nextafter(libm, inf) - libm;
    EXPECT_NEAR(great_circle_distance(in.lat1[i], in.lon1[i], in.lat2[i], in.lon2[i]), libm,
                8 * ulp + 1e-9)
        << i;
  }
}

}  // namespace
