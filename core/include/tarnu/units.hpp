// Conversions of lengths and angles, and the constants behind them.
//
// Each length pair shares one exact constant: one direction multiplies by it,
// the other divides by it. A division stays a true division: multiplying by
// a reciprocal would change the last bit for some inputs (3 m / 0.3048 is
// 9.84251968503937 ft, 3 * (1 / 0.3048) is 9.842519685039369). Every
// conversion is one rounded operation, except the degrees-minutes-seconds
// pair below. Nothing is range-tested; NaN and infinities follow IEEE-754,
// and a product beyond the largest double is an infinity.
#pragma once

#include <cmath>

namespace tarnu::units {

inline constexpr double metres_per_foot = 0.3048;              // international foot, exact
inline constexpr double metres_per_kilometre = 1000.0;
inline constexpr double kilometres_per_mile = 1.609344;        // statute mile, exact
inline constexpr double kilometres_per_nautical_mile = 1.852;  // exact
inline constexpr double radians_per_degree = 0.017453292519943295;  // nearest double to pi/180
inline constexpr double degrees_per_radian = 57.29577951308232;     // nearest double to 180/pi
inline constexpr double arcminutes_per_degree = 60.0;  // and arcseconds per arcminute
inline constexpr double arcseconds_per_degree = 3600.0;

constexpr double km_to_mi(double km) noexcept { return km / kilometres_per_mile; }
constexpr double mi_to_km(double mi) noexcept { return mi * kilometres_per_mile; }
constexpr double km_to_nm(double km) noexcept { return km / kilometres_per_nautical_mile; }
constexpr double nm_to_km(double nm) noexcept { return nm * kilometres_per_nautical_mile; }
constexpr double m_to_ft(double m) noexcept { return m / metres_per_foot; }
constexpr double ft_to_m(double ft) noexcept { return ft * metres_per_foot; }
constexpr double m_to_km(double m) noexcept { return m / metres_per_kilometre; }
constexpr double km_to_m(double km) noexcept { return km * metres_per_kilometre; }
constexpr double deg_to_rad(double d) noexcept { return d * radians_per_degree; }
constexpr double rad_to_deg(double r) noexcept { return r * degrees_per_radian; }

// Degrees from degrees, arcminutes and arcseconds, each keeping its own
// sign: (-10, 30, 0) is -9.5 and -10.5 degrees is (-10, -30, 0). The sum
// runs left to right, minutes before seconds; inf + -inf among the parts,
// or a sum beyond the largest double, gives NaN or an infinity.
constexpr double dms_to_deg(double degrees, double arcminutes, double arcseconds) noexcept {
  return degrees + arcminutes / arcminutes_per_degree + arcseconds / arcseconds_per_degree;
}

struct Dms {
  double degrees, arcminutes, arcseconds;
};

// The sign rides on the degrees alone, as a negative zero for -0.5;
// minutes and seconds are non-negative. Seconds keep the subtraction's
// residue: no rounding and no carry into minutes or degrees. An infinity
// gives (inf, nan, nan), since inf - inf is NaN.
inline Dms deg_to_dms(double dd) noexcept {
  const double degrees = std::trunc(dd);
  const double minutes = std::fabs(dd - degrees) * arcminutes_per_degree;  // with fraction
  const double arcminutes = std::trunc(minutes);
  return {.degrees = degrees,
          .arcminutes = arcminutes,
          .arcseconds = (minutes - arcminutes) * arcminutes_per_degree};
}

}  // namespace tarnu::units
