# Type stubs of the native module. Its three submodules are also entered in
# sys.modules as tarnu.distance, tarnu.geodesic and tarnu.units (see
# tarnu/__init__.py); their signatures live in the stubs of those names.
from tarnu import distance as distance
from tarnu import geodesic as geodesic
from tarnu import units as units

__all__ = ["distance", "geodesic", "units"]
