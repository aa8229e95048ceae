# Type stubs of tarnu.geodesic (native: tarnu._tarnu.geodesic).
# Angles in degrees, distances in metres, areas in square metres.
from typing import TypedDict, type_check_only

__all__ = ["inverse", "direct", "wgs84_a", "wgs84_f"]

@type_check_only
class InverseResult(TypedDict):
    """The dict of inverse, keys in this order ("m12" and "M12" differ)."""

    lat1: float
    lon1: float
    lat2: float
    lon2: float
    s12: float
    azi1: float
    azi2: float
    a12: float
    m12: float
    M12: float
    M21: float
    S12: float

@type_check_only
class DirectResult(TypedDict):
    """The dict of direct, keys in this order."""

    lat1: float
    lon1: float
    lat2: float
    lon2: float
    s12: float
    azi1: float
    azi2: float
    a12: float

def inverse(lat1: float, lon1: float, lat2: float, lon2: float) -> InverseResult: ...
def direct(lat1: float, lon1: float, azi1: float, s12: float) -> DirectResult: ...
def wgs84_a() -> float: ...
def wgs84_f() -> float: ...
