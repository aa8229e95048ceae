"""The package's full function surface, as the tests expect it."""

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
