"""How far the contenders' results are from tarnu's and from GeographicLib's.

One call at a time: each contender's result on the first agreement_n inputs
against the task's first tarnu function (destinations: the distance between the
two points). Whole arrays: each distance row against GeographicLib's inverse
(tarnu's geodesic_distance_batch, which runs GeographicLib's C++; the per-call
tables show it agrees with the geographiclib package) over error_n random pairs
and a few named cases.
"""

from __future__ import annotations

import math

import numpy as np

from contenders import FLOOR, TARNU, CallTask, find_rows
from inputs import ArrayInputs, pair_args
from results import Results
from timing import LiveArray, LiveCall, invoke

GEOGRAPHICLIB = "array.geodesic_distance/tarnu.distance.geodesic_distance_batch"
# (lat1, lon1, lat2, lon2), degrees: an equatorial degree (Vincenty's formula is
# exact there, so any error is the ellipsoid), then two pairs within a degree of
# antipodal, where Vincenty's iteration does not converge.
CASES = (("(0, 0)–(0, 1)", (0.0, 0.0, 0.0, 1.0)),
         ("(0, 0)–(0.5, 179.7)", (0.0, 0.0, 0.5, 179.7)),
         ("(10, 20)–(-10, -160.01)", (10.0, 20.0, -10.0, -160.01)))


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


def distance_errors(live: list[LiveArray], n: int, results: Results) -> None:
    """Errors in metres of every distance row of this process against GeographicLib."""
    rows = [la for la in live if la.row.op.errors and not la.row.variant.key
            and la.row.array.inputs.startswith("pairs")]
    (ref_row,) = find_rows([GEOGRAPHICLIB])
    reference = ref_row.array.make()
    if not rows or reference is None:
        return
    inputs = ArrayInputs(n)
    exact = reference(*inputs.args("pairs", n))
    cases = [np.array([c[1][k] for c in CASES]) for k in range(4)]
    exact_cases = reference(*cases)
    for la in rows:
        err = np.asarray(la.fn(*inputs.args(la.row.array.inputs, n)), dtype=float) - exact
        case_err = np.asarray(la.fn(*pair_args(la.row.array.inputs, *cases)), dtype=float) - exact_cases
        finite = err[np.isfinite(err)]
        results.errors[la.row.id] = {
            "n": n,
            "worst": float(np.max(np.abs(finite))) if finite.size else math.nan,
            "median": float(np.median(np.abs(finite))) if finite.size else math.nan,
            "median_relative": float(np.nanmedian(err[exact > 0] / exact[exact > 0])),
            "nan": int(np.count_nonzero(np.isnan(err))),
            "cases": {name: float(e) for (name, _), e in zip(CASES, case_err)},
        }
