"""tarnu.geometry against pyproj and the vectorised workaround: the figures
its targets read (targets.py), measured in child processes with the pool's
size fixed (one thread unless said).

`figures(settings)` runs `python bench/geometry.py THREADS N` once per pool
size and returns {key: value}: µs per polygon or line, ns per point, peak
extra memory over the outputs plus one copy of the coordinates. Each child
times its contenders in turns, best of the repeats, so that load from other
work falls on all alike; pyproj's loops run on a sample and count per item.
"""

from __future__ import annotations

import json
import os
import subprocess
import sys
import time
import tracemalloc
from pathlib import Path

import numpy as np

VERTICES = 8            # per polygon (closed: 9 coordinates) and per line
EDGE_KM = (5.0, 100.0)  # edges under 100 km
SAMPLE = 20_000         # geometries pyproj's per-geometry loops time
REPEATS = 3


def polygons(n: int, seed: int = 0) -> tuple[np.ndarray, np.ndarray, np.ndarray]:
    """n star-shaped polygons of VERTICES vertices, closed rings, edges under
    100 km: (lat, lon) of shape (n, VERTICES + 1), and radii."""
    rng = np.random.default_rng(seed)
    clat, clon = rng.uniform(-70, 70, n), rng.uniform(-180, 180, n)
    angle = np.sort(rng.uniform(0, 2 * np.pi, (n, VERTICES)), axis=1)
    radius = rng.uniform(EDGE_KM[0], EDGE_KM[1] / 2.5, (n, VERTICES)) / 111.0  # degrees
    lat = clat[:, None] + radius * np.sin(angle)
    lon = clon[:, None] + radius * np.cos(angle) / np.cos(np.radians(clat[:, None]))
    return np.hstack([lat, lat[:, :1]]), np.hstack([lon, lon[:, :1]])


def best(runs: dict[str, object], repeats: int = REPEATS) -> dict[str, float]:
    """Best wall time of each callable, run in turns."""
    times = {k: float("inf") for k in runs}
    for _ in range(repeats):
        for key, run in runs.items():
            t = time.perf_counter()
            run()  # type: ignore[operator]
            times[key] = min(times[key], time.perf_counter() - t)
    return times


def peak_extra(call) -> int:
    tracemalloc.start()
    try:
        result = call()
        peak = tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()
    del result
    return peak


def child(n: int) -> dict[str, float]:
    import shapely
    import geopandas
    from pyproj import Geod

    from tarnu import geometry

    geod = Geod(ellps="WGS84")
    lat, lon = polygons(n)
    flat_lat, flat_lon = lat.ravel(), lon.ravel()
    rings = np.arange(0, lat.size + 1, VERTICES + 1)
    single = np.arange(n + 1)
    coords = np.stack([lon, lat], axis=-1)
    shapes = shapely.polygons(coords)
    series = geopandas.GeoSeries(shapes, crs=4326)
    lines = shapely.linestrings(coords[:, :VERTICES])
    line_rings = np.arange(0, n * VERTICES + 1, VERTICES)
    line_lat, line_lon = lat[:, :VERTICES].ravel(), lon[:, :VERTICES].ravel()
    sample = range(min(n, SAMPLE))
    k = len(sample)

    def workaround():  # pyproj's best over whole arrays: one inv on every edge
        c, index = shapely.get_coordinates(lines, return_index=True)
        same = index[1:] == index[:-1]
        d = geod.inv(c[:-1, 0][same], c[:-1, 1][same], c[1:, 0][same], c[1:, 1][same])[2]
        return np.bincount(index[1:][same], weights=d, minlength=len(lines))

    t = best({
        "flat": lambda: geometry.area_perimeter(flat_lat, flat_lon, (rings, single)),
        "geoseries": lambda: geometry.area_perimeter(series),
        "length_shapely": lambda: geometry.length(lines),
        "length_flat": lambda: geometry.length(line_lat, line_lon, (line_rings,)),
        "workaround": workaround,
    })
    peers = best({
        "pyproj_polygon": lambda: [geod.polygon_area_perimeter(lon[i], lat[i]) for i in sample],
        "pyproj_geometry": lambda: [geod.geometry_area_perimeter(shapes[i]) for i in sample],
        "pyproj_length": lambda: [geod.geometry_length(lines[i]) for i in sample],
    }, repeats=2)

    # Densify: routes of edges up to 100 km, a point every 250 m.
    routes = min(n, 20_000) // 10
    d_lat, d_lon = lat[:routes].ravel(), lon[:routes].ravel()
    d_offsets = (np.arange(0, d_lat.size + 1, VERTICES + 1),)
    out = geometry.densify(d_lat, d_lon, d_offsets, "LineString", max_segment_m=250.0)
    made = len(out[0]) - d_lat.size
    edges = [(d_lon[i], d_lat[i], d_lon[i + 1], d_lat[i + 1]) for i in range(d_lat.size - 1)
             if (i + 1) % (VERTICES + 1)][:2000]
    intermediate = [0]

    def pyproj_intermediate():
        intermediate[0] = sum(geod.inv_intermediate(*e, del_s=250.0, initial_idx=0,
                                                    terminus_idx=0).npts for e in edges)
    dt = best({
        "densify": lambda: geometry.densify(d_lat, d_lon, d_offsets, "LineString",
                                            max_segment_m=250.0),
        "pyproj_intermediate": pyproj_intermediate,
    }, repeats=2)

    outputs = 2 * 8 * n
    coordinates = 2 * 8 * lat.size
    return {
        "area_flat_us": t["flat"] / n * 1e6,
        "area_geoseries_us": t["geoseries"] / n * 1e6,
        "pyproj_polygon_us": peers["pyproj_polygon"] / k * 1e6,
        "pyproj_geometry_us": peers["pyproj_geometry"] / k * 1e6,
        "length_shapely_us": t["length_shapely"] / n * 1e6,
        "length_flat_us": t["length_flat"] / n * 1e6,
        "pyproj_length_us": peers["pyproj_length"] / k * 1e6,
        "workaround_us": t["workaround"] / n * 1e6,
        "densify_ns": dt["densify"] / made * 1e9,
        "pyproj_intermediate_ns": dt["pyproj_intermediate"] / max(intermediate[0], 1) * 1e9,
        # Peak extra memory over the budget: the outputs and one copy of the
        # coordinates.
        "memory_flat": peak_extra(lambda: geometry.area_perimeter(
            flat_lat, flat_lon, (rings, single))) / (outputs + coordinates),
        "memory_geoseries": peak_extra(lambda: geometry.area_perimeter(series))
        / (outputs + coordinates),
    }


def figures(n: int, say=print) -> dict[str, float]:
    """Every figure, from one child per pool size."""
    result: dict[str, float] = {}
    for threads in (1, 2):
        env = dict(os.environ, RAYON_NUM_THREADS=str(threads))
        env.pop("TARNU_SIMD", None)
        run = subprocess.run([sys.executable, str(Path(__file__)), str(n)], env=env,
                             capture_output=True, text=True, timeout=1800)
        if run.returncode != 0:
            say(f"geometry child ({threads} threads) failed: {run.stderr.strip()[-400:]}")
            continue
        for key, value in json.loads(run.stdout).items():
            result[key if threads == 1 else f"{key}@{threads}"] = value
        say(f"geometry, {threads} thread{'s' if threads > 1 else ''}")
    return result


if __name__ == "__main__":
    print(json.dumps(child(int(sys.argv[1]))))
