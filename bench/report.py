"""Where every row is written: bench/RESULTS.md and the README's Performance block.

One function per table; each reads Results by row id and the tables in
contenders.py for names and order.
"""

from __future__ import annotations

import statistics
from pathlib import Path

from accuracy import CASES, GEOGRAPHICLIB
from contenders import CALL_TASKS, OPERATIONS, TARNU, CallTask, Operation, Row, rows
from files import ENGINES
from results import Results
from settings import Settings
from targets import evaluate, power_of_ten

README_BEGIN, README_END = "<!-- bench:begin -->", "<!-- bench:end -->"


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


def fmt_metres(x: float) -> str:
    return "0" if x == 0 else (f"{x:+.3g}" if abs(x) < 1000 else f"{x:+,.0f}")


def best_and_median(samples: list[float] | None) -> str:
    return f"{fmt(min(samples))} ({fmt(statistics.median(samples))})" if samples else "—"


def table(head: list[str], body: list[list[str]]) -> list[str]:
    return ["| " + " | ".join(head) + " |", "|" + "---|" * len(head),
            *("| " + " | ".join(cells) + " |" for cells in body), ""]


def name_of(c) -> str:
    return c.name + (f" ({c.note})" if c.note else "")


# ---------------------------------------------------------------------------

def call_table(task: CallTask, results: Results) -> list[str]:
    tarnus = [c for c in task.contenders if c.kind == TARNU and task.row(c) in results.calls]
    head = ["Contender", "best ns/call", "median ns/call",
            *(f"`{c.name.split()[-1]}` speed-up" for c in tarnus), f"max diff vs tarnu ({task.diff_unit})"]
    body = []
    for c in task.contenders:
        samples = results.calls.get(task.row(c))
        if not samples:
            body.append([c.name, results.missing.get(task.row(c), "not available")] + [""] * (len(head) - 2))
            continue
        ratios = [fmt_ratio(min(samples) / results.best_call(task.row(t))) for t in tarnus]
        body.append([name_of(c), fmt(min(samples)), fmt(statistics.median(samples)), *ratios,
                     fmt_diff(results.diffs.get(task.row(c)))])
    return [f"### {task.title}", "", *table(head, body)]


def threads_of(row: Row, results: Results) -> str:
    if row.variant.key:
        return row.variant.threads
    return f"pool ({results.pool_threads})" if row.array.threaded else "1"


def shown_rows(op: Operation, results: Results) -> list[Row]:
    return [r for r in rows([op]) if r.id not in results.absent and r.id not in results.aliases]


def array_table(op: Operation, results: Results, s: Settings) -> list[str]:
    sizes = [n for n in s.sizes if n <= op.largest]
    n = s.target_n
    refs = [r for r in shown_rows(op, results)
            if r.array.key in op.speedup and not r.variant.key and results.best_array(r.id, n)]
    head = ["Contender", "threads", f"n = {s.small_n}: µs/call",
            *(f"n = {power_of_ten(m)}" for m in sizes),
            *(f"`{r.array.name.split()[-1]}` speed-up at {power_of_ten(n)}" for r in refs)]
    body = []
    for r in shown_rows(op, results):
        samples = results.array_samples(r.id)
        if not samples:
            body.append([name_of(r.array), threads_of(r, results), results.missing.get(r.id, "not timed")]
                        + [""] * (len(head) - 3))
            continue
        mine = results.best_array(r.id, n)
        body.append([name_of(r.array), threads_of(r, results), best_and_median(results.small.get(r.id)),
                     *(best_and_median(samples.get(m)) for m in sizes),
                     *(fmt_ratio(mine / results.best_array(ref.id, n) if mine else None) for ref in refs)])
    aliases = sorted({r.variant.threads for r in rows([op]) if r.id in results.aliases})
    note = ([f"The {' and '.join(aliases)}-thread rows are the pool rows: this process's pool has "
             f"{results.pool_threads} threads.", ""] if aliases else [])
    return [f"### {op.title}", "", "Best (median) ns per element; the first column µs per call.", "",
            *table(head, body), *note]


def memory_table(results: Results, s: Settings) -> list[str]:
    body = []
    for r in rows():
        if r.id not in results.memory:
            continue
        m = results.memory[r.id]
        if m is None:
            body.append([r.op.title, name_of(r.array), "not available", "", "", ""])
            continue
        mb = lambda b: f"{b / 1e6:.1f}"
        name = name_of(r.array) + ("" if m["hwm_reset"] else " (high-water mark not resettable: delta "
                                   "over the earlier peak)")
        out = mb(m["out"]) + (" (given with out=, not counted)" if m["out_given"] else "")
        ratio = "—" if m["out_given"] or not m["out"] else f"{m['rss'] / m['out']:.2f}"
        body.append([r.op.title, name, mb(m["rss"]), mb(m["traced"]), out, ratio])
    return [f"Peak extra memory of one call at n = {s.target_n:,}.", "",
            *table(["Operation", "Function", "RSS high-water delta (MB)", "tracemalloc peak (MB)",
                    "outputs (MB)", "RSS ÷ outputs"], body)]


def error_table(results: Results) -> list[str]:
    if not results.errors:
        return ["Not measured: GeographicLib's reference (tarnu's geodesic_distance_batch) is missing.", ""]
    n = next(iter(results.errors.values()))["n"]
    head = ["Contender", "worst abs. error (m)", "median abs. error (m)", "median relative error",
            *(f"{name} (m)" for name, _ in CASES)]
    body = []
    for r in rows():
        e = results.errors.get(r.id)
        if e is None:
            continue
        name = name_of(r.array) + (" (the reference)" if r.id == GEOGRAPHICLIB else "")
        body.append([name, fmt_metres(e["worst"]).lstrip("+"), fmt_metres(e["median"]).lstrip("+"),
                     "0" if e["median_relative"] == 0 else f"{e['median_relative']:+.1e}",
                     *(fmt_metres(e["cases"][c]) for c, _ in CASES)])
    return [f"Distance minus GeographicLib's, over {n:,} random pairs (the timing inputs) and at three "
            "named pairs (signed).", "", *table(head, body)]


def file_table(results: Results) -> list[str]:
    """`tarnu batch` on one CSV file, by engine."""
    base = results.best_file(next(iter(ENGINES)))
    body = []
    for row, (_, name) in ENGINES.items():
        samples = results.files.get(row)
        if not samples:
            body.append([name, results.missing.get(row, "not available"), "", "", ""])
            continue
        body.append([name, f"{min(samples):.2f}", f"{statistics.median(samples):.2f}",
                     f"{results.file_rows / min(samples):,.0f}",
                     fmt_ratio(base / min(samples)) if base else "—"])
    return [f"`tarnu batch FILE -q -o OUT` on {results.file_rows:,} rows (a name and four coordinates "
            "with six decimals; the distance appended), each run a process of its own, start to "
            "finish; the engines take turns. Both write the same bytes.", "",
            *table(["Engine", "best s", "median s", "rows/s", "speed-up"], body)]


def target_table(results: Results, s: Settings) -> list[str]:
    body = [[label, shown, "n/a" if met is None else ("yes" if met else "NO")]
            for label, shown, met in evaluate(results, s.target_n)]
    return table(["Target", "Measured", "Met"], body)


# ---------------------------------------------------------------------------

def load_line(results: Results) -> str:
    loads = [v for _, v in results.load]
    peak_at, peak = max(results.load, key=lambda x: x[1])
    return (f"{loads[0]:.2f} at start, {peak:.2f} at most ({peak_at}), {loads[-1]:.2f} at end")


def machine_summary(results: Results) -> str:
    m = results.machine
    return f"{m['CPU']}, {m['Cores']}; load average (1 min) {load_line(results)}"


def method_lines(results: Results, s: Settings) -> list[str]:
    repeats = ", ".join(f"{n:,}: {r}" for n, r in s.min_repeats.items())
    return [
        "- Inputs: fixed seeds; latitudes are degrees(asin(u)) with u uniform on [-1, 1] (uniform on the "
        "sphere), longitudes uniform on [-180, 180), bearings on [0, 360), distances on [0, 20000 km), "
        "kilometres on [0, 20000). Every contender gets the same inputs; array sizes are prefixes of the "
        "same columns. Contenders that take radians get the columns converted beforehand.",
        f"- One call: {s.n_calls} argument tuples per pass, passes sized to at least "
        f"{s.call_repeat_s * 1e3:g} ms per repeat, {s.call_repeats} repeats ({s.slow_repeats} when one pass "
        f"takes over {s.slow_pass_s * 1e3:g} ms) taken round-robin over the contenders, garbage collector "
        "off while timing. The loop is `for a, b, c, d in args: f(a, b, c, d)` (or over point pairs, or "
        "one argument) and nothing is subtracted. Lambdas adapt peers that take points, keywords or "
        "return objects; their cost is in the figure.",
        f"- Arrays: tarnu's default pool is this process's ({results.pool_threads} threads, the CPUs "
        "available); rows with another thread count or SIMD width run in child processes with the "
        "variables shown in their threads column (RAYON_NUM_THREADS, TARNU_SIMD), taking turns with this "
        f"process's tarnu rows ({s.turns} turn(s) each, all samples kept). Peers run single-threaded. "
        f"Repeats: at least {repeats}, up to {s.array_max_repeats} within about {s.array_budget_s:g} s per "
        f"row and size, each at least {s.array_repeat_s * 1e3:g} ms of calls, round-robin over the rows. "
        f"Small calls: {s.small_calls} calls on n = {s.small_n}, {s.small_repeats} repeats.",
        "- Speed-up columns: the row's best time divided by the tarnu function's best time (above 1: "
        f"tarnu is faster). \"max diff vs tarnu\" compares the results on the first {s.agreement_n} inputs "
        "(destinations: distance between the two points).",
        "- Errors: distances minus GeographicLib's (tarnu's geodesic_distance_batch, GeographicLib's C++ "
        "inverse; the one-call tables show it agrees with the geographiclib package).",
        "- Memory: a fresh child per row; the RSS high-water mark is reset (/proc/self/clear_refs) after "
        "a warm-up call, then one call is made; tracemalloc's peak comes from a second call (NumPy "
        "reports its buffers to it). Inputs and out= arrays exist beforehand.",
    ]


def results_md(results: Results, s: Settings, plot: str) -> str:
    lines = ["# tarnu benchmark results", "",
             "Generated by `make bench` (bench/run.py); rerun it to refresh. Ratios of best times come "
             "first: absolute figures move with the machine and its load.", "", "## Machine", "",
             *(f"- {k}: {v}" for k, v in results.machine.items()),
             f"- Load average (1 min): {load_line(results)}",
             f"- Run time: {results.elapsed_s:.0f} s ({s.name} settings)", "",
             "## Targets", "", *target_table(results, s),
             "## Throughput against n", "", f"![Pairs per second against n, every array contender]({plot})",
             "", "## Method", "", *method_lines(results, s), "", "## One call", ""]
    for task in CALL_TASKS:
        lines += call_table(task, results)
    lines += ["## Whole arrays", ""]
    for op in OPERATIONS:
        lines += array_table(op, results, s)
    lines += ["## CSV files", "", *file_table(results)]
    lines += ["## Distance error against GeographicLib", "", *error_table(results),
              "## Memory", "", *memory_table(results, s),
              "## Lines and polygons (tarnu.geometry)", "", *geometry_table(results)]
    return "\n".join(lines).rstrip() + "\n"


# What each figure of bench/geometry.py is, with its unit.
GEOMETRY_FIGURES = {
    "area_flat_us": "µs per polygon: `geometry.area_perimeter` from flat arrays",
    "area_geoseries_us": "µs per polygon: `geometry.area_perimeter` of a GeoSeries",
    "pyproj_polygon_us": "µs per polygon: pyproj `Geod.polygon_area_perimeter`, one call each",
    "pyproj_geometry_us": "µs per polygon: pyproj `Geod.geometry_area_perimeter`, one call each",
    "length_shapely_us": "µs per line: `geometry.length` of a shapely array",
    "length_flat_us": "µs per line: `geometry.length` from flat arrays",
    "pyproj_length_us": "µs per line: pyproj `Geod.geometry_length`, one call each",
    "workaround_us": "µs per line: `shapely.get_coordinates` + `Geod.inv` + `np.bincount`",
    "densify_ns": "ns per point: `geometry.densify`, a point every 250 m",
    "pyproj_intermediate_ns": "ns per point: pyproj `Geod.inv_intermediate`, one call per edge",
    "memory_flat": "peak extra memory over outputs + one copy of the coordinates, flat arrays",
    "memory_geoseries": "peak extra memory over outputs + one copy of the coordinates, GeoSeries",
}


def geometry_table(results: Results) -> list[str]:
    """Every figure of the geometry children, one thread and two."""
    body = [[what, fmt(results.geometry.get(key)), fmt(results.geometry.get(f"{key}@2"))]
            for key, what in GEOMETRY_FIGURES.items()]
    return [("Polygons and lines of 8 vertices, edges under 100 km, 10^6 of each in the full run "
             "(pyproj's loops on 20,000); best of the repeats."), "",
            *table(["Figure", "1 thread", "2 threads"], body)]


def readme_block(results: Results, s: Settings) -> str:
    return "\n".join([
        README_BEGIN,
        f"Measured on {machine_summary(results)}. Read the ratios first: full tables, errors against "
        "GeographicLib, machine and method in [bench/RESULTS.md](bench/RESULTS.md); `make bench` "
        "regenerates both.", "",
        *target_table(results, s),
        "![Pairs per second against n, every array contender](bench/throughput.svg)",
        README_END])


def rewrite_readme(readme: Path, block: str) -> None:
    text = readme.read_text()
    start, end = text.find(README_BEGIN), text.find(README_END)
    if start < 0 or end < start:
        raise SystemExit(f"{readme} has no {README_BEGIN} … {README_END} block: not updated")
    readme.write_text(text[:start] + block + text[end + len(README_END):])
