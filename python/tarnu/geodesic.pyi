# Type stubs of tarnu.geodesic (native: tarnu._tarnu.geodesic).
# Angles in degrees, distances in metres, areas in square metres.
from typing import TypedDict, type_check_only

__all__ = ["inverse", "direct", "wgs84_a", "wgs84_f"]

@type_check_only
class _Solution(TypedDict):
    """The eight quantities every solution reports, keys in this order."""

    lat1: float
    lon1: float
    lat2: float
    lon2: float
    s12: float
    azi1: float
    azi2: float
    a12: float

@type_check_only
class InverseResult(_Solution):
    """The dict of inverse: the eight of _Solution, then these ("m12" and
    "M12" differ)."""

    m12: float
    M12: float
    M21: float
    S12: float

@type_check_only
class DirectResult(_Solution):
    """The dict of direct, keys in this order."""

def inverse(lat1: float, lon1: float, lat2: float, lon2: float) -> InverseResult: ...
def direct(lat1: float, lon1: float, azi1: float, s12: float) -> DirectResult: ...
def wgs84_a() -> float: ...
def wgs84_f() -> float: ...
