"""Peak extra memory of one call at target_n, measured in a fresh child per row.

The inputs (and any out= arrays) exist before the measurement. After a warm-up
call the RSS high-water mark is reset (/proc/self/clear_refs), then one call is
made; tracemalloc's peak comes from a second call (NumPy reports its buffers to
it). Where the mark cannot be reset, the delta is over the earlier peak.
"""

from __future__ import annotations

import gc
import tracemalloc

import numpy as np

from contenders import find_rows
from inputs import ArrayInputs
from results import Results
from settings import Settings
from timing import live_arrays


def status_kb(key: str) -> int:
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    raise KeyError(key)


def nbytes(result) -> int:
    arrays = result if isinstance(result, tuple) else (result,)
    return sum(np.asarray(a).nbytes for a in arrays)


def measure(row_id: str, s: Settings) -> dict | None:
    live = live_arrays(find_rows([row_id]), Results(s.name))    # made and warmed up on a few inputs
    if not live:
        return None
    (la,) = live
    n = s.target_n
    args, kwargs = la.call_args(ArrayInputs(n), n)
    la.fn(*args, **kwargs)  # warm-up: it also touches the pages of any out= arrays
    gc.collect()
    try:
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")
        hwm_reset = True
    except OSError:
        hwm_reset = False
    before = status_kb("VmRSS") if hwm_reset else status_kb("VmHWM")
    result = la.fn(*args, **kwargs)
    rss = (status_kb("VmHWM") - before) * 1024
    out = nbytes(kwargs["out"] if kwargs else result)
    del result
    gc.collect()
    tracemalloc.start()
    la.fn(*args, **kwargs)
    traced = tracemalloc.get_traced_memory()[1]
    tracemalloc.stop()
    return {"n": n, "rss": rss, "traced": traced, "out": out, "out_given": bool(kwargs),
            "hwm_reset": hwm_reset}
