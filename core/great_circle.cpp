#include "tarnu/great_circle.hpp"

#include <cmath>
#include <iterator>

#include "sphere_kernel.hpp"

namespace tarnu::great_circle {
namespace detail {
namespace {

// Most preferred first: FMA inside the library's functions when the CPU has
// it (our own products and sums stay separately rounded either way), then
// the widest vectors.
const SphereKernel* const kernels[] = {&finz_avx512f, &finz_avx2, &cinz_avx512f, &cinz_avx,
                                       &cinz_sse2};

const SphereKernel& choose_kernel() noexcept {
  const simd::Width cap = simd::simd_width();
  for (const SphereKernel* kernel : kernels) {
    if (kernel->width <= cap && kernel->cpu_supports()) return *kernel;
  }
  return cinz_sse2;  // every x86-64 CPU has SSE2
}

}  // namespace

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
  const double phi1 = lat1 * units::radians_per_degree;
  const double lambda1 = lon1 * units::radians_per_degree;
  const double theta = bearing * units::radians_per_degree;
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
  return {.lat2 = phi2 * units::degrees_per_radian, .lon2 = lambda2 * units::degrees_per_radian};
}

}  // namespace tarnu::great_circle
