"""How a contender is timed.

One call at a time: the plain loop `for a, b, c, d in args: f(a, b, c, d)` (or
over point pairs, or one argument) over pre-built argument lists, divided by
the number of calls, nothing subtracted; passes sized to a minimum wall time,
repeats taken round-robin over the task's contenders so that load from other
work falls on all alike.

Whole arrays: `f(*columns)` on contiguous prefixes of the same columns, k calls
per repeat (k sized to a minimum wall time), divided by k·n; round-robin over
the rows at each size. Cheap rows get more repeats within a budget. Small
calls: µs per call at n = small_n.

The garbage collector is off while timing, as timeit does.
"""

from __future__ import annotations

import gc
import math
from dataclasses import dataclass
from time import perf_counter_ns
from typing import Callable

import numpy as np

from contenders import Call, CallTask, Row
from inputs import ArrayInputs
from results import Results
from settings import Settings


class gc_paused:
    def __enter__(self):
        self.was = gc.isenabled()
        gc.collect()
        gc.disable()

    def __exit__(self, *exc):
        if self.was:
            gc.enable()


def why_not(exc: Exception) -> str:
    return f"not available ({type(exc).__name__}: {exc})"


# ---------------------------------------------------------------------------
# One call at a time

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


def invoke(c: Call, fn: Callable, args):
    return fn(args) if LOOPS[c.shape] is loop1 else fn(*args)


@dataclass
class LiveCall:
    row: str
    call: Call
    fn: Callable
    args: list                          # this contender's argument tuples
    passes: int = 1
    repeats: int = 1


def live_calls(task: CallTask, args: dict[str, list], results: Results) -> list[LiveCall]:
    """The task's contenders that exist and accept the first input; the others
    are recorded as missing."""
    live = []
    for c in task.contenders:
        row = task.row(c)
        try:
            fn = c.make()
            if fn is None:
                results.missing[row] = "not available"
                continue
            invoke(c, fn, args[c.shape][0])
        except Exception as exc:                  # report it, benchmark the rest
            results.missing[row] = why_not(exc)
            continue
        live.append(LiveCall(row, c, fn, args[c.shape]))
    return live


def time_calls(live: list[LiveCall], s: Settings, results: Results) -> None:
    for lc in live:                               # warm up and size the repeats
        elapsed = LOOPS[lc.call.shape](lc.fn, lc.args, 1)
        lc.passes = max(1, math.ceil(s.call_repeat_s * 1e9 / max(elapsed, 1)))
        lc.repeats = s.slow_repeats if elapsed > s.slow_pass_s * 1e9 else s.call_repeats
    with gc_paused():
        for r in range(s.call_repeats):
            for lc in (lc for lc in live if r < lc.repeats):
                ns = LOOPS[lc.call.shape](lc.fn, lc.args, lc.passes) / (lc.passes * len(lc.args))
                results.calls.setdefault(lc.row, []).append(ns)


# ---------------------------------------------------------------------------
# Whole arrays

@dataclass
class LiveArray:
    row: Row
    fn: Callable
    outputs: int                        # how many arrays one call returns

    def call_args(self, inputs: ArrayInputs, n: int) -> tuple[tuple, dict]:
        args = inputs.args(self.row.array.inputs, n)
        if not self.row.array.out:
            return args, {}
        shape = np.broadcast_shapes(*(np.shape(a) for a in args))
        out = tuple(np.empty(shape) for _ in range(self.outputs))
        return args, {"out": out if self.outputs > 1 else out[0]}


def live_arrays(rows: list[Row], results: Results) -> list[LiveArray]:
    """The rows whose function exists and accepts a few inputs; the others are
    recorded as missing."""
    probe = ArrayInputs(16)
    live = []
    for row in rows:
        try:
            fn = row.array.make()
            if fn is None:
                results.missing[row.id] = "not available"
                continue
            out = fn(*probe.args(row.array.inputs, 4))
        except Exception as exc:
            results.missing[row.id] = why_not(exc)
            continue
        live.append(LiveArray(row, fn, len(out) if isinstance(out, tuple) else 1))
    return live


def repeat(fn: Callable, args: tuple, kwargs: dict, k: int) -> int:
    """ns for k calls."""
    if kwargs:
        t0 = perf_counter_ns()
        for _ in range(k):
            fn(*args, **kwargs)
    else:
        t0 = perf_counter_ns()
        for _ in range(k):
            fn(*args)
    return perf_counter_ns() - t0


def time_arrays(live: list[LiveArray], inputs: ArrayInputs, s: Settings, results: Results,
                say: Callable[[str], None] = lambda _: None) -> None:
    for n in s.sizes:
        timed = [la for la in live if n <= la.row.op.largest]
        if not timed:
            continue
        args, calls, repeats = {}, {}, {}
        for la in timed:
            args[la.row.id] = a, kw = la.call_args(inputs, n)
            elapsed = max(repeat(la.fn, a, kw, 1), 1)
            calls[la.row.id] = k = max(1, math.ceil(s.array_repeat_s * 1e9 / elapsed))
            repeats[la.row.id] = max(s.min_repeats[n],
                                     min(s.array_max_repeats, int(s.array_budget_s * 1e9 / (k * elapsed))))
        with gc_paused():
            for r in range(max(repeats.values())):
                for la in (la for la in timed if r < repeats[la.row.id]):
                    k = calls[la.row.id]
                    ns = repeat(la.fn, *args[la.row.id], k) / (k * n)
                    results.arrays.setdefault(la.row.id, {}).setdefault(n, []).append(ns)
        say(f"arrays n={n:,}")


def time_small(live: list[LiveArray], s: Settings, results: Results) -> None:
    """µs per call at n = small_n."""
    inputs = ArrayInputs(s.small_n)
    args = {la.row.id: la.call_args(inputs, s.small_n) for la in live}
    with gc_paused():
        for la in live:
            repeat(la.fn, *args[la.row.id], 1)
        for _ in range(s.small_repeats):
            for la in live:
                ns = repeat(la.fn, *args[la.row.id], s.small_calls)
                results.small.setdefault(la.row.id, []).append(ns / s.small_calls / 1e3)
