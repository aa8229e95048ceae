#include "tarnu/great_circle.hpp"

#include <sleef.h>

#include <cmath>
#include <iterator>

#include "sphere_kernel.hpp"

// sleef.h declares the FMA family's scalar functions only when the whole file
// is compiled for FMA; they are chosen at run time here, so declare them.
extern "C" {
CONST double Sleef_finz_sind1_u10purecfma(double);
CONST double Sleef_finz_cosd1_u10purecfma(double);
CONST double Sleef_finz_asind1_u10purecfma(double);
}

namespace tarnu::great_circle {
namespace detail {
namespace {

// SLEEF's scalar functions of each family. Their vector siblings return the
// same bits, which is what lets one pair and a batch agree exactly.
template <auto Sin, auto Cos, auto Asin>
struct ScalarMath {
  using V = double;
  static constexpr std::size_t lanes = 1;
  static V splat(double x) noexcept { return x; }
  static V sqrt(V x) noexcept { return __builtin_sqrt(x); }
  static V sin(V x) noexcept { return Sin(x); }
  static V cos(V x) noexcept { return Cos(x); }
  static V asin(V x) noexcept { return Asin(x); }
};

using CinzScalar = ScalarMath<Sleef_cinz_sind1_u10purec, Sleef_cinz_cosd1_u10purec,
                              Sleef_cinz_asind1_u10purec>;
using FinzScalar = ScalarMath<Sleef_finz_sind1_u10purecfma, Sleef_finz_cosd1_u10purecfma,
                              Sleef_finz_asind1_u10purecfma>;

// Most preferred first: FMA inside the library's functions when the CPU has
// it (our own products and sums stay separately rounded either way), then
// the widest vectors.
const SphereKernel* const kernels[] = {&finz_avx512f, &finz_avx2, &cinz_avx512f, &cinz_avx,
                                       &cinz_sse2};

const SphereKernel& choose_kernel() noexcept {
  for (const SphereKernel* kernel : kernels) {
    if (kernel->cpu_supports()) return *kernel;
  }
  return cinz_sse2;  // every x86-64 CPU has SSE2
}

}  // namespace

double distance_cinz(double lat1, double lon1, double lat2, double lon2) noexcept {
  return distance_one<CinzScalar>(lat1, lon1, lat2, lon2);
}

double distance_finz(double lat1, double lon1, double lat2, double lon2) noexcept {
  return distance_one<FinzScalar>(lat1, lon1, lat2, lon2);
}

const SphereKernel* const* all_kernels(std::size_t& count) noexcept {
  count = std::size(kernels);
  return kernels;
}

const SphereKernel& selected_kernel() noexcept {
  static const SphereKernel& kernel = choose_kernel();
  return kernel;
}

}  // namespace detail

double great_circle_distance(double lat1, double lon1, double lat2, double lon2) noexcept {
  return detail::selected_kernel().distance(lat1, lon1, lat2, lon2);
}

void great_circle_distance_n(const double* lat1, const double* lon1, const double* lat2,
                             const double* lon2, double* s12, std::size_t n) noexcept {
  detail::selected_kernel().distance_n(lat1, lon1, lat2, lon2, s12, n);
}

LatLon great_circle_destination(double lat1, double lon1, double bearing,
                                double distance) noexcept {
  const double phi1 = lat1 * deg_to_rad;
  const double lambda1 = lon1 * deg_to_rad;
  const double theta = bearing * deg_to_rad;
  const double delta = distance / sphere_radius;  // a true division, not a reciprocal

  const double sphi1 = std::sin(phi1), cphi1 = std::cos(phi1);
  const double sdelta = std::sin(delta), cdelta = std::cos(delta);
  const double stheta = std::sin(theta), ctheta = std::cos(theta);

  const double p = sphi1 * cdelta;
  const double q = cphi1 * sdelta;
  const double phi2 = std::asin(p + ctheta * q);  // not clamped
  const double y = cphi1 * (stheta * sdelta);
  // sin(phi2) is evaluated anew rather than reusing the asin argument.
  const double x = cdelta - sphi1 * std::sin(phi2);
  const double lambda2 = lambda1 + std::atan2(y, x);
  return {phi2 * rad_to_deg, lambda2 * rad_to_deg};
}

}  // namespace tarnu::great_circle
