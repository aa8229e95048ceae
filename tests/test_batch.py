"""The batch distance functions: arrays in, a new array out, computed on the worker pool."""

import gc
import hashlib
import math
import multiprocessing
import os
import subprocess
import sys
import textwrap

import numpy as np
import pytest

from tarnu._tarnu import distance

gcd = distance.great_circle_distance
gcd_batch = distance.great_circle_distance_batch
geo_batch = distance.geodesic_distance_batch
BATCHES = [gcd_batch, geo_batch]
NAMES = ["lat1", "lon1", "lat2", "lon2"]
NM = 1e-9


def random_pairs(n, seed=2024):
    rng = np.random.default_rng(seed)
    return (rng.uniform(-90, 90, n), rng.uniform(-180, 180, n),
            rng.uniform(-90, 90, n), rng.uniform(-180, 180, n))


def run_python(code, env=None):
    full_env = {k: v for k, v in os.environ.items() if not k.startswith("RAYON_")}
    full_env.update(env or {})
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], env=full_env,
                          capture_output=True, text=True, timeout=120)


def test_registration_and_docstrings():
    assert distance.__all__[-2:] == ["geodesic_distance_batch", "great_circle_distance_batch"]
    assert geo_batch.__text_signature__ == "(lat1, lon1, lat2, lon2)"
    assert geo_batch.__doc__ == ("Batch geodesic distance: arrays of (lat1, lon1, lat2, lon2) "
                                 "\u2192 array of distances (meters).\n"
                                 "Uses rayon for parallel computation.")
    assert gcd_batch.__text_signature__ == "(lat1, lon1, lat2, lon2)"
    assert gcd_batch.__doc__ == ("Batch great-circle distance: arrays \u2192 "
                                 "array of distances (meters).")


# --- reference values -------------------------------------------------------------

def test_great_circle_matches_scalar_bit_for_bit():
    pairs = random_pairs(100_000)
    result = gcd_batch(*pairs)
    expected = np.array([gcd(*p) for p in zip(*(a.tolist() for a in pairs))])
    assert result.tobytes() == expected.tobytes()


@pytest.mark.skipif(not hasattr(distance, "geodesic_distance"),
                    reason="no scalar geodesic_distance")
def test_geodesic_matches_scalar_bit_for_bit():
    pairs = random_pairs(100_000, seed=7)
    result = geo_batch(*pairs)
    expected = np.array([distance.geodesic_distance(*p) for p in zip(*(a.tolist() for a in pairs))])
    assert result.tobytes() == expected.tobytes()


def test_geodesic_matches_geographiclib():
    geographiclib = pytest.importorskip("geographiclib.geodesic")
    wgs84 = geographiclib.Geodesic.WGS84
    pairs = random_pairs(5_000, seed=11)
    result = geo_batch(*pairs)
    for i, p in enumerate(zip(*(a.tolist() for a in pairs))):
        # Both solve the same series; they differ by a few ulps of 2e7 m at most.
        expected = wgs84.Inverse(*p, outmask=wgs84.DISTANCE)["s12"]
        assert result[i] == pytest.approx(expected, abs=10 * NM)


@pytest.mark.parametrize("batch, scalar_name", [(gcd_batch, "great_circle_distance"),
                                                 (geo_batch, "geodesic_distance")])
def test_one_element(batch, scalar_name):
    result = batch(np.array([10.0]), np.array([20.0]), np.array([-30.0]), np.array([40.0]))
    assert result.shape == (1,)
    if hasattr(distance, scalar_name):
        assert result[0] == getattr(distance, scalar_name)(10.0, 20.0, -30.0, 40.0)


# --- shapes and lengths -------------------------------------------------------------

@pytest.mark.parametrize("batch", BATCHES)
@pytest.mark.parametrize("others", [0, 3])
def test_empty_lat1(batch, others):
    result = batch(np.empty(0), *(np.zeros(others) for _ in range(3)))
    assert result.shape == (0,) and result.dtype == np.float64
    assert type(result.base).__name__ == "PySliceContainer"


@pytest.mark.parametrize("batch", BATCHES)
def test_longer_arrays_are_accepted(batch):
    lat1, lon1, lat2, lon2 = random_pairs(8)
    result = batch(lat1[:5], lon1, lat2, lon2[:5])
    assert result.shape == (5,)
    assert result.tobytes() == batch(lat1[:5], lon1[:5], lat2[:5], lon2[:5]).tobytes()


@pytest.mark.parametrize("batch", BATCHES)
@pytest.mark.parametrize("sizes, message", [
    ((5, 5, 5, 3), "argument 'lon2': has 3 elements, fewer than the 5 of 'lat1'"),
    ((5, 4, 2, 5), "argument 'lon1': has 4 elements, fewer than the 5 of 'lat1'"),
    ((5, 8, 0, 1), "argument 'lat2': has 0 elements, fewer than the 5 of 'lat1'"),
])
def test_shorter_arrays_are_refused(batch, sizes, message):
    with pytest.raises(ValueError) as caught:
        batch(*(np.zeros(n) for n in sizes))
    assert str(caught.value) == message


# --- accepted arrays ------------------------------------------------------------------

class Degrees(np.ndarray):
    pass


@pytest.mark.parametrize("batch", BATCHES)
def test_keywords_subclasses_readonly_and_repeated_arrays(batch):
    lat1, lon1, lat2, lon2 = random_pairs(50)
    expected = batch(lat1, lon1, lat2, lon2).tobytes()
    assert batch(lon2=lon2, lat2=lat2, lon1=lon1, lat1=lat1).tobytes() == expected
    assert batch(lat1.view(Degrees), lon1, lat2, lon2.view(Degrees)).tobytes() == expected
    for a in (lat1, lon1, lat2, lon2):
        a.flags.writeable = False
    assert batch(lat1, lon1, lat2, lon2).tobytes() == expected
    assert np.all(batch(lat1, lon1, lat1, lon1) == 0.0)


@pytest.mark.parametrize("batch", BATCHES)
def test_result_array(batch):
    inputs = random_pairs(100)
    copies = [a.copy() for a in inputs]
    result = batch(*inputs)
    assert type(result) is np.ndarray and result.dtype == np.float64 and result.ndim == 1
    assert result.flags.writeable and not result.flags.owndata and result.flags.c_contiguous
    assert type(result.base).__name__ == "PySliceContainer"
    result[:] = -1.0
    for a, copy in zip(inputs, copies):
        assert a.tobytes() == copy.tobytes()


def test_result_buffer_outlives_the_array_through_views():
    inputs = random_pairs(1000)
    result = gcd_batch(*inputs)
    expected = result.copy()
    view = result[10:20]
    del result
    gc.collect()
    gcd_batch(*random_pairs(1000, seed=3))  # reuses freed memory, if any was freed
    assert view.tobytes() == expected[10:20].tobytes()


def test_result_buffer_is_visible_to_tracemalloc():
    import tracemalloc
    inputs = random_pairs(10_000)
    tracemalloc.start()
    try:
        before = tracemalloc.get_traced_memory()[0]
        result = gcd_batch(*inputs)
        assert tracemalloc.get_traced_memory()[0] - before >= result.nbytes
        view = result[::2]
        del result
        assert tracemalloc.get_traced_memory()[0] - before >= view.base.nbytes
        del view
        assert tracemalloc.get_traced_memory()[0] - before < 10_000
    finally:
        tracemalloc.stop()


@pytest.mark.parametrize("batch", BATCHES)
@pytest.mark.parametrize("bad", [math.nan, math.inf, -math.inf])
@pytest.mark.parametrize("position", range(4))
def test_special_value_stays_in_its_element(batch, bad, position):
    inputs = [a.copy() for a in random_pairs(64)]
    clean = batch(*inputs)
    inputs[position][17] = bad
    result = batch(*inputs)
    assert math.isnan(result[17])
    assert np.delete(result, 17).tobytes() == np.delete(clean, 17).tobytes()


# --- refused arguments --------------------------------------------------------------

REFUSED = [
    pytest.param([1.0, 2.0], "list", id="list"),
    pytest.param(np.zeros(2, np.float32), "ndarray", id="float32"),
    pytest.param(np.zeros(2, np.int64), "ndarray", id="int64"),
    pytest.param(np.zeros(2, object), "ndarray", id="object"),
    pytest.param(np.zeros(2, ">f8"), "ndarray", id="big-endian"),
    pytest.param(np.zeros((2, 1)), "ndarray", id="2-D"),
    pytest.param(np.zeros(()), "ndarray", id="0-D"),
    pytest.param(1.5, "float", id="float"),
]


@pytest.mark.parametrize("batch", BATCHES)
@pytest.mark.parametrize("position", range(4))
@pytest.mark.parametrize("bad, type_name", REFUSED)
def test_refused_argument(batch, position, bad, type_name):
    args = [np.zeros(2) for _ in range(4)]
    args[position] = bad
    with pytest.raises(TypeError) as caught:
        batch(*args)
    assert str(caught.value) == (f"argument '{NAMES[position]}': '{type_name}' object "
                                 "cannot be converted to 'PyArray<T, D>'")
    assert caught.value.__cause__ is None and caught.value.__suppress_context__


@pytest.mark.parametrize("batch", BATCHES)
def test_first_refusal_wins(batch):
    with pytest.raises(TypeError, match="^argument 'lon1': 'list'"):
        batch(np.zeros(2), [0.0], np.zeros(2), 3.0)


@pytest.mark.parametrize("batch", BATCHES)
def test_binding_errors_come_first(batch):
    with pytest.raises(TypeError) as caught:
        batch([0.0], [0.0])
    assert str(caught.value) == (f"{batch.__name__}() missing 2 required positional arguments: "
                                 "'lat2' and 'lon2'")


NOT_CONTIGUOUS = [
    pytest.param(np.arange(4.0)[::2], id="every-second"),
    pytest.param(np.arange(2.0)[::-1], id="reversed"),
    pytest.param(np.zeros((3, 3))[:, 0], id="column"),
]


@pytest.mark.parametrize("batch", BATCHES)
@pytest.mark.parametrize("position", range(4))
@pytest.mark.parametrize("strided", NOT_CONTIGUOUS)
def test_not_contiguous(batch, position, strided):
    args = [np.zeros(2) for _ in range(4)]
    args[position] = strided
    with pytest.raises(TypeError) as caught:
        batch(*args)
    assert str(caught.value) == "The given array is not contiguous"


@pytest.mark.parametrize("batch", BATCHES)
def test_type_errors_precede_contiguity_and_length(batch):
    with pytest.raises(TypeError, match="^argument 'lon2': 'list'"):
        batch(np.arange(4.0)[::2], np.zeros(2), np.zeros(2), [0.0])
    with pytest.raises(TypeError, match="^The given array is not contiguous$"):
        batch(np.zeros(5), np.zeros(1), np.zeros(1), np.arange(4.0)[::2])


@pytest.mark.parametrize("batch", BATCHES)
def test_one_element_strided_view_is_contiguous(batch):
    one = np.array([0.0, 99.0])[::2]
    assert batch(one, one, np.array([1.0]), one).shape == (1,)


# --- the worker pool ----------------------------------------------------------------

def batch_digest(n, seed):
    pairs = random_pairs(n, seed)
    return (hashlib.sha256(gcd_batch(*pairs).tobytes()).hexdigest(),
            hashlib.sha256(geo_batch(*pairs).tobytes()).hexdigest())


DIGEST_CODE = """
    import sys
    sys.path.insert(0, {path!r})
    from test_batch import batch_digest
    print(*batch_digest({n}, 5))
"""


@pytest.mark.parametrize("threads", ["1", "2", "7"])
def test_same_results_for_any_thread_count(threads):
    n = 30_000
    done = run_python(DIGEST_CODE.format(path=os.path.dirname(__file__), n=n),
                      {"RAYON_NUM_THREADS": threads})
    assert done.returncode == 0, done.stderr
    assert done.stdout.split() == list(batch_digest(n, 5))


THREADS_CODE = """
    import os
    import numpy as np
    from tarnu._tarnu import distance
    tasks = lambda: len(os.listdir("/proc/self/task"))
    before = tasks()
    distance.great_circle_distance_batch(*(np.zeros({n}) for _ in range(4)))
    print(tasks() - before)
"""


@pytest.mark.parametrize("env, workers", [
    ({"RAYON_NUM_THREADS": "1"}, 0),
    ({"RAYON_NUM_THREADS": "3"}, 2),
    ({"RAYON_NUM_THREADS": "x", "RAYON_RS_NUM_CPUS": "4"}, 3),
])
@pytest.mark.parametrize("n", [0, 1_000_000])
def test_pool_size_follows_environment(env, workers, n):
    done = run_python(THREADS_CODE.format(n=n), env)
    assert done.returncode == 0, done.stderr
    assert int(done.stdout) == workers


def forked_child_batch():
    return batch_digest(200_000, 9)


# Forking a process whose pool threads run is the very case under test.
@pytest.mark.filterwarnings("ignore:This process .* is multi-threaded:DeprecationWarning")
def test_batch_after_fork():
    expected = forked_child_batch()  # the parent's pool is running by now
    with multiprocessing.get_context("fork").Pool(1) as children:
        assert children.apply_async(forked_child_batch).get(timeout=60) == expected


# --- without NumPy ------------------------------------------------------------------

def test_import_and_scalar_functions_without_numpy():
    done = run_python("""
        import sys

        class NoNumpy:
            def find_spec(self, name, path=None, target=None):
                if name == "numpy" or name.startswith("numpy."):
                    raise ModuleNotFoundError(f"No module named {name!r}")

        sys.meta_path.insert(0, NoNumpy())
        import tarnu._tarnu as t
        print(t.distance.great_circle_distance(0, 0, 0, 1))
        try:
            t.distance.great_circle_distance_batch([0.0], [0.0], [0.0], [0.0])
        except BaseException as e:
            print(type(e).__name__, e)
        print("numpy" in sys.modules)
    """)
    assert done.returncode == 0, done.stderr
    lines = done.stdout.splitlines()
    assert float(lines[0]) == pytest.approx(111195.080, abs=1e-3)
    assert lines[1].startswith("PanicException Failed to access NumPy array API capsule")
    assert lines[2] == "False"
