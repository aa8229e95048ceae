// Lines and polygons on the WGS84 ellipsoid, over whole arrays of them:
// length, perimeter, area and densification.
//
// The layout is GeoArrow's (and shapely.to_ragged_array's): one array of
// coordinates, and offset arrays that cut it into parts, the parts into
// polygons and the polygons into geometries. Level k's offsets o have
// size + 1 entries, and item i of that level owns entries [o[i], o[i + 1])
// of the level below; offsets need not start at 0 (a slice of a larger
// array). A level whose offsets are absent (nullptr) is the identity: item
// i owns entry i below, so a LineString layout is parts alone and a
// Polygon layout has no geometries level.
//
// Lines: parts are linestrings, and a geometry is the sum of its parts.
// Polygons: parts are rings, the first ring of a polygon its exterior and
// the others its holes, and a geometry is the sum of its polygons. A ring
// may repeat its first vertex at its end or not: the edge back to the first
// vertex is implied when it does not.
//
// Angles are degrees, lengths metres, areas square metres. Every edge is
// the shortest geodesic between its ends (solved by tarnu/geodesic_n.hpp:
// within 20 nm of GeographicLib for distances), summed as GeographicLib's
// PolygonArea sums them, exactly enough that no digit of a total is lost to
// the order of the terms. NaN in a coordinate makes that geometry's result
// NaN; an empty geometry, part or ring gives 0. Nothing here validates
// except check(); the other functions want a layout it accepted, and read
// nothing outside the arrays whatever the offsets say. No function allocates, throws or
// fails; large inputs run on the worker pool (tarnu/pool.hpp).
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarnu::geometry {

// Point i is (lat[i * stride], lon[i * stride]), i < size: separate arrays
// have stride 1, interleaved x, y (or x, y, z...) pairs share one array.
struct Coordinates {
  const double* lat = nullptr;
  const double* lon = nullptr;
  std::ptrdiff_t stride = 1;  // in doubles, at least 1
  std::size_t size = 0;
};

struct Offsets {
  const std::int64_t* data = nullptr;  // size + 1 entries, or nullptr: the identity
  std::size_t size = 0;                // items at this level
};

struct Layout {
  Coordinates coords;
  Offsets parts;       // into coords: linestrings or rings
  Offsets polygons;    // into parts; unused for lines
  Offsets geometries;  // into polygons, or into parts for lines
};

// Which level of a layout a fault is in, and where.
enum class Level { parts, polygons, geometries };
enum class Fault { none, negative, decreasing, past_end, wrong_size };

struct Check {
  Fault fault = Fault::none;
  Level level = Level::parts;
  std::size_t index = 0;  // the offending entry of that level's offsets
};

// The first fault in a layout, levels from the coordinates up: an offset
// below 0 (negative), below the one before it (decreasing), beyond the
// level below (past_end), or an identity level whose size differs from the
// level below (wrong_size, index 0). `lines` ignores the polygons level.
Check check(const Layout& layout, bool lines) noexcept;

// The first point the parts own whose latitude lies beyond +-90 (a NaN
// does not), or coords.size when there is none: longitude and latitude
// swapped, most likely. For a layout check() accepted.
std::size_t first_bad_latitude(const Layout& layout) noexcept;

// The length of each geometry of a line layout, into out[geometries.size].
void length(const Layout& lines, double* out) noexcept;

// How a polygon's rings make its area.
enum class Rule {
  // Each ring bounds the smaller of the two regions it splits the Earth
  // into, whichever way it runs; area = exterior - holes, >= 0 when the
  // holes lie inside. A polygon over half the Earth needs `oriented`.
  unoriented,
  // Counter-clockwise positive: each ring adds the smaller region it
  // bounds, counted positive when the ring runs counter-clockwise around it
  // (seen from above), negative when clockwise; a polygon is the sum of its
  // rings, as GeographicLib's PolygonArea with sign = true and pyproj's
  // geometry_area_perimeter give. |area| stays below half the Earth.
  signed_ccw,
  // Orientation is meaning, as in GeoJSON: an exterior ring runs
  // counter-clockwise around the polygon (its region is on the ring's
  // left), a hole clockwise (its region on the ring's right); area =
  // exterior - holes, each in [0, area of the Earth). Polygons of any size;
  // an exterior that runs clockwise describes the rest of the Earth.
  oriented,
};

// Area and perimeter of each geometry of a polygon layout, into
// area[geometries.size] and perimeter[geometries.size]; either may be
// nullptr. The perimeter counts every ring, holes included.
void area_perimeter(const Layout& polygons, Rule rule, double* area,
                    double* perimeter) noexcept;

// How densify cuts an edge: into `pieces` equal parts when pieces > 0,
// else into the fewest equal parts none longer than max_segment metres.
struct Spacing {
  double max_segment = 0;  // metres, > 0 and finite when pieces is 0
  std::int64_t pieces = 0;
};

// Densification keeps every vertex and inserts, on each edge of k pieces,
// the k - 1 points j * s12 / k metres along its geodesic (j = 1 .. k - 1),
// each point's longitude within 180 degrees of the edge's first vertex
// (continuous along the edge, so it may pass +-180). A ring's implied
// closing edge is densified too (`rings`); a linestring has none. With
// max_segment, an edge of length 0 or NaN is one piece; with `pieces`,
// every edge gets pieces - 1 points (NaN where its ends are).
//
// densify_count: the new parts' offsets into part_offsets[parts.size + 1],
// starting at 0 (the polygons and geometries levels are unchanged). Returns
// false when the total would pass max_points, leaving part_offsets
// unspecified.
bool densify_count(const Layout& layout, bool rings, Spacing spacing, std::int64_t max_points,
                   std::int64_t* part_offsets) noexcept;

// densify_fill: the new coordinates, point i at (lat[i * stride],
// lon[i * stride]), for offsets densify_count wrote.
void densify_fill(const Layout& layout, bool rings, Spacing spacing,
                  const std::int64_t* part_offsets, double* lat, double* lon,
                  std::ptrdiff_t stride) noexcept;

}  // namespace tarnu::geometry
