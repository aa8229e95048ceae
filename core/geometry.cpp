// Length, perimeter and area over a geometry layout.
//
// Edges go through the vectorised solver a batch at a time, whatever the
// rings' sizes, so that short rings still fill its lanes; the batch
// remembers where each part ended, and the totals are then folded part by
// part, polygon by polygon, geometry by geometry, in the order
// GeographicLib's PolygonArea adds them.
#include <algorithm>
#include <cmath>

#include "geometry_edges.hpp"
#include "tarnu/geodesic.hpp"
#include "tarnu/geodesic_n.hpp"
#include "tarnu/geometry.hpp"
#include "tarnu/pool.hpp"

namespace tarnu::geometry {

namespace edges {

int transit(double lon1, double lon2) noexcept {
  // Longitudes within [-180, 180] on the same side of 0 cross nothing: the
  // common case, decided without a reduction.
  if (std::fabs(lon1) <= 180 && std::fabs(lon2) <= 180 && (lon1 < 0) == (lon2 < 0)) return 0;
  using GeographicLib::Math;
  const double lon12 = Math::AngDiff(lon1, lon2);
  lon1 = Math::AngNormalize(lon1);
  lon2 = Math::AngNormalize(lon2);
  if (lon12 > 0 && ((lon1 < 0 && lon2 >= 0) || (lon1 > 0 && lon2 == 0))) return 1;
  return lon12 < 0 && lon1 >= 0 && lon2 < 0 ? -1 : 0;
}

}  // namespace edges

namespace {

using namespace edges;

// --- offsets ----------------------------------------------------------------

Check check_level(const Offsets& o, std::size_t below, Level level) noexcept {
  if (o.data == nullptr) {
    return o.size == below ? Check{} : Check{Fault::wrong_size, level, 0};
  }
  for (std::size_t i = 0; i <= o.size; ++i) {
    const std::int64_t v = o.data[i];
    if (v < 0) return {Fault::negative, level, i};
    if (i > 0 && v < o.data[i - 1]) return {Fault::decreasing, level, i};
    if (static_cast<std::uint64_t>(v) > below) return {Fault::past_end, level, i};
  }
  return {};
}

// --- the walk -----------------------------------------------------------------

constexpr std::size_t batch = 256;

enum : unsigned { exterior = 1, polygon_end = 2, geometry_end = 4 };

struct Mark {
  std::size_t end;  // edges of the batch before it
  unsigned flags;
  std::size_t geometry;
};

struct Batch {
  double lat1[batch], lon1[batch], lat2[batch], lon2[batch], s12[batch], S12[batch];
  std::size_t size = 0;
  Mark marks[batch];
  std::size_t n_marks = 0;
};

// Every edge of geometries [g0, g1) into batches; sink.empty(g) for a
// geometry without parts, sink.flush(batch) whenever one is full and at the
// end. For lines each part stands for a polygon of one ring.
template <class Sink>
void walk(const Layout& l, bool lines, bool ring, std::size_t g0, std::size_t g1,
          Sink& sink) noexcept {
  Batch b;
  const auto flush = [&] {
    sink.flush(b);
    b.size = 0;
    b.n_marks = 0;
  };
  for (std::size_t g = g0; g < g1; ++g) {
    const Range all = parts_of(l, lines, g);
    if (all.first == all.last) {
      sink.empty(g);
      continue;
    }
    const Range polygons = geometry_owned(l, lines, g);
    for (std::size_t q = polygons.first; q < polygons.last; ++q) {
      const Range rings = lines ? Range{q, q + 1} : rings_owned(l, q);
      for (std::size_t p = rings.first; p < rings.last; ++p) {
        const PartEdges e = part_edges(l.coords, parts_owned(l, p), ring);
        for (std::size_t j = 0; j < e.count; ++j) {
          if (b.size == batch) flush();
          Point p1, p2;
          edge(l.coords, e, j, p1, p2);
          b.lat1[b.size] = p1.lat;
          b.lon1[b.size] = p1.lon;
          b.lat2[b.size] = p2.lat;
          b.lon2[b.size] = p2.lon;
          ++b.size;
        }
        if (b.n_marks == batch) flush();
        b.marks[b.n_marks++] = {b.size,
                                (p == rings.first ? exterior : 0u) |
                                    (p + 1 == rings.last ? polygon_end : 0u) |
                                    (p + 1 == all.last ? geometry_end : 0u),
                                g};
      }
    }
  }
  flush();
}

// Runs walk over every geometry, on the pool when there are many.
template <class Sink>
void walk_all(const Layout& l, bool lines, bool ring, Sink proto) noexcept {
  pool::parallel_for(
      l.geometries.size,
      [&](std::size_t begin, std::size_t end) {
        Sink sink = proto;
        walk(l, lines, ring, begin, end, sink);
      },
      pool::coarse_grain);
}

// --- reductions ---------------------------------------------------------------

// A ring's area under `rule`, from S12 summed along it (clockwise positive,
// unreduced) and its crossings of the prime meridian, as PolygonArea's
// AreaReduce: the sum reduced modulo the Earth's area, half the Earth added
// when the ring goes round a pole (an odd number of crossings), the sign
// turned to counter-clockwise positive, then moved into the range the rule
// wants. Holes come back negative where the rule subtracts them.
double ring_area(const PartSums& ring, Rule rule, bool is_exterior, double area0) noexcept {
  ExactSum a = ring.area;
  a.s = std::remainder(a.s, area0);
  a.add(0);
  if (ring.crossings & 1) a.add((a.s < 0 ? 1 : -1) * area0 / 2);
  a.s = -a.s;
  a.t = -a.t;
  // Into (-area0/2, area0/2]: signed by orientation around the smaller side.
  const auto around_smaller = [area0](ExactSum x) {
    if (x.s > area0 / 2) {
      x.add(-area0);
    } else if (x.s <= -area0 / 2) {
      x.add(area0);
    }
    return 0 + x.s;
  };
  // Into [0, area0): the region on the ring's left. A ring with no area
  // gives 0 on either side.
  const auto on_left = [area0](ExactSum x) {
    if (x.s >= area0) {
      x.add(-area0);
    } else if (x.s < 0) {
      x.add(area0);
    }
    return 0 + x.s;
  };
  switch (rule) {
    case Rule::signed_ccw:
      return around_smaller(a);
    case Rule::oriented: {
      if (is_exterior) return on_left(a);
      ExactSum right = a;
      right.s = -right.s;
      right.t = -right.t;
      return -on_left(right);
    }
    case Rule::unoriented:
    default: {
      const double s = std::fabs(around_smaller(a));
      return is_exterior ? s : -s;
    }
  }
}

struct Totals {
  PartSums part;
  ExactSum polygon_area, area, length;
};

// The sums of edges [from, to) of a batch into a part's.
void add_edges(const Batch& b, std::size_t from, std::size_t to, bool with_area,
               PartSums& part) noexcept {
  for (std::size_t i = from; i < to; ++i) part.length.add(b.s12[i]);
  if (!with_area) return;
  for (std::size_t i = from; i < to; ++i) {
    part.area.add(b.S12[i]);
    part.crossings += transit(b.lon1[i], b.lon2[i]);
  }
}

// Area and perimeter of polygons, or the length of lines (area == nullptr).
struct Measure {
  Rule rule;
  double area0;
  double* area;
  double* length;
  Totals t;

  void empty(std::size_t g) noexcept {
    if (area) area[g] = 0;
    if (length) length[g] = 0;
  }

  // cppcheck-suppress constParameter ; the solver writes the batch's s12 and S12
  void flush(Batch& b) noexcept {
    geodesic::inverse_n(b.lat1, b.lon1, b.lat2, b.lon2, b.size,
                        {.s12 = b.s12, .S12 = area ? b.S12 : nullptr});
    std::size_t from = 0;
    for (std::size_t k = 0; k < b.n_marks; ++k) {
      const Mark& m = b.marks[k];
      add_edges(b, from, m.end, area != nullptr, t.part);
      from = m.end;
      end_part(m);
    }
    add_edges(b, from, b.size, area != nullptr, t.part);
  }

  void end_part(const Mark& m) noexcept {
    t.length.add(t.part.length.s);
    if (area) t.polygon_area.add(ring_area(t.part, rule, m.flags & exterior, area0));
    t.part = {};
    if (m.flags & polygon_end) {
      t.area.add(t.polygon_area.s);
      t.polygon_area = {};
    }
    if (m.flags & geometry_end) {
      if (area) area[m.geometry] = 0 + t.area.s;
      if (length) length[m.geometry] = 0 + t.length.s;
      t = {};
    }
  }
};

}  // namespace

Check check(const Layout& l, bool lines) noexcept {
  Check c = check_level(l.parts, l.coords.size, Level::parts);
  if (c.fault != Fault::none) return c;
  if (!lines) {
    c = check_level(l.polygons, l.parts.size, Level::polygons);
    if (c.fault != Fault::none) return c;
  }
  return check_level(l.geometries, lines ? l.parts.size : l.polygons.size, Level::geometries);
}

std::size_t first_bad_latitude(const Layout& l) noexcept {
  if (l.parts.size == 0) return l.coords.size;
  const std::size_t first = parts_owned(l, 0).first;
  const std::size_t last = std::max(first, parts_owned(l, l.parts.size - 1).last);
  for (std::size_t i = first; i < last; ++i) {
    if (std::fabs(vertex(l.coords, i).lat) > 90) return i;
  }
  return l.coords.size;
}

void length(const Layout& lines, double* out) noexcept {
  walk_all(lines, true, false, Measure{Rule::unoriented, 0, nullptr, out, {}});
}

void area_perimeter(const Layout& polygons, Rule rule, double* area,
                    double* perimeter) noexcept {
  const double area0 = geodesic::wgs84().solver().EllipsoidArea();
  walk_all(polygons, false, true, Measure{rule, area0, area, perimeter, {}});
}

}  // namespace tarnu::geometry
