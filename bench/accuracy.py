"""How far the contenders' results are from tarnu's.

One call at a time: each contender's result on the first agreement_n inputs
against the task's first tarnu function (destinations: the distance between the
two points).
"""

from __future__ import annotations

import math

from contenders import FLOOR, TARNU, CallTask
from results import Results
from timing import LiveCall, invoke

def agreement(task: CallTask, live: list[LiveCall], n: int, results: Results) -> None:
    ref = next((lc for lc in live if lc.call.kind == TARNU), None)
    if ref is None:
        return

    def value(lc: LiveCall, i: int):
        r = invoke(lc.call, lc.fn, lc.args[i])
        return lc.call.value(r) if lc.call.value else r

    for lc in live:
        if lc.call.kind == FLOOR:
            continue
        diffs = [task.diff(value(lc, i), value(ref, i)) for i in range(n)]
        results.diffs[lc.row] = math.nan if any(map(math.isnan, diffs)) else max(diffs)
