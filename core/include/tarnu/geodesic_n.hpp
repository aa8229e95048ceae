// The WGS84 direct and inverse problems over whole arrays of points.
//
// Element i of every output is what one GeographicLib call computes for
// element i of the inputs, with the outputs asked for and nothing more:
// angles in degrees (azimuths and the direct longitude reduced to
// [-180, 180]), lengths in metres, areas in square metres, NaN wherever
// GeographicLib gives NaN (a NaN or infinite input, a latitude beyond +-90).
// Inputs are read in place and never written; every output must be room
// for n doubles overlapping no input and no other output. Nothing
// allocates, throws or fails, and any number of threads may call these at
// once on disjoint outputs.
#pragma once

#include <cstddef>

namespace tarnu::geodesic {

// Where the answers go. A null pointer is a quantity the caller does not
// want, and it may cost nothing: distance alone is cheaper than distance
// and azimuths, and the last four (reduced length, geodesic scales, area)
// cost the most.
struct InverseOutputs {
  double* s12 = nullptr;   // distance, metres
  double* azi1 = nullptr;  // azimuth at point 1, degrees
  double* azi2 = nullptr;  // forward azimuth at point 2, degrees
  double* a12 = nullptr;   // arc length on the auxiliary sphere, degrees
  double* m12 = nullptr;   // reduced length, metres
  double* M12 = nullptr;   // geodesic scale of point 2 relative to point 1
  double* M21 = nullptr;   // geodesic scale of point 1 relative to point 2
  double* S12 = nullptr;   // area between the geodesic and the equator, metres^2
};

struct DirectOutputs {
  double* lat2 = nullptr;  // degrees
  double* lon2 = nullptr;  // degrees, reduced to [-180, 180]
  double* azi2 = nullptr;  // forward azimuth at point 2, degrees
  double* a12 = nullptr;   // arc length on the auxiliary sphere, degrees
  double* m12 = nullptr;
  double* M12 = nullptr;
  double* M21 = nullptr;
  double* S12 = nullptr;
};

// The shortest geodesic from (lat1[i], lon1[i]) to (lat2[i], lon2[i]).
void inverse_n(const double* lat1, const double* lon1, const double* lat2, const double* lon2,
               std::size_t n, const InverseOutputs& out) noexcept;

// The point s12[i] metres from (lat1[i], lon1[i]) along azimuth azi1[i].
void direct_n(const double* lat1, const double* lon1, const double* azi1, const double* s12,
              std::size_t n, const DirectOutputs& out) noexcept;

}  // namespace tarnu::geodesic
