// Great-circle geometry on a sphere of the Earth's mean radius.
//
// Latitudes, longitudes and bearings are in degrees (latitude positive north,
// longitude positive east, bearing clockwise from north); distances are in
// metres. Every product, sum and difference is rounded on its own, in the
// order documented in great_circle.cpp. Nothing is range-tested, clamped or
// normalised: NaN and infinities flow through the arithmetic.
#pragma once

#include <cstddef>

#include "tarnu/units.hpp"

namespace tarnu::great_circle {

inline constexpr double sphere_radius = 6371008.8;  // metres, mean Earth radius

struct LatLon {
  double lat2;
  double lon2;
};

// Haversine distance in metres between (lat1, lon1) and (lat2, lon2).
// Never negative for finite input; antipodal points give pi * R, not NaN
// (h may exceed 1 by an ulp, whose square root still rounds to 1). Longitudes
// differing by multiples of 360 degrees give the same distance up to rounding.
// NaN or an infinity in any input gives NaN.
//
// The sines, cosines and arcsine come from one deterministic SIMD math
// family chosen once per process from the CPU's features, so this equals
// element for element what great_circle_distance_n computes, bit for bit.
double great_circle_distance(double lat1, double lon1, double lat2, double lon2) noexcept;

// s12[i] = great_circle_distance(lat1[i], lon1[i], lat2[i], lon2[i]) for i < n,
// a few lanes at a time (the widest vectors the CPU offers). The output may
// not alias the inputs; the inputs may alias each other. `fixed` says which
// arrays hold one value n times over (bit k for the k-th argument): with
// both of a point's, its cosine is computed once, to the same bits.
void great_circle_distance_n(const double* lat1, const double* lon1, const double* lat2,
                             const double* lon2, double* s12, std::size_t n,
                             unsigned fixed = 0) noexcept;

// The point reached from (lat1, lon1) after `distance` metres along the great
// circle of initial `bearing`. Negative distances travel backwards. The
// longitude is not wrapped: it lies within 180 degrees of lon1, so from
// lon1 = 170 going 20 degrees east it is 190. Poles get no special treatment.
// NaN or infinite lat1, bearing or distance makes both coordinates NaN; a NaN
// or infinite lon1 affects lon2 only. Uses the platform's libm.
LatLon great_circle_destination(double lat1, double lon1, double bearing, double distance) noexcept;

}  // namespace tarnu::great_circle
