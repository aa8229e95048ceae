"""tarnu.ufunc: each ufunc gives what the one-pair function gives, element
for element, and behaves as NumPy's own ufuncs do with shapes, strides,
casts, out=, where=, pandas, xarray, pickle and threads (Dask: test_dask.py)."""

import itertools
import pickle
import tracemalloc
import warnings

import numpy as np
import pytest
from geographiclib.geodesic import Geodesic as Reference

from conftest import KEYS, RANGE, SPECIAL, assert_ok, random_pairs, run_python
from tarnu import distance, geodesic, ufunc, units

UFUNCS = [getattr(ufunc, name) for name in ufunc.__all__]
POINTS = ("lat1", "lon1", "lat2", "lon2")
HEADING = ("lat1", "lon1", "azi1", "s12")
# ufunc: its inputs, the one-pair function, and the names of the ufunc's
# outputs (keys of that function's dict, if it returns one).
SCALAR = {
    "great_circle_distance": (POINTS, distance.great_circle_distance, None),
    "great_circle_destination": (HEADING, distance.great_circle_destination, None),
    "geodesic_distance": (POINTS, distance.geodesic_distance, ("s12",)),
    "geodesic_destination": (HEADING, distance.geodesic_destination, ("lat2", "lon2")),
    "geodesic_inverse": (POINTS, distance.geodesic_inverse, KEYS[4:8]),
    "geodesic_inverse_full": (POINTS, geodesic.inverse, KEYS[4:]),
    "geodesic_direct": (HEADING, geodesic.direct, ("lat2", "lon2", "azi2", "a12", *KEYS[8:])),
    "dms_to_deg": (("degrees", "arcminutes", "arcseconds"), units.dms_to_deg, None),
    "geodesic_intermediate": (
        (*POINTS, "fraction"),
        lambda lat1, lon1, lat2, lon2, fraction: (line := Reference.WGS84.InverseLine(
            lat1, lon1, lat2, lon2)).Position(fraction * line.s13),
        ("lat2", "lon2")),
}
# What the ellipsoid ufuncs promise against GeographicLib, in degrees, metres
# and square metres, where the problem is well conditioned; the azimuths of
# a line of s12 metres within 3e-7 / s12 degrees where that is more. The rest
# are the one-pair results to the bit.
TOLERANCE = {"s12": 2e-8, "m12": 2e-8, "azi1": 1e-11, "azi2": 1e-11, "a12": 1e-12,
             "M12": 1e-14, "M21": 1e-14, "S12": 4.0, "lat2": 1e-12, "lon2": 1e-12}
SHORT_LINE_AZIMUTHS = 3e-7  # degrees metres


def inputs(names, n, seed=0):
    """n rows of plausible values for the named inputs, specials mixed in."""
    rng = np.random.default_rng(seed)
    lat1, lon1, lat2, lon2 = random_pairs(n, seed)
    pool = {"lat1": lat1, "lon1": lon1, "lat2": lat2, "lon2": lon2,
            "azi1": rng.uniform(-180, 180, n), "s12": rng.uniform(-2e7, 2e7, n),
            "degrees": rng.uniform(-180, 180, n), "arcminutes": rng.uniform(-60, 60, n),
            "arcseconds": rng.uniform(-60, 60, n), "fraction": rng.uniform(-0.5, 1.5, n)}
    columns = [pool.get(name, rng.uniform(-1e4, 1e4, n)).copy() for name in names]
    for k, value in enumerate(SPECIAL * 2 + (91.0, -180.0, 540.0)):
        columns[k % len(columns)][7 * k] = value
    return columns


def expected(f, columns):
    _, scalar, keys = SCALAR.get(f.__name__) or (None, getattr(units, f.__name__), None)
    rows = []
    for row in zip(*(c.tolist() for c in columns)):
        result = scalar(*row)
        if f.__name__ == "geodesic_direct":  # the one-pair direct has no m12 ... S12
            result |= Reference.WGS84.Direct(*row, Reference.ALL)
        result = [result[k] for k in keys] if isinstance(result, dict) else result
        rows.append(result if isinstance(result, (list, tuple)) else [result])
    return [np.array(column) for column in zip(*rows)]


@pytest.mark.parametrize("f", UFUNCS, ids=lambda f: f.__name__)
def test_each_element_is_the_one_pair_result(f):
    assert isinstance(f, np.ufunc) and pickle.loads(pickle.dumps(f)) is f
    assert f.__doc__.splitlines()[2].startswith(f"{f.__name__}(")
    names = SCALAR.get(f.__name__, ("x",) * f.nin)[0]
    columns = inputs(names, 3000)
    with warnings.catch_warnings():
        warnings.simplefilter("error")  # a NaN out is an answer, never a warning
        got = f(*columns)
    got = got if isinstance(got, tuple) else (got,)
    names = (SCALAR.get(f.__name__) or (None, None, None))[2] or ()
    for k, (a, b) in enumerate(zip(got, expected(f, columns))):
        name = names[k] if names else None
        if name not in TOLERANCE or f.__name__.startswith("great_circle"):
            assert a.tobytes() == b.astype(np.float64).tobytes(), (f.__name__, k)
            continue
        assert np.array_equal(np.isnan(a), np.isnan(b)), (f.__name__, name)
        assert not np.any(np.abs(a) > RANGE.get(name, np.inf)), (f.__name__, name)
        diff = np.remainder(a - b + 180, 360) - 180 if name in ("azi1", "azi2", "lon2") else a - b
        tolerance = TOLERANCE[name]
        if name.startswith("azi") and names[0] == "s12":  # the inverse's, on lines of s12 m
            with np.errstate(divide="ignore"):
                tolerance = np.maximum(tolerance, SHORT_LINE_AZIMUTHS / got[0])
        assert not np.any(np.abs(diff) > tolerance), (f.__name__, name)


@pytest.mark.parametrize("f", UFUNCS, ids=lambda f: f.__name__)
def test_broadcast_scalars_give_the_answers_of_full_arrays(f):
    """Every set of inputs broadcast (a point, a line: the kernels work out what
    they fix once) against the same values in full arrays, to the bit."""
    columns = inputs(SCALAR.get(f.__name__, ("x",) * f.nin)[0], 3000, seed=2)
    for fixed, row in itertools.product(range(1, 2 ** f.nin - 1), (0, 7, 900)):  # 0, 7: specials
        held = [fixed >> k & 1 for k in range(f.nin)]
        got = f(*(c[row] if h else c for c, h in zip(columns, held)))
        want = f(*(np.full_like(c, c[row]) if h else c for c, h in zip(columns, held)))
        for a, b in zip(*(r if isinstance(r, tuple) else (r,) for r in (got, want))):
            assert a.tobytes() == b.tobytes(), (f.__name__, held, row)


def test_shapes_strides_broadcasting_and_casts():
    f = ufunc.geodesic_inverse
    lat1, lon1, lat2, lon2 = (c.reshape(40, 100) for c in random_pairs(4000))
    flat = f(*(c.ravel() for c in (lat1, lon1, lat2, lon2)))
    for got in [f(lat1, lon1, lat2, lon2),
                f(lat1.T.copy().T, lon1, np.asfortranarray(lat2), lon2),  # any layout
                [g[::-1, ::-1] for g in f(lat1[::-1, ::-1], lon1[::-1, ::-1], lat2[::-1, ::-1],
                                           lon2[::-1, ::-1])]]:  # negative strides
        assert [g.shape for g in got] == [(40, 100)] * 4
        assert [g.ravel().tobytes() for g in got] == [g.tobytes() for g in flat]
    lat2, lon2 = lat2.ravel(), lon2.ravel()
    assert f(1, 2, 3, 4) == f(1.0, 2.0, 3.0, 4.0) and isinstance(f(1, 2, 3, 4)[0], np.float64)
    assert f([1, 2], [2, 3], [3, 4], [4, 5])[0].shape == (2,)
    small = np.float32(lat2)
    assert f(1.5, 2, small, lon2)[0].tobytes() == f(1.5, 2.0, small.astype(np.float64),
                                                    lon2)[0].tobytes()
    with pytest.raises(TypeError):
        ufunc.km_to_mi(np.ones(3, complex))


def test_out_and_where():
    lat1, lon1, lat2, lon2 = random_pairs(100_000, seed=3)
    s12 = np.empty(100_000)
    azi = np.full(200_000, -1.0)[::2]  # a strided output
    tracemalloc.start()
    try:
        result = ufunc.geodesic_inverse(lat1, lon1, lat2, lon2, out=(s12, azi, None, None))
        peak = tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()
    assert result[0] is s12 and result[1] is azi and peak < 4 * 100_000 * 8  # two outputs, no more
    assert s12.tobytes() == ufunc.geodesic_distance(lat1, lon1, lat2, lon2).tobytes()
    # Outputs that are the inputs: each element read before it is written,
    # also where the solver hands an element to GeographicLib (lon1 = lon2:
    # a meridian; NaN) after writing the others of its lanes.
    lon2[::7], lat1[::11] = lon1[::7], np.nan
    expected = ufunc.geodesic_inverse(lat1, lon1, lat2, lon2)
    got = ufunc.geodesic_inverse(lat1, lon1, lat2, lon2, out=(lat1, lon1, lat2, lon2))
    assert all(g is a for g, a in zip(got, (lat1, lon1, lat2, lon2)))
    assert [g.tobytes() for g in got] == [e.tobytes() for e in expected]
    mask = lon1 > 0
    kept = np.full(100_000, -1.0)
    ufunc.km_to_m(lon1, out=kept, where=mask)
    assert np.array_equal(kept[mask], lon1[mask] * 1000) and np.all(kept[~mask] == -1.0)


@pytest.mark.parametrize("f", [f for f in UFUNCS if f.nout > 1], ids=lambda f: f.__name__)
def test_repeated_out_array_holds_the_last_output_everywhere(f):
    # One array for every output but the first, as NumPy's own ufuncs take
    # it: the last output in every element, those the solver hands to
    # GeographicLib (the specials of inputs()) as well as its own.
    names = SCALAR[f.__name__][0] if f.__name__ in SCALAR else ("dd",) * f.nin
    columns = inputs(names, 1000)
    first, shared = np.empty(1000), np.empty(1000)
    f(*columns, out=(first, *[shared] * (f.nout - 1)))
    assert shared.tobytes() == f(*columns)[-1].tobytes()


def test_pandas_and_xarray_keep_their_labels():
    pd = pytest.importorskip("pandas")
    xr = pytest.importorskip("xarray")
    lat = pd.Series([10.0, 20.0, 30.0], index=["a", "b", "c"])
    s12 = ufunc.geodesic_distance(lat, 0.0, 0.0, 0.0)
    lat2, lon2 = ufunc.great_circle_destination(lat, 0.0, 90.0, 1000.0)
    assert list(s12.index) == list(lat2.index) == ["a", "b", "c"] and isinstance(lon2, pd.Series)
    assert s12.tolist() == ufunc.geodesic_distance(lat.to_numpy(), 0.0, 0.0, 0.0).tolist()
    grid = xr.DataArray(np.arange(6.0).reshape(2, 3), dims=("y", "x"), coords={"x": [1, 2, 3]})
    outputs = ufunc.geodesic_inverse(grid, 0.0, 0.0, grid)
    assert all(o.dims == ("y", "x") and list(o.x) == [1, 2, 3] for o in outputs)
    assert outputs[0].values.tobytes() == ufunc.geodesic_distance(grid.values, 0.0, 0.0,
                                                                  grid.values).tobytes()


# Another thread, woken just before a ufunc call, records whether the call
# had returned when it ran. With a switch interval far longer than the call,
# the interpreter never takes the lock from the caller: the other thread runs
# during the call only if the loop lets the lock go.
OTHER_THREAD = """
    import sys, threading
    from conftest import random_pairs
    from tarnu import ufunc
    columns = random_pairs(1_000_000, seed=5)
    sys.setswitchinterval(1000.0)
    for attempt in range(5):  # again if the thread was slow to wake
        woken, state = threading.Event(), {"returned": False}
        other = threading.Thread(target=lambda: woken.wait() and state.update(
            during=not state["returned"]))
        other.start()
        woken.set()
        ufunc.geodesic_distance(*columns)
        state["returned"] = True
        other.join()
        if state["during"]:
            break
    print("ran during the call" if state["during"] else "only after it")
"""


def test_loops_release_the_interpreter_lock():
    assert_ok(run_python(OTHER_THREAD), "ran during the call")


def test_threads_and_a_fork_share_one_pool():
    """Several threads run ufuncs and batch functions at once on the one pool,
    a child forked while they run works, and the pool has the threads asked for."""
    assert_ok(run_python("""
        import os, signal, threading, warnings
        import numpy as np
        from conftest import random_pairs
        from tarnu import distance, ufunc
        columns = random_pairs(200_003, seed=2)
        before = len(os.listdir("/proc/self/task"))  # NumPy's BLAS may have some
        want = [ufunc.geodesic_distance(*columns).tobytes(),
                distance.great_circle_distance_batch(*columns).tobytes()]
        assert len(os.listdir("/proc/self/task")) == before + 2  # the pool's two workers
        calls = [lambda: ufunc.geodesic_distance(*columns).tobytes(),
                 lambda: distance.great_circle_distance_batch(*columns).tobytes()]
        failures = []
        def work(k):
            for _ in range(4):
                if calls[k % 2]() != want[k % 2]:
                    failures.append(k)
        threads = [threading.Thread(target=work, args=(k,)) for k in range(6)]
        for t in threads: t.start()
        warnings.simplefilter("ignore")  # forking a threaded process is the point
        # Under ASan a child forked while another thread allocates can hang in
        # the sanitizer's own allocator, whatever the pool does.
        pid = -1 if os.environ.get("TARNU_SANITIZED") else os.fork()
        if pid == 0:
            signal.alarm(60)
            os._exit(calls[0]() != want[0])
        for t in threads: t.join()
        assert pid < 0 or os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]) == 0
        assert not failures
        print("ok")
    """, env={"RAYON_NUM_THREADS": "3"}, timeout=300))
