"""Fast, exact geodesy on the Earth.

tarnu measures the Earth two ways and converts the units in between:

``tarnu.distance``
    One pair of points at a time on a sphere of radius 6371008.8 m
    (``great_circle_distance``, ``great_circle_destination``) or on the WGS84
    ellipsoid (``geodesic_distance``, ``geodesic_destination``,
    ``geodesic_inverse``), and whole NumPy columns of pairs at once, computed
    in parallel (``great_circle_distance_batch``, ``geodesic_distance_batch``).
``tarnu.geodesic``
    The full WGS84 inverse and direct problems as dicts (``inverse``,
    ``direct``) and the ellipsoid's constants (``wgs84_a``, ``wgs84_f``).
``tarnu.units``
    Metres, kilometres, feet, statute and nautical miles, degrees, radians and
    degrees-minutes-seconds (``km_to_mi``, ``deg_to_dms``, ...).
``tarnu.ufunc`` (``from tarnu import ufunc``; it needs NumPy)
    Every operation above as a NumPy ufunc, over arrays of any shape, with
    broadcasting, ``out=`` and ``where=``, run without the interpreter lock.

Conventions: latitude before longitude, angles in degrees, distances in
metres, azimuths clockwise from north. Inputs are never range-checked; NaN
and infinities flow through to the results.

>>> from tarnu.distance import geodesic_distance
>>> round(geodesic_distance(0, 0, 0, 1), 3)     # one degree of equator, metres
111319.491

The functions are implemented in the native module ``tarnu._tarnu``; the three
submodules above are its submodule objects, also importable by their dotted
names (``import tarnu.units``). ``python -m tarnu --help`` (or the ``tarnu``
command) lists the command-line tools.
"""

import sys as _sys

from tarnu import _tarnu
from tarnu._tarnu import distance, geodesic, units

__version__ = "0.1.0"
__all__ = ["distance", "geodesic", "units", "__version__"]

# The native submodules are plain module objects named "distance", "geodesic"
# and "units" that the import system does not know. Entering them under their
# dotted names makes `import tarnu.units` and `from tarnu.distance import ...`
# work without claiming the bare top-level names.
for _name in ("distance", "geodesic", "units"):
    _sys.modules.setdefault(f"{__name__}.{_name}", getattr(_tarnu, _name))
del _name, _sys
