"""The batch functions: arrays in, a new array out, each element what the
scalar function gives, computed on the worker pool."""

import tracemalloc

import numpy as np
import pytest

from conftest import BATCH, BY_NAME, SPECIAL, assert_ok, random_pairs, run_python
from tarnu import ufunc

BATCHES = [BY_NAME[name].fn for name in BATCH]
NAMES = ("lat1", "lon1", "lat2", "lon2")


def scalar_loop(batch, columns):
    scalar = BY_NAME[BATCH[batch.__name__]].fn
    return np.array([scalar(*row) for row in zip(*(c.tolist() for c in columns))], np.float64)


@pytest.mark.parametrize("batch", BATCHES, ids=lambda f: f.__name__)
@pytest.mark.parametrize("n", [0, 1, 31, 32, 2049, 100_003])  # around the pool's grains
def test_each_element_is_the_scalar_result(batch, n):
    columns = [c.copy() for c in random_pairs(n, seed=n)]
    for k, value in enumerate(SPECIAL * 4 if n > 100 else ()):  # stays in its own element
        columns[k % 4][17 * k] = value
    result = batch(*columns)
    assert result.tobytes() == scalar_loop(batch, columns).tobytes()
    assert type(result) is np.ndarray and result.dtype == np.float64 and result.shape == (n,)
    assert result.flags.writeable and result.flags.c_contiguous and not result.flags.owndata
    assert type(result.base).__name__ == "PySliceContainer"


class Degrees(np.ndarray):
    pass


@pytest.mark.parametrize("batch", BATCHES, ids=lambda f: f.__name__)
def test_accepted_arrays(batch):
    lat1, lon1, lat2, lon2 = random_pairs(8)
    copies = [c.copy() for c in (lat1, lon1, lat2, lon2)]
    expected = batch(lat1[:5], lon1[:5], lat2[:5], lon2[:5]).tobytes()
    lon2.flags.writeable = False
    one = np.array([lat1[0], 99.0])[::2]  # a strided view of one element is contiguous
    for args, kwargs in [((lat1[:5], lon1, lat2, lon2[:5]), {}),  # longer: the rest unread
                         ((), dict(lon2=lon2[:5], lat2=lat2[:5], lon1=lon1[:5], lat1=lat1[:5])),
                         ((lat1[:5].view(Degrees), lon1[:5], lat2[:5], lon2[:5]), {}),
                         ((np.asfortranarray(lat1[:5]), lon1[:5], lat2[:5], lon2[:5]), {})]:
        assert batch(*args, **kwargs).tobytes() == expected
    assert batch(one, lon1, lat2, lon2)[0] == batch(lat1[:1], lon1, lat2, lon2)[0]
    assert [c.tobytes() for c in (lat1, lon1, lat2, lon2)] == [c.tobytes() for c in copies]


@pytest.mark.parametrize("batch", [*BATCHES, ufunc.great_circle_distance, ufunc.geodesic_distance],
                         ids=lambda f: f.__name__)
def test_misaligned_arrays_are_copied_not_read_in_place(batch):
    # Views at an odd byte offset, every other argument: the batch functions
    # copy their doubles before reading them, and NumPy hands the ufuncs'
    # loops aligned copies (a read in place is what UBSan's alignment check
    # stops in make test-asan).
    columns = random_pairs(1001, seed=5)
    raw = [bytearray(b"\0" + c.tobytes()) for c in columns]
    odd = [np.frombuffer(r, np.float64, offset=1) if k % 2 == 0 else c
           for k, (r, c) in enumerate(zip(raw, columns))]
    assert [a.flags.aligned for a in odd] == [False, True, False, True]
    assert batch(*odd).tobytes() == batch(*columns).tobytes()


def refused(type_name, name):
    return TypeError, f"argument '{name}': '{type_name}' object cannot be converted to 'PyArray<T, D>'"


NOT_CONTIGUOUS = (TypeError, "The given array is not contiguous")
Z = np.zeros(2)

# Arguments at each position and what they are refused with: types first in
# parameter order, then contiguity, then length.
REFUSALS = [
    ([Z, Z, Z, [0.0, 1.0]], refused("list", "lon2")),
    ([Z, Z, np.zeros(2, np.float32), Z], refused("ndarray", "lat2")),
    ([Z, np.zeros(2, np.int64), Z, Z], refused("ndarray", "lon1")),
    ([np.zeros(2, ">f8"), Z, Z, Z], refused("ndarray", "lat1")),
    ([Z, Z, Z, np.zeros(2, object)], refused("ndarray", "lon2")),
    ([Z, Z, np.zeros((2, 1)), Z], refused("ndarray", "lat2")),
    ([Z, Z, np.zeros(()), Z], refused("ndarray", "lat2")),
    ([Z, 1.5, Z, Z], refused("float", "lon1")),
    ([Z, [0.0], Z, 3.0], refused("list", "lon1")),  # the first refusal wins
    ([np.arange(4.0)[::2], Z, Z, [0.0]], refused("list", "lon2")),  # types before contiguity
    ([Z, Z, Z, np.arange(4.0)[::2]], NOT_CONTIGUOUS),
    ([Z, np.arange(2.0)[::-1], Z, Z], NOT_CONTIGUOUS),
    ([Z, Z, np.zeros((3, 3))[:, 0], Z], NOT_CONTIGUOUS),
    ([np.zeros(5), np.zeros(1), Z, np.arange(4.0)[::2]], NOT_CONTIGUOUS),  # before lengths
    ([np.zeros(5), np.zeros(5), np.zeros(5), np.zeros(3)],
     (ValueError, "argument 'lon2': has 3 elements, fewer than the 5 of 'lat1'")),
    ([np.zeros(5), np.zeros(4), np.zeros(0), np.zeros(1)],
     (ValueError, "argument 'lon1': has 4 elements, fewer than the 5 of 'lat1'")),
]


@pytest.mark.parametrize("batch", BATCHES, ids=lambda f: f.__name__)
@pytest.mark.parametrize("args, error", REFUSALS)
def test_refusals(batch, args, error):
    with pytest.raises(BaseException) as caught:
        batch(*args)
    assert (type(caught.value), str(caught.value)) == error
    assert caught.value.__cause__ is None and caught.value.__suppress_context__ == (
        "argument" in error[1] and error[0] is TypeError)
    with pytest.raises(TypeError, match=r"missing 2 required positional arguments: 'lat2' and"):
        batch([0.0], "not an array")  # binding before acceptance


def test_result_buffer_lives_as_long_as_its_views_and_is_traced():
    tracemalloc.start()
    try:
        before = tracemalloc.get_traced_memory()[0]
        result = BATCHES[1](*random_pairs(10_000))
        assert tracemalloc.get_traced_memory()[0] - before >= result.nbytes  # like NumPy's
        view, expected = result[10:20], result[10:20].copy()
        del result
        BATCHES[1](*random_pairs(10_000, seed=3))  # would reuse the buffer if it were freed
        assert view.tobytes() == expected.tobytes()
        del view, expected
        assert tracemalloc.get_traced_memory()[0] - before < 10_000
    finally:
        tracemalloc.stop()


# --- the worker pool, across processes ------------------------------------------------

# Results, the threads the first call starts, and a child forked while the
# pool's threads run (it has none of them, and must build its own).
POOL = """
    import hashlib, os, signal, warnings
    from conftest import random_pairs
    from tarnu import distance
    tasks = lambda: len(os.listdir("/proc/self/task"))
    before = tasks()
    digest = lambda: [hashlib.sha256(f(*random_pairs(30_000, seed=5)).tobytes()).hexdigest()
                      for f in (distance.great_circle_distance_batch,
                                distance.geodesic_distance_batch)]
    parent = digest()
    print(*parent, tasks() - before)
    warnings.simplefilter("ignore")  # forking a threaded process is the point
    pid = os.fork()
    if pid == 0:
        signal.alarm(60)
        os._exit(digest() != parent)
    print(os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]))
"""


@pytest.mark.parametrize("env, workers", [({"RAYON_NUM_THREADS": "1"}, 0),
                                          ({"RAYON_NUM_THREADS": "3"}, 2),
                                          ({"RAYON_NUM_THREADS": "x", "RAYON_RS_NUM_CPUS": "7"}, 6)])
def test_pool_size_results_and_fork(env, workers):
    child = run_python(POOL, env)
    assert child.returncode == 0, child.stderr
    *digests, started, forked = child.stdout.split()
    assert (int(started), forked) == (workers, "0")
    assert digests == run_python(POOL, {"RAYON_NUM_THREADS": "2"}).stdout.split()[:2]


# SIGINT sent while a batch call runs, handled by a handler that counts the
# results the call has delivered. The call runs inside list.extend, between two
# writes to a pipe: C code from the first write to the last, so no handler can
# run in between unless the call itself runs it. The byte that Python's
# C-level handler writes to the same pipe when the signal lands shows that it
# landed between the writes. A second process reads the pipe, sends SIGINT
# once the call has started, and hands the pipe's bytes back.
KILLER = """
import os, signal, sys
log = b""
while chunk := os.read(0, 1 << 16):
    if b"started" in log + chunk and b"started" not in log:
        os.kill(int(sys.argv[1]), signal.SIGINT)
    log += chunk
sys.stdout.buffer.write(log)
"""
SIGINT_DURING_A_CALL = """
    import itertools, os, signal, subprocess, sys, time
    import numpy as np
    from tarnu import distance
    fn = distance.geodesic_distance_batch
    lat, lon = np.linspace(-80.0, 80.0, {n}), np.linspace(-170.0, 170.0, {n})
    read, write = os.pipe()
    os.set_blocking(write, False)
    killer = subprocess.Popen([sys.executable, "-c", {killer!r}, str(os.getpid())],
                              stdin=read, stdout=subprocess.PIPE)
    os.close(read)
    results, handled = [], []
    signal.signal(signal.SIGINT, lambda signum, frame: handled.append(len(results)))
    signal.set_wakeup_fd(write)
    results.extend(itertools.chain(itertools.starmap(os.write, [(write, b"started ")]),
                                   map(fn, [lat], [lon], [-lat], [lon]),
                                   itertools.starmap(os.write, [(write, b" returned")])))
    signal.set_wakeup_fd(-1)
    os.close(write)
    log = killer.communicate()[0]
    while not handled:  # a signal that landed late has yet to be handled
        time.sleep(0.01)
    assert results[1][8] == fn(lat[8:9], lon[8:], -lat[8:], lon[8:])[0] > 0
    print(handled, log)
"""


def test_sigint_during_a_long_call_arrives_after_it():
    """The signal lands after the call starts and before it returns, and is
    handled once the call has delivered its result, never inside the call."""
    for n in (2_000_000, 8_000_000):  # the longer call if the signal came too late
        child = run_python(SIGINT_DURING_A_CALL.format(n=n, killer=KILLER), timeout=300)
        assert child.returncode == 0, child.stderr
        assert child.stdout.startswith("[3] "), child.stdout  # [1]: handled inside the call
        if "started \\x02 returned" in child.stdout:
            return
        assert "started  returned\\x02" in child.stdout, child.stdout
    raise AssertionError("SIGINT never landed during the call")


def test_without_numpy_the_array_functions_raise_import_error():
    child = run_python("""
        import importlib.abc, inspect, sys

        class HideNumpy(importlib.abc.MetaPathFinder):
            def find_spec(self, name, path=None, target=None):
                if name.partition(".")[0] == "numpy":
                    raise ModuleNotFoundError(f"No module named {name!r}")

        sys.meta_path.insert(0, HideNumpy())
        from tarnu import _tarnu
        for sub in _tarnu.__all__:
            for name in getattr(_tarnu, sub).__all__:
                fn = getattr(getattr(_tarnu, sub), name)
                if not name.endswith("_batch"):
                    fn(*[1.0] * len(inspect.signature(fn).parameters))
                    continue
                try:
                    fn([0.0], [0.0], [0.0], [0.0])
                except ImportError as e:
                    assert "numpy" in str(e) and isinstance(e.__cause__, ModuleNotFoundError), e
                else:
                    raise AssertionError("no ImportError")
        try:
            from tarnu import ufunc
        except ImportError as e:
            assert "numpy" in str(e) and isinstance(e.__cause__, ModuleNotFoundError), e
        else:
            raise AssertionError("tarnu.ufunc imported without numpy")
        assert not any(m.partition(".")[0] == "numpy" for m in sys.modules)
        print("ok")
    """)
    assert_ok(child)
    assert child.stderr == ""
