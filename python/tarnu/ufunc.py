"""Every tarnu operation over whole arrays, as NumPy ufuncs.

Each function here is a true :class:`numpy.ufunc` with one float64 loop:
scalars, lists and arrays of any shape and strides broadcast against each
other by NumPy's rules, other numeric types are cast to float64, and ``out=``,
``where=``, pandas Series, xarray DataArrays and Dask arrays work as with
NumPy's own ufuncs. The loops run without the interpreter lock, large ones
split across tarnu's worker pool (the one the batch functions use).

Inputs come in the order of the one-pair functions, angles in degrees and
lengths in metres:

>>> import numpy as np
>>> from tarnu import ufunc
>>> ufunc.great_circle_distance(0.0, 0.0, 0.0, np.array([1.0, 2.0])).round(3)
array([111195.08 , 222390.161])
>>> lat2, lon2 = ufunc.geodesic_destination(0.0, 0.0, 90.0, 111319.49079327357)
>>> round(float(lat2), 12), round(float(lon2), 12)
(0.0, 1.0)

``help(ufunc.geodesic_inverse)`` names each ufunc's inputs and outputs.
"""

import sys

from tarnu._ufunc import (
    deg_to_dms,
    deg_to_rad,
    dms_to_deg,
    ft_to_m,
    geodesic_destination,
    geodesic_direct,
    geodesic_distance,
    geodesic_inverse,
    geodesic_intermediate,
    geodesic_inverse_full,
    great_circle_destination,
    great_circle_distance,
    km_to_m,
    km_to_mi,
    km_to_nm,
    m_to_ft,
    m_to_km,
    mi_to_km,
    nm_to_km,
    rad_to_deg,
)

__all__ = [
    "great_circle_distance", "great_circle_destination", "geodesic_distance",
    "geodesic_destination", "geodesic_inverse", "geodesic_inverse_full", "geodesic_direct",
    "geodesic_intermediate",
    "km_to_mi", "mi_to_km", "km_to_nm", "nm_to_km", "m_to_ft", "ft_to_m", "m_to_km", "km_to_m",
    "deg_to_rad", "rad_to_deg", "dms_to_deg", "deg_to_dms",
]


# Dask computes a ufunc of one output block by block by itself, but looks a
# ufunc of several outputs up by name in dask.array.ufunc, which knows only
# NumPy's. Those of tarnu are entered there as apply_gufunc calls with the
# elementwise signature, as soon as that module exists.
def _enter_into_dask(dask_ufuncs):
    for f in (globals()[name] for name in __all__):
        if f.nout > 1 and not hasattr(dask_ufuncs, f.__name__):
            setattr(dask_ufuncs, f.__name__, _dask_form(f))


def _dask_form(f):
    signature = ",".join(["()"] * f.nin) + "->" + ",".join(["()"] * f.nout)

    def apply(*args, **kwargs):
        from dask.array import apply_gufunc
        import numpy as np
        return apply_gufunc(f, signature, *args, output_dtypes=(np.float64,) * f.nout, **kwargs)

    apply.__name__ = apply.__qualname__ = f.__name__
    apply.__doc__ = f.__doc__
    return apply


class _WhenDaskArrives:
    """Enters the ufuncs into dask.array.ufunc right after it is imported."""

    def find_spec(self, name, path=None, target=None):
        if name != "dask.array.ufunc":
            return None
        sys.meta_path.remove(self)
        import importlib.util
        spec = importlib.util.find_spec(name)
        if spec is not None and spec.loader is not None:
            execute = spec.loader.exec_module

            def exec_module(module):
                execute(module)
                _enter_into_dask(module)

            spec.loader.exec_module = exec_module
        return spec


if "dask.array.ufunc" in sys.modules:
    _enter_into_dask(sys.modules["dask.array.ufunc"])
else:
    sys.meta_path.insert(0, _WhenDaskArrives())
