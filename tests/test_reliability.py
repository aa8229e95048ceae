"""Under load and over time: no leaked reference or memory on any path, many
threads get the serial answers, racing first uses are safe, and a second
interpreter is refused cleanly."""

import sys
import threading
import tracemalloc

import numpy as np
import pytest

from conftest import BATCH, FUNCTIONS, SANITIZED, assert_ok, bits, random_pairs, \
    run_python, scalar_args

PAGE = 4096
CALLS = 100_000 // (10 if SANITIZED else 1)


def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * PAGE


class Raises:
    def __float__(self):
        raise ValueError("no float")


def cases(f):
    """(args, kwargs) of calls that succeed, then of calls that fail, for one
    function, made of fresh heap objects whose reference counts can move."""
    fresh = lambda x: float(str(float(x)))
    if f.name in BATCH:
        a, b = np.linspace(-60.0, 60.0, 17), np.linspace(-170.0, 170.0, 17)
        good = [((a, b, b, a), {}), ((), dict(zip(f.params, (a, b, b, a)))),
                (tuple(np.empty(0) for _ in range(4)), {})]
        return good, [((a, b, a, [1.0]), {}), ((a, b, a, b.astype(np.float32)), {}),
                      ((a, b, a, np.zeros(34)[::2]), {}), ((a, b, a, b[:5]), {}), ((a, b, a), {})]
    if not f.params:
        return [((), {})], [((fresh(1),), {}), ((), {"x": fresh(1)})]
    args = tuple(map(fresh, scalar_args(f)))
    extra = fresh(1.25)
    return [(args, {}), ((), dict(zip(f.params, args)))], [
        (args[:-1] + ([extra],), {}), (args[:-1] + (Raises(),), {}), (args[:-1] + (10**400,), {}),
        (args[:-1], {}), (args + (extra,), {}), (args[:-1], {"bogus": extra}),
        (args, {f.params[0]: extra})] + [((), {f.params[-1]: extra})] * (len(f.params) > 1)


def repeat(fn, calls, n):
    for _ in range(n):
        for args, kwargs in calls:
            try:
                fn(*args, **kwargs)
            except Exception:
                pass


@pytest.mark.parametrize("f", FUNCTIONS, ids=repr)
def test_no_leaks(f):
    good, bad = cases(f)
    for args, kwargs in bad:
        with pytest.raises(Exception):
            f.fn(*args, **kwargs)
    calls = good + bad
    held = [f.fn, *(x for args, kwargs in calls for x in (*args, *kwargs.values()))]
    n = CALLS // len(calls) // (20 if f.name in BATCH else 1)
    repeat(f.fn, calls, 200)  # first-use statics, caches, arenas
    counts = [sys.getrefcount(o) for o in held]
    before = rss()
    repeat(f.fn, calls, n)
    grown = rss() - before
    tracemalloc.start()
    try:
        repeat(f.fn, calls, 100)
        traced = tracemalloc.get_traced_memory()[0]
        repeat(f.fn, calls, n // 10)
        traced = tracemalloc.get_traced_memory()[0] - traced
    finally:
        tracemalloc.stop()
    assert [sys.getrefcount(o) for o in held] == counts
    assert traced < 32 << 10, f"{traced} bytes traced"  # a leaked object each call: far more
    if not SANITIZED:  # ASan keeps freed memory in quarantine
        assert grown < 512 << 10, f"RSS grew by {grown} bytes"


@pytest.mark.skipif(SANITIZED, reason="ASan's quarantine keeps freed memory resident")
@pytest.mark.parametrize("name", BATCH)
def test_batch_buffer_is_freed_with_its_last_view(name):
    n = 4_500_000  # 36 MB: mapped on its own, so freeing it shows in RSS
    zeros = np.zeros(n)
    base = rss()
    result = getattr(sys.modules["tarnu.distance"], name)(zeros, zeros, zeros, zeros)
    view = result[n // 2:]
    del result
    assert rss() - base > 4 * n, "the buffer went with the array while a view remained"
    del view
    assert rss() - base < 2 * n, "the buffer outlived its last view"


# --- threads --------------------------------------------------------------------

def answer(fn, args, kwargs):
    try:
        return "ok", bits(fn(*args, **kwargs))
    except Exception as e:
        return type(e), str(e)


def test_threads_get_the_serial_answers():
    """Eight threads, switching as often as the interpreter allows, each make
    every call twice from its own starting point, and get the serial answers."""
    calls = [(f.fn, *call) for f in FUNCTIONS for call in sum(cases(f), [])]
    serial = [answer(*c) for c in calls]
    failures = []
    start = threading.Barrier(8)

    def worker(k):
        start.wait()
        for i in range(k, k + 2 * len(calls)):
            j = i % len(calls)
            if answer(*calls[j]) != serial[j]:
                failures.append(calls[j])

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)
    try:
        threads = [threading.Thread(target=worker, args=(k,)) for k in range(8)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
    finally:
        sys.setswitchinterval(interval)
    assert not failures, failures[:3]


@pytest.mark.parametrize("name, pool", [("geodesic_distance", "1"), ("inverse", "1"),
                                        ("direct", "1"), ("geodesic_distance_batch", "1"),
                                        ("geodesic_distance_batch", "2"),
                                        ("great_circle_distance_batch", "4")])
def test_racing_first_uses(name, pool):
    """Threads that make the first call at once build the WGS84 solver, the
    NumPy binding and the pool together: one wins, none waits forever."""
    assert_ok(run_python(f"""
        import sys, threading
        sys.setswitchinterval(1e-6)
        from conftest import BY_NAME, bits, random_pairs, scalar_args
        f = BY_NAME[{name!r}]
        args = random_pairs(1000) if f.name.endswith("_batch") else scalar_args(f, 1)
        barrier, results = threading.Barrier(8), []
        def first_call():
            barrier.wait()
            results.append(bits(f.fn(*args)))
        threads = [threading.Thread(target=first_call) for _ in range(8)]
        for t in threads: t.start()
        for t in threads: t.join()
        assert len(results) == 8 and len(set(results)) == 1 and bits(f.fn(*args)) == results[0]
        print("ok")
    """, env={"RAYON_NUM_THREADS": pool}, timeout=60))


# --- interpreters -----------------------------------------------------------------

# `import tarnu._tarnu` in a new interpreter ("isolated" has its own GIL and
# refuses single-phase modules; "legacy" shares the GIL, so the module's own
# refusal answers). 3.12 names the module _xxsubinterpreters, 3.13 _interpreters.
SUBINTERPRETER = """
    try:
        import _interpreters as interpreters
        def run_in(kind, code):
            interp = interpreters.create(kind)
            failure = interpreters.exec(interp, code)
            return None if failure is None else f"{{failure.type.__name__}}: {{failure.msg}}"
    except ImportError:
        import _xxsubinterpreters as interpreters
        def run_in(kind, code):
            interp = interpreters.create(isolated=kind == "isolated")
            try:
                interpreters.run_string(interp, code)
            except interpreters.RunFailedError as e:
                return str(e).replace("<class 'ImportError'>", "ImportError")
    {first}
    print(run_in({kind!r}, "import tarnu._tarnu"))
    try:
        from tarnu import _tarnu
        print("main: imported", _tarnu.distance.great_circle_distance(0, 0, 0, 1) > 0)
    except ImportError:
        print("main: ImportError")
    print("ok")
"""


@pytest.mark.parametrize("kind, first", [("isolated", "import tarnu._tarnu"),
                                         ("legacy", "import tarnu._tarnu"), ("legacy", "")])
def test_one_interpreter_has_the_module(kind, first):
    child = run_python(SUBINTERPRETER.format(kind=kind, first=first))
    assert_ok(child)
    sub, main = child.stdout.splitlines()[:2]
    if first and kind == "legacy":
        assert sub.startswith("ImportError: ") and "subinterpreters" in sub
    # 3.12 initialises a single-phase module in the subinterpreter that asks
    # first, 3.13 in the main interpreter first: either way exactly one wins.
    assert (sub == "None", main) in {(True, "main: ImportError"), (False, "main: imported True")}


# --- faults at the entry points -----------------------------------------------------

def test_module_init_fault_is_raised_not_fatal():
    # A NumPy without its API tables is an internal fault, thrown inside
    # PyInit__ufunc and inside a batch call: each must arrive as
    # PanicException, never end the process.
    child = run_python("""
        import sys, types
        for name in ("numpy", "numpy._core", "numpy._core._multiarray_umath"):
            sys.modules[name] = types.ModuleType(name)
        from tarnu import _tarnu
        for attempt in (lambda: _tarnu.distance.great_circle_distance_batch(*[[0.0]] * 4),
                        lambda: __import__("tarnu._ufunc")):
            try:
                attempt()
            except BaseException as e:
                assert type(e).__name__ == "PanicException" and "API capsule" in str(e), e
            else:
                raise AssertionError("no PanicException")
        print("ok")
    """)
    assert_ok(child)
    assert child.stderr.count("tarnu: internal fault") == 2
