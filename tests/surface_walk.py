"""The module's whole public surface, as the reliability tests walk it.

Functions are found through each submodule's ``__all__`` and their parameters
through their text signatures, so functions added later are covered without
editing the tests. surface.PARAMETERS pins the parameter lists we know, so a
function that loses or reorders a parameter fails rather than being silently
walked with the wrong arity.
"""

import inspect
import math
import os
import struct

from tarnu import _tarnu

# The functions that take NumPy arrays, with the scalar function that gives
# each of their elements.
BATCH = {"great_circle_distance_batch": "great_circle_distance",
         "geodesic_distance_batch": "geodesic_distance"}

# Functions that use the shared WGS84 solver.
WGS84_USERS = {"geodesic_distance", "geodesic_destination", "geodesic_inverse",
               "geodesic_distance_batch", "inverse", "direct"}

# Set by `make test-asan`: the module under test is the sanitized build.
SANITIZED = bool(os.environ.get("TARNU_SANITIZED"))


class Function:
    def __init__(self, submodule, name):
        self.submodule = submodule
        self.name = name
        self.fn = getattr(getattr(_tarnu, submodule), name)
        self.parameters = tuple(inspect.signature(self.fn).parameters)
        self.batch = name in BATCH

    @property
    def arity(self):
        return len(self.parameters)

    def __repr__(self):
        return f"{self.submodule}.{self.name}"


FUNCTIONS = [Function(sub, name) for sub in _tarnu.__all__
             for name in getattr(getattr(_tarnu, sub), "__all__", [])]
BY_NAME = {f.name: f for f in FUNCTIONS}
SCALAR = [f for f in FUNCTIONS if not f.batch]
WITH_ARGUMENTS = [f for f in SCALAR if f.arity]
BATCH_FUNCTIONS = [f for f in FUNCTIONS if f.batch]


def ids(functions):
    return [repr(f) for f in functions]


def scalar_args(function, i=0):
    """A valid argument tuple for a scalar function: plausible coordinates,
    distances and amounts, different for different i."""
    base = (12.5, -47.25, 33.75, 151.5)
    return tuple(base[(k + i) % 4] + i * 0.125 for k in range(function.arity))


def batch_args(np, n=17, seed=0):
    rng = np.random.default_rng(seed)
    lat = lambda: rng.uniform(-90, 90, n)
    lon = lambda: rng.uniform(-180, 180, n)
    return lat(), lon(), lat(), lon()


def bits(value):
    """A comparable image of a result, exact to the bit (NaN payloads and the
    sign of zero included); arrays and containers compare element-wise."""
    if isinstance(value, float):
        return struct.pack("<d", value)
    if isinstance(value, (tuple, list)):
        return tuple(bits(v) for v in value)
    if isinstance(value, dict):
        return tuple((k, bits(v)) for k, v in value.items())
    if hasattr(value, "tobytes"):
        return (value.dtype.str, value.shape, value.tobytes())
    return value


def finite(*values):
    return all(math.isfinite(v) for v in values)
