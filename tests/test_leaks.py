"""Repeated calls leave memory and reference counts flat, on every path.

Each function is called many times with the same argument objects, on valid
input and on each kind of bad input; afterwards the arguments' reference
counts are unchanged, Python's traced allocations have not grown
(tracemalloc: objects leaked by the module) and neither has the resident set
(RSS: native allocations that tracemalloc cannot see). Arguments are fresh
heap objects, never immortal ones (small ints, None), whose counts would not
move.

Under `make test-asan` the RSS checks are skipped: ASan keeps freed memory in
quarantine, so RSS grows there whatever the module does.
"""

import sys
import tracemalloc

import pytest

from surface_walk import BATCH_FUNCTIONS, SANITIZED, SCALAR, ids, scalar_args

# Valid calls are cheap, failing ones cost an exception each: fewer of those.
SCALE = 10 if SANITIZED else 1
CALLS = 100_000 // SCALE
FAILING_CALLS = 30_000 // SCALE
WARMUP = 200
# A leaked object or malloc block is at least 32 bytes (an exception object
# several times that): over FAILING_CALLS calls that is about 1 MB of RSS,
# and over a tenth of them 96 kB traced.
RSS_SLACK = 512 << 10
TRACED_SLACK = 32 << 10
PAGE = 4096


def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * PAGE


def repeat(fn, args, kwargs, expected, n):
    if expected is None:
        for _ in range(n):
            fn(*args, **kwargs)
    else:
        for _ in range(n):
            try:
                fn(*args, **kwargs)
            except expected:
                pass


def fresh(x):
    """A new float object with the value x (not a shared constant)."""
    return float(str(float(x)))


class FloatRaises:
    def __float__(self):
        raise ValueError("no float")


def scalar_cases(function):
    """(case, args, kwargs, expected exception) for one scalar function."""
    args = tuple(fresh(a) for a in scalar_args(function))
    extra = fresh(1.25)
    if not function.arity:
        return [("valid", (), {}, None),
                ("extra", (extra,), {}, TypeError),
                ("keyword", (), {"x": extra}, TypeError)]
    first = function.parameters[0]
    last = function.parameters[-1]
    return [
        ("valid", args, {}, None),
        ("keywords", (), dict(zip(function.parameters, args)), None),
        ("wrong-type", args[:-1] + ([extra],), {}, TypeError),
        ("float-raises", args[:-1] + (FloatRaises(),), {}, ValueError),
        ("overflow", args[:-1] + (10**400,), {}, OverflowError),
        ("missing", args[:-1], {}, TypeError),
        ("extra", args + (extra,), {}, TypeError),
        ("bad-keyword", args[:-1], {"bogus": extra}, TypeError),
        ("duplicate", args, {first: extra}, TypeError),
    ] + ([("missing-after-keyword", (), {last: extra}, TypeError)] if function.arity > 1 else [])


def check_flat(fn, args, kwargs, expected, calls=None):
    if calls is None:
        calls = CALLS if expected is None else FAILING_CALLS
    traced_calls = calls // 10
    if expected is not None:
        with pytest.raises(expected):
            fn(*args, **kwargs)
    held = [fn, *args, *kwargs.values()]
    repeat(fn, args, kwargs, expected, WARMUP)  # first-use statics, caches, arenas
    counts = [sys.getrefcount(o) for o in held]

    before = rss()
    repeat(fn, args, kwargs, expected, calls)
    grown = rss() - before

    tracemalloc.start()
    try:
        repeat(fn, args, kwargs, expected, WARMUP)
        traced = tracemalloc.get_traced_memory()[0]
        repeat(fn, args, kwargs, expected, traced_calls)
        traced = tracemalloc.get_traced_memory()[0] - traced
    finally:
        tracemalloc.stop()

    assert [sys.getrefcount(o) for o in held] == counts
    assert traced < TRACED_SLACK, f"{traced} bytes traced after {traced_calls} calls"
    if not SANITIZED:
        assert grown < RSS_SLACK, f"RSS grew by {grown} bytes over {calls} calls"


SCALAR_CASES = [(f, *case) for f in SCALAR for case in scalar_cases(f)]


@pytest.mark.parametrize("function, case, args, kwargs, expected", SCALAR_CASES,
                         ids=[f"{f!r}-{c}" for f, c, *_ in SCALAR_CASES])
def test_scalar_calls_leave_memory_flat(function, case, args, kwargs, expected):
    check_flat(function.fn, args, kwargs, expected)


# --- batch functions (only where the module has them) ------------------------

needs_batch = pytest.mark.skipif(not BATCH_FUNCTIONS, reason="no batch functions in this build")


def batch_cases(np):
    a = np.linspace(-60.0, 60.0, 17)
    b = np.linspace(-170.0, 170.0, 17)
    c, d = a[::-1].copy(), b[::-1].copy()
    return [
        ("valid", (a, b, c, d), {}, None, None),
        ("empty", tuple(np.empty(0) for _ in range(4)), {}, None, None),
        ("keywords", (), {"lat1": a, "lon1": b, "lat2": c, "lon2": d}, None, None),
        ("list", (a, b, c, [1.0, 2.0]), {}, TypeError, None),
        ("float32", (a, b, c, d.astype(np.float32)), {}, TypeError, None),
        ("two-dimensional", (a, b, c, np.zeros((17, 1))), {}, TypeError, None),
        ("strided", (a, b, c, np.zeros(34)[::2]), {}, TypeError, None),
        ("missing", (a, b, c), {}, TypeError, None),
        ("bad-keyword", (a, b, c), {"lon3": d}, TypeError, None),
        # Every failing call writes its fault reports to stderr: fewer calls.
        ("short", (a, b, c, d[:5]), {}, BaseException, 500),
    ]


@needs_batch
@pytest.mark.parametrize("function", BATCH_FUNCTIONS, ids=ids(BATCH_FUNCTIONS))
@pytest.mark.parametrize("case", ["valid", "empty", "keywords", "list", "float32",
                                  "two-dimensional", "strided", "missing", "bad-keyword",
                                  "short"])
def test_batch_calls_leave_memory_flat(function, case):
    np = pytest.importorskip("numpy")
    (args, kwargs, expected, calls), = [c[1:] for c in batch_cases(np) if c[0] == case]
    check_flat(function.fn, args, kwargs, expected, calls=calls)


@needs_batch
@pytest.mark.skipif(SANITIZED, reason="ASan's quarantine keeps freed memory resident")
@pytest.mark.parametrize("function", BATCH_FUNCTIONS, ids=ids(BATCH_FUNCTIONS))
def test_batch_result_buffer_is_freed_with_its_last_view(function):
    np = pytest.importorskip("numpy")
    n = 4_500_000  # 36 MB: above glibc's largest mmap threshold, so free unmaps it
    size = 8 * n
    points = np.zeros(n)
    base = rss()
    result = function.fn(points, points, points, points)
    assert rss() - base > size // 2
    view = result[n // 2:]
    owner = result.base
    assert type(owner).__name__ == "PySliceContainer"
    del result, owner
    assert rss() - base > size // 2, "the buffer went with the array while a view remained"
    del view
    assert rss() - base < size // 4, "the buffer outlived its last view"
