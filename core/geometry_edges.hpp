// The edges of a geometry layout, walked in order, and the pieces every
// operation of tarnu/geometry.hpp shares.
//
// Part p of a layout owns vertices [a, b) of the coordinates, m = b - a of
// them. Its edges, in order: vertex a + j to a + j + 1 for j < m - 1; for a
// ring, then the closing edge from b - 1 back to a, unless vertex b - 1
// already equals vertex a. A part of one vertex has the one edge from it to
// itself (length 0, or NaN with its NaN), a part of none has no edge.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tarnu/geometry.hpp"

namespace tarnu::geometry::edges {

// The items of the level below, `below` of them, that item i owns:
// [first, last). Offsets are read clamped into [0, below], so that offsets
// changed after check() (by another thread, while the interpreter lock is
// released) can give wrong answers but never a read out of bounds.
struct Range {
  std::size_t first, last;
};

inline std::size_t clamp(std::int64_t v, std::size_t lo, std::size_t hi) noexcept {
  if (v < 0 || static_cast<std::uint64_t>(v) < lo) return lo;
  return static_cast<std::uint64_t>(v) > hi ? hi : static_cast<std::size_t>(v);
}

inline Range owned(const Offsets& o, std::size_t i, std::size_t below) noexcept {
  if (o.data == nullptr) return i < below ? Range{i, i + 1} : Range{below, below};
  const std::size_t first = clamp(o.data[i], 0, below);
  return {first, clamp(o.data[i + 1], first, below)};
}

// What each level's items index: the sizes of the levels below them.
inline Range parts_owned(const Layout& l, std::size_t p) noexcept {
  return owned(l.parts, p, l.coords.size);
}
inline Range rings_owned(const Layout& l, std::size_t q) noexcept {
  return owned(l.polygons, q, l.parts.size);
}
// A geometry's polygons, or for lines its parts.
inline Range geometry_owned(const Layout& l, bool lines, std::size_t g) noexcept {
  return owned(l.geometries, g, lines ? l.parts.size : l.polygons.size);
}

// The parts of geometry g, contiguous since offsets do not decrease.
inline Range parts_of(const Layout& l, bool lines, std::size_t g) noexcept {
  const Range q = geometry_owned(l, lines, g);
  if (lines || q.first == q.last) return q;
  return {rings_owned(l, q.first).first, rings_owned(l, q.last - 1).last};
}

struct Point {
  double lat, lon;
};

inline Point vertex(const Coordinates& c, std::size_t i) noexcept {
  const std::ptrdiff_t k = static_cast<std::ptrdiff_t>(i) * c.stride;
  return {c.lat[k], c.lon[k]};
}

// The edges of the part owning vertices r.
struct PartEdges {
  std::size_t first;  // vertex a
  std::size_t count;  // edges
  std::size_t m;      // vertices
};

inline PartEdges part_edges(const Coordinates& c, Range r, bool ring) noexcept {
  const std::size_t m = r.last - r.first;
  if (m <= 1) return {r.first, m, m};
  bool closing = false;
  if (ring) {
    const Point a = vertex(c, r.first), b = vertex(c, r.last - 1);
    closing = !(a.lat == b.lat && a.lon == b.lon);
  }
  return {r.first, m - 1 + (closing ? 1 : 0), m};
}

// Edge j of a part: its two ends.
inline void edge(const Coordinates& c, const PartEdges& e, std::size_t j, Point& p1,
                 Point& p2) noexcept {
  const std::size_t i = e.first + j;
  p1 = vertex(c, i);
  p2 = j + 1 < e.m ? vertex(c, i + 1) : vertex(c, e.first);
}

// A sum of doubles carried in two, as GeographicLib's Accumulator carries
// it and with the same operations in the same order, so that a ring's
// total matches PolygonArea's bit for bit when its terms do: s is the sum
// rounded, t what rounding lost.
struct ExactSum {
  double s = 0, t = 0;

  // Math::sum: u + v = s + t exactly.
  static double two_sum(double u, double v, double& t) noexcept {
    const double s = u + v;
    double up = s - v, vpp = s - up;
    up -= u;
    vpp -= v;
    t = s != 0 ? 0 - (up + vpp) : s;
    return s;
  }

  void add(double y) noexcept {
    double u;
    y = two_sum(y, t, u);
    s = two_sum(y, s, t);
    if (s == 0) {
      s = u;
    } else {
      t += u;
    }
  }
};

// A ring's or a part's running totals.
struct PartSums {
  ExactSum length;  // metres
  ExactSum area;    // S12 summed: clockwise positive, before any reduction
  int crossings = 0;
};

// +1 or -1 where an edge from lon1 to lon2 crosses the prime meridian
// eastwards or westwards, else 0: GeographicLib's PolygonArea::transit.
int transit(double lon1, double lon2) noexcept;

}  // namespace tarnu::geometry::edges
