// Densification: new vertices along each edge's geodesic.
//
// Two passes over the parts, each on the worker pool. The first counts the
// points of every part (the edges' lengths from the solver, a batch of
// edges at a time) and turns the counts into offsets. The second solves
// each edge once more for its length and azimuth, then steps along it with
// line_n: the line's constants once, then only positions, never a problem
// per point. Parts write disjoint ranges of the output, so they need no
// order among themselves.
#include <algorithm>
#include <cmath>

#include "geometry_edges.hpp"
#include "tarnu/geodesic_n.hpp"
#include "tarnu/geometry.hpp"
#include "tarnu/pool.hpp"

namespace tarnu::geometry {
namespace {

using namespace edges;

constexpr std::size_t batch = 256;

struct Batch {
  double lat1[batch], lon1[batch], lat2[batch], lon2[batch], s12[batch], azi1[batch];
  std::size_t part[batch], index[batch];  // which edge of which part
  std::size_t size = 0;
};

// The pieces edge of length s12 is cut into; more than `cap` (a count
// that could never be stored) comes back as cap + 1.
std::int64_t pieces(double s12, Spacing spacing, std::int64_t cap) noexcept {
  if (spacing.pieces > 0) return spacing.pieces;
  const double k = std::ceil(s12 / spacing.max_segment);
  if (!(k > 1)) return 1;  // NaN, 0 and short edges: one piece
  return k > static_cast<double>(cap) ? cap + 1 : static_cast<std::int64_t>(k);
}

// Every edge of parts [p0, p1) through the solver in batches, then
// visit(batch, i) for each in order; parts without edges go to lone(p, e).
template <class Visit, class Lone>
void each_edge(const Layout& l, bool rings, std::size_t p0, std::size_t p1, bool azimuths,
               Visit&& visit, Lone&& lone) noexcept {
  Batch b;
  const auto flush = [&] {
    geodesic::inverse_n(b.lat1, b.lon1, b.lat2, b.lon2, b.size,
                        {.s12 = b.s12, .azi1 = azimuths ? b.azi1 : nullptr});
    for (std::size_t i = 0; i < b.size; ++i) visit(b, i);
    b.size = 0;
  };
  for (std::size_t p = p0; p < p1; ++p) {
    const PartEdges e = part_edges(l.coords, parts_owned(l, p), rings);
    if (e.m <= 1) {
      lone(p, e);
      continue;
    }
    for (std::size_t j = 0; j < e.count; ++j) {
      if (b.size == batch) flush();
      Point a, z;
      edge(l.coords, e, j, a, z);
      b.lat1[b.size] = a.lat;
      b.lon1[b.size] = a.lon;
      b.lat2[b.size] = z.lat;
      b.lon2[b.size] = z.lon;
      b.part[b.size] = p;
      b.index[b.size] = j;
      ++b.size;
    }
  }
  if (b.size > 0) flush();
}

// The vertices a part ends with beyond its edges' starts: its last one,
// unless a ring's implied closing edge leads back to the first.
std::int64_t tail(const PartEdges& e) noexcept { return e.count == e.m - 1 ? 1 : 0; }

// Where the second pass writes.
struct Out {
  double* lat;
  double* lon;
  std::ptrdiff_t stride;

  void put(std::int64_t i, double lat_i, double lon_i) const noexcept {
    const std::ptrdiff_t k = static_cast<std::ptrdiff_t>(i) * stride;
    lat[k] = lat_i;
    lon[k] = lon_i;
  }
};

// Inner points 1 .. count (count < k) of an edge cut into k pieces, from
// (lat1, lon1) at azimuth azi1, s12 long, written from position `at` on.
void inner_points(double lat1, double lon1, double azi1, double s12, std::int64_t k,
                  std::int64_t count, const Out& out, std::int64_t at) noexcept {
  double s[batch], lat[batch], lon[batch];
  const double piece = s12 / static_cast<double>(k);
  for (std::int64_t j0 = 1; j0 <= count; j0 += batch) {
    const auto n = static_cast<std::size_t>(std::min<std::int64_t>(batch, count - j0 + 1));
    for (std::size_t j = 0; j < n; ++j) {
      s[j] = static_cast<double>(j0 + static_cast<std::int64_t>(j)) * piece;
    }
    geodesic::line_n(lat1, lon1, azi1, s, n, lat, lon);  // lon continuous with lon1
    for (std::size_t j = 0; j < n; ++j) {
      out.put(at + j0 - 1 + static_cast<std::int64_t>(j), lat[j], lon[j]);
    }
  }
}

}  // namespace

bool densify_count(const Layout& l, bool rings, Spacing spacing, std::int64_t max_points,
                   std::int64_t* part_offsets) noexcept {
  // Each part's count goes to its end slot first; a sum then makes offsets.
  std::int64_t* count = part_offsets + 1;
  pool::parallel_for(
      l.parts.size,
      [&](std::size_t p0, std::size_t p1) {
        for (std::size_t p = p0; p < p1; ++p) count[p] = 0;
        each_edge(
            l, rings, p0, p1, false,
            [&](const Batch& b, std::size_t i) {
              const std::size_t p = b.part[i];
              const std::int64_t k = pieces(b.s12[i], spacing, max_points);
              count[p] = std::min(count[p] + k, max_points + 1);
              if (b.index[i] == 0) {
                const PartEdges e = part_edges(l.coords, parts_owned(l, p), rings);
                count[p] = std::min(count[p] + tail(e), max_points + 1);
              }
            },
            [&](std::size_t p, const PartEdges& e) { count[p] = static_cast<std::int64_t>(e.m); });
      },
      pool::coarse_grain);
  part_offsets[0] = 0;
  for (std::size_t p = 0; p < l.parts.size; ++p) {
    const std::int64_t next = part_offsets[p] + count[p];
    if (count[p] > max_points || next > max_points) return false;
    part_offsets[p + 1] = next;
  }
  return true;
}

void densify_fill(const Layout& l, bool rings, Spacing spacing, const std::int64_t* part_offsets,
                  double* lat, double* lon, std::ptrdiff_t stride) noexcept {
  const Out out{lat, lon, stride};
  pool::parallel_for(
      l.parts.size,
      [&](std::size_t p0, std::size_t p1) {
        std::int64_t at = 0;  // the next position of the part being written
        each_edge(
            l, rings, p0, p1, true,
            [&](const Batch& b, std::size_t i) {
              const std::size_t p = b.part[i];
              const std::int64_t end = part_offsets[p + 1];
              if (b.index[i] == 0) at = part_offsets[p];
              // Writes stop at the part's end even if the input changed
              // since it was counted (another thread, without the lock).
              if (at >= end) return;
              out.put(at++, b.lat1[i], b.lon1[i]);
              const std::int64_t k = pieces(b.s12[i], spacing, end);
              const std::int64_t inner = std::min(k - 1, end - at);
              inner_points(b.lat1[i], b.lon1[i], b.azi1[i], b.s12[i], k, inner, out, at);
              at += inner;
              // One slot left after an edge: the part's last vertex, after
              // its last edge (any earlier edge leaves more than one).
              if (at + 1 == end) out.put(at++, b.lat2[i], b.lon2[i]);
            },
            [&](std::size_t p, const PartEdges& e) {
              if (e.m == 1 && part_offsets[p] < part_offsets[p + 1]) {
                const Point v = vertex(l.coords, e.first);
                out.put(part_offsets[p], v.lat, v.lon);
              }
            });
      },
      pool::coarse_grain);
}

}  // namespace tarnu::geometry
