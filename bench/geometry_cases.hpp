// Geometry sets and their references for checking tarnu/geometry.hpp
// against GeographicLib's PolygonArea, shared by the C++ tests and
// bench/geometry_check.cpp (`make accuracy`): random parcels (10 m to
// 100 km), country-sized polygons with holes, rings around the poles and
// across the antimeridian, polygons of a hemisphere and more in both
// orientations, degenerate rings and multipolygons.
#pragma once

#include <GeographicLib/GeodesicLine.hpp>
#include <GeographicLib/PolygonArea.hpp>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "tarnu/geodesic.hpp"
#include "tarnu/geometry.hpp"

namespace tarnu::geometry_cases {

namespace g = tarnu::geometry;
using Ring = std::vector<std::pair<double, double>>;  // (lat, lon)
using Polygon = std::vector<Ring>;                    // exterior, holes
using Geometry = std::vector<Polygon>;
inline const GeographicLib::Geodesic& earth() { return tarnu::geodesic::wgs84().solver(); }
inline constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();

// Geometries as a flat layout with every level present.
struct Flat {
  std::vector<double> lat, lon;
  std::vector<std::int64_t> parts{0}, polygons{0}, geometries{0};

  explicit Flat(const std::vector<Geometry>& gs) {
    for (const Geometry& geom : gs) {
      for (const Polygon& poly : geom) {
        for (const Ring& ring : poly) {
          for (auto [la, lo] : ring) {
            lat.push_back(la);
            lon.push_back(lo);
          }
          parts.push_back(static_cast<std::int64_t>(lat.size()));
        }
        polygons.push_back(static_cast<std::int64_t>(parts.size() - 1));
      }
      geometries.push_back(static_cast<std::int64_t>(polygons.size() - 1));
    }
  }
  g::Layout layout() const {
    return {{lat.data(), lon.data(), 1, lat.size()},
            {parts.data(), parts.size() - 1},
            {polygons.data(), polygons.size() - 1},
            {geometries.data(), geometries.size() - 1}};
  }
};

struct RingReference {
  double perimeter, signed_ccw, left, right;
};

inline RingReference reference(const Ring& ring) {
  GeographicLib::PolygonArea pa(earth());
  for (auto [la, lo] : ring) pa.AddPoint(la, lo);
  RingReference r{};
  pa.Compute(false, true, r.perimeter, r.signed_ccw);
  pa.Compute(false, false, r.perimeter, r.left);
  pa.Compute(true, false, r.perimeter, r.right);
  return r;
}

// Area and perimeter of a geometry by the rules, from PolygonArea ring by ring.
inline std::pair<double, double> reference(const Geometry& geom, g::Rule rule) {
  double area = 0, perimeter = 0;
  for (const Polygon& poly : geom) {
    for (std::size_t k = 0; k < poly.size(); ++k) {
      const RingReference r = reference(poly[k]);
      perimeter += r.perimeter;
      const bool hole = k > 0;
      switch (rule) {
        case g::Rule::unoriented: area += hole ? -std::fabs(r.signed_ccw) : std::fabs(r.signed_ccw); break;
        case g::Rule::signed_ccw: area += r.signed_ccw; break;
        case g::Rule::oriented: area += hole ? -r.right : r.left; break;
      }
    }
  }
  return {area, perimeter};
}

inline std::size_t edges(const Geometry& geom) {
  std::size_t n = 0;
  for (const Polygon& p : geom) {
    for (const Ring& r : p) n += r.size();
  }
  return n;
}

// A ring of n vertices at distances within [r/2, r] metres around a centre,
// counter-clockwise unless `clockwise`.
inline Ring star(double lat, double lon, double r, int n, bool clockwise, std::mt19937_64& rng) {
  std::uniform_real_distribution<double> u(0, 1);
  std::vector<double> azi(static_cast<std::size_t>(n));
  for (double& a : azi) a = 360 * u(rng) - 180;
  std::sort(azi.begin(), azi.end());
  if (!clockwise) std::reverse(azi.begin(), azi.end());  // azimuths turn clockwise
  Ring ring;
  for (double a : azi) {
    double la, lo;
    earth().Direct(lat, lon, a, r * (0.5 + 0.5 * u(rng)), la, lo);
    ring.emplace_back(la, lo);
  }
  return ring;
}

inline Ring latitude_circle(double lat, int n, bool eastwards, double lon0 = 0) {
  Ring ring;
  for (int i = 0; i < n; ++i) ring.emplace_back(lat, lon0 + (eastwards ? 1 : -1) * 360.0 * i / n);
  return ring;
}

struct Set {
  const char* name;
  std::vector<Geometry> geoms;
  bool global;  // edges beyond 1000 km: the global tolerance
};

inline std::vector<Set> sets(int n_parcels = 2000) {
  std::mt19937_64 rng(18);
  std::uniform_real_distribution<double> u(0, 1);
  Set parcels{"parcels 10 m to 100 km", {}, false};
  for (int i = 0; i < n_parcels; ++i) {
    const double r = 10 * std::pow(1e4, u(rng));
    parcels.geoms.push_back({{star(170 * u(rng) - 85, 360 * u(rng) - 180, r, 3 + i % 9, i % 2, rng)}});
  }
  Set countries{"countries with holes", {}, false};
  for (int i = 0; i < 50; ++i) {
    const double lat = 140 * u(rng) - 70, lon = 360 * u(rng) - 180;
    Polygon p{star(lat, lon, 1.5e6, 400, i % 2, rng)};
    for (int h = 0; h < 3; ++h) p.push_back(star(lat + h - 1, lon + h - 1, 2e4, 20, !(i % 2), rng));
    countries.geoms.push_back({p});
  }
  Set poles{"around the poles", {}, false};
  for (double lat : {89.0, 75.0, -60.0, -88.5}) {
    for (bool east : {true, false}) poles.geoms.push_back({{latitude_circle(lat, 720, east, 7.5)}});
  }
  Set antimeridian{"across the antimeridian", {}, false};
  for (int i = 0; i < 200; ++i) {
    antimeridian.geoms.push_back(
        {{star(170 * u(rng) - 85, i % 2 ? 180 : -180, 5e5 * u(rng) + 10, 12, i % 3, rng)}});
  }
  Set hemispheres{"a hemisphere and more", {}, true};
  for (bool east : {true, false}) {
    for (double lat : {0.0, -10.0, 30.0}) {
      hemispheres.geoms.push_back({{latitude_circle(lat, 36, east)}});
    }
    hemispheres.geoms.push_back({{{{-10, -170}, {-10, 0}, {-10, 170}, {80, 0}}}});
  }
  Set degenerate{"degenerate rings", {}, false};
  degenerate.geoms = {
      {{{{10, 20}}}},
      {{{{10, 20}, {10, 20}, {10, 20}}}},
      {{{{10, 20}, {11, 21}}}},
      {{{{10, 20}, {11, 21}, {10, 20}}}},
      {{{{-40, 179.5}, {-40, -179.5}, {-40, -179.5}, {-40, 179.5}}}},
      {{{{0, 0}, {0, 0}, {1, 0}, {1, 0}, {0, 1}, {0, 1}, {0, 0}}}},
      {{{}}},
      {{}},
      {},
  };
  Set multipolygons{"multipolygons", {}, false};
  for (int i = 0; i < 100; ++i) {
    Geometry geom;
    for (int k = 0; k < 1 + i % 4; ++k) {
      const double lat = 170 * u(rng) - 85, lon = 360 * u(rng) - 180;
      geom.push_back({star(lat, lon, 5e4, 10, false, rng), star(lat, lon, 5e3, 6, true, rng)});
    }
    multipolygons.geoms.push_back(geom);
  }
  return {parcels, countries, poles, antimeridian, hemispheres, degenerate, multipolygons};
}

// The worst distance in degrees (longitude scaled by the cosine of the
// latitude) of densified points from GeodesicLine's at the same distances,
// over geometries of one part each; -1 when the offsets are not as expected.
inline double densify_worst(const std::vector<Geometry>& geoms, g::Spacing spacing, bool rings) {
  const Flat flat(geoms);
  const g::Layout l = flat.layout();
  std::vector<std::int64_t> offsets(l.parts.size + 1);
  if (!g::densify_count(l, rings, spacing, std::int64_t{1} << 40, offsets.data())) return -1;
  std::vector<double> out(2 * static_cast<std::size_t>(offsets.back()));
  g::densify_fill(l, rings, spacing, offsets.data(), out.data(), out.data() + 1, 2);
  double worst = 0;
  for (std::size_t p = 0; p < l.parts.size; ++p) {
    const Ring& ring = geoms[p][0][0];
    std::int64_t at = offsets[p];
    const std::size_t n = ring.size() - (rings ? 0 : 1);
    for (std::size_t e = 0; e < n; ++e) {
      const auto [la1, lo1] = ring[e];
      const auto [la2, lo2] = ring[(e + 1) % ring.size()];
      const GeographicLib::GeodesicLine line = earth().InverseLine(la1, lo1, la2, lo2);
      const double s13 = line.Distance();
      const std::int64_t k =
          spacing.pieces ? spacing.pieces
                         : std::max<std::int64_t>(1, std::int64_t(std::ceil(s13 / spacing.max_segment)));
      for (std::int64_t j = 0; j < k; ++j, ++at) {
        double la, lo;
        line.Position(s13 * double(j) / double(k), la, lo);
        const auto i = 2 * static_cast<std::size_t>(at);
        const double dlon = std::remainder(out[i + 1] - lo, 360.0);
        worst = std::max({worst, std::fabs(out[i] - la), std::fabs(dlon) * std::cos(la * M_PI / 180)});
      }
    }
    if (!rings) ++at;  // the last vertex
    if (at != offsets[p + 1]) return -1;
  }
  return worst;
}

// Lines of 3 to 7 vertices, edges up to thousands of kilometres, and one
// through and near the poles.
inline std::vector<Geometry> routes(int n, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::vector<Geometry> geoms;
  for (int i = 0; i < n; ++i) {
    geoms.push_back({{star(170.0 * (i % 17) / 16 - 85, 6.0 * i, 3e6, 3 + i % 5, i % 2, rng)}});
  }
  geoms.push_back({{{{89.9, 0}, {89.9, 180}, {-89.9, 90}}}});
  return geoms;
}

}  // namespace tarnu::geometry_cases
