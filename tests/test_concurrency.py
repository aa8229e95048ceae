"""Many Python threads calling the module at once get exactly the serial
answers; first uses of the shared state (the WGS84 solver, the worker pool
and the NumPy binding) are safe when they race."""

import os
import subprocess
import sys
import textwrap
import threading
import time

import pytest

from surface_walk import BATCH_FUNCTIONS, BY_NAME, FUNCTIONS, WGS84_USERS, batch_args, bits, \
    scalar_args

THREADS = 8
SECONDS = 2.0


def workload():
    """(function, args, kwargs) triples over the whole surface: valid calls
    in every binding and calls that fail, so error paths race too."""
    calls = []
    for f in FUNCTIONS:
        if f.batch:
            np = pytest.importorskip("numpy")
            calls.append((f.fn, batch_args(np, n=33, seed=len(calls)), {}))
            calls.append((f.fn, batch_args(np, n=1), {}))
            calls.append((f.fn, (np.zeros(4), np.zeros(4), np.zeros(4), [0.0]), {}))
            continue
        if not f.arity:
            calls += [(f.fn, (), {}), (f.fn, (1.0,), {})]
            continue
        for i in range(3):
            args = scalar_args(f, i)
            calls.append((f.fn, args, {}))
            calls.append((f.fn, (), dict(zip(f.parameters, args))))
        calls.append((f.fn, args[:-1] + ("x",), {}))
        calls.append((f.fn, args[:-1], {}))
        calls.append((f.fn, args, {"bogus": 1.0}))
    return calls


def answer(fn, args, kwargs):
    try:
        return "ok", bits(fn(*args, **kwargs))
    except Exception as e:
        return type(e), str(e)


def test_threads_get_the_serial_answers():
    calls = workload()
    serial = [answer(*c) for c in calls]
    failures = []
    counts = [0] * THREADS
    start = threading.Barrier(THREADS)

    def worker(k):
        start.wait()
        deadline = time.monotonic() + SECONDS
        i = k
        while time.monotonic() < deadline:
            j = i % len(calls)
            got = answer(*calls[j])
            if got != serial[j]:
                failures.append((calls[j], got, serial[j]))
                return
            i += 1
        counts[k] = i - k

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)  # switch threads as often as the interpreter allows
    try:
        threads = [threading.Thread(target=worker, args=(k,)) for k in range(THREADS)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
    finally:
        sys.setswitchinterval(interval)
    assert not failures, failures[:3]
    assert all(c > len(calls) for c in counts), counts  # every thread went round at least once


def run_python(code, env=None, timeout=120):
    return subprocess.run([sys.executable, "-X", "faulthandler", "-c", textwrap.dedent(code)],
                          capture_output=True, text=True, timeout=timeout,
                          env=dict(os.environ, **(env or {})))


RACE = """
    import sys, threading
    sys.setswitchinterval(1e-6)
    sys.path.insert(0, {tests!r})
    from surface_walk import BY_NAME, batch_args, bits, scalar_args
    fn = BY_NAME[{name!r}]
    {make_args}
    barrier = threading.Barrier({threads})
    results = [None] * {threads}

    def first_call(k):
        barrier.wait()
        results[k] = bits(fn.fn(*args))

    threads = [threading.Thread(target=first_call, args=(k,)) for k in range({threads})]
    for t in threads: t.start()
    for t in threads: t.join()
    assert None not in results and all(r == results[0] for r in results)
    assert bits(fn.fn(*args)) == results[0]
    print("ok")
"""

WGS84 = sorted(name for name in WGS84_USERS if name in BY_NAME and not BY_NAME[name].batch)


@pytest.mark.skipif(not WGS84, reason="no WGS84 functions in this build")
@pytest.mark.parametrize("name", WGS84)
def test_first_use_of_the_wgs84_solver_from_many_threads(name):
    code = RACE.format(tests=os.path.dirname(__file__), name=name, threads=THREADS,
                       make_args="args = scalar_args(fn, 1)")
    child = run_python(code)
    assert child.returncode == 0 and child.stdout.strip() == "ok", child.stderr


@pytest.mark.skipif(not BATCH_FUNCTIONS, reason="no batch functions in this build")
@pytest.mark.parametrize("pool_threads", ["1", "2", "4"])
@pytest.mark.parametrize("name", [f.name for f in BATCH_FUNCTIONS])
def test_two_threads_make_the_first_batch_call_at_once(name, pool_threads):
    """Creates the NumPy binding, the worker pool (and, for the geodesic
    batch, the solver) in a race. A deadlock shows as a timeout."""
    code = RACE.format(tests=os.path.dirname(__file__), name=name, threads=2,
                       make_args="import numpy; args = batch_args(numpy, n=1000)")
    child = run_python(code, env={"RAYON_NUM_THREADS": pool_threads}, timeout=60)
    assert child.returncode == 0 and child.stdout.strip() == "ok", child.stderr
