"""Every ufunc of :mod:`tarnu.ufunc` over Dask arrays, lazily, chunk by chunk.

A tarnu ufunc of one output (``geodesic_distance``, ``great_circle_distance``,
the unit conversions) takes Dask arrays as it is and returns a lazy Dask array.
One of several outputs cannot: Dask computes such a ufunc only if it is one of
its own, found by name, so ``ufunc.geodesic_inverse(lazy, ...)`` raises
``TypeError: operand type(s) all returned NotImplemented``. The functions here,
one per ufunc and of the same name, take the ufunc's inputs (Dask arrays, NumPy
arrays or scalars, broadcast against each other) and return one lazy Dask array
per output, a tuple when there are several:

>>> import dask.array as da
>>> import numpy as np
>>> from tarnu import dask as tdask
>>> lat2 = da.from_array(np.array([0.0, 10.0, 20.0]), chunks=2)
>>> s12, azi1, azi2, a12 = tdask.geodesic_inverse(0.0, 0.0, lat2, 1.0)
>>> azi1.compute().round(6)
array([90.      ,  5.690235,  2.763329])

Each chunk is one call of the ufunc, whose outputs are written side by side
into one block: computing the outputs together (``dask.compute(s12, azi1)``)
runs the ufunc once per chunk. The functions and what they build pickle by
reference, so Dask's threaded, process and distributed schedulers all run them.

Dask has two array backends, chosen once per process by the configuration
``array.query-planning`` before ``dask.array`` is first imported: the classic
one (the default in Dask 2026.11) and the query-planning one (opt-in; Dask
says it will become the default). On both, the single-output ufuncs take Dask
arrays directly and the multi-output ufuncs raise the TypeError above; the
functions here work on both. On the query-planning backend, Dask's own
elementwise path fails when computed (``NotImplementedError``) once a Dask array
meets a NumPy array or one chunked otherwise, for NumPy's ufuncs too; these
functions go through ``blockwise``, which aligns them. Dask's ``apply_gufunc`` builds several
outputs on the classic backend only (on the other: ``RuntimeError: Failed to
generate metadata``), and ``blockwise`` works on both.

Importing this module imports ``dask.array`` and changes nothing in it.
"""

from __future__ import annotations

import functools
from typing import Any, Callable

import dask.array as da
import numpy as np

from tarnu import ufunc

__all__ = [
    "great_circle_distance", "great_circle_destination", "geodesic_distance",
    "geodesic_destination", "geodesic_inverse", "geodesic_inverse_full", "geodesic_direct",
    "geodesic_intermediate", "km_to_mi", "mi_to_km", "km_to_nm", "nm_to_km", "m_to_ft", "ft_to_m", "m_to_km", "km_to_m",
    "deg_to_rad", "rad_to_deg", "dms_to_deg", "deg_to_dms",
]


def _each_output(f: np.ufunc, *blocks: Any) -> np.ndarray[Any, np.dtype[np.float64]]:
    """f on one chunk of each input, its outputs stacked along a new first axis."""
    shape = np.broadcast_shapes(*(np.shape(block) for block in blocks))
    stacked = np.empty((f.nout, *shape))
    f(*blocks, out=tuple(stacked[k, ...] for k in range(f.nout)))  # views, 0-d ones too
    return stacked


def _over_chunks(f: np.ufunc) -> Callable[..., Any]:
    """The Dask form of f: its inputs broadcast as NumPy broadcasts them (the
    last axes line up), one block per chunk; several outputs are one array with
    a new first axis, handed back as a tuple of its slices."""

    def apply(*args: Any) -> Any:
        if len(args) != f.nin:
            raise TypeError(f"{f.__name__}() takes {f.nin} arguments ({len(args)} given)")
        arrays = [da.asarray(a) for a in args]  # type: ignore[no-untyped-call]
        ndim = max(a.ndim for a in arrays)
        loop = tuple(range(ndim))[::-1]  # index names: the last axes line up
        pairs = [x for a in arrays for x in (a, loop[ndim - a.ndim:])]
        if f.nout == 1:
            return da.blockwise(  # type: ignore[no-untyped-call]
                f, loop, *pairs, dtype=np.float64, concatenate=True,
                meta=np.empty((0,) * ndim), token=f.__name__)
        stacked = da.blockwise(  # type: ignore[no-untyped-call]
            functools.partial(_each_output, f), (ndim, *loop), *pairs, new_axes={ndim: f.nout},
            dtype=np.float64, concatenate=True, meta=np.empty((0,) * (ndim + 1)),
            token=f.__name__)
        return tuple(stacked[k] for k in range(f.nout))

    apply.__name__ = apply.__qualname__ = f.__name__
    apply.__module__ = __name__
    apply.__doc__ = (f"{f.__name__}(*inputs): tarnu.ufunc.{f.__name__} over Dask arrays, "
                     f"lazily; {f.nout} output(s).\n\n{f.__doc__}")
    return apply


great_circle_distance = _over_chunks(ufunc.great_circle_distance)
great_circle_destination = _over_chunks(ufunc.great_circle_destination)
geodesic_distance = _over_chunks(ufunc.geodesic_distance)
geodesic_destination = _over_chunks(ufunc.geodesic_destination)
geodesic_inverse = _over_chunks(ufunc.geodesic_inverse)
geodesic_inverse_full = _over_chunks(ufunc.geodesic_inverse_full)
geodesic_direct = _over_chunks(ufunc.geodesic_direct)
geodesic_intermediate = _over_chunks(ufunc.geodesic_intermediate)
km_to_mi = _over_chunks(ufunc.km_to_mi)
mi_to_km = _over_chunks(ufunc.mi_to_km)
km_to_nm = _over_chunks(ufunc.km_to_nm)
nm_to_km = _over_chunks(ufunc.nm_to_km)
m_to_ft = _over_chunks(ufunc.m_to_ft)
ft_to_m = _over_chunks(ufunc.ft_to_m)
m_to_km = _over_chunks(ufunc.m_to_km)
km_to_m = _over_chunks(ufunc.km_to_m)
deg_to_rad = _over_chunks(ufunc.deg_to_rad)
rad_to_deg = _over_chunks(ufunc.rad_to_deg)
dms_to_deg = _over_chunks(ufunc.dms_to_deg)
deg_to_dms = _over_chunks(ufunc.deg_to_dms)
