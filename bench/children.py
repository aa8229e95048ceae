"""Rows that need a process of their own: another worker pool size or SIMD width
(fixed at the first use in a process, from its environment), and every memory
measurement. A child is run.py with --child and a JSON job; it prints one JSON
line, the last on its stdout.
"""

from __future__ import annotations

import json
import os
import re
import subprocess
import sys
from pathlib import Path

from contenders import CONTROLLED_ENV, find_rows
from inputs import ArrayInputs
from results import Results
from settings import BY_NAME, Settings
from timing import live_arrays, time_arrays, time_small

RUN_PY = Path(__file__).resolve().with_name("run.py")


class ChildFailed(RuntimeError):
    pass


def run_child(job: dict, env: dict[str, str], s: Settings) -> dict:
    full_env = {k: v for k, v in os.environ.items() if k not in CONTROLLED_ENV}
    full_env.update(env)
    try:
        proc = subprocess.run([sys.executable, str(RUN_PY), "--child", json.dumps(job)], env=full_env,
                              capture_output=True, text=True, timeout=s.child_timeout_s)
    except subprocess.TimeoutExpired as exc:
        raise ChildFailed(f"no answer in {exc.timeout:.0f} s") from None
    if proc.returncode != 0:
        print(proc.stderr, file=sys.stderr)
        # The exception's own line says most; a fatal error ends with a list of modules.
        lines = proc.stderr.strip().splitlines()
        said = [x for x in lines if re.match(r"\w+(Error|Exception|Exit)\b", x)] or lines
        raise ChildFailed(said[-1] if said else f"exit status {proc.returncode}")
    return json.loads(proc.stdout.strip().splitlines()[-1])


def time_in_child(row_ids: list[str], env: dict[str, str], s: Settings) -> Results:
    """The rows timed in a child with `env`; if it fails, they read "not available"
    with its last word, and the rest of the run goes on."""
    job = {"job": "arrays", "settings": s.name, "rows": row_ids}
    try:
        return Results.from_json(json.dumps(run_child(job, env, s)))
    except ChildFailed as exc:
        return Results(s.name, missing={row: f"not available (child failed: {exc})" for row in row_ids})


def memory_in_child(row_id: str, s: Settings) -> dict | None:
    try:
        return run_child({"job": "memory", "settings": s.name, "row": row_id}, {}, s)
    except ChildFailed as exc:
        print(f"memory of {row_id}: child failed: {exc}", file=sys.stderr)
        return None


def child_main(job_text: str) -> None:
    job = json.loads(job_text)
    s = BY_NAME[job["settings"]]
    if job["job"] == "memory":
        from memory import measure
        print(json.dumps(measure(job["row"], s)))
        return
    results = Results(s.name)
    live = live_arrays(find_rows(job["rows"]), results)
    time_arrays(live, ArrayInputs(max(s.sizes)), s, results)
    time_small(live, s, results)
    print(results.to_json())
