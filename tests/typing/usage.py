"""Typed uses of the whole package surface, checked by `mypy --strict` (make
typecheck); never executed. A wrong stub makes an assert_type fail here."""

from __future__ import annotations

from typing import TYPE_CHECKING, assert_type

import numpy as np
from numpy.typing import NDArray

import tarnu
import tarnu.units
from tarnu import distance, geodesic, units
from tarnu.distance import geodesic_distance, great_circle_distance_batch

if TYPE_CHECKING:
    from tarnu.distance import GeodesicInverseResult
    from tarnu.geodesic import DirectResult, InverseResult

assert_type(tarnu.__version__, str)
assert_type(geodesic_distance(51.5, -0.13, 48.86, 2), float)  # ints are floats
assert_type(distance.great_circle_distance(lat1=0.0, lon1=0.0, lat2=0.0, lon2=1.0), float)
assert_type(distance.geodesic_destination(0.0, 0.0, 90.0, 1000.0), tuple[float, float])
assert_type(distance.great_circle_destination(0, 0, bearing=90, distance=1000), tuple[float, float])

inv: GeodesicInverseResult = distance.geodesic_inverse(0.0, 0.0, 0.0, 1.0)
assert_type(inv["a12"], float)
full: InverseResult = geodesic.inverse(0.0, 0.0, 0.0, 1.0)
assert_type(full["m12"] + full["M12"] + full["M21"] + full["S12"], float)
step: DirectResult = geodesic.direct(lat1=0.0, lon1=0.0, azi1=90.0, s12=1000.0)
assert_type(step["lat2"], float)
assert_type(geodesic.wgs84_a() / geodesic.wgs84_f(), float)

a: NDArray[np.float64] = np.zeros(3)
assert_type(great_circle_distance_batch(a, a, a, a), NDArray[np.float64])
assert_type(distance.geodesic_distance_batch(lat1=a, lon1=a, lat2=a, lon2=a), NDArray[np.float64])

assert_type(units.deg_to_dms(-10.5), tuple[float, float, float])
assert_type(units.dms_to_deg(*units.deg_to_dms(-10.5)), float)
assert_type(tarnu.units.km_to_mi(units.m_to_km(units.ft_to_m(3))), float)
for convert in (units.mi_to_km, units.km_to_nm, units.nm_to_km, units.m_to_ft,
                units.km_to_m, units.deg_to_rad, units.rad_to_deg):
    assert_type(convert(1.0), float)

# Wrong uses the stubs must reject.
distance.great_circle_distance(0.0, 0.0, 0.0)  # type: ignore[call-arg]
distance.great_circle_distance("0", 0, 0, 0)  # type: ignore[arg-type]
distance.geodesic_destination(lat1=0, lon1=0, azi1=90, distance=1)  # type: ignore[call-arg]
geodesic.wgs84_a(1)  # type: ignore[call-arg]
full["m12x"]  # type: ignore[typeddict-item]
