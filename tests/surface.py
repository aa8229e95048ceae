"""The package's full function surface, as the tests expect it: every
function of each submodule in registration order, with its parameters."""

_LATLON = ("lat1", "lon1", "lat2", "lon2")
_DESTINATION = ("lat1", "lon1", "bearing", "distance")

FUNCTIONS = {
    "distance": {
        "geodesic_distance": _LATLON,
        "geodesic_destination": _DESTINATION,
        "great_circle_distance": _LATLON,
        "great_circle_destination": _DESTINATION,
        "geodesic_inverse": _LATLON,
        "geodesic_distance_batch": _LATLON,
        "great_circle_distance_batch": _LATLON,
    },
    "geodesic": {
        "inverse": _LATLON,
        "direct": ("lat1", "lon1", "azi1", "s12"),
        "wgs84_a": (),
        "wgs84_f": (),
    },
    "units": {
        "km_to_mi": ("km",), "mi_to_km": ("mi",), "km_to_nm": ("km",), "nm_to_km": ("nm",),
        "m_to_ft": ("m",), "ft_to_m": ("ft",), "m_to_km": ("m",), "km_to_m": ("km",),
        "deg_to_rad": ("d",), "rad_to_deg": ("r",),
        "dms_to_deg": ("degrees", "arcminutes", "arcseconds"), "deg_to_dms": ("dd",),
    },
}

# Function names per submodule, in registration order.
SURFACE = {sub: list(functions) for sub, functions in FUNCTIONS.items()}
SUBMODULE_OF = {name: sub for sub, names in SURFACE.items() for name in names}
PARAMETERS = {name: params for functions in FUNCTIONS.values()
              for name, params in functions.items()}
