"""tarnu against the libraries users would pick instead, side by side.

`make bench` runs this: every contender is timed on the same random inputs,
round-robin so that load from other work on a shared machine falls on all
alike; it writes bench/RESULTS.md, bench/throughput.svg (pairs per second
against n) and the README's Performance block.
`--quick` times fewer sizes with fewer repeats, to check that everything works;
it writes into build/bench-quick/ and leaves the README alone. `--from-json`
redraws the report from a saved run.

Where things are:
  contenders.py  every contender and run environment, one table entry each
  targets.py     the targets, each reading rows by id
  inputs.py      the inputs; peers.py the peers that are not a library call
  timing.py      how a row is timed; children.py rows that need a process of
                 their own; memory.py peak memory of one call
  accuracy.py    agreement with tarnu, distance errors against GeographicLib
  geometry.py    tarnu.geometry's figures, from children of their own
  report.py      where each row is written; plot.py the throughput picture
  machine.py     the machine, read at run time
"""

from __future__ import annotations

import argparse
import os
import sys
import time
from pathlib import Path

from accuracy import agreement, distance_errors
from children import child_main, memory_in_child, time_in_child
from geometry import figures as geometry_figures
from contenders import CALL_TASKS, CONTROLLED_ENV, Row, Variant, call_rows, rows
from files import ENGINES, time_files
from inputs import ArrayInputs, call_args
from machine import cpu_flags, cpus_available, describe, load_1min
from results import Results
from settings import FULL, QUICK, Settings
from targets import rows_read
from timing import live_arrays, live_calls, time_arrays, time_calls, time_small

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent
STARTED = time.monotonic()


def say(what: str) -> None:
    print(f"  [{time.monotonic() - STARTED:4.0f} s] {what}", flush=True)


def child_env(v: Variant, pool: int) -> dict[str, str]:
    """The variables `v` sets that differ from this process's defaults."""
    defaults = {"RAYON_NUM_THREADS": str(pool)}
    return {k: value for k, value in v.env if defaults.get(k) != value}


def is_present(row: Row, flags: set[str]) -> bool:
    return ((row.array.present is None or row.array.present())
            and (not row.variant.cpu_flag or row.variant.cpu_flag in flags)
            and (not row.variant.needs or os.path.isdir(row.variant.needs)))


def measure(s: Settings) -> Results:
    for key in CONTROLLED_ENV:                    # this process times the defaults
        os.environ.pop(key, None)
    results = Results(s.name, machine=describe(), pool_threads=cpus_available())
    results.load.append(("start", load_1min()))
    say(f"{results.machine['CPU']}; {results.machine['Cores']}; {s.name} settings")

    args = call_args(s.n_calls)
    for task in CALL_TASKS:
        live = live_calls(task, args[task.inputs], results)
        agreement(task, live, s.agreement_n, results)
        time_calls(live, s, results)
        say(task.title)
    results.load.append(("after the one-call tables", load_1min()))

    # Arrays: rows in this process, rows in children (by environment), aliases.
    ids, flags, pool = {r.id for r in rows()}, cpu_flags(), results.pool_threads
    here: list[Row] = []
    away: dict[tuple, list[Row]] = {}
    for row in rows():
        env = child_env(row.variant, pool)
        base = row.id.rsplit("@", 1)[0]
        if not is_present(row, flags):
            results.absent.append(row.id)
        elif env:
            away.setdefault(tuple(sorted(env.items())), []).append(row)
        elif row.variant.key and base in ids:
            results.aliases[row.id] = base
        else:
            here.append(row)
    live = live_arrays(here, results)
    inputs = ArrayInputs(max(s.sizes))
    time_arrays(live, inputs, s, results, say)
    time_small(live, s, results)
    results.load.append(("after the arrays in this process", load_1min()))

    # A shared machine's speed drifts over a run: the children and this
    # process's rows of the same contenders take turns, so neither side is
    # timed only in a slow spell.
    paired = {(r.op.key, r.array.key) for group in away.values() for r in group}
    retimed = [la for la in live if (la.row.op.key, la.row.array.key) in paired]
    for turn in range(s.turns if away else 0):
        if turn:
            time_arrays(retimed, inputs, s, results)
        for env, group in away.items():
            results.merge(time_in_child([r.id for r in group], dict(env), s))
            say(f"child run with {' '.join(f'{k}={v}' for k, v in env)}")
    results.load.append(("after the child runs", load_1min()))

    time_files(s, results, ROOT / "build" / f"bench-{s.name}", say)
    results.load.append(("after tarnu batch", load_1min()))
    results.geometry = geometry_figures(s.target_n, say)
    results.load.append(("after the geometry children", load_1min()))

    distance_errors(live, s.error_n, results)
    say("errors against GeographicLib")
    for la in live:
        results.memory[la.row.id] = memory_in_child(la.row.id, s)
    say("memory")
    results.load.append(("end", load_1min()))
    results.elapsed_s = time.monotonic() - STARTED
    return results


def render(results: Results, s: Settings, out: Path, readme: bool) -> None:
    from plot import draw
    from report import readme_block, results_md, rewrite_readme, target_table
    out.mkdir(parents=True, exist_ok=True)
    draw(results, s, out / "throughput.svg")
    (out / "RESULTS.md").write_text(results_md(results, s, "throughput.svg"))
    block = readme_block(results, s)
    if readme:
        rewrite_readme(ROOT / "README.md", block)
    else:
        (out / "README-block.md").write_text(block + "\n")
    print("\n".join(target_table(results, s)))
    print(f"wrote {out / 'RESULTS.md'}, {out / 'throughput.svg'}"
          + (" and the README block" if readme else f" and {out / 'README-block.md'}"))


def main() -> None:
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--quick", action="store_true", help="fewer sizes and repeats; writes build/bench-quick/")
    p.add_argument("--from-json", type=Path, help="report a saved run (its results.json) again")
    p.add_argument("--child", help=argparse.SUPPRESS)
    a = p.parse_args()
    if a.child:
        child_main(a.child)
        return
    unknown = rows_read() - {r.id for r in rows()} - set(call_rows()) - set(ENGINES)
    if unknown:
        sys.exit(f"targets read rows that no table defines: {sorted(unknown)}")
    if a.from_json:
        results = Results.from_json(a.from_json.read_text())
        s = QUICK if results.settings == QUICK.name else FULL
    else:
        s = QUICK if a.quick else FULL
        results = measure(s)
    out = ROOT / "build" / f"bench-{s.name}"
    out.mkdir(parents=True, exist_ok=True)
    if not a.from_json:
        (out / "results.json").write_text(results.to_json())
    render(results, s, HERE if s is FULL else out, readme=s is FULL)

if __name__ == "__main__":
    main()
