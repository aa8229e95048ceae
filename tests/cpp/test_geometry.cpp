// Lengths, perimeters, areas and densified points over geometry layouts,
// against GeographicLib's PolygonArea and GeodesicLine; the layout checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iomanip>

#include "geometry_cases.hpp"

namespace {

using namespace tarnu::geometry_cases;
constexpr double nan = not_a_number;

TEST(Geometry, AreaAndPerimeterWithinToleranceOfPolygonArea) {
  for (const Set& set : sets()) {
    const Flat flat(set.geoms);
    ASSERT_EQ(g::check(flat.layout(), false).fault, g::Fault::none) << set.name;
    for (g::Rule rule : {g::Rule::unoriented, g::Rule::signed_ccw, g::Rule::oriented}) {
      std::vector<double> area(set.geoms.size()), perimeter(set.geoms.size());
      g::area_perimeter(flat.layout(), rule, area.data(), perimeter.data());
      for (std::size_t i = 0; i < set.geoms.size(); ++i) {
        const auto [want_area, want_perimeter] = reference(set.geoms[i], rule);
        const double rel = set.global ? 1e-9 : 1e-12, floor = set.global ? 10 : 0.1;
        EXPECT_LE(std::fabs(area[i] - want_area), std::max(floor, rel * std::fabs(want_area)))
            << std::setprecision(17) << set.name << " #" << i << " rule " << int(rule)
            << ": area " << area[i] << ", PolygonArea " << want_area;
        EXPECT_LE(std::fabs(perimeter[i] - want_perimeter), 20e-9 * double(edges(set.geoms[i]) + 1))
            << std::setprecision(17) << set.name << " #" << i << ": perimeter " << perimeter[i]
            << ", PolygonArea " << want_perimeter;
      }
    }
  }
}

TEST(Geometry, LengthWithinTwentyNanometresAnEdge) {
  std::mt19937_64 rng(7);
  std::vector<Geometry> lines;
  for (int i = 0; i < 300; ++i) {
    lines.push_back({{star(0, 10 * i, 2e5 * (1 + i % 4), 2 + i % 7, i % 2, rng)}});
    lines.back()[0].push_back(star(-45, 170, 9e6, 3, false, rng));  // a second part
  }
  Flat flat(lines);
  // Lines: parts into coordinates, geometries into parts.
  std::vector<std::int64_t> by_geometry{0};
  for (std::size_t i = 0; i < lines.size(); ++i) by_geometry.push_back(by_geometry.back() + 2);
  g::Layout l = flat.layout();
  l.geometries = {by_geometry.data(), lines.size()};
  std::vector<double> got(lines.size());
  g::length(l, got.data());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    double want = 0;
    for (const Ring& part : lines[i][0]) {
      GeographicLib::PolygonArea pl(earth(), true);
      for (auto [la, lo] : part) pl.AddPoint(la, lo);
      double p, a;
      pl.Compute(false, true, p, a);
      want += p;
    }
    EXPECT_LE(std::fabs(got[i] - want), 20e-9 * double(edges(lines[i])))
        << std::setprecision(17) << "line #" << i << ": " << got[i] << ", PolygonArea " << want;
  }
}

TEST(Geometry, NanSpoilsItsGeometryAlone) {
  const std::vector<Geometry> geoms = {
      {{{{0, 0}, {0, 1}, {1, 1}}}},
      {{{{0, 0}, {nan, 1}, {1, 1}}}},
      {{{{0, 0}, {0, 1}, {1, 1}}}, {{{5, 5}, {5, 6}, {6, nan}}}},
      {{{{nan, 0}}}},
      {{{{0, 0}, {0, 1}, {1, 1}}}},
  };
  const Flat flat(geoms);
  std::vector<double> area(geoms.size()), perimeter(geoms.size());
  g::area_perimeter(flat.layout(), g::Rule::unoriented, area.data(), perimeter.data());
  for (std::size_t i = 0; i < geoms.size(); ++i) {
    const bool spoilt = i == 1 || i == 2 || i == 3;
    EXPECT_EQ(std::isnan(area[i]), spoilt) << i;
    EXPECT_EQ(std::isnan(perimeter[i]), spoilt) << i;
  }
  EXPECT_EQ(area[0], area[4]);
}

TEST(Geometry, CheckFindsTheFirstBadOffset) {
  const std::vector<double> c(10, 0.0);
  struct Case {
    std::vector<std::int64_t> parts, polygons;
    g::Check want;
  } cases[] = {
      {{0, 3, 10}, {0, 2}, {}},
      {{2, 3, 3}, {1, 2}, {}},
      {{0, 4, 3}, {0, 2}, {g::Fault::decreasing, g::Level::parts, 2}},
      {{-1, 4}, {0, 1}, {g::Fault::negative, g::Level::parts, 0}},
      {{0, 11}, {0, 1}, {g::Fault::past_end, g::Level::parts, 1}},
      {{0, 5, 10}, {0, 3}, {g::Fault::past_end, g::Level::polygons, 1}},
      {{0, 5, 10}, {1, 0}, {g::Fault::decreasing, g::Level::polygons, 1}},
      {{0, 5, 10}, {0, 1, 2}, {g::Fault::wrong_size, g::Level::geometries, 0}},
  };
  for (const Case& k : cases) {
    const g::Layout l{{c.data(), c.data(), 1, c.size()},
                      {k.parts.data(), k.parts.size() - 1},
                      {k.polygons.data(), k.polygons.size() - 1},
                      {nullptr, 1}};
    const g::Check got = g::check(l, false);
    EXPECT_EQ(got.fault, k.want.fault) << k.parts.size() << ' ' << k.polygons.size();
    EXPECT_EQ(got.level, k.want.level);
    EXPECT_EQ(got.index, k.want.index);
  }
}

TEST(Geometry, DensifiedPointsOnGeodesicLineWithin1e12Degrees) {
  const std::vector<Geometry> geoms = routes(60, 3);
  for (const g::Spacing spacing : {g::Spacing{1e5, 0}, g::Spacing{0, 7}}) {
    for (bool rings : {true, false}) {
      const double worst = densify_worst(geoms, spacing, rings);
      EXPECT_GE(worst, 0) << "offsets: pieces " << spacing.pieces << " rings " << rings;
      EXPECT_LE(worst, 1e-12) << "pieces " << spacing.pieces << " rings " << rings;
    }
  }
}

}  // namespace
