// The truth that `make accuracy` measures both solvers against: GeographicLib
// built in long double (build/truth, see bench/truth_config.h), for the same
// double inputs. Its errors are about 2000 times smaller than those of any
// double solver, so the difference of a double answer from it is that
// answer's error.
#pragma once

#include <array>

namespace tarnu::truth {

// The eight outputs in the order of geodesic::InverseOutputs (s12, azi1,
// azi2, a12, m12, M12, M21, S12) or DirectOutputs (lat2, lon2, azi2, a12,
// m12, M12, M21, S12; lon2 reduced to [-180, 180]).
using Answer = std::array<long double, 8>;

Answer inverse(double lat1, double lon1, double lat2, double lon2) noexcept;
Answer direct(double lat1, double lon1, double azi1, double s12) noexcept;

}  // namespace tarnu::truth
