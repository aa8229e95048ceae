# Type stubs of tarnu.ufunc: NumPy ufuncs over array-likes of numbers that cast
# to float64 (scalars in give NumPy scalars out). Inputs and outputs of each are
# named in its docstring.
import numpy as np

__all__ = [
    "great_circle_distance",
    "great_circle_destination",
    "geodesic_distance",
    "geodesic_destination",
    "geodesic_inverse",
    "geodesic_inverse_full",
    "geodesic_direct",
    "geodesic_intermediate",
    "km_to_mi",
    "mi_to_km",
    "km_to_nm",
    "nm_to_km",
    "m_to_ft",
    "ft_to_m",
    "m_to_km",
    "km_to_m",
    "deg_to_rad",
    "rad_to_deg",
    "dms_to_deg",
    "deg_to_dms",
]

great_circle_distance: np.ufunc
great_circle_destination: np.ufunc
geodesic_distance: np.ufunc
geodesic_destination: np.ufunc
geodesic_inverse: np.ufunc
geodesic_inverse_full: np.ufunc
geodesic_direct: np.ufunc
geodesic_intermediate: np.ufunc
km_to_mi: np.ufunc
mi_to_km: np.ufunc
km_to_nm: np.ufunc
nm_to_km: np.ufunc
m_to_ft: np.ufunc
ft_to_m: np.ufunc
m_to_km: np.ufunc
km_to_m: np.ufunc
deg_to_rad: np.ufunc
rad_to_deg: np.ufunc
dms_to_deg: np.ufunc
deg_to_dms: np.ufunc
