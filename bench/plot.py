"""The throughput picture: pairs per second against n, both on log scales, one
panel per array operation, a line per row (contender and run environment),
from the best time at each size including the small calls."""

from __future__ import annotations

import math
from pathlib import Path

from contenders import OPERATIONS
from report import machine_summary, shown_rows, threads_of
from results import Results
from settings import Settings

# A line style per thread count (dash-dot for forced SIMD widths); a contender
# keeps its colour across them.
STYLES = {"1": ":", "2": "--"}


def points(results: Results, row_id: str, s: Settings) -> tuple[list[int], list[float]]:
    best = {n: min(v) for n, v in results.array_samples(row_id).items() if v}
    small = results.best_small(row_id)
    if small:
        best[s.small_n] = small * 1e3 / s.small_n          # µs per call -> ns per element
    ns = sorted(best)
    return ns, [1e9 / best[n] for n in ns]


def draw(results: Results, s: Settings, path: Path) -> None:
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    matplotlib.rcParams["svg.hashsalt"] = "tarnu-bench"      # stable ids: the file diffs cleanly
    matplotlib.rcParams["svg.fonttype"] = "none"             # text stays text: half the size

    ops = [op for op in OPERATIONS if any(points(results, r.id, s)[0] for r in shown_rows(op, results))]
    cols = 2 if len(ops) > 1 else 1
    height = math.ceil(len(ops) / cols)
    fig, axes = plt.subplots(height, cols, figsize=(12, 4.6 * height), sharex=True, sharey=True,
                             squeeze=False)
    for ax, op in zip(axes.flat, ops):
        colours = {}
        for r in shown_rows(op, results):
            ns, rate = points(results, r.id, s)
            if not ns:
                continue
            colour = colours.setdefault(r.array.key, f"C{len(colours) % 10}")
            threads = threads_of(r, results)
            forced = "," in threads
            ax.plot(ns, rate, marker="s" if forced else "o", markersize=3, color=colour,
                    linestyle="-." if forced else STYLES.get(threads, "-"),
                    label=f"{r.array.name}{' (' + r.array.note + ')' if r.array.note else ''}, "
                          f"threads: {threads}")
        ax.set(xscale="log", yscale="log", title=op.title)
        ax.grid(True, which="major", alpha=0.4)
        ax.legend(fontsize=7, loc="best")
    for ax in axes.flat[len(ops):]:
        ax.set_visible(False)
    fig.supxlabel("n, pairs per call")
    fig.supylabel("pairs per second (best of the repeats)")
    fig.suptitle(machine_summary(results), fontsize=9)
    fig.tight_layout()
    fig.savefig(path, format="svg", metadata={"Date": None})
    plt.close(fig)
