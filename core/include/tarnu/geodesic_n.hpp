// The WGS84 direct and inverse problems over whole arrays of points.
//
// Karney's algorithms, as GeographicLib implements them, run a few elements
// at a time on the widest vectors the CPU has (tarnu/simd.hpp; TARNU_SIMD
// caps the width). Elements outside the common case are solved by one
// GeographicLib call each: a NaN or infinite input, a latitude beyond +-90,
// a longitude or azimuth of 2^40 degrees or more, a distance of 1e12 m or
// more; for the inverse, points on one meridian or both on the equator, very
// short lines, lines near the antipodes that need the astroid start, and any
// Newton iteration that would not converge in ten plain steps; for the
// direct, end points within 3.6 degrees of a pole.
//
// Accuracy, measured by `make accuracy` against the exact answer
// (GeographicLib built in long double) region by region: random pairs,
// lines of each length decade from 1 mm to 20000 km, nearly antipodal pairs
// by latitude band up to 89.9999 degrees, pairs on and near the equator and
// a meridian, direct distances up to 1e12 m (bench/ACCURACY.md). In every
// region, each output's worst and RMS error is within a factor of 2 of
// GeographicLib's own (measured: 1.4 and 1.1 at most).
//
// Where the problem is well conditioned, every output agrees with
// GeographicLib's: s12 and m12 within 20 nm, azimuths within 1e-11 degrees,
// a12 within 1e-12 degrees, M12 and M21 within 1e-14, lat2 and lon2 within
// 1e-12 degrees, S12 within 4 m^2 (areas reach 2.5e14 m^2); and NaN exactly
// where GeographicLib gives NaN. Where it is not, the two are each as far
// from the truth as its conditioning puts a double solver, and as far from
// each other:
// - the azimuths of an inverse line of s12 metres within 3e-7 / s12 degrees
//   where that exceeds 1e-11 (one ulp of a latitude turns them by 0.7 nm /
//   s12 radians);
// - nearly antipodal pairs beyond 60 degrees of latitude: azimuths within
//   2e-11 degrees and S12 within 20 m^2; beyond 80, 1e-10 degrees and
//   100 m^2; beyond 89, 1e-7 degrees and 2e5 m^2 (GeographicLib is up to
//   3e-8 degrees and 4e4 m^2 from the truth there);
// - direct distances beyond 2e7 m, whose arc carries the rounding of s12
//   (1e-16 s12): lon2 within 2e-12 degrees and m12 within 50 nm up to
//   1e8 m; up to 1e10 m every angle within 2e-10 degrees, m12 within 3e-5 m,
//   M12 and M21 within 3e-12, S12 within 100 m^2; up to 1e12 m, 1e-8
//   degrees, 0.1 m, 3e-8 and 5000 m^2.
// The AVX-512 and AVX2 widths give the same bits, and so do the AVX, SSE2
// and scalar widths; the two groups differ by rounding only. An element's
// answer does not depend on its neighbours, on n, or on which other
// outputs are asked for.
//
// Angles are in degrees (azimuths and the direct longitude reduced to
// [-180, 180]), lengths in metres, areas in square metres. Inputs are read
// in place and never written; every output must be room for n doubles
// overlapping no input. Outputs may overlap each other only as one and the
// same array: each element's quantities are written in the order of the
// outputs, so that array ends up holding the last of them, as NumPy's own
// ufuncs do. Nothing allocates, throws or
// fails, and any number of threads may call these at once on disjoint
// outputs.
#pragma once

#include <cstddef>

namespace tarnu::geodesic {

// Where the answers go. A null pointer is a quantity the caller does not
// want, and it may cost nothing: the distance and arc length alone are
// cheapest, the azimuths cost a little more, the area S12 without azimuths
// a little more again, and asking for the reduced length or the geodesic
// scales (or the area with the azimuths) computes everything.
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

// `fixed` says which input arrays hold one value n times over (bit k for
// the k-th argument, as a broadcast scalar gives them); the answers are the
// same to the bit, only what those inputs decide alone is computed once: a
// point's reduced latitude (lat1 and lon1, or lat2 and lon2), or for the
// direct problem with lat1, lon1 and azi1 all fixed, the whole geodesic line.

// The shortest geodesic from (lat1[i], lon1[i]) to (lat2[i], lon2[i]).
void inverse_n(const double* lat1, const double* lon1, const double* lat2, const double* lon2,
               std::size_t n, const InverseOutputs& out, unsigned fixed = 0) noexcept;

// The point s12[i] metres from (lat1[i], lon1[i]) along azimuth azi1[i].
void direct_n(const double* lat1, const double* lon1, const double* azi1, const double* s12,
              std::size_t n, const DirectOutputs& out, unsigned fixed = 0) noexcept;

// Points along one geodesic: (lat2[j], lon2[j]) is the point s12[j] metres
// (negative goes backwards) from (lat1, lon1) along azimuth azi1, for j < n.
// lon2 is lon1 plus the longitude travelled reduced to [-180, 180], so the
// points of a stretch that turns less than 180 degrees of longitude are
// continuous with lon1, whatever range lon1 is given in. The line's
// constants are computed once, so a point costs a fraction of a direct
// problem; each agrees with GeographicLib's within 1e-12 degrees (modulo
// 360 for lon2). Points within 3.6 degrees of a pole, and every point of a
// line whose lat1, lon1 or azi1 the solver does not take (NaN, infinite,
// beyond +-90, 2^40 degrees or more), are GeographicLib's own.
void line_n(double lat1, double lon1, double azi1, const double* s12, std::size_t n,
            double* lat2, double* lon2) noexcept;

}  // namespace tarnu::geodesic
