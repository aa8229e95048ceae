// GeographicLib's answer for the elements the vectorised solver leaves to
// it: one scalar call for element i, written to the outputs asked for.
// Compiled once, for every CPU, and called from every instruction set.
#pragma once

#include <cstddef>

#include "tarnu/geodesic_n.hpp"

namespace tarnu::geodesic::fallback {

void inverse_one(const double* lat1, const double* lon1, const double* lat2, const double* lon2,
                 std::size_t i, const InverseOutputs& out) noexcept;
void direct_one(const double* lat1, const double* lon1, const double* azi1, const double* s12,
                std::size_t i, const DirectOutputs& out) noexcept;
// Point j of line_n: GeographicLib's direct problem, lon2 as line_n gives it.
void line_one(double lat1, double lon1, double azi1, const double* s12, std::size_t j,
              double* lat2, double* lon2) noexcept;

}  // namespace tarnu::geodesic::fallback
