"""`tarnu batch` on a CSV file, through each of its engines, timed as a user
runs it: the command in a process of its own, start to finish (interpreter,
imports, reading, computing, writing the output file), the engines taking
turns so that load from other work falls on both alike. The outputs must be
the same bytes.

The file: a header and rows of four coordinates with six decimals (about
0.1 m, as a GPS log has them) and a name column, made once per size and
kept in build/.
"""

from __future__ import annotations

import filecmp
import importlib.util
import os
import subprocess
import sys
import time
from pathlib import Path

import numpy as np

from inputs import LAT1, LAT2, LON1, LON2, column
from results import Results
from settings import Settings

# row id -> TARNU_BATCH_ENGINE, and what the report calls it
ENGINES = {
    "file.batch/csv": ("python", "`tarnu batch`, Python's csv module"),
    "file.batch/arrow": ("arrow", "`tarnu batch`, pyarrow"),
}
BLOCK = 100_000  # rows formatted at a time while the file is made


def trips(path: Path, n: int) -> Path:
    """The input file of n rows (made if it is not there yet)."""
    if path.exists():
        return path
    tmp = path.with_suffix(".part")
    columns = [column(k, n) for k in (LAT1, LON1, LAT2, LON2)]
    with open(tmp, "w") as f:
        f.write("trip,lat1,lon1,lat2,lon2\n")
        for start in range(0, n, BLOCK):
            block = np.column_stack([c[start:start + BLOCK] for c in columns])
            f.writelines(f"t{start + i},{a:.6f},{b:.6f},{c:.6f},{d:.6f}\n"
                         for i, (a, b, c, d) in enumerate(block.tolist()))
    tmp.rename(path)
    return path


def time_files(s: Settings, results: Results, out: Path, say) -> None:
    if importlib.util.find_spec("pyarrow") is None:
        results.absent.append("file.batch/arrow")
    rows = {row: engine for row, (engine, _) in ENGINES.items() if row not in results.absent}
    out.mkdir(parents=True, exist_ok=True)
    path = trips(out / f"trips-{s.file_rows}.csv", s.file_rows)
    results.file_rows = s.file_rows
    for _ in range(s.file_repeats):
        for row, engine in rows.items():
            env = dict(os.environ, TARNU_BATCH_ENGINE=engine)
            start = time.perf_counter()
            done = subprocess.run([sys.executable, "-m", "tarnu", "batch", str(path), "-q",
                                   "-o", str(out / f"{engine}.csv")], env=env, capture_output=True,
                                  text=True)
            seconds = time.perf_counter() - start
            if done.returncode != 0:
                results.missing[row] = f"not available (exit {done.returncode}: {done.stderr.strip()})"
                continue
            results.files.setdefault(row, []).append(seconds)
    outputs = [out / f"{engine}.csv" for row, engine in rows.items() if row in results.files]
    if len(outputs) == 2 and not filecmp.cmp(*outputs, shallow=False):
        raise SystemExit(f"tarnu batch: the engines wrote different files: {' '.join(map(str, outputs))}")
    for output in outputs:
        output.unlink()
    say(f"tarnu batch on {s.file_rows:,} rows")
