"""The peers that are not a library call: pure Python on the math module and
NumPy's natural vectorised haversine; and the optional imports of the libraries.

Angles in degrees, distances in metres, on tarnu's sphere.
"""

from __future__ import annotations

import importlib
from math import asin, atan2, cos, degrees, radians, sin, sqrt

import numpy as np

SPHERE_RADIUS = 6371008.8      # metres, tarnu's sphere (and haversine's)
KM_PER_MI = 1.609344           # kilometres in a statute mile


def optional_module(name: str):
    """The module, or None when it (or its package) is not installed."""
    try:
        return importlib.import_module(name)
    except ImportError:
        return None


def py_haversine(lat1, lon1, lat2, lon2):
    phi1, phi2 = radians(lat1), radians(lat2)
    h = sin((phi2 - phi1) / 2) ** 2 + cos(phi1) * cos(phi2) * sin(radians(lon2 - lon1) / 2) ** 2
    return 2 * SPHERE_RADIUS * asin(sqrt(h))


def py_destination(lat1, lon1, bearing, distance):
    phi1, theta, delta = radians(lat1), radians(bearing), distance / SPHERE_RADIUS
    sphi2 = min(1.0, max(-1.0, sin(phi1) * cos(delta) + cos(phi1) * sin(delta) * cos(theta)))
    lam = atan2(sin(theta) * sin(delta) * cos(phi1), cos(delta) - sin(phi1) * sphi2)
    return degrees(asin(sphi2)), lon1 + degrees(lam)


def py_km_to_mi(km):
    return km / KM_PER_MI


def np_haversine(lat1, lon1, lat2, lon2):
    return 2 * SPHERE_RADIUS * np.arcsin(np.sqrt(
        np.sin(np.radians(lat2 - lat1) / 2) ** 2
        + np.cos(np.radians(lat1)) * np.cos(np.radians(lat2)) * np.sin(np.radians(lon2 - lon1) / 2) ** 2))
