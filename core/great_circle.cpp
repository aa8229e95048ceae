#include "tarnu/great_circle.hpp"

#include <cmath>

#include "dispatch.hpp"

namespace tarnu::great_circle {

double great_circle_distance(double lat1, double lon1, double lat2, double lon2) noexcept {
  return dispatch::selected().sphere.distance(lat1, lon1, lat2, lon2);
}

void great_circle_distance_n(const double* lat1, const double* lon1, const double* lat2,
                             const double* lon2, double* s12, std::size_t n,
                             unsigned fixed) noexcept {
  dispatch::selected().sphere.distance_n(lat1, lon1, lat2, lon2, s12, n, fixed);
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
