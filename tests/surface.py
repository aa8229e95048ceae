"""The package's full function surface, and `requires` for tests of functions
that a build may not have yet.

`requires("geodesic_distance")` skips a test, saying which functions are
missing, until the native module registers them; once every function is in,
nothing is skipped and the marks can go.
"""

import pytest

import tarnu

# Function names per submodule, in registration order.
SURFACE = {
    "distance": ["geodesic_distance", "geodesic_destination", "great_circle_distance",
                 "great_circle_destination", "geodesic_inverse", "geodesic_distance_batch",
                 "great_circle_distance_batch"],
    "geodesic": ["inverse", "direct", "wgs84_a", "wgs84_f"],
    "units": ["km_to_mi", "mi_to_km", "km_to_nm", "nm_to_km", "m_to_ft", "ft_to_m", "m_to_km",
              "km_to_m", "deg_to_rad", "rad_to_deg", "dms_to_deg", "deg_to_dms"],
}
SUBMODULE_OF = {name: sub for sub, names in SURFACE.items() for name in names}
ALL_UNITS = tuple(f"units.{name}" for name in SURFACE["units"])


def missing(*names: str) -> list[str]:
    """The given functions ("geodesic_distance" or "distance.geodesic_distance")
    that the built module lacks."""
    absent = []
    for name in names:
        sub, _, func = name.rpartition(".")
        if not hasattr(getattr(tarnu, sub or SUBMODULE_OF[func]), func):
            absent.append(name)
    return absent


def requires(*names: str) -> pytest.MarkDecorator:
    absent = missing(*names)
    return pytest.mark.skipif(bool(absent), reason=f"not in this build yet: {', '.join(absent)}")
