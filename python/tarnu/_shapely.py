"""shapely 2 geometry arrays as flat coordinates and offsets.

`ragged(array, kind)` gives what ``shapely.to_ragged_array`` gives (x, y
coordinates, then the offsets, innermost level first) for an array of
LineString/MultiLineString or Polygon/MultiPolygon geometries (None counts
as empty), at a fraction of its cost and memory: one copy of the
coordinates from ``get_coordinates``, counts from shapely's vectorised
getters, and ring by ring work only for the polygons that have holes. A
level that is the identity (no MultiPolygon, no polygon with holes) comes
back as None, which tarnu._geometry takes as such.
"""

from __future__ import annotations

from typing import Any

import numpy as np


def _offsets(counts: np.ndarray) -> np.ndarray:
    out = np.zeros(len(counts) + 1, dtype=np.int64)
    np.cumsum(counts, out=out[1:])
    return out


def _rings(shapely: Any, polygons: np.ndarray) -> tuple[np.ndarray, np.ndarray | None]:
    """Ring offsets into the coordinates, and polygon offsets into the rings
    (None when every polygon has one ring), for an array of polygons."""
    holes = shapely.get_num_interior_rings(polygons)
    total = shapely.get_num_coordinates(polygons)
    holed = np.flatnonzero(holes > 0)
    if len(holed) == 0:
        return _offsets(total), None
    rings_per = np.where(total > 0, holes + 1, 0)
    polygon_offsets = _offsets(rings_per)
    counts = np.zeros(polygon_offsets[-1], dtype=np.int64)
    simple = np.flatnonzero((holes == 0) & (total > 0))
    counts[polygon_offsets[simple]] = total[simple]
    rings, owner = shapely.get_rings(polygons[holed], return_index=True)
    first = polygon_offsets[holed][owner]
    rank = np.arange(len(owner)) - _offsets(np.bincount(owner, minlength=len(holed)))[owner]
    counts[first + rank] = shapely.get_num_coordinates(rings)
    return _offsets(counts), polygon_offsets


def ragged(shapely: Any, array: np.ndarray, kind: str) -> tuple[np.ndarray, tuple[Any, ...]]:
    """(coordinates (n, 2): x, y; offsets) for `kind`, the widest type in the
    array: "LineString", "MultiLineString", "Polygon" or "MultiPolygon"."""
    coordinates = shapely.get_coordinates(array)
    if kind == "LineString":
        return coordinates, (_offsets(shapely.get_num_coordinates(array)),)
    if kind == "Polygon":
        return coordinates, _rings(shapely, array)
    parts, owner = shapely.get_parts(array, return_index=True)
    geometry_offsets = _offsets(np.bincount(owner, minlength=len(array)))
    if kind == "MultiLineString":
        return coordinates, (_offsets(shapely.get_num_coordinates(parts)), geometry_offsets)
    ring_offsets, polygon_offsets = _rings(shapely, parts)
    if polygon_offsets is None:
        polygon_offsets = np.arange(len(parts) + 1, dtype=np.int64)
    return coordinates, (ring_offsets, polygon_offsets, geometry_offsets)
