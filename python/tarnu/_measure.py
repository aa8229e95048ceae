"""`tarnu measure FILE.geojson`: length, perimeter and area of every feature,
one CSV row each, through tarnu.geometry's flat form (no shapely needed)."""

from __future__ import annotations

import argparse
import csv
import json
import os
import sys
from collections.abc import Callable
from typing import Any

import numpy as np

from tarnu import geometry
from tarnu._output import open_output, stopped_by_signals

HEADER = ["index", "id", "length_m", "perimeter_m", "area_m2"]
_LINES = {"LineString": 1, "MultiLineString": 2}
_POLYGONS = {"Polygon": 2, "MultiPolygon": 3}


def add_command(command: Callable[[str, Callable[[argparse.Namespace], None], str],
                                  argparse.ArgumentParser]) -> None:
    sub = command("measure", run,
                  "Length, perimeter and area on the WGS84 ellipsoid of every feature of a "
                  "GeoJSON file: one CSV row per feature with its index, its id (empty when it "
                  "has none), length_m (lines), perimeter_m and area_m2 (polygons, holes "
                  "subtracted); a cell is empty where the feature has no such geometry. "
                  "Positions are [longitude, latitude]. Ring direction does not matter "
                  "unless --oriented.")
    sub.add_argument("input", metavar="FILE.geojson", help="the GeoJSON file ('-' for stdin)")
    sub.add_argument("-o", "--output", metavar="OUT.csv",
                     help="where to write (default stdout): a file is replaced only when every "
                          "row is good")
    sub.add_argument("--oriented", action="store_true",
                     help="rings run as RFC 7946 says (exteriors counter-clockwise): polygons "
                          "of any size, a clockwise exterior meaning the rest of the Earth")


def run(args: argparse.Namespace) -> None:
    from tarnu._batch import InputError
    path = "<stdin>" if args.input == "-" else args.input
    try:
        if args.input == "-":
            if sys.stdin is None:
                raise OSError(9, os.strerror(9))
            document = json.load(sys.stdin)
        else:
            with open(path, encoding="utf-8-sig") as source:
                document = json.load(source)
    except OSError as error:
        raise InputError(f"{path}: {error.strerror}") from None
    except UnicodeDecodeError as error:
        raise InputError(f"{path}: not UTF-8 text ({error.reason})") from None
    except json.JSONDecodeError as error:
        raise InputError(f"{path}: not JSON: {error}") from None
    try:
        features = _features(document)
        rows = _measure(features, args.oriented)
    except ValueError as error:
        raise InputError(f"{path}: {error}") from None
    with stopped_by_signals(), open_output(args.output) as sink:
        writer = csv.writer(sink, lineterminator="\n")
        writer.writerow(HEADER)
        writer.writerows(rows)


def _features(document: Any) -> list[dict[str, Any]]:
    kind = document.get("type") if isinstance(document, dict) else None
    if kind == "FeatureCollection" and isinstance(document.get("features"), list):
        features: list[dict[str, Any]] = document["features"]
        return features
    if kind == "Feature":
        return [document]
    if kind in _LINES or kind in _POLYGONS or kind in ("Point", "MultiPoint", "GeometryCollection"):
        return [{"type": "Feature", "geometry": document}]
    raise ValueError("not a GeoJSON FeatureCollection, Feature or geometry")


class _Flat:
    """Geometries of one family as flat arrays: one geometry per feature."""

    def __init__(self, levels: int) -> None:
        self.lon: list[float] = []
        self.lat: list[float] = []
        self.offsets: list[list[int]] = [[0] for _ in range(levels)]
        self.present: list[bool] = []

    def add_part(self, positions: Any, where: str) -> None:
        if not isinstance(positions, list):
            raise ValueError(f"{where}: coordinates must be lists of positions")
        for position in positions:
            if (not isinstance(position, list) or len(position) < 2
                    or not all(isinstance(v, (int, float)) for v in position[:2])):
                raise ValueError(f"{where}: a position must be [longitude, latitude]")
            self.lon.append(float(position[0]))
            self.lat.append(float(position[1]))
        self.offsets[0].append(len(self.lon))

    def close(self, level: int) -> None:
        self.offsets[level].append(len(self.offsets[level - 1]) - 1)

    def arrays(self) -> tuple[np.ndarray, np.ndarray, tuple[np.ndarray, ...]]:
        lat = np.array(self.lat, dtype=np.float64)
        bad = np.flatnonzero(np.abs(lat) > 90)
        if len(bad):
            raise ValueError(f"latitude {float(lat[bad[0]])!r} beyond +-90 degrees: GeoJSON positions "
                             "are [longitude, latitude]")
        return lat, np.array(self.lon), tuple(np.array(o) for o in self.offsets)


def _add(geom: Any, lines: _Flat, polygons: _Flat, where: str) -> tuple[bool, bool]:
    """Adds geom's lines and polygons to the current feature's geometries."""
    kind = geom.get("type") if isinstance(geom, dict) else None
    coordinates = geom.get("coordinates") if isinstance(geom, dict) else None
    if kind == "GeometryCollection":
        found = [_add(g, lines, polygons, where) for g in geom.get("geometries") or []]
        return any(f[0] for f in found), any(f[1] for f in found)
    if kind in ("Point", "MultiPoint"):
        return False, False
    if kind not in _LINES and kind not in _POLYGONS:
        raise ValueError(f"{where}: not a GeoJSON geometry: {kind!r}")
    nested = coordinates if kind in ("MultiLineString", "MultiPolygon") else [coordinates]
    if not isinstance(nested, list):
        raise ValueError(f"{where}: {kind} coordinates must be a list")
    for member in nested:
        if kind in _LINES:
            lines.add_part(member, where)
        else:
            if not isinstance(member, list):
                raise ValueError(f"{where}: polygon coordinates must be lists of rings")
            for ring in member:
                polygons.add_part(ring, where)
            polygons.close(1)
    return kind in _LINES, kind in _POLYGONS


def _measure(features: list[Any], oriented: bool) -> list[list[object]]:
    lines, polygons = _Flat(2), _Flat(3)
    has_lines, has_polygons = [], []
    for index, feature in enumerate(features):
        where = f"feature {index}"
        geom = feature.get("geometry") if isinstance(feature, dict) else None
        line, polygon = _add(geom, lines, polygons, where) if geom is not None else (False, False)
        lines.close(1)
        polygons.close(2)
        has_lines.append(line)
        has_polygons.append(polygon)
    lat, lon, offsets = lines.arrays()
    length = geometry.length(lat, lon, offsets)
    lat, lon, offsets = polygons.arrays()
    area, perimeter = geometry.area_perimeter(lat, lon, offsets, oriented=oriented)

    def cell(value: float, present: bool) -> object:
        return repr(float(value)) if present else ""

    rows: list[list[object]] = []
    for index, feature in enumerate(features):
        identifier = feature.get("id", "") if isinstance(feature, dict) else ""
        rows.append([index, "" if identifier is None else identifier,
                     cell(length[index], has_lines[index]),
                     cell(perimeter[index], has_polygons[index]),
                     cell(area[index], has_polygons[index])])
    return rows
