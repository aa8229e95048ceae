"""tarnu against the libraries users would pick instead, side by side.

Run by `make bench`: every contender is timed in this one process on the same
random inputs (fixed seeds, latitudes uniform on the sphere), several repeats
each, taken round-robin so that load from other work on a shared machine falls
on all contenders alike. Writes bench/RESULTS.md and the headline table between
the bench markers of README.md.

Per-call figures are the plain loop `for a, b, c, d in args: f(a, b, c, d)` over
pre-built argument lists, divided by the number of calls, with nothing
subtracted; the loop is the same for every contender. Peers whose call shape
differs (point tuples, a keyword, an attribute of the result) get a lambda, whose
cost (some 40 ns) is included. Batch figures are per element. Ratios are of
best times.

The worker pool's size is fixed at its first use in a process, so the
one-thread batch figures come from a child run of this program with
RAYON_NUM_THREADS=1; peak-memory figures come from a fresh child per function.
Functions the installed tarnu lacks are reported as "not available".
"""

from __future__ import annotations

import gc
import importlib.metadata
import json
import math
import os
import platform
import re
import statistics
import subprocess
import sys
import time
import tracemalloc
from dataclasses import dataclass, field
from math import asin, atan2, cos, degrees, radians, sin, sqrt
from pathlib import Path
from time import perf_counter_ns
from typing import Callable

import numpy as np

import tarnu
from tarnu import distance, geodesic, units

HERE = Path(__file__).resolve().parent
RESULTS = HERE / "RESULTS.md"
README = HERE.parent / "README.md"
README_BEGIN, README_END = "<!-- bench:begin -->", "<!-- bench:end -->"

SEED = 20240607
N_CALLS = 4096                 # argument tuples per pass, per-call tasks
CALL_REPEATS = 15              # short repeats: the best of many dodges other load
CALL_REPEAT_S = 0.01           # minimum wall time of one per-call repeat
SLOW_REPEATS, SLOW_PASS_S = 7, 0.05   # fewer repeats when one pass takes longer than this
BATCH_SIZES = (1_000, 100_000, 1_000_000, 10_000_000)
BATCH_REPEATS = {1_000: 7, 100_000: 7, 1_000_000: 7, 10_000_000: 3}
BATCH_REPEAT_S = 0.02
BATCH_BUDGET_S, BATCH_MAX_REPEATS = 1.0, 40   # cheap contenders get more repeats, up to this
SPHERE_ONLY_FROM = 10_000_000  # sizes from here on time the sphere only
SMALL_N, SMALL_REPEATS = 10, 7
MEMORY_N = 1_000_000
AGREEMENT_N = 256
SPHERE_RADIUS = 6371008.8      # metres, tarnu's sphere (and haversine's)
POOL_ENV = ("RAYON_NUM_THREADS", "RAYON_RS_NUM_CPUS")


# ---------------------------------------------------------------------------
# Inputs: one generator per column, so a prefix of a long column is the short
# column, in this process and in the child runs.

def column(k: int, n: int) -> np.ndarray:
    rng = np.random.default_rng([SEED, k])
    if k in (0, 2):                                    # latitudes, uniform on the sphere
        return np.degrees(np.arcsin(rng.uniform(-1.0, 1.0, n)))
    if k in (1, 3):                                    # longitudes
        return rng.uniform(-180.0, 180.0, n)
    if k == 4:                                         # bearings, degrees
        return rng.uniform(0.0, 360.0, n)
    if k == 5:                                         # distances, metres
        return rng.uniform(0.0, 2.0e7, n)
    return rng.uniform(0.0, 2.0e4, n)                  # k == 6: kilometres


def pair_columns(n: int) -> tuple[np.ndarray, ...]:
    return tuple(column(k, n) for k in range(4))


# ---------------------------------------------------------------------------
# Peers: pure Python on the math module, NumPy's natural vectorised haversine.

def py_haversine(lat1, lon1, lat2, lon2):
    phi1, phi2 = radians(lat1), radians(lat2)
    h = sin((phi2 - phi1) / 2) ** 2 + cos(phi1) * cos(phi2) * sin(radians(lon2 - lon1) / 2) ** 2
    return 2 * SPHERE_RADIUS * asin(sqrt(h))


def py_destination(lat1, lon1, bearing, distance):
    phi1, theta, delta = radians(lat1), radians(bearing), distance / SPHERE_RADIUS
    sphi2 = min(1.0, max(-1.0, sin(phi1) * cos(delta) + cos(phi1) * sin(delta) * cos(theta)))
    lam = atan2(sin(theta) * sin(delta) * cos(phi1), cos(delta) - sin(phi1) * sphi2)
    return degrees(asin(sphi2)), lon1 + degrees(lam)


def py_km_to_mi(km):
    return km / 1.609344


def np_haversine(lat1, lon1, lat2, lon2):
    return 2 * SPHERE_RADIUS * np.arcsin(np.sqrt(
        np.sin(np.radians(lat2 - lat1) / 2) ** 2
        + np.cos(np.radians(lat1)) * np.cos(np.radians(lat2)) * np.sin(np.radians(lon2 - lon1) / 2) ** 2))


def optional_module(name: str):
    """The module, or None when its package is not installed."""
    try:
        return importlib.import_module(name)
    except ImportError:
        return None


pyproj = optional_module("pyproj")
geographiclib_geodesic = optional_module("geographiclib.geodesic")
geopy_distance = optional_module("geopy.distance")
haversine = optional_module("haversine")


def tarnu_fn(module, name: str):
    return getattr(module, name, None)


# ---------------------------------------------------------------------------
# Per-call tasks

@dataclass
class Contender:
    name: str
    kind: str                   # "tarnu", "peer" or "floor"
    fn: Callable | None         # None: not available
    shape: str = "4"            # which argument list the loop walks (Task.args key)
    value: Callable | None = None   # raw result -> what `Task.diff` compares
    note: str = ""
    samples: list[float] = field(default_factory=list)   # ns per call, one per repeat
    passes: int = 1
    repeats: int = CALL_REPEATS
    max_diff: float | None = None


@dataclass
class Task:
    title: str
    diff_unit: str
    diff: Callable              # (value, reference value) -> difference in diff_unit
    args: dict[str, list]
    contenders: list[Contender]


def loop4(f, args, passes):
    t0 = perf_counter_ns()
    for _ in range(passes):
        for a, b, c, d in args:
            f(a, b, c, d)
    return perf_counter_ns() - t0


def loop2(f, args, passes):
    t0 = perf_counter_ns()
    for _ in range(passes):
        for p, q in args:
            f(p, q)
    return perf_counter_ns() - t0


def loop1(f, args, passes):
    t0 = perf_counter_ns()
    for _ in range(passes):
        for x in args:
            f(x)
    return perf_counter_ns() - t0


LOOPS = {"4": loop4, "4lonlat": loop4, "pairs": loop2, "point_way": loop2, "1": loop1}


def call(c: Contender, args):
    return c.fn(*args) if LOOPS[c.shape] is not loop1 else c.fn(args)


def point_distance(p, q) -> float:
    return py_haversine(p[0], p[1], q[0], q[1])


def build_tasks() -> list[Task]:
    lat1, lon1, lat2, lon2, bearing, dist, km = (column(k, N_CALLS).tolist() for k in range(7))
    two_points = {
        "4": list(zip(lat1, lon1, lat2, lon2)),
        "4lonlat": list(zip(lon1, lat1, lon2, lat2)),
        "pairs": [((a, b), (c, d)) for a, b, c, d in zip(lat1, lon1, lat2, lon2)],
    }
    start_and_way = {
        "4": list(zip(lat1, lon1, bearing, dist)),
        "4lonlat": list(zip(lon1, lat1, bearing, dist)),
        "point_way": [((a, b), (c, d)) for a, b, c, d in zip(lat1, lon1, bearing, dist)],
    }

    pyproj_wgs84 = pyproj.Geod(ellps="WGS84") if pyproj else None
    pyproj_sphere = pyproj.Geod(a=SPHERE_RADIUS, f=0.0) if pyproj else None
    glib = geographiclib_geodesic.Geodesic.WGS84 if geographiclib_geodesic else None

    def method(obj, name):
        return getattr(obj, name) if obj is not None else None

    def maybe(module, make):
        return make(module) if module is not None else None

    gcd = tarnu_fn(distance, "great_circle_distance")
    gdd = tarnu_fn(distance, "geodesic_distance")
    lonlat = lambda r: (r[1], r[0])                          # pyproj fwd -> (lat, lon)
    return [
        Task("Great-circle distance (sphere)", "m", lambda v, r: abs(v - r), two_points, [
            Contender("tarnu distance.great_circle_distance", "tarnu", gcd),
            Contender("haversine.haversine(p, q, unit=METERS)", "peer",
                      maybe(haversine, lambda h: lambda p, q: h.haversine(p, q, unit=h.Unit.METERS)), "pairs"),
            Contender("geopy great_circle(p, q).meters", "peer",
                      maybe(geopy_distance, lambda g: lambda p, q: g.great_circle(p, q).meters), "pairs",
                      note="geopy's radius is 6371009 m"),
            Contender("pyproj Geod(a=R, f=0).inv", "peer", method(pyproj_sphere, "inv"), "4lonlat",
                      value=lambda r: r[2]),
            Contender("pure Python haversine (math)", "peer", py_haversine),
            Contender("math.hypot(a, b, c, d) (floor)", "floor", math.hypot),
        ]),
        Task("Geodesic distance (WGS84)", "m", lambda v, r: abs(v - r), two_points, [
            Contender("tarnu distance.geodesic_distance", "tarnu", gdd),
            Contender("pyproj Geod(ellps=WGS84).inv", "peer", method(pyproj_wgs84, "inv"), "4lonlat",
                      value=lambda r: r[2]),
            Contender("geographiclib Geodesic.WGS84.Inverse", "peer", method(glib, "Inverse"),
                      value=lambda r: r["s12"]),
            Contender("geopy geodesic(p, q).meters", "peer",
                      maybe(geopy_distance, lambda g: lambda p, q: g.geodesic(p, q).meters), "pairs"),
        ]),
        Task("Geodesic inverse with azimuths (WGS84)", "s12, m", lambda v, r: abs(v - r), two_points, [
            Contender("tarnu distance.geodesic_inverse", "tarnu", tarnu_fn(distance, "geodesic_inverse"),
                      value=lambda r: r["s12"]),
            Contender("tarnu geodesic.inverse", "tarnu", tarnu_fn(geodesic, "inverse"),
                      value=lambda r: r["s12"], note="twelve quantities"),
            Contender("pyproj Geod(ellps=WGS84).inv", "peer", method(pyproj_wgs84, "inv"), "4lonlat",
                      value=lambda r: r[2]),
            Contender("geographiclib Geodesic.WGS84.Inverse", "peer", method(glib, "Inverse"),
                      value=lambda r: r["s12"]),
        ]),
        Task("Great-circle destination (sphere)", "m", point_distance, start_and_way, [
            Contender("tarnu distance.great_circle_destination", "tarnu",
                      tarnu_fn(distance, "great_circle_destination")),
            Contender("geopy great_circle(meters=s).destination(p, azi)", "peer",
                      maybe(geopy_distance,
                            lambda g: lambda p, w: g.great_circle(meters=w[1]).destination(p, w[0])),
                      "point_way", value=lambda r: (r.latitude, r.longitude), note="geopy's radius is 6371009 m"),
            Contender("pyproj Geod(a=R, f=0).fwd", "peer", method(pyproj_sphere, "fwd"), "4lonlat",
                      value=lonlat),
            Contender("pure Python destination (math)", "peer", py_destination),
        ]),
        Task("Geodesic destination (WGS84)", "m", point_distance, start_and_way, [
            Contender("tarnu distance.geodesic_destination", "tarnu",
                      tarnu_fn(distance, "geodesic_destination")),
            Contender("tarnu geodesic.direct", "tarnu", tarnu_fn(geodesic, "direct"),
                      value=lambda r: (r["lat2"], r["lon2"]), note="dict of eight"),
            Contender("pyproj Geod(ellps=WGS84).fwd", "peer", method(pyproj_wgs84, "fwd"), "4lonlat",
                      value=lonlat),
            Contender("geographiclib Geodesic.WGS84.Direct", "peer", method(glib, "Direct"),
                      value=lambda r: (r["lat2"], r["lon2"])),
            Contender("geopy geodesic(meters=s).destination(p, azi)", "peer",
                      maybe(geopy_distance,
                            lambda g: lambda p, w: g.geodesic(meters=w[1]).destination(p, w[0])),
                      "point_way", value=lambda r: (r.latitude, r.longitude)),
        ]),
        Task("Unit conversion, one argument", "mi", lambda v, r: abs(v - r), {"1": km}, [
            Contender("tarnu units.km_to_mi", "tarnu", tarnu_fn(units, "km_to_mi"), "1"),
            Contender("pure Python km / 1.609344", "peer", py_km_to_mi, "1"),
            Contender("math.radians(x) (floor)", "floor", math.radians, "1"),
        ]),
    ]


def probe(task: Task, c: Contender) -> None:
    """Marks `c` not available when it is missing or fails on the first input."""
    if c.fn is None:
        c.note = "not available"
        return
    try:
        call(c, task.args[c.shape][0])
    except Exception as exc:                      # report it, benchmark the rest
        c.fn, c.note = None, f"not available ({type(exc).__name__}: {exc})"


def agreement(task: Task) -> None:
    ref = next((c for c in task.contenders if c.kind == "tarnu" and c.fn), None)
    if ref is None:
        return
    value = lambda c, r: c.value(r) if c.value else r
    for c in task.contenders:
        if c.fn is None or c.kind == "floor":
            continue
        diffs = [task.diff(value(c, call(c, task.args[c.shape][i])),
                           value(ref, call(ref, task.args[ref.shape][i])))
                 for i in range(AGREEMENT_N)]
        c.max_diff = math.nan if any(map(math.isnan, diffs)) else max(diffs)


def run_task(task: Task) -> None:
    live = []
    for c in task.contenders:
        probe(task, c)
        if c.fn is not None:
            live.append(c)
    agreement(task)
    for c in live:                                # warm up and size the repeats
        loop, args = LOOPS[c.shape], task.args[c.shape]
        elapsed = loop(c.fn, args, 1)
        c.passes = max(1, math.ceil(CALL_REPEAT_S * 1e9 / max(elapsed, 1)))
        c.repeats = SLOW_REPEATS if elapsed > SLOW_PASS_S * 1e9 else CALL_REPEATS
    with gc_paused():
        for r in range(CALL_REPEATS):
            for c in (c for c in live if r < c.repeats):
                args = task.args[c.shape]
                c.samples.append(LOOPS[c.shape](c.fn, args, c.passes) / (c.passes * len(args)))


class gc_paused:
    """The collector off while timing, as timeit does, for every contender alike."""

    def __enter__(self):
        self.was = gc.isenabled()
        gc.collect()
        gc.disable()

    def __exit__(self, *exc):
        if self.was:
            gc.enable()


# ---------------------------------------------------------------------------
# Batch distances

@dataclass
class BatchContender:
    name: str
    kind: str
    fn: Callable | None
    sphere: bool                # also timed at SPHERE_ONLY_FROM and beyond
    threads: str = "pool"
    samples: dict[int, list[float]] = field(default_factory=dict)   # n -> ns per element


def batch_contenders(include_peers: bool) -> list[BatchContender]:
    out = [
        BatchContender("tarnu great_circle_distance_batch", "tarnu",
                       tarnu_fn(distance, "great_circle_distance_batch"), True),
        BatchContender("tarnu geodesic_distance_batch", "tarnu",
                       tarnu_fn(distance, "geodesic_distance_batch"), False),
    ]
    if include_peers:
        geod = pyproj.Geod(ellps="WGS84") if pyproj else None
        out += [
            BatchContender("pyproj Geod(ellps=WGS84).inv on arrays", "peer",
                           (lambda a, b, c, d: geod.inv(b, a, d, c)[2]) if geod else None, False, "1"),
            BatchContender("NumPy vectorised haversine", "peer", np_haversine, True, "1"),
        ]
    small = pair_columns(4)
    for c in out:
        if c.fn is not None:
            try:
                c.fn(*small)
            except Exception:
                c.fn = None
    return out


def time_batch(contenders: list[BatchContender], sizes=BATCH_SIZES) -> None:
    live = [c for c in contenders if c.fn is not None]
    if not live:
        return
    columns = pair_columns(max(sizes))
    for n in sizes:
        args = tuple(col[:n] for col in columns)       # contiguous prefixes
        timed = [c for c in live if c.sphere or n < SPHERE_ONLY_FROM]
        calls, repeats = {}, {}
        for c in timed:
            t0 = perf_counter_ns()
            c.fn(*args)
            elapsed = max(perf_counter_ns() - t0, 1)
            calls[c.name] = k = max(1, math.ceil(BATCH_REPEAT_S * 1e9 / elapsed))
            repeats[c.name] = max(BATCH_REPEATS[n],
                                  min(BATCH_MAX_REPEATS, int(BATCH_BUDGET_S * 1e9 / (k * elapsed))))
        with gc_paused():
            for r in range(max(repeats.values())):
                for c in (c for c in timed if r < repeats[c.name]):
                    k = calls[c.name]
                    t0 = perf_counter_ns()
                    for _ in range(k):
                        c.fn(*args)
                    c.samples.setdefault(n, []).append((perf_counter_ns() - t0) / (k * n))
        print(f"  batch n={n:,} done", flush=True)


def time_small(contenders: list[BatchContender]) -> dict[str, list[float]]:
    """Microseconds per call at n = SMALL_N."""
    args = pair_columns(SMALL_N)
    live = [c for c in contenders if c.fn is not None]
    out = {c.name: [] for c in live}
    with gc_paused():
        for c in live:
            c.fn(*args)
        for _ in range(SMALL_REPEATS):
            for c in live:
                k = 2000
                t0 = perf_counter_ns()
                for _ in range(k):
                    c.fn(*args)
                out[c.name].append((perf_counter_ns() - t0) / k / 1e3)
    return out


def run_child(flag: str, value: str, env_updates: dict[str, str]) -> dict:
    env = {k: v for k, v in os.environ.items() if k not in POOL_ENV}
    env.update(env_updates)
    proc = subprocess.run([sys.executable, __file__, flag, value], env=env,
                          capture_output=True, text=True, timeout=240)
    if proc.returncode != 0:
        raise RuntimeError(f"child {flag} {value} failed:\n{proc.stderr}")
    return json.loads(proc.stdout.strip().splitlines()[-1])


def threads_child(threads: str) -> None:
    """Child with RAYON_NUM_THREADS set: tarnu's batch functions only, as JSON."""
    contenders = batch_contenders(include_peers=False)
    time_batch(contenders)
    small = time_small(contenders)
    print(json.dumps({"batch": {c.name: c.samples for c in contenders if c.fn},
                      "small": small, "threads": threads}))


# ---------------------------------------------------------------------------
# Peak extra memory of one MEMORY_N call, each function in a fresh child

def status_kb(key: str) -> int:
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    raise KeyError(key)


def memory_child(name: str) -> None:
    fn = next(c.fn for c in batch_contenders(include_peers=True) if c.name == name)
    args = pair_columns(MEMORY_N)
    fn(*pair_columns(16))                          # pool, solver and NumPy binding exist now
    gc.collect()
    try:                                           # reset the high-water mark to the current RSS
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")
        hwm_reset = True
    except OSError:
        hwm_reset = False
    before = status_kb("VmRSS") if hwm_reset else status_kb("VmHWM")
    result = fn(*args)
    rss_delta = (status_kb("VmHWM") - before) * 1024
    out_bytes = result.nbytes
    del result
    gc.collect()
    tracemalloc.start()
    fn(*args)
    traced_peak = tracemalloc.get_traced_memory()[1]
    tracemalloc.stop()
    print(json.dumps({"rss": rss_delta, "traced": traced_peak, "out": out_bytes,
                      "hwm_reset": hwm_reset}))


# ---------------------------------------------------------------------------
# The machine

def machine() -> dict[str, str]:
    cpu = platform.processor() or platform.machine()
    try:
        text = Path("/proc/cpuinfo").read_text()
        cpu = re.search(r"^model name\s*:\s*(.+)$", text, re.M).group(1)
    except (OSError, AttributeError):
        pass
    versions = []
    for pkg in ("tarnu", "numpy", "pyproj", "geographiclib", "geopy", "haversine"):
        try:
            versions.append(f"{pkg} {importlib.metadata.version(pkg)}")
        except importlib.metadata.PackageNotFoundError:
            versions.append(f"{pkg} not installed")
    proj = pyproj.proj_version_str if pyproj else None
    try:
        from numpy._core._multiarray_umath import __cpu_features__
        simd_note = ", ".join(k for k in ("AVX2", "AVX512F", "AVX512_SKX") if __cpu_features__.get(k))
    except ImportError:
        simd_note = "unknown"
    blas_env = ", ".join(f"{k}={os.environ[k]}" for k in ("OPENBLAS_CORETYPE", "OPENBLAS_L2_SIZE")
                         if k in os.environ) or "unset"
    return {
        "CPU": cpu,
        "Cores": f"{os.cpu_count()} logical, {len(os.sched_getaffinity(0))} available to this process",
        "OS": f"{platform.system()} {platform.release()}",
        "Python": f"{platform.python_implementation()} {platform.python_version()}",
        "Packages": ", ".join(versions) + (f" (PROJ {proj})" if proj else ""),
        "NumPy CPU features": simd_note,
        "OpenBLAS variables": f"{blas_env} (left as found; the ufuncs timed here do not use BLAS)",
    }


# ---------------------------------------------------------------------------
# Report

def fmt(x: float | None) -> str:
    if x is None:
        return "—"
    if x >= 100:
        return f"{x:,.0f}"
    return f"{x:.3g}" if x < 1 else f"{x:.1f}"


def fmt_ratio(x: float | None) -> str:
    return "—" if x is None else (f"{x:.2f}×" if x < 10 else f"{x:.0f}×")


def fmt_diff(x: float | None) -> str:
    return "—" if x is None else ("0" if x == 0 else f"{x:.1e}")


def task_table(task: Task) -> list[str]:
    tarnus = [c for c in task.contenders if c.kind == "tarnu" and c.samples]
    head = ["Contender", "best ns/call", "median ns/call"]
    head += [f"`{c.name.split()[-1]}` speed-up" for c in tarnus]
    head += [f"max diff vs tarnu ({task.diff_unit})"]
    lines = [f"### {task.title}", "", "| " + " | ".join(head) + " |",
             "|" + "---|" * len(head)]
    for c in task.contenders:
        if not c.samples:
            lines.append(f"| {c.name} | {c.note} |" + " |" * (len(head) - 2))
            continue
        best, med = min(c.samples), statistics.median(c.samples)
        ratios = [fmt_ratio(best / min(t.samples)) for t in tarnus]
        name = c.name + (f" ({c.note})" if c.note else "")
        lines.append("| " + " | ".join([name, fmt(best), fmt(med), *ratios, fmt_diff(c.max_diff)]) + " |")
    return lines + [""]


def best(samples) -> float | None:
    return min(samples) if samples else None


def ratio(a, b) -> float | None:
    return a / b if a is not None and b is not None else None


class Report:
    def __init__(self, tasks, batch, one, small, small_one, memory, info, elapsed, load):
        self.tasks, self.batch, self.one = tasks, batch, one
        self.small, self.small_one, self.memory = small, small_one, memory
        self.info, self.elapsed, self.load = info, elapsed, load

    def call_best(self, name: str) -> float | None:
        for t in self.tasks:
            for c in t.contenders:
                if c.name == name:
                    return best(c.samples)
        return None

    def batch_best(self, name: str, n: int, threads: str = "pool") -> float | None:
        if threads == "pool":
            c = next((c for c in self.batch if c.name == name), None)
            return best(c.samples.get(n, [])) if c else None
        return best(self.one.get(threads, {}).get(name, {}).get(str(n), []))

    def targets(self) -> list[tuple[str, float | None, str, bool | None]]:
        """(target, measured, how measured reads, met)."""
        gc_b, geo_b = "tarnu great_circle_distance_batch", "tarnu geodesic_distance_batch"
        numpy_b, pyproj_b = "NumPy vectorised haversine", "pyproj Geod(ellps=WGS84).inv on arrays"
        m = MEMORY_N
        rows = [
            ("`great_circle_distance` call ≤ 1.6× `math.hypot(a, b, c, d)`",
             ratio(self.call_best("tarnu distance.great_circle_distance"),
                   self.call_best("math.hypot(a, b, c, d) (floor)")), "≤", 1.6, "× the time"),
            ("`geodesic_distance` call ≥ 3× faster than pyproj scalar `Geod.inv`",
             ratio(self.call_best("pyproj Geod(ellps=WGS84).inv"),
                   self.call_best("tarnu distance.geodesic_distance")), "≥", 3, "× faster"),
            ("`geodesic_distance` call ≥ 50× faster than geographiclib `Inverse`",
             ratio(self.call_best("geographiclib Geodesic.WGS84.Inverse"),
                   self.call_best("tarnu distance.geodesic_distance")), "≥", 50, "× faster"),
            ("`geodesic_destination` call ≥ 5× faster than pyproj scalar `Geod.fwd`",
             ratio(self.call_best("pyproj Geod(ellps=WGS84).fwd"),
                   self.call_best("tarnu distance.geodesic_destination")), "≥", 5, "× faster"),
            ("`units.km_to_mi` call ≤ 1.2× `math.radians(x)`",
             ratio(self.call_best("tarnu units.km_to_mi"), self.call_best("math.radians(x) (floor)")),
             "≤", 1.2, "× the time"),
            ("`great_circle_distance_batch` ≥ 6× faster than NumPy haversine at 10^6",
             ratio(self.batch_best(numpy_b, m), self.batch_best(gc_b, m)), "≥", 6, "× faster"),
            ("`great_circle_distance_batch` ≥ 3× faster than NumPy haversine at 10^6, 1 thread",
             ratio(self.batch_best(numpy_b, m), self.batch_best(gc_b, m, "1")), "≥", 3, "× faster"),
            ("`geodesic_distance_batch` ≥ 1.8× faster than pyproj `Geod.inv` on arrays at 10^6",
             ratio(self.batch_best(pyproj_b, m), self.batch_best(geo_b, m)), "≥", 1.8, "× faster"),
            ("`great_circle_distance_batch` 1 → 2 threads ≥ 1.8× at 10^6",
             ratio(self.batch_best(gc_b, m, "1"), self.batch_best(gc_b, m, "2")), "≥", 1.8, "× faster"),
            ("`geodesic_distance_batch` 1 → 2 threads ≥ 1.8× at 10^6",
             ratio(self.batch_best(geo_b, m, "1"), self.batch_best(geo_b, m, "2")), "≥", 1.8, "× faster"),
            ("`great_circle_distance_batch` at n = 10 ≤ 3 µs per call",
             best(self.small.get(gc_b, [])), "≤", 3, " µs"),
        ]
        for name in (gc_b, geo_b):
            mem = self.memory.get(name)
            extra = max(mem["rss"], mem["traced"]) / mem["out"] if mem else None
            rows.append((f"`{name.split()[-1]}` peak extra memory at 10^6 ≈ the 8 MB output "
                         "(≤ 1.25×)", extra, "≤", 1.25, "× the output"))
        out = []
        for label, value, op, limit, unit in rows:
            met = None if value is None else (value <= limit if op == "≤" else value >= limit)
            shown = "not available" if value is None else f"{value:.2f}{unit}"
            out.append((label, value, shown, met))
        return out

    def target_table(self) -> list[str]:
        lines = ["| Target | Measured | Met |", "|---|---|---|"]
        for label, _, shown, met in self.targets():
            lines.append(f"| {label} | {shown} | {'n/a' if met is None else ('yes' if met else 'NO')} |")
        return lines

    def batch_tables(self) -> list[str]:
        names = ["tarnu great_circle_distance_batch", "tarnu geodesic_distance_batch"]
        pool = str(len(os.sched_getaffinity(0)))
        rows = [(c.name, c.threads if c.kind == "peer" else f"pool ({pool})", c.samples, c.fn is None)
                for c in self.batch]
        for threads, per in sorted(self.one.items()):
            if threads == pool:            # those are the pool rows above
                continue
            for name in names:
                if name in per:
                    rows.append((name, threads, {int(k): v for k, v in per[name].items()}, False))
        lines = []
        for n in BATCH_SIZES:
            lines += [f"### Batch distance, n = {n:,}", "",
                      "| Contender | threads | best ns/element | median ns/element "
                      "| `great_circle_distance_batch` speed-up | `geodesic_distance_batch` speed-up |",
                      "|---|---|---|---|---|---|"]
            refs = [self.batch_best(name, n) for name in names]
            for name, threads, samples, missing in rows:
                if missing:
                    if n == BATCH_SIZES[0]:
                        lines.append(f"| {name} | — | not available | | | |")
                    continue
                s = samples.get(n)
                if not s:
                    continue
                b = min(s)
                rs = [fmt_ratio(b / r) if r else "—" for r in refs]
                lines.append(f"| {name} | {threads} | {fmt(b)} | {fmt(statistics.median(s))} "
                             f"| {rs[0]} | {rs[1]} |")
            lines.append("")
        lines += ["### Batch distance, n = 10 (µs per call)", "",
                  "| Contender | threads | best µs/call | median µs/call |", "|---|---|---|---|"]
        for name, s in self.small.items():
            threads = f"pool ({pool})" if name.startswith("tarnu") else "1"
            lines.append(f"| {name} | {threads} | {fmt(min(s))} | {fmt(statistics.median(s))} |")
        for threads, per in sorted(self.small_one.items()):
            for name, s in per.items():
                lines.append(f"| {name} | {threads} | {fmt(min(s))} | {fmt(statistics.median(s))} |")
        return lines + [""]

    def memory_table(self) -> list[str]:
        lines = [f"### Peak extra memory of one call at n = {MEMORY_N:,}", "",
                 "| Function | RSS high-water delta (MB) | tracemalloc peak (MB) | output array (MB) "
                 "| RSS ÷ output |", "|---|---|---|---|---|"]
        for name, m in self.memory.items():
            if m is None:
                lines.append(f"| {name} | not available | | | |")
                continue
            mb = lambda b: f"{b / 1e6:.1f}"
            if not m["hwm_reset"]:
                name += " (high-water mark not resettable: delta over the earlier peak)"
            lines.append(f"| {name} | {mb(m['rss'])} | {mb(m['traced'])} | {mb(m['out'])} "
                         f"| {m['rss'] / m['out']:.2f} |")
        return lines + [""]

    def results_md(self) -> str:
        pool = len(os.sched_getaffinity(0))
        lines = ["# tarnu benchmark results", "",
                 "Generated by `make bench` (bench/run.py); rerun it to refresh. Ratios of best "
                 "times come first: absolute figures move with the machine and its load.", "",
                 "## Machine", ""]
        lines += [f"- {k}: {v}" for k, v in self.info.items()]
        lines += [f"- Load average (1 min) at start and end: {self.load[0]:.2f}, {self.load[1]:.2f}",
                  f"- Run time: {self.elapsed:.0f} s", "",
                  "## Targets", "", *self.target_table(), "",
                  "## Method", "",
                  "- Inputs: fixed seeds; latitudes are degrees(asin(u)) with u uniform on [-1, 1] "
                  "(uniform on the sphere), longitudes uniform on [-180, 180), bearings on [0, 360), "
                  "distances on [0, 20000 km), kilometres on [0, 20000). Every contender gets the "
                  "same inputs; batch sizes are prefixes of the same columns.",
                  f"- One call: {N_CALLS} argument tuples per pass, passes sized to at least "
                  f"{CALL_REPEAT_S * 1e3:.0f} ms per repeat, {CALL_REPEATS} repeats ({SLOW_REPEATS} "
                  f"when one pass takes over {SLOW_PASS_S * 1e3:.0f} ms) taken round-robin over "
                  f"the contenders, garbage collector off while timing. The loop is "
                  f"`for a, b, c, d in args: f(a, b, c, d)` (or over point pairs, or one argument) "
                  f"and nothing is subtracted. Lambdas adapt peers that take points, keywords or "
                  f"return objects; their cost is in the figure.",
                  f"- Batch: the default pool is this process's ({pool} threads, the CPUs available); "
                  f"the 1-thread figures come from child runs with RAYON_NUM_THREADS=1, taking turns "
                  f"with this process's (twice each, best kept). Peers run "
                  f"single-threaded. Repeats: at least {', '.join(f'{n:,}: {r}' for n, r in BATCH_REPEATS.items())}, "
                  f"up to {BATCH_MAX_REPEATS} within about {BATCH_BUDGET_S:.0f} s per contender and size, "
                  f"each at least {BATCH_REPEAT_S * 1e3:.0f} ms of calls. The geodesic and pyproj "
                  f"rows stop at 10^6.",
                  "- Speed-up columns: the row's best time divided by the tarnu function's best "
                  "time (above 1: tarnu is faster). \"max diff vs tarnu\" compares the results on "
                  f"the first {AGREEMENT_N} inputs (destinations: distance between the two points).",
                  "- Memory: a fresh child per function; the RSS high-water mark is reset "
                  "(/proc/self/clear_refs) after a warm-up call, then one call is made; "
                  "tracemalloc's peak comes from a second call (NumPy reports its buffers to it).",
                  "", "## One call", ""]
        for task in self.tasks:
            lines += task_table(task)
        lines += ["## Batch distance", "", *self.batch_tables(), "## Memory", "", *self.memory_table()]
        return "\n".join(lines).rstrip() + "\n"

    def readme_block(self) -> str:
        return "\n".join([
            README_BEGIN,
            "Figures from a shared 2-core machine: read the ratios first (full tables, machine and "
            "method in [bench/RESULTS.md](bench/RESULTS.md); `make bench` regenerates both).",
            "", *self.target_table(), README_END])


def rewrite_readme(block: str) -> None:
    text = README.read_text()
    start, end = text.find(README_BEGIN), text.find(README_END)
    if start < 0 or end < start:
        print(f"README.md has no {README_BEGIN} … {README_END} block; left unchanged", file=sys.stderr)
        return
    README.write_text(text[:start] + block + text[end + len(README_END):])


# ---------------------------------------------------------------------------

def main() -> None:
    t_start, load_start = time.monotonic(), os.getloadavg()[0]
    for key in POOL_ENV:                       # this process measures the default pool
        os.environ.pop(key, None)
    info = machine()
    print(f"tarnu {tarnu.__version__} on {info['CPU']}; {info['Cores']}", flush=True)

    tasks = build_tasks()
    for task in tasks:
        run_task(task)
        print(f"  {task.title} done", flush=True)

    batch = batch_contenders(include_peers=True)
    time_batch(batch)
    small = time_small(batch)
    have_batch = any(c.fn for c in batch if c.kind == "tarnu")

    # The pool's size is fixed per process, so other sizes run in children. A
    # shared machine's speed drifts over a run: children and this process take
    # turns, twice, and each keeps its best, so no side is timed only in a
    # slow spell.
    one, small_one = {}, {}
    pool = len(os.sched_getaffinity(0))
    ours = [c for c in batch if c.kind == "tarnu" and c.fn]
    for turn in range(2 if have_batch else 0):
        if turn:
            time_batch(ours)
        for threads in ("1", "2"):
            if threads == str(pool):       # the in-process pool already is this size
                continue
            child = run_child("--threads-child", threads, {"RAYON_NUM_THREADS": threads})
            for name, sizes in child["batch"].items():
                for n, samples in sizes.items():
                    one.setdefault(threads, {}).setdefault(name, {}).setdefault(n, []).extend(samples)
            for name, samples in child["small"].items():
                small_one.setdefault(threads, {}).setdefault(name, []).extend(samples)
            print(f"  batch with {threads} thread(s) done", flush=True)
    if have_batch:
        one[str(pool)] = {c.name: {str(n): s for n, s in c.samples.items()} for c in ours}

    memory = {}
    for c in batch:
        memory[c.name] = run_child("--memory-child", c.name, {}) if c.fn else None
    print("  memory done", flush=True)

    report = Report(tasks, batch, one, small, small_one, memory, info, time.monotonic() - t_start,
                    (load_start, os.getloadavg()[0]))
    RESULTS.write_text(report.results_md())
    rewrite_readme(report.readme_block())
    print("\n".join(report.target_table()))
    print(f"wrote {RESULTS.relative_to(HERE.parent)} and the README block "
          f"in {report.elapsed:.0f} s")


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "--threads-child":
        threads_child(sys.argv[2])
    elif len(sys.argv) == 3 and sys.argv[1] == "--memory-child":
        memory_child(sys.argv[2])
    else:
        main()
