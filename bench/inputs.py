"""The inputs every contender gets: fixed seeds, one generator per column, so a
prefix of a long column is the short column, in this process and in the children.

Latitudes are degrees(asin(u)) with u uniform on [-1, 1] (uniform on the
sphere), longitudes uniform on [-180, 180), bearings on [0, 360), distances on
[0, 20000 km), kilometres on [0, 20000).
"""

from __future__ import annotations

from functools import cache

import numpy as np

SEED = 20240607
LAT1, LON1, LAT2, LON2, AZI1, S12, KM = range(7)


def column(k: int, n: int) -> np.ndarray:
    rng = np.random.default_rng([SEED, k])
    if k in (LAT1, LAT2):
        return np.degrees(np.arcsin(rng.uniform(-1.0, 1.0, n)))
    if k in (LON1, LON2):
        return rng.uniform(-180.0, 180.0, n)
    if k == AZI1:
        return rng.uniform(0.0, 360.0, n)
    if k == S12:
        return rng.uniform(0.0, 2.0e7, n)
    return rng.uniform(0.0, 2.0e4, n)                    # KM


# ---------------------------------------------------------------------------
# One call at a time: argument lists by shape (the key a Call's `shape` names).

def call_args(n: int) -> dict[str, dict[str, list]]:
    """inputs name -> shape -> argument tuples, the same numbers in every shape."""
    lat1, lon1, lat2, lon2, azi1, s12, km = (column(k, n).tolist() for k in range(7))
    return {
        "two_points": {
            "4": list(zip(lat1, lon1, lat2, lon2)),
            "4lonlat": list(zip(lon1, lat1, lon2, lat2)),
            "pairs": [((a, b), (c, d)) for a, b, c, d in zip(lat1, lon1, lat2, lon2)],
        },
        "start_and_way": {
            "4": list(zip(lat1, lon1, azi1, s12)),
            "4lonlat": list(zip(lon1, lat1, azi1, s12)),
            "point_way": [((a, b), (c, d)) for a, b, c, d in zip(lat1, lon1, azi1, s12)],
        },
        "km": {"1": km},
    }


# ---------------------------------------------------------------------------
# Whole arrays: argument tuples by kind (the key an Array's `inputs` names).

def _pairs(c):
    return c[LAT1], c[LON1], c[LAT2], c[LON2]


ARRAY_KINDS = {
    "pairs": _pairs,                                            # degrees
    "pairs_radians": lambda c: tuple(np.radians(x) for x in _pairs(c)),
    # one start point (Python floats) broadcast against n end points
    "one_to_many": lambda c: (float(c[LAT1][0]), float(c[LON1][0]), c[LAT2], c[LON2]),
    "start_and_way": lambda c: (c[LAT1], c[LON1], c[AZI1], c[S12]),
}


class ArrayInputs:
    """Contiguous prefixes of columns of `largest` elements, built once."""

    def __init__(self, largest: int):
        self.largest = largest

    @cache
    def _column(self, k: int) -> np.ndarray:
        return column(k, self.largest)

    @cache
    def args(self, kind: str, n: int) -> tuple:
        return ARRAY_KINDS[kind]({k: self._column(k)[:n] for k in (LAT1, LON1, LAT2, LON2, AZI1, S12)})


def pair_args(kind: str, lat1, lon1, lat2, lon2) -> tuple:
    """`kind`'s arguments for the given pairs (degrees, float64 arrays)."""
    return ARRAY_KINDS[kind]({LAT1: lat1, LON1: lon1, LAT2: lat2, LON2: lon2})
