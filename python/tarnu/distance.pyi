# Type stubs of tarnu.distance (native: tarnu._tarnu.distance).
# Angles in degrees, distances in metres; latitude before longitude.
from typing import TypedDict, type_check_only

import numpy as np
from numpy.typing import NDArray

from tarnu.geodesic import _Solution

__all__ = [
    "geodesic_distance",
    "geodesic_destination",
    "great_circle_distance",
    "great_circle_destination",
    "geodesic_inverse",
    "geodesic_distance_batch",
    "great_circle_distance_batch",
]

@type_check_only
class GeodesicInverseResult(_Solution):
    """The dict of geodesic_inverse, keys in this order."""

def geodesic_distance(lat1: float, lon1: float, lat2: float, lon2: float) -> float: ...
def geodesic_destination(
    lat1: float, lon1: float, bearing: float, distance: float
) -> tuple[float, float]: ...
def great_circle_distance(lat1: float, lon1: float, lat2: float, lon2: float) -> float: ...
def great_circle_destination(
    lat1: float, lon1: float, bearing: float, distance: float
) -> tuple[float, float]: ...
def geodesic_inverse(
    lat1: float, lon1: float, lat2: float, lon2: float
) -> GeodesicInverseResult: ...
def geodesic_distance_batch(
    lat1: NDArray[np.float64],
    lon1: NDArray[np.float64],
    lat2: NDArray[np.float64],
    lon2: NDArray[np.float64],
) -> NDArray[np.float64]: ...
def great_circle_distance_batch(
    lat1: NDArray[np.float64],
    lon1: NDArray[np.float64],
    lat2: NDArray[np.float64],
    lon2: NDArray[np.float64],
) -> NDArray[np.float64]: ...
