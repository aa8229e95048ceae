"""Fast, exact geodesy: great-circle and WGS84 geodesic distances, destinations
and unit conversions, backed by the native module ``tarnu._tarnu``."""

from tarnu import _tarnu
from tarnu._tarnu import distance, geodesic, units

__version__ = "0.1.0"
__all__ = ["distance", "geodesic", "units", "__version__"]
