"""Every contender the bench times, one table entry each.

A row's identity is its id, "<task or operation key>/<contender key>" plus
"@<variant key>" for a variant that runs in a child process; targets, child
runs and results find rows by it, never by the display name. Adding a contender
is one entry in CALL_TASKS or OPERATIONS; adding a run environment is one
Variant and its key in a contender's `variants`.

`make` is called once per process and returns the function to time, or None
when the installed package lacks it (the row then reads "not available"). A
row whose `present` returns False is left out altogether: the entries for
`tarnu.ufunc` wait, without noise, for a build that has it.
"""

from __future__ import annotations

import math
from dataclasses import dataclass
from pathlib import Path
from typing import Callable, Iterator

from peers import (SPHERE_RADIUS, np_haversine, optional_module, py_destination, py_haversine,
                   py_km_to_mi)

TARNU, PEER, FLOOR = "tarnu", "peer", "floor"


# ---------------------------------------------------------------------------
# One call at a time: the plain loop over argument tuples (timing.py).

@dataclass(frozen=True)
class Call:
    key: str
    name: str
    kind: str                           # TARNU, PEER or FLOOR (a lower bound, not compared)
    make: Callable[[], Callable | None]
    shape: str = "4"                    # which argument list of the task's inputs the loop walks
    value: Callable | None = None       # raw result -> what the task's `diff` compares
    note: str = ""


@dataclass(frozen=True)
class CallTask:
    key: str
    title: str
    inputs: str                         # a key of inputs.call_args()
    diff_unit: str
    diff: Callable                      # (value, tarnu's value) -> difference in diff_unit
    contenders: tuple[Call, ...]

    def row(self, c: Call) -> str:
        return f"{self.key}/{c.key}"


def tarnu_attr(path: str) -> Callable[[], Callable | None]:
    """make() for tarnu.<path>, e.g. "distance.geodesic_distance"."""
    def make():
        import importlib
        module, _, name = path.rpartition(".")
        try:  # a submodule such as tarnu.ufunc is an attribute once imported
            return getattr(importlib.import_module(f"tarnu.{module}"), name, None)
        except ImportError:
            return None
    return make


def using(module: str, build: Callable) -> Callable[[], Callable | None]:
    """make() that imports `module` and builds the function from it, or None."""
    def make():
        m = optional_module(module)
        return build(m) if m is not None else None
    return make


def wgs84(pyproj):
    return pyproj.Geod(ellps="WGS84")


def sphere(pyproj):
    return pyproj.Geod(a=SPHERE_RADIUS, f=0.0)


def abs_diff(v, r):
    return abs(v - r)


def point_distance(p, q) -> float:
    return py_haversine(p[0], p[1], q[0], q[1])


def lonlat(r):                          # pyproj fwd -> (lat, lon)
    return r[1], r[0]


GEOPY = "geopy.distance"
GLIB = "geographiclib.geodesic"

CALL_TASKS = (
    CallTask("call.great_circle_distance", "Great-circle distance (sphere)", "two_points", "m", abs_diff, (
        Call("tarnu.distance.great_circle_distance", "tarnu distance.great_circle_distance", TARNU,
             tarnu_attr("distance.great_circle_distance")),
        Call("haversine.haversine", "haversine.haversine(p, q, unit=METERS)", PEER,
             using("haversine", lambda h: lambda p, q: h.haversine(p, q, unit=h.Unit.METERS)), "pairs"),
        Call("geopy.great_circle", "geopy great_circle(p, q).meters", PEER,
             using(GEOPY, lambda g: lambda p, q: g.great_circle(p, q).meters), "pairs",
             note="geopy's radius is 6371009 m"),
        Call("pyproj.Geod.inv[sphere]", "pyproj Geod(a=R, f=0).inv", PEER,
             using("pyproj", lambda p: sphere(p).inv), "4lonlat", value=lambda r: r[2]),
        Call("python.haversine", "pure Python haversine (math)", PEER, lambda: py_haversine),
        Call("math.hypot", "math.hypot(a, b, c, d) (floor)", FLOOR, lambda: math.hypot),
    )),
    CallTask("call.geodesic_distance", "Geodesic distance (WGS84)", "two_points", "m", abs_diff, (
        Call("tarnu.distance.geodesic_distance", "tarnu distance.geodesic_distance", TARNU,
             tarnu_attr("distance.geodesic_distance")),
        Call("pyproj.Geod.inv", "pyproj Geod(ellps=WGS84).inv", PEER,
             using("pyproj", lambda p: wgs84(p).inv), "4lonlat", value=lambda r: r[2]),
        Call("geographiclib.Inverse", "geographiclib Geodesic.WGS84.Inverse", PEER,
             using(GLIB, lambda g: g.Geodesic.WGS84.Inverse), value=lambda r: r["s12"]),
        Call("geopy.geodesic", "geopy geodesic(p, q).meters", PEER,
             using(GEOPY, lambda g: lambda p, q: g.geodesic(p, q).meters), "pairs"),
    )),
    CallTask("call.geodesic_inverse", "Geodesic inverse with azimuths (WGS84)", "two_points", "s12, m",
             abs_diff, (
        Call("tarnu.distance.geodesic_inverse", "tarnu distance.geodesic_inverse", TARNU,
             tarnu_attr("distance.geodesic_inverse"), value=lambda r: r["s12"]),
        Call("tarnu.geodesic.inverse", "tarnu geodesic.inverse", TARNU, tarnu_attr("geodesic.inverse"),
             value=lambda r: r["s12"], note="twelve quantities"),
        Call("pyproj.Geod.inv", "pyproj Geod(ellps=WGS84).inv", PEER,
             using("pyproj", lambda p: wgs84(p).inv), "4lonlat", value=lambda r: r[2]),
        Call("geographiclib.Inverse", "geographiclib Geodesic.WGS84.Inverse", PEER,
             using(GLIB, lambda g: g.Geodesic.WGS84.Inverse), value=lambda r: r["s12"]),
    )),
    CallTask("call.great_circle_destination", "Great-circle destination (sphere)", "start_and_way", "m",
             point_distance, (
        Call("tarnu.distance.great_circle_destination", "tarnu distance.great_circle_destination", TARNU,
             tarnu_attr("distance.great_circle_destination")),
        Call("geopy.great_circle.destination", "geopy great_circle(meters=s).destination(p, azi)", PEER,
             using(GEOPY, lambda g: lambda p, w: g.great_circle(meters=w[1]).destination(p, w[0])),
             "point_way", value=lambda r: (r.latitude, r.longitude), note="geopy's radius is 6371009 m"),
        Call("pyproj.Geod.fwd[sphere]", "pyproj Geod(a=R, f=0).fwd", PEER,
             using("pyproj", lambda p: sphere(p).fwd), "4lonlat", value=lonlat),
        Call("python.destination", "pure Python destination (math)", PEER, lambda: py_destination),
    )),
    CallTask("call.geodesic_destination", "Geodesic destination (WGS84)", "start_and_way", "m",
             point_distance, (
        Call("tarnu.distance.geodesic_destination", "tarnu distance.geodesic_destination", TARNU,
             tarnu_attr("distance.geodesic_destination")),
        Call("tarnu.geodesic.direct", "tarnu geodesic.direct", TARNU, tarnu_attr("geodesic.direct"),
             value=lambda r: (r["lat2"], r["lon2"]), note="dict of eight"),
        Call("pyproj.Geod.fwd", "pyproj Geod(ellps=WGS84).fwd", PEER,
             using("pyproj", lambda p: wgs84(p).fwd), "4lonlat", value=lonlat),
        Call("geographiclib.Direct", "geographiclib Geodesic.WGS84.Direct", PEER,
             using(GLIB, lambda g: g.Geodesic.WGS84.Direct), value=lambda r: (r["lat2"], r["lon2"])),
        Call("geopy.geodesic.destination", "geopy geodesic(meters=s).destination(p, azi)", PEER,
             using(GEOPY, lambda g: lambda p, w: g.geodesic(meters=w[1]).destination(p, w[0])),
             "point_way", value=lambda r: (r.latitude, r.longitude)),
    )),
    CallTask("call.km_to_mi", "Unit conversion, one argument", "km", "mi", abs_diff, (
        Call("tarnu.units.km_to_mi", "tarnu units.km_to_mi", TARNU, tarnu_attr("units.km_to_mi"), "1"),
        Call("python.km_to_mi", "pure Python km / 1.609344", PEER, lambda: py_km_to_mi, "1"),
        Call("math.radians", "math.radians(x) (floor)", FLOOR, lambda: math.radians, "1"),
    )),
)


# ---------------------------------------------------------------------------
# Whole arrays: calls on n elements at once (timing.py), in this process or in
# a child whose environment a Variant sets.

@dataclass(frozen=True)
class Variant:
    key: str                            # "" for this process
    threads: str                        # the "threads" column; "" for this process's pool
    env: tuple[tuple[str, str], ...] = ()
    cpu_flag: str = ""                  # left out on CPUs without this /proc/cpuinfo flag
    needs: str = ""                     # left out when this directory is missing


HERE = Variant("", "")
ONE_THREAD = Variant("1", "1", (("RAYON_NUM_THREADS", "1"),))
TWO_THREADS = Variant("2", "2", (("RAYON_NUM_THREADS", "2"),))
# The vectorised WGS84 solver's widths, forced, on one thread.
AVX512_ONE = Variant("avx512-1", "1, TARNU_SIMD=avx512",
                     (("RAYON_NUM_THREADS", "1"), ("TARNU_SIMD", "avx512")), cpu_flag="avx512f")
AVX2_ONE = Variant("avx2-1", "1, TARNU_SIMD=avx2",
                   (("RAYON_NUM_THREADS", "1"), ("TARNU_SIMD", "avx2")), cpu_flag="avx2")
# The x86-64 manylinux wheel for this Python (zig's clang and libc++,
# GeographicLib inside libtarnu), unpacked by `make bench` and imported ahead
# of the installed build; one thread, as the "@1" rows it is set against.
WHEEL_DIR = str(Path(__file__).resolve().parents[1] / "build" / "bench-wheel")
WHEEL_ONE = Variant("wheel-1", "1, the manylinux wheel",
                    (("RAYON_NUM_THREADS", "1"), ("PYTHONPATH", WHEEL_DIR)), needs=WHEEL_DIR)
# Variables the variants set: this process clears them, so its rows time the defaults.
CONTROLLED_ENV = ("RAYON_NUM_THREADS", "RAYON_RS_NUM_CPUS", "TARNU_SIMD", "PYTHONPATH")


@dataclass(frozen=True)
class Array:
    key: str
    name: str
    kind: str                           # TARNU or PEER
    make: Callable[[], Callable | None]
    inputs: str = "pairs"               # a key of inputs.ARRAY_KINDS
    variants: tuple[Variant, ...] = (HERE,)
    threaded: bool = False              # on tarnu's worker pool; peers run on one thread
    out: bool = False                   # called with out= arrays made beforehand
    present: Callable[[], bool] | None = None
    note: str = ""


@dataclass(frozen=True)
class Operation:
    key: str
    title: str
    largest: int                        # sizes above this are not timed
    errors: bool                        # each row's distances compared with GeographicLib
    speedup: tuple[str, ...]            # contender keys the speed-up columns divide by
    contenders: tuple[Array, ...]


@dataclass(frozen=True)
class Row:
    """One timed line: a contender in one run environment."""
    id: str
    op: Operation
    array: Array
    variant: Variant


# tarnu.ufunc: NumPy ufuncs over any shape, arguments in the scalar functions'
# order, several outputs as a tuple. Its rows are present only in builds that
# have the module.
def has_ufunc() -> bool:
    try:
        from tarnu import ufunc  # noqa: F401
    except ImportError:
        return False
    return True


def ufunc(name: str, inputs: str = "pairs", variants=(HERE,), key_suffix: str = "", out: bool = False,
          note: str = "") -> Array:
    return Array(f"tarnu.ufunc.{name}{key_suffix}", f"tarnu ufunc.{name}", TARNU,
                 tarnu_attr(f"ufunc.{name}"), inputs, variants, threaded=True, out=out,
                 present=has_ufunc, note=note)


# pyproj's WGS84 inv and fwd on arrays, called latitude first like the rest
# (pyproj takes longitude first).
def pyproj_inv(p):
    g = wgs84(p)
    return lambda lat1, lon1, lat2, lon2: g.inv(lon1, lat1, lon2, lat2)


def pyproj_inv_s12(p):
    g = wgs84(p)
    return lambda lat1, lon1, lat2, lon2: g.inv(lon1, lat1, lon2, lat2)[2]


def pyproj_fwd(p):
    g = wgs84(p)
    return lambda lat1, lon1, azi1, s12: g.fwd(lon1, lat1, azi1, s12)


POOL_VARIANTS = (HERE, ONE_THREAD, TWO_THREADS)
SOLVER_VARIANTS = (HERE, ONE_THREAD, TWO_THREADS, AVX512_ONE, AVX2_ONE, WHEEL_ONE)

OPERATIONS = (
    Operation("array.great_circle_distance", "Great-circle distance over arrays (sphere)",
              largest=10_000_000, errors=True,
              speedup=("tarnu.distance.great_circle_distance_batch", "tarnu.ufunc.great_circle_distance"),
              contenders=(
        Array("tarnu.distance.great_circle_distance_batch", "tarnu distance.great_circle_distance_batch",
              TARNU, tarnu_attr("distance.great_circle_distance_batch"), variants=POOL_VARIANTS,
              threaded=True),
        Array("numpy.haversine", "NumPy vectorised haversine", PEER, lambda: np_haversine),
        Array("numkong.haversine", "NumKong haversine", PEER, using("numkong", lambda nk: nk.haversine),
              "pairs_radians", note="radians in"),
        ufunc("great_circle_distance", variants=(*POOL_VARIANTS, WHEEL_ONE)),
        ufunc("great_circle_distance", "one_to_many", variants=(HERE, ONE_THREAD),
              key_suffix="[one_to_many]", note="one point against n"),
        ufunc("great_circle_distance", key_suffix="[out]", out=True, note="out="),
    )),
    Operation("array.geodesic_distance", "Geodesic distance over arrays (WGS84)",
              largest=1_000_000, errors=True,
              speedup=("tarnu.distance.geodesic_distance_batch", "tarnu.ufunc.geodesic_distance"),
              contenders=(
        Array("tarnu.distance.geodesic_distance_batch", "tarnu distance.geodesic_distance_batch", TARNU,
              tarnu_attr("distance.geodesic_distance_batch"), variants=POOL_VARIANTS, threaded=True),
        Array("pyproj.Geod.inv", "pyproj Geod(ellps=WGS84).inv on arrays", PEER,
              using("pyproj", pyproj_inv_s12)),
        Array("numkong.vincenty", "NumKong vincenty", PEER, using("numkong", lambda nk: nk.vincenty),
              "pairs_radians", note="radians in"),
        ufunc("geodesic_distance", variants=SOLVER_VARIANTS),
        ufunc("geodesic_distance", "one_to_many", variants=(HERE, ONE_THREAD),
              key_suffix="[one_to_many]", note="one point against n"),
    )),
    Operation("array.geodesic_inverse", "Geodesic inverse with azimuths over arrays (WGS84)",
              largest=1_000_000, errors=False, speedup=("tarnu.ufunc.geodesic_inverse",), contenders=(
        Array("pyproj.Geod.inv", "pyproj Geod(ellps=WGS84).inv on arrays", PEER, using("pyproj", pyproj_inv),
              note="az12, az21, dist"),
        ufunc("geodesic_inverse", variants=(HERE, ONE_THREAD, AVX512_ONE)),
        ufunc("geodesic_inverse_full"),
    )),
    Operation("array.geodesic_direct", "Geodesic destination over arrays (WGS84)",
              largest=1_000_000, errors=False,
              speedup=("tarnu.ufunc.geodesic_destination", "tarnu.ufunc.geodesic_direct"), contenders=(
        Array("pyproj.Geod.fwd", "pyproj Geod(ellps=WGS84).fwd on arrays", PEER, using("pyproj", pyproj_fwd),
              "start_and_way", note="lon2, lat2, az21"),
        ufunc("geodesic_destination", "start_and_way", variants=(HERE, ONE_THREAD, AVX512_ONE)),
        ufunc("geodesic_direct", "start_and_way", variants=(HERE, ONE_THREAD, AVX512_ONE)),
    )),
)


def rows(ops=OPERATIONS) -> Iterator[Row]:
    for op in ops:
        for a in op.contenders:
            for v in a.variants:
                yield Row(f"{op.key}/{a.key}" + (f"@{v.key}" if v.key else ""), op, a, v)


def call_rows() -> Iterator[str]:
    for task in CALL_TASKS:
        for c in task.contenders:
            yield task.row(c)


def find_rows(ids) -> list[Row]:
    by_id = {r.id: r for r in rows()}
    return [by_id[i] for i in ids]
