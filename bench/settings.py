"""How long and how often the harness times: the full run, and a quick one that
only checks that every part works."""

from __future__ import annotations

from dataclasses import dataclass


@dataclass(frozen=True)
class Settings:
    name: str
    n_calls: int            # argument tuples per pass, per-call tasks
    call_repeats: int       # short repeats: the best of many dodges other load
    call_repeat_s: float    # minimum wall time of one per-call repeat
    slow_repeats: int       # fewer repeats when one pass takes longer than slow_pass_s
    slow_pass_s: float
    sizes: tuple[int, ...]  # array lengths; an operation stops at its `largest`
    min_repeats: dict[int, int]   # per size
    array_repeat_s: float   # minimum wall time of one array repeat
    array_budget_s: float   # cheap contenders get more repeats, within this per size
    array_max_repeats: int
    turns: int              # child runs and this process take turns this many times
    small_n: int            # the length of a "small" call
    small_repeats: int
    small_calls: int        # calls per small repeat
    target_n: int           # the size targets, memory and errors are read at
    agreement_n: int        # per-call results compared with tarnu's
    error_n: int            # random pairs compared with GeographicLib
    child_timeout_s: float
    file_rows: int          # rows of the CSV file `tarnu batch` reads
    file_repeats: int


FULL = Settings(
    name="full", n_calls=4096, call_repeats=15, call_repeat_s=0.01, slow_repeats=7, slow_pass_s=0.05,
    sizes=(1_000, 100_000, 1_000_000, 10_000_000),
    min_repeats={1_000: 7, 100_000: 7, 1_000_000: 7, 10_000_000: 3},
    array_repeat_s=0.02, array_budget_s=1.0, array_max_repeats=40, turns=2,
    small_n=10, small_repeats=7, small_calls=2000,
    target_n=1_000_000, agreement_n=256, error_n=1_000_000, child_timeout_s=600,
    file_rows=3_000_000, file_repeats=3)

QUICK = Settings(
    name="quick", n_calls=512, call_repeats=3, call_repeat_s=0.002, slow_repeats=2, slow_pass_s=0.05,
    sizes=(1_000, 100_000), min_repeats={1_000: 2, 100_000: 2},
    array_repeat_s=0.005, array_budget_s=0.05, array_max_repeats=4, turns=1,
    small_n=10, small_repeats=2, small_calls=200,
    target_n=100_000, agreement_n=32, error_n=100_000, child_timeout_s=120,
    file_rows=100_000, file_repeats=1)

BY_NAME = {s.name: s for s in (FULL, QUICK)}
