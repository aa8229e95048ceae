"""Lines and polygons on the WGS84 ellipsoid, whole arrays at a time.

``length`` of linestrings, ``perimeter`` and ``area`` of polygons (both at
once: ``area_perimeter``), and ``densify``, which inserts points along each
edge's geodesic. Every edge is the shortest geodesic between its ends;
totals are summed as GeographicLib's PolygonArea sums them, so areas agree
with it to within 0.1 m^2 (or 1e-12 of the area) and lengths to 20 nm an
edge. The work runs without the interpreter lock, on tarnu's worker pool.

Each function takes geometries in one of these forms:

- a shapely 2 array (or list, or one geometry), or a GeoPandas GeoSeries
  or GeoDataFrame (needs shapely; GeoPandas results keep the index);
- any object with the Arrow PyCapsule interface (``__arrow_c_array__``)
  holding a GeoArrow native array, interleaved or separated, such as
  ``GeoSeries.to_arrow(geometry_encoding="geoarrow")``; read in place;
- flat arrays: ``f(lat, lon, offsets)``, the coordinates and a tuple of
  offset arrays, innermost level first, as ``shapely.to_ragged_array``
  returns them: (geometry,) for LineString, (part, geometry) for
  MultiLineString, (ring, geometry) for Polygon, (ring, polygon, geometry)
  for MultiPolygon.

**Axis order: the flat form takes latitude first (lat, lon), as all of
tarnu does; shapely, GeoPandas and GeoArrow put x = longitude first, and
the adapters read them that way.** A latitude beyond +-90 raises
ValueError: the usual sign that the two were swapped. A GeoSeries must be
in geographic coordinates (its CRS, when set, is checked).

Orientation rules for areas (``signed`` and ``oriented``):

- default: a ring's direction does not matter. Each ring bounds the
  smaller of the two regions it splits the Earth into, and a polygon's
  area is its exterior's less its holes'. A polygon larger than half the
  Earth needs ``oriented=True``.
- ``signed=True``: counter-clockwise positive. A ring counts positive when
  it runs counter-clockwise around the smaller region it bounds (seen from
  above), negative when clockwise, and a polygon is the sum of its rings;
  pyproj's ``Geod.geometry_area_perimeter`` and GeographicLib's
  PolygonArea (sign = true) give the same.
- ``oriented=True``: direction is meaning, as GeoJSON (RFC 7946) says. The
  exterior runs counter-clockwise around the polygon (the region on its
  left), holes clockwise; areas reach up to the whole Earth, so polygons
  around a pole or larger than a hemisphere come out right, and an exterior
  that runs clockwise means the rest of the Earth.

Rings may repeat their first vertex at the end or not. Bad input: an empty
geometry gives 0, a missing one (None, an Arrow null) NaN, NaN in a
coordinate NaN for that geometry alone; offsets that are negative, decrease
or point past the level below raise ValueError naming the array and index
before any work; a geometry type an operation does not take raises
TypeError naming it; z and m values are ignored.

>>> import numpy as np
>>> from tarnu import geometry
>>> lat = np.array([0.0, 0.0, 1.0, 1.0])
>>> lon = np.array([0.0, 1.0, 1.0, 0.0])
>>> square = (np.array([0, 4]), np.array([0, 1]))     # one ring, one polygon
>>> geometry.area(lat, lon, square).round(-6)
array([1.2309e+10])
"""

from __future__ import annotations

from typing import Any, NamedTuple

import numpy as np

from tarnu import _geometry, _geoarrow, _shapely

__all__ = ["length", "perimeter", "area", "area_perimeter", "densify"]

# Offset levels of each geometry type, and what each operation takes.
_LEVELS = {"LineString": 1, "MultiLineString": 2, "Polygon": 2, "MultiPolygon": 3}
_LINES = ("LineString", "MultiLineString")
_POLYGONS = ("Polygon", "MultiPolygon")
_SHAPELY_KINDS = {1: "LineString", 5: "MultiLineString", 3: "Polygon", 6: "MultiPolygon"}
_SHAPELY_NAMES = {0: "Point", 2: "LinearRing", 4: "MultiPoint", 7: "GeometryCollection"}


class _Input(NamedTuple):
    kind: str
    lat: np.ndarray
    lon: np.ndarray
    offsets: tuple[np.ndarray | None, ...]
    xy: bool                    # came as x = longitude, y = latitude
    missing: np.ndarray | None  # geometries that are None or null: NaN
    source: Any                 # what the results go back into
    form: str                   # "flat", "shapely", "geopandas" or "arrow"


def length(geoms: Any, lon: Any = None, offsets: Any = None) -> Any:
    """The geodesic length in metres of each LineString or MultiLineString.

    **Flat arrays are latitude first: length(lat, lon, offsets); shapely,
    GeoPandas and GeoArrow input is x = longitude, y = latitude.** Returns
    a float64 array, a pandas Series for a GeoSeries, a float for one
    geometry. Polygons raise TypeError: use ``perimeter``.
    """
    data = _read(geoms, lon, offsets, "length", _LINES)
    return _finish(data, _geometry.length(data.lat, data.lon, data.offsets, data.xy))


def perimeter(geoms: Any, lon: Any = None, offsets: Any = None) -> Any:
    """The geodesic perimeter in metres of each Polygon or MultiPolygon,
    holes included.

    **Flat arrays are latitude first: perimeter(lat, lon, offsets); shapely,
    GeoPandas and GeoArrow input is x = longitude, y = latitude.**
    """
    return area_perimeter(geoms, lon, offsets, _want=(False, True))[1]


def area(geoms: Any, lon: Any = None, offsets: Any = None, *, signed: bool = False,
         oriented: bool = False) -> Any:
    """The area in square metres of each Polygon or MultiPolygon on the
    WGS84 ellipsoid, holes subtracted.

    **Flat arrays are latitude first: area(lat, lon, offsets); shapely,
    GeoPandas and GeoArrow input is x = longitude, y = latitude.**
    By default a ring's direction does not matter; ``signed=True`` makes
    counter-clockwise rings positive and clockwise ones negative;
    ``oriented=True`` takes directions as GeoJSON does, for polygons of any
    size (see the module's orientation rules).
    """
    return area_perimeter(geoms, lon, offsets, signed=signed, oriented=oriented,
                          _want=(True, False))[0]


def area_perimeter(geoms: Any, lon: Any = None, offsets: Any = None, *, signed: bool = False,
                   oriented: bool = False, _want: tuple[bool, bool] = (True, True)) -> Any:
    """``(area, perimeter)`` of each Polygon or MultiPolygon in one pass: as
    ``area`` and ``perimeter``, for about the cost of either.

    **Flat arrays are latitude first; shapely, GeoPandas and GeoArrow input
    is x = longitude, y = latitude.**
    """
    if signed and oriented:
        raise ValueError("signed and oriented are two different rules: choose one")
    data = _read(geoms, lon, offsets, "area" if _want[0] else "perimeter", _POLYGONS)
    rule = 1 if signed else 2 if oriented else 0
    results = _geometry.area_perimeter(data.lat, data.lon, data.offsets, data.xy, rule, *_want)
    return tuple(None if r is None else _finish(data, r) for r in results)


def densify(geoms: Any, lon: Any = None, offsets: Any = None, geometry_type: str | None = None,
            *, max_segment_m: float | None = None, n: int | None = None) -> Any:
    """Points inserted along each edge's geodesic: no piece longer than
    ``max_segment_m`` metres, or each edge cut into ``n`` equal pieces.

    **Flat arrays are latitude first: densify(lat, lon, offsets,
    geometry_type) returns (lat, lon, offsets); shapely, GeoPandas and
    GeoArrow input is x = longitude, y = latitude, and comes back in the
    same form (GeoArrow through pyarrow).**

    Every vertex is kept. An edge of length s12 cut into k pieces gains the
    k - 1 points j * s12 / k metres along it, each within 1e-12 degrees of
    GeographicLib's GeodesicLine position: the line is solved once per edge,
    then stepped along. A new point's longitude is within 180 degrees of
    its edge's first vertex (continuous along the edge, so it may pass
    +-180). A ring's implied closing edge is densified too. Only the
    innermost offsets change; z and m values are dropped.
    """
    if (max_segment_m is None) == (n is None):
        raise TypeError("densify takes one of max_segment_m and n")
    if n is not None and (isinstance(n, bool) or int(n) != n or n < 1):
        raise ValueError(f"n must be a whole number of pieces, at least 1, not {n!r}")
    if max_segment_m is not None and not 0 < max_segment_m < float("inf"):
        raise ValueError(f"max_segment_m must be positive and finite, not {max_segment_m!r}")
    data = _read(geoms, lon, offsets, "densify", _LINES + _POLYGONS, geometry_type)
    coordinates, parts = _geometry.densify(
        data.lat, data.lon, data.offsets, data.xy, data.kind in _POLYGONS,
        float(max_segment_m or 0.0), int(n or 0))
    new_offsets = (parts, *_explicit(data.offsets[1:], len(parts) - 1))
    if data.form == "flat":
        return (*coordinates, new_offsets)
    if data.form == "arrow":
        assert isinstance(coordinates, np.ndarray)  # x, y pairs: one array
        return _geoarrow.write(data.kind, coordinates, new_offsets, data.missing,
                               data.source.field)
    import shapely  # type: ignore[import-untyped]
    out = shapely.from_ragged_array(getattr(shapely.GeometryType, data.kind.upper()),
                                    coordinates, new_offsets)
    if data.missing is not None:
        out[data.missing] = None
    if data.form == "geopandas":
        import geopandas  # type: ignore[import-untyped]
        return geopandas.GeoSeries(out, index=data.source.index, crs=data.source.crs,
                                   name=data.source.name)
    return out[0] if data.source is None else out


# --- reading each form ---------------------------------------------------------

def _read(geoms: Any, lon: Any, offsets: Any, operation: str, takes: tuple[str, ...],
          geometry_type: str | None = None) -> _Input:
    if lon is not None or offsets is not None:
        return _read_flat(geoms, lon, offsets, operation, takes, geometry_type)
    if hasattr(geoms, "__arrow_c_array__") and not _is_geopandas(geoms):
        arrow = _geoarrow.read(geoms, operation)
        _take(operation, arrow.kind, takes)
        return _Input(arrow.kind, arrow.lat, arrow.lon, arrow.offsets, True, arrow.missing,
                      arrow, "arrow")
    return _read_shapely(geoms, operation, takes)


def _read_flat(lat: Any, lon: Any, offsets: Any, operation: str, takes: tuple[str, ...],
               geometry_type: str | None) -> _Input:
    if lon is None or offsets is None:
        raise TypeError(f"{operation}(lat, lon, offsets): all three arrays, or one geometry "
                        "array alone")
    lat = np.asarray(lat, dtype=np.float64)
    lon = np.asarray(lon, dtype=np.float64)
    if lat.ndim != 1 or lat.shape != lon.shape:
        raise ValueError(f"lat and lon must be 1-D arrays of one length, not of shapes "
                         f"{lat.shape} and {lon.shape}")
    if lat.strides != lon.strides or lat.strides[0] <= 0:
        lat, lon = np.ascontiguousarray(lat), np.ascontiguousarray(lon)
    if isinstance(offsets, np.ndarray) or not isinstance(offsets, (tuple, list)):
        raise TypeError("offsets must be a tuple of offset arrays, innermost level first")
    levels = []
    for k, level in enumerate(offsets):
        level = np.asarray(level)
        if level.dtype.kind not in "iu":
            raise TypeError(f"offsets[{k}] must hold integers, not {level.dtype}")
        levels.append(np.ascontiguousarray(level, dtype=np.int64))
    if geometry_type is None:
        geometry_type = next((kind for kind in takes if _LEVELS[kind] == len(levels)
                              and not (operation == "densify" and len(levels) == 2)), None)
        if geometry_type is None:
            raise TypeError(f"{operation}: {len(levels)} offset arrays fit none of "
                            f"{', '.join(takes)}; densify needs geometry_type for 2")
    _take(operation, geometry_type, takes)
    if _LEVELS[geometry_type] != len(levels):
        raise TypeError(f"{geometry_type} has {_LEVELS[geometry_type]} offset arrays, "
                        f"not {len(levels)}")
    return _Input(geometry_type, lat, lon, tuple(levels), False, None, None, "flat")


def _read_shapely(geoms: Any, operation: str, takes: tuple[str, ...]) -> _Input:
    try:
        import shapely
    except ImportError as error:
        raise ImportError(f"tarnu.geometry.{operation} needs shapely for geometries other "
                          "than flat or Arrow arrays (pip install shapely)") from error
    form, source = "shapely", geoms
    if _is_geopandas(geoms):
        series = getattr(geoms, "geometry", geoms)
        crs = series.crs
        if crs is not None and not crs.is_geographic:
            raise ValueError(f"the GeoSeries is in projected coordinates ({crs.to_string()}): "
                             "tarnu measures longitude and latitude; use .to_crs(4326) first")
        form, source, geoms = "geopandas", series, np.asarray(series.values)
    array = np.asarray(geoms, dtype=object)
    if array.ndim == 0:
        source, array = None, array.reshape(1)
    types = shapely.get_type_id(array)
    missing = types < 0
    found = np.unique(types[~missing])
    del types  # before the coordinates are copied: peak memory
    for type_id in found:
        _take(operation, _SHAPELY_KINDS.get(int(type_id)) or
              _SHAPELY_NAMES.get(int(type_id), f"geometry type {type_id}"), takes)
    kinds = {_SHAPELY_KINDS[int(t)] for t in found}
    if not kinds:
        kind = takes[0]
        lat = lon = np.zeros(0)
        offsets = tuple(np.zeros(1, dtype=np.int64) for _ in range(_LEVELS[kind] - 1))
        offsets += (np.zeros(len(array) + 1, dtype=np.int64),)
    else:
        if kinds & set(_LINES) and kinds & set(_POLYGONS):
            raise TypeError(f"{operation}: lines and polygons in one array")
        kind = max(kinds, key=_LEVELS.__getitem__)  # the Multi type where both are
        coords, offsets = _shapely.ragged(shapely, array, kind)
        lon, lat = coords[:, 0], coords[:, 1]
    return _Input(kind, lat, lon, offsets, True, missing if missing.any() else None, source, form)


def _explicit(levels: tuple[Any, ...], below: int) -> tuple[np.ndarray, ...]:
    """Offset levels with the identity (None) written out."""
    out = []
    for level in levels:
        level = np.arange(below + 1, dtype=np.int64) if level is None else level
        out.append(level)
        below = len(level) - 1
    return tuple(out)


def _is_geopandas(obj: Any) -> bool:
    return type(obj).__module__.startswith("geopandas") and hasattr(obj, "crs")


def _take(operation: str, kind: str, takes: tuple[str, ...]) -> None:
    if kind not in takes:
        raise TypeError(f"{operation} takes {' and '.join(takes)} geometries, not {kind}")


def _finish(data: _Input, result: np.ndarray) -> Any:
    if data.missing is not None:
        result[data.missing] = np.nan
    if data.form == "geopandas":
        import pandas  # type: ignore[import-untyped]
        return pandas.Series(result, index=data.source.index, name=data.source.name, copy=False)
    if data.form == "shapely" and data.source is None:
        return float(result[0])
    return result
