"""The targets: each compares rows found by id (contenders.py) in one run.

Adding a target is one entry in TARGETS. Array figures are read at the run's
target_n ("{n}" in a label). A target that reads a row left out on this machine
(its module or CPU feature is missing) is left out too; one whose row failed
reads "not available".
"""

from __future__ import annotations

from dataclasses import dataclass

from results import Results

# One call at a time
GC_CALL = "call.great_circle_distance/tarnu.distance.great_circle_distance"
HYPOT = "call.great_circle_distance/math.hypot"
GD_CALL = "call.geodesic_distance/tarnu.distance.geodesic_distance"
PYPROJ_INV_CALL = "call.geodesic_distance/pyproj.Geod.inv"
GLIB_INV_CALL = "call.geodesic_distance/geographiclib.Inverse"
GDEST_CALL = "call.geodesic_destination/tarnu.distance.geodesic_destination"
PYPROJ_FWD_CALL = "call.geodesic_destination/pyproj.Geod.fwd"
KM_TO_MI = "call.km_to_mi/tarnu.units.km_to_mi"
RADIANS = "call.km_to_mi/math.radians"
# Whole arrays ("@1": the one-thread child run, and so on)
GC_BATCH = "array.great_circle_distance/tarnu.distance.great_circle_distance_batch"
GEO_BATCH = "array.geodesic_distance/tarnu.distance.geodesic_distance_batch"
NUMPY = "array.great_circle_distance/numpy.haversine"
PYPROJ_INV = "array.geodesic_distance/pyproj.Geod.inv"
PYPROJ_INV_AZ = "array.geodesic_inverse/pyproj.Geod.inv"
PYPROJ_FWD = "array.geodesic_direct/pyproj.Geod.fwd"
UF_GC = "array.great_circle_distance/tarnu.ufunc.great_circle_distance"
UF_GD = "array.geodesic_distance/tarnu.ufunc.geodesic_distance"
UF_INV = "array.geodesic_inverse/tarnu.ufunc.geodesic_inverse"
UF_DEST = "array.geodesic_direct/tarnu.ufunc.geodesic_destination"
UF_DIRECT = "array.geodesic_direct/tarnu.ufunc.geodesic_direct"
NK_HAVERSINE = "array.great_circle_distance/numkong.haversine"
NK_VINCENTY = "array.geodesic_distance/numkong.vincenty"
# `tarnu batch` on a CSV file, by engine (files.py)
BATCH_CSV = "file.batch/csv"
BATCH_ARROW = "file.batch/arrow"


@dataclass(frozen=True)
class Measure:
    how: str                    # a key of UNITS
    rows: tuple[str, ...]


UNITS = {"faster": "× faster", "time": "× the time", "ns": " ns", "us": " µs",
         "memory": "× the output", "memory_mb": " MB",
         "geo_faster": "× faster", "geo_us": " µs", "geo_ns": " ns", "geo_memory": "× the budget"}


def faster(slow: str, fast: str) -> Measure:
    """How many times faster `fast` is than `slow` (a ratio of best times)."""
    return Measure("faster", (slow, fast))


def time_ratio(row: str, base: str) -> Measure:
    """`row`'s best time over `base`'s."""
    return Measure("time", (row, base))


def ns_per_element(row: str) -> Measure:
    return Measure("ns", (row,))


def small_call_us(row: str) -> Measure:
    """µs per call on small_n elements."""
    return Measure("us", (row,))


def memory_ratio(row: str) -> Measure:
    """Peak extra memory of one call over the size of what it returns."""
    return Measure("memory", (row,))


def memory_mb(row: str) -> Measure:
    return Measure("memory_mb", (row,))


def geometry_faster(slow: str, fast: str) -> Measure:
    """Ratio of two of geometry.py's per-item figures (keys of Results.geometry)."""
    return Measure("geo_faster", (slow, fast))


def geometry_figure(key: str, how: str) -> Measure:
    return Measure(how, (key,))


@dataclass(frozen=True)
class Target:
    label: str
    measure: Measure
    op: str                     # "≤" or "≥"
    limit: float


TARGETS = (
    Target("`great_circle_distance` call ≤ 1.6× `math.hypot(a, b, c, d)`",
           time_ratio(GC_CALL, HYPOT), "≤", 1.6),
    Target("`geodesic_distance` call ≥ 3× faster than pyproj scalar `Geod.inv`",
           faster(PYPROJ_INV_CALL, GD_CALL), "≥", 3),
    Target("`geodesic_distance` call ≥ 50× faster than geographiclib `Inverse`",
           faster(GLIB_INV_CALL, GD_CALL), "≥", 50),
    Target("`geodesic_destination` call ≥ 5× faster than pyproj scalar `Geod.fwd`",
           faster(PYPROJ_FWD_CALL, GDEST_CALL), "≥", 5),
    Target("`units.km_to_mi` call ≤ 1.2× `math.radians(x)`", time_ratio(KM_TO_MI, RADIANS), "≤", 1.2),
    Target("`great_circle_distance_batch` ≥ 6× faster than NumPy haversine at {n}",
           faster(NUMPY, GC_BATCH), "≥", 6),
    Target("`great_circle_distance_batch` ≥ 3× faster than NumPy haversine at {n}, 1 thread",
           faster(NUMPY, GC_BATCH + "@1"), "≥", 3),
    Target("`geodesic_distance_batch` ≥ 1.8× faster than pyproj `Geod.inv` on arrays at {n}",
           faster(PYPROJ_INV, GEO_BATCH), "≥", 1.8),
    Target("`great_circle_distance_batch` 1 → 2 threads ≥ 1.8× at {n}",
           faster(GC_BATCH + "@1", GC_BATCH + "@2"), "≥", 1.8),
    Target("`geodesic_distance_batch` 1 → 2 threads ≥ 1.8× at {n}",
           faster(GEO_BATCH + "@1", GEO_BATCH + "@2"), "≥", 1.8),
    Target("`great_circle_distance_batch` at n = 10 ≤ 3 µs per call", small_call_us(GC_BATCH), "≤", 3),
    Target("`great_circle_distance_batch` peak extra memory at {n} ≤ 1.25× its output",
           memory_ratio(GC_BATCH), "≤", 1.25),
    Target("`geodesic_distance_batch` peak extra memory at {n} ≤ 1.25× its output",
           memory_ratio(GEO_BATCH), "≤", 1.25),
    # tarnu.ufunc
    Target("`ufunc.great_circle_distance` at {n} within 1.1× of `great_circle_distance_batch`",
           time_ratio(UF_GC, GC_BATCH), "≤", 1.1),
    # Read at one thread: a pool of two on a busy machine times the other load.
    Target("`ufunc.great_circle_distance`, one point against {n}, ≤ 0.8× the time of {n} pairs, "
           "1 thread",
           time_ratio(UF_GC + "[one_to_many]@1", UF_GC + "@1"), "≤", 0.8),
    Target("`ufunc.geodesic_distance`, one point against {n}, ≤ 0.7× the time of {n} pairs, "
           "1 thread",
           time_ratio(UF_GD + "[one_to_many]@1", UF_GD + "@1"), "≤", 0.7),
    Target("`ufunc.great_circle_distance`, 1 thread, ≤ 1.4× NumKong `haversine`'s time at {n}",
           time_ratio(UF_GC + "@1", NK_HAVERSINE), "≤", 1.4),
    Target("`ufunc.geodesic_inverse` ≥ 1.8× faster than pyproj `Geod.inv` on arrays at {n}",
           faster(PYPROJ_INV_AZ, UF_INV), "≥", 1.8),
    Target("`ufunc.geodesic_destination` ≥ 1.8× faster than pyproj `Geod.fwd` on arrays at {n}",
           faster(PYPROJ_FWD, UF_DEST), "≥", 1.8),
    Target("`ufunc.great_circle_distance` 1 → 2 threads ≥ 1.8× at {n}",
           faster(UF_GC + "@1", UF_GC + "@2"), "≥", 1.8),
    Target("`ufunc.geodesic_distance` 1 → 2 threads ≥ 1.8× at {n}",
           faster(UF_GD + "@1", UF_GD + "@2"), "≥", 1.8),
    Target("`ufunc.great_circle_distance` at n = 10 ≤ 3 µs per call", small_call_us(UF_GC), "≤", 3),
    Target("`ufunc.great_circle_distance` peak extra memory at {n} ≤ 1.25× its output",
           memory_ratio(UF_GC), "≤", 1.25),
    Target("`ufunc.geodesic_inverse` peak extra memory at {n} ≤ 1.25× its four outputs",
           memory_ratio(UF_INV), "≤", 1.25),
    Target("`ufunc.great_circle_distance` with `out=` at {n}: peak extra memory under 1 MB",
           memory_mb(UF_GC + "[out]"), "≤", 1.0),
    # the manylinux wheel's build against the source build of this machine
    Target("`ufunc.great_circle_distance` from the x86-64 wheel, 1 thread, ≤ 1.05× the time of the "
           "source build at {n}",
           time_ratio(UF_GC + "@wheel-1", UF_GC + "@1"), "≤", 1.05),
    Target("`ufunc.geodesic_distance` from the x86-64 wheel, 1 thread, ≤ 1.05× the time of the "
           "source build at {n}",
           time_ratio(UF_GD + "@wheel-1", UF_GD + "@1"), "≤", 1.05),
    # the vectorised WGS84 solver behind the ellipsoid ufuncs
    Target("`ufunc.geodesic_distance`, AVX-512, 1 thread, ≤ 80 ns per pair at {n}",
           ns_per_element(UF_GD + "@avx512-1"), "≤", 80),
    Target("`ufunc.geodesic_distance`, AVX-512, 1 thread, level with NumKong `vincenty` (≤ 1× its "
           "time) at {n}",
           time_ratio(UF_GD + "@avx512-1", NK_VINCENTY), "≤", 1.0),
    Target("`ufunc.geodesic_distance`, AVX-512, 1 thread, ≥ 4.5× GeographicLib (batch, 1 thread) at {n}",
           faster(GEO_BATCH + "@1", UF_GD + "@avx512-1"), "≥", 4.5),
    Target("`ufunc.geodesic_inverse` (azimuths), AVX-512, 1 thread, ≤ 230 ns per pair at {n}",
           ns_per_element(UF_INV + "@avx512-1"), "≤", 230),
    Target("`ufunc.geodesic_distance`, AVX2 forced, 1 thread, ≥ 2.5× GeographicLib (batch, 1 thread) "
           "at {n}",
           faster(GEO_BATCH + "@1", UF_GD + "@avx2-1"), "≥", 2.5),
    Target("`ufunc.geodesic_destination` (the direct problem: lat2, lon2), AVX-512, 1 thread, "
           "≤ 60 ns per pair at {n}",
           ns_per_element(UF_DEST + "@avx512-1"), "≤", 60),
    Target("`ufunc.geodesic_direct` (all eight outputs), AVX-512, 1 thread, ≤ 60 ns per pair at {n}",
           ns_per_element(UF_DIRECT + "@avx512-1"), "≤", 60),
    Target("`ufunc.geodesic_distance` ≥ 8× faster than pyproj `Geod.inv` on arrays at {n}",
           faster(PYPROJ_INV, UF_GD), "≥", 8),
    Target("`ufunc.geodesic_direct` ≥ 8× faster than pyproj `Geod.fwd` on arrays at {n}",
           faster(PYPROJ_FWD, UF_DIRECT), "≥", 8),
    Target("`tarnu batch` on a CSV file of {rows} rows: pyarrow ≥ 4× faster than the csv module",
           faster(BATCH_CSV, BATCH_ARROW), "≥", 4),
    # tarnu.geometry (geometry.py): polygons and lines of 8 vertices, edges
    # under 100 km, one thread unless said
    Target("`geometry.area_perimeter`, {n} polygons from flat arrays, 1 thread, ≤ 1.5 µs per polygon",
           geometry_figure("area_flat_us", "geo_us"), "≤", 1.5),
    Target("`geometry.area_perimeter` from flat arrays ≥ 8× faster than pyproj "
           "`Geod.polygon_area_perimeter` per polygon, 1 thread",
           geometry_faster("pyproj_polygon_us", "area_flat_us"), "≥", 8),
    Target("`geometry.area_perimeter` of a GeoSeries (adapter included) ≥ 20× faster than "
           "`Geod.geometry_area_perimeter` per geometry, 1 thread",
           geometry_faster("pyproj_geometry_us", "area_geoseries_us"), "≥", 20),
    Target("`geometry.length`, {n} shapely lines, ≥ 20× faster than `Geod.geometry_length` per "
           "geometry, 1 thread",
           geometry_faster("pyproj_length_us", "length_shapely_us"), "≥", 20),
    Target("`geometry.length`, {n} shapely lines, ≥ 4× faster than `shapely.get_coordinates` + "
           "`Geod.inv` + `np.bincount`, 1 thread",
           geometry_faster("workaround_us", "length_shapely_us"), "≥", 4),
    Target("`geometry.densify`, 1 thread, ≤ 30 ns per generated point",
           geometry_figure("densify_ns", "geo_ns"), "≤", 30),
    Target("`geometry.densify` ≥ 7× faster than `Geod.inv_intermediate` in a loop, per point, "
           "1 thread",
           geometry_faster("pyproj_intermediate_ns", "densify_ns"), "≥", 7),
    Target("`geometry.area_perimeter` from flat arrays, 1 → 2 threads ≥ 1.8× at {n}",
           geometry_faster("area_flat_us", "area_flat_us@2"), "≥", 1.8),
    Target("`geometry.area_perimeter` of a GeoSeries: peak extra memory ≤ its outputs and one "
           "copy of the coordinates",
           geometry_figure("memory_geoseries", "geo_memory"), "≤", 1.0),
    Target("`geometry.area_perimeter` from flat arrays: peak extra memory ≤ its outputs and one "
           "copy of the coordinates",
           geometry_figure("memory_flat", "geo_memory"), "≤", 1.0),
)


def power_of_ten(n: int) -> str:
    k = len(str(n)) - 1
    return f"10^{k}" if n == 10 ** k else f"{n:,}"


def best(results: Results, row: str, n: int) -> float | None:
    if row.startswith("file."):
        return results.best_file(row)
    return results.best_call(row) if row.startswith("call.") else results.best_array(row, n)


def value(results: Results, m: Measure, n: int) -> float | None:
    if m.how.startswith("geo_"):
        figures = [results.geometry.get(key) for key in m.rows]
        if any(f is None or f <= 0 for f in figures):
            return None
        return figures[0] / figures[1] if m.how == "geo_faster" else figures[0]
    if m.how in ("faster", "time"):
        a, b = (best(results, row, n) for row in m.rows)
        if a is None or b is None:
            return None
        return a / b
    (row,) = m.rows
    if m.how == "ns":
        return results.best_array(row, n)
    if m.how == "us":
        return results.best_small(row)
    mem = results.memory.get(row)
    if not mem:
        return None
    extra = max(mem["rss"], mem["traced"])
    if m.how == "memory_mb":
        return extra / 1e6
    return extra / mem["out"] if mem["out"] else None


def evaluate(results: Results, n: int) -> list[tuple[str, str, bool | None]]:
    """(label, measured, met) for every target whose rows are on this machine."""
    out = []
    for t in TARGETS:
        if any(row in results.absent for row in t.measure.rows):
            continue
        v = value(results, t.measure, n)
        met = None if v is None else (v <= t.limit if t.op == "≤" else v >= t.limit)
        shown = "not available" if v is None else f"{v:,.2f}{UNITS[t.measure.how]}"
        out.append((t.label.format(n=power_of_ten(n), rows=f"{results.file_rows:,}"), shown, met))
    return out


def rows_read() -> set[str]:
    return {row for t in TARGETS if not t.measure.how.startswith("geo_") for row in t.measure.rows}
