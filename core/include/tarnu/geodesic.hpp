// WGS84 ellipsoid model: one shared GeographicLib geodesic solver and the
// direct, inverse and full inverse problems on it.
//
// Angles (latitudes, longitudes, azimuths, arc lengths) are in degrees,
// distances and reduced lengths in metres, areas in square metres.  Nothing
// here validates, clamps or normalises an input: NaN, infinities and
// latitudes outside [-90, 90] reach GeographicLib unchanged and whatever it
// returns for them, NaN included, lands in the record.  No operation fails,
// throws or allocates.
#pragma once

#include <GeographicLib/Geodesic.hpp>

namespace tarnu::geodesic {

inline constexpr double wgs84_a = 6378137.0;  // metres, equatorial radius
inline constexpr double wgs84_f = 1 / 298.257223563;  // flattening

// The answer of every operation.  Fields a caller passed in ("echo" fields)
// hold the caller's doubles bit for bit; fields an operation does not
// compute hold 0.0.
struct GeodesicResult {
  double lat1, lon1;  // point 1, degrees
  double lat2, lon2;  // point 2, degrees
  double a12;         // arc length on the auxiliary sphere, degrees
  double s12;         // distance along the geodesic, metres
  double azi1, azi2;  // azimuth at point 1, forward azimuth at point 2, degrees
  double m12 = 0.0;   // reduced length, metres
  double M12 = 0.0;   // geodesic scale of point 2 relative to point 1
  double M21 = 0.0;   // geodesic scale of point 1 relative to point 2
  double S12 = 0.0;   // area between the geodesic and the equator, metres^2
};

// An ellipsoid of equatorial radius a (metres) and flattening f, solved with
// GeographicLib's series of order 6.  Immutable once built, so any number of
// threads may call its operations at once.  Not copyable: the system holds
// one instance, reached through wgs84().
class Geodesic {
 public:
  // Throws GeographicLib::GeographicErr unless a and b = a(1 - f) are
  // finite and positive.
  Geodesic(double a, double f);
  Geodesic(const Geodesic&) = delete;
  Geodesic& operator=(const Geodesic&) = delete;

  // Direct problem: the point s12 metres (negative goes backwards) from
  // (lat1, lon1) along azimuth azi1.  Fills lat2, lon2 (reduced to
  // [-180, 180]), azi2 (in [-180, 180]) and a12, the arc length matching
  // s12; lat1, lon1, azi1 and s12 are echoed as given, so azi1 may lie
  // outside [-180, 180] while azi2 does not.  With s12 = 0, point 2 is
  // point 1 within rounding and azi2 is azi1 reduced.  A NaN or infinite
  // argument makes lat2, lon2, azi2 and a12 NaN, except that a non-finite
  // lon1 spoils only lon2.  m12, M12, M21 and S12 are 0.0.
  GeodesicResult direct(double lat1, double lon1, double azi1,
                        double s12) const noexcept;

  // Inverse problem: the shortest geodesic from (lat1, lon1) to
  // (lat2, lon2).  Fills s12, a12 and the azimuths azi1, azi2 (in
  // [-180, 180]); the four coordinates are echoed, so lon2 = 370 stays 370
  // and gives the same answer as lon2 = 10.  m12, M12, M21 and S12 are 0.0.
  // Coincident points give s12 = a12 = 0.  At a pole the azimuths are the
  // limits reached along meridian lon1 (lon2); for antipodal points the
  // shortest geodesic is not unique and GeographicLib returns one of them.
  // A NaN or infinite argument makes every computed field NaN.
  GeodesicResult inverse(double lat1, double lon1, double lat2,
                         double lon2) const noexcept;

  // As inverse(), and also the reduced length m12, the geodesic scales M12
  // and M21 and the area S12.  Costs more than inverse(): distance-only
  // callers should use inverse().
  GeodesicResult inverse_full(double lat1, double lon1, double lat2,
                              double lon2) const noexcept;

  // The GeographicLib solver itself, for callers that pick their own
  // outputs (the array operations of geodesic_n.hpp).
  const GeographicLib::Geodesic& solver() const noexcept { return solver_; }

 private:
  GeographicLib::Geodesic solver_;
};

// The shared WGS84 solver.  Built on the first call in the process (safe to
// race: creation runs once and later callers see the finished object) and
// never destroyed, so threads still using it at exit are safe; later calls
// cost one acquire load.
const Geodesic& wgs84() noexcept;

}  // namespace tarnu::geodesic
