"""Typed uses of the package, checked by `mypy --strict` (make typecheck) and
never run: a wrong stub fails an assert_type or a type: ignore here."""

from __future__ import annotations

from typing import TYPE_CHECKING, assert_type

import numpy as np
from numpy.typing import NDArray

import tarnu
from tarnu import distance, geodesic, ufunc, units

if TYPE_CHECKING:
    from tarnu.distance import GeodesicInverseResult
    from tarnu.geodesic import DirectResult, InverseResult

assert_type(tarnu.__version__, str)
assert_type(distance.geodesic_distance(51.5, -0.13, 48.86, 2), float)  # ints are floats
assert_type(distance.great_circle_destination(0, 0, bearing=90, distance=1), tuple[float, float])
inv: GeodesicInverseResult = distance.geodesic_inverse(0.0, 0.0, 0.0, 1.0)
full: InverseResult = geodesic.inverse(0.0, 0.0, 0.0, 1.0)
step: DirectResult = geodesic.direct(lat1=0.0, lon1=0.0, azi1=90.0, s12=1000.0)
assert_type(inv["a12"] + full["m12"] + full["M21"] + step["lat2"], float)
a: NDArray[np.float64] = np.zeros(3)
assert_type(distance.great_circle_distance_batch(a, a, a, lon2=a), NDArray[np.float64])
assert_type(units.dms_to_deg(*units.deg_to_dms(-10.5)), float)
assert_type(ufunc.geodesic_direct, np.ufunc)

distance.great_circle_distance(0.0, 0.0, 0.0)  # type: ignore[call-arg]
distance.great_circle_distance("0", 0, 0, 0)  # type: ignore[arg-type]
distance.geodesic_destination(lat1=0, lon1=0, azi1=90, distance=1)  # type: ignore[call-arg]
geodesic.wgs84_a(1)  # type: ignore[call-arg]
full["m12x"]  # type: ignore[typeddict-item]
