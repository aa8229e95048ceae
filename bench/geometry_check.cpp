// tarnu/geometry.hpp against GeographicLib's PolygonArea and GeodesicLine
// (`make accuracy`): for each set of bench/geometry_cases.hpp and each area
// rule, the worst area error against its bound (max(0.1 m^2, 1e-12 area),
// or max(10 m^2, 1e-9 area) for global polygons), the worst perimeter error
// per edge (bound 20 nm), and the worst densified point in degrees (bound
// 1e-12). Exits 1 when a bound fails. PARCELS (the first argument) sets the
// number of random parcels.
#include <cstdio>
#include <cstdlib>

#include "geometry_cases.hpp"

using namespace tarnu::geometry_cases;

int main(int argc, char** argv) {
  const int n_parcels = argc > 1 ? std::atoi(argv[1]) : 100000;
  bool ok = true;
  std::printf("%-28s %-11s %8s %14s %12s %14s %12s\n", "set", "rule", "count", "worst area m2",
              "of bound", "perimeter nm", "per edge");
  const char* rules[] = {"unoriented", "signed_ccw", "oriented"};
  for (const Set& set : sets(n_parcels)) {
    const Flat flat(set.geoms);
    for (int r = 0; r < 3; ++r) {
      const auto rule = static_cast<g::Rule>(r);
      std::vector<double> area(set.geoms.size()), perimeter(set.geoms.size());
      g::area_perimeter(flat.layout(), rule, area.data(), perimeter.data());
      double worst_area = 0, worst_share = 0, worst_perimeter = 0, worst_per_edge = 0;
      for (std::size_t i = 0; i < set.geoms.size(); ++i) {
        const auto [want_area, want_perimeter] = reference(set.geoms[i], rule);
        const double bound = set.global ? std::max(10.0, 1e-9 * std::fabs(want_area))
                                        : std::max(0.1, 1e-12 * std::fabs(want_area));
        const double e = std::fabs(area[i] - want_area);
        worst_area = std::max(worst_area, e);
        worst_share = std::max(worst_share, e / bound);
        const double p = std::fabs(perimeter[i] - want_perimeter);
        worst_perimeter = std::max(worst_perimeter, p);
        worst_per_edge = std::max(worst_per_edge, p / double(edges(set.geoms[i]) + 1));
      }
      ok = ok && worst_share <= 1 && worst_per_edge <= 20e-9;
      std::printf("%-28s %-11s %8zu %14.3g %12.3g %14.3g %12.3g\n", set.name, rules[r],
                  set.geoms.size(), worst_area, worst_share, worst_perimeter * 1e9,
                  worst_per_edge * 1e9);
    }
  }
  const std::vector<Geometry> lines = routes(2000, 5);
  for (const g::Spacing spacing : {g::Spacing{1e4, 0}, g::Spacing{0, 16}}) {
    const double worst = densify_worst(lines, spacing, false);
    ok = ok && worst >= 0 && worst <= 1e-12;
    std::printf("densify, %s: worst point %.3g degrees from GeodesicLine (bound 1e-12)\n",
                spacing.pieces ? "16 pieces an edge" : "10 km pieces", worst);
  }
  std::printf("%s\n", ok ? "every bound met" : "A BOUND FAILED");
  return ok ? 0 : 1;
}
