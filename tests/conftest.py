"""What the tests share: the function surface, inputs, exact comparison,
child processes, and the running of documented examples."""

import doctest
import math
import re
import os
import struct
import subprocess
import sys
import textwrap
from typing import NamedTuple

import numpy as np
import pytest

from tarnu import _tarnu

TESTS = os.path.dirname(__file__)
SANITIZED = bool(os.environ.get("TARNU_SANITIZED"))  # set by `make test-asan`
SPECIAL = (-math.inf, -0.0, 0.0, math.nan, math.inf)
SPHERE_RADIUS = 6371008.8  # metres
KEYS = ("lat1", "lon1", "lat2", "lon2", "s12", "azi1", "azi2", "a12", "m12", "M12", "M21", "S12")
# The largest magnitude of an output angle, in degrees: azimuths and the
# direct problem's lon2 are reduced to [-180, 180].
RANGE = {"lat2": 90.0, "lon2": 180.0, "azi1": 180.0, "azi2": 180.0}

# The surface as callers see it: submodules, then functions in registration
# order, each with its parameters and docstring (after the signature line).
_LATLON = ("lat1", "lon1", "lat2", "lon2")
_HEADING = ("lat1", "lon1", "bearing", "distance")
SURFACE = {
    "distance": {
        "geodesic_distance": (_LATLON, "Geodesic (ellipsoidal) distance between two points. "
                                       "Returns meters."),
        "geodesic_destination": (_HEADING, "Geodesic destination given start, azimuth (degrees), "
                                           "and distance (meters).\nReturns (lat2, lon2)."),
        "great_circle_distance": (_LATLON, "Great-circle (spherical) distance. Returns meters."),
        "great_circle_destination": (_HEADING, "Great-circle destination. Returns (lat2, lon2)."),
        "geodesic_inverse": (_LATLON, "Full inverse geodesic result. Returns dict with s12, azi1, "
                                      "azi2, a12, etc."),
        "geodesic_distance_batch": (_LATLON, "Batch geodesic distance: arrays of (lat1, lon1, "
                                             "lat2, lon2) \u2192 array of distances (meters).\n"
                                             "Uses rayon for parallel computation."),
        "great_circle_distance_batch": (_LATLON, "Batch great-circle distance: arrays \u2192 "
                                                 "array of distances (meters)."),
    },
    "geodesic": {
        "inverse": (_LATLON, "Full inverse geodesic problem on WGS84.\nReturns dict with lat1, "
                             "lon1, lat2, lon2, s12, azi1, azi2, a12, m12, M12, M21, S12."),
        "direct": (("lat1", "lon1", "azi1", "s12"), "Full direct geodesic problem on WGS84."),
        "wgs84_a": ((), "WGS84 equatorial radius in meters."),
        "wgs84_f": ((), "WGS84 flattening."),
    },
    "units": {name: ((parameter,), None) for name, parameter in [
        ("km_to_mi", "km"), ("mi_to_km", "mi"), ("km_to_nm", "km"), ("nm_to_km", "nm"),
        ("m_to_ft", "m"), ("ft_to_m", "ft"), ("m_to_km", "m"), ("km_to_m", "km"),
        ("deg_to_rad", "d"), ("rad_to_deg", "r")]}
    | {"dms_to_deg": (("degrees", "arcminutes", "arcseconds"), None), "deg_to_dms": (("dd",), None)},
}

# The batch functions, with the scalar function that gives each element.
BATCH = {"geodesic_distance_batch": "geodesic_distance",
         "great_circle_distance_batch": "great_circle_distance"}


class Function(NamedTuple):
    submodule: str
    name: str
    params: tuple[str, ...]
    doc: str | None
    fn: object

    def __repr__(self):
        return self.name


FUNCTIONS = [Function(sub, name, params, doc, getattr(getattr(_tarnu, sub), name))
             for sub, functions in SURFACE.items() for name, (params, doc) in functions.items()]
BY_NAME = {f.name: f for f in FUNCTIONS}
SCALAR = [f for f in FUNCTIONS if f.name not in BATCH]
WITH_ARGUMENTS = [f for f in SCALAR if f.params]


def scalar_args(function, i=0):
    """Valid arguments for a scalar function: plausible coordinates, azimuths
    and lengths, different for different i."""
    base = (12.5, -47.25, 33.75, 151.5)
    return tuple(base[(k + i) % 4] + i * 0.125 for k in range(len(function.params)))


def random_pairs(n, seed=0):
    """n point pairs, each point uniform on the sphere: lat1, lon1, lat2, lon2."""
    rng = np.random.default_rng(seed)
    lat = lambda: np.degrees(np.arcsin(rng.uniform(-1, 1, n)))
    lon = lambda: rng.uniform(-180, 180, n)
    return lat(), lon(), lat(), lon()


def bits(value):
    """An image of a result exact to the bit (the sign of zero included; all
    NaNs alike), for floats, containers and arrays."""
    if isinstance(value, float):
        return b"nan" if math.isnan(value) else struct.pack("<d", value)
    if isinstance(value, (tuple, list)):
        return tuple(bits(v) for v in value)
    if isinstance(value, dict):
        return tuple((k, bits(v)) for k, v in value.items())
    if isinstance(value, np.ndarray):
        return value.dtype.str, value.shape, value.tobytes()
    return value


def run_python(code, env=None, timeout=120):
    """Runs code in a fresh interpreter that sees this directory, with the
    pool's variables unset unless env sets them."""
    full_env = {k: v for k, v in os.environ.items() if not k.startswith("RAYON_")}
    full_env.update(env or {})
    return subprocess.run(
        [sys.executable, "-X", "faulthandler", "-c",
         f"import sys; sys.path.insert(0, {TESTS!r})\n" + textwrap.dedent(code)],
        capture_output=True, text=True, timeout=timeout, env=full_env)


def assert_ok(child, last_line="ok"):
    assert child.returncode == 0, f"exit {child.returncode}\n{child.stdout}\n{child.stderr}"
    assert child.stdout.strip().splitlines()[-1:] == [last_line], child.stdout + child.stderr


DOCTEST_FLAGS = doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE


def run_examples(source, globs, name, path, line=0):
    """Runs the >>> examples of a text as one doctest and returns how many
    ran; fails on the first page or block whose output differs."""
    test = doctest.DocTestParser().get_doctest(source, globs, name, str(path), line)
    runner = doctest.DocTestRunner(optionflags=DOCTEST_FLAGS)
    runner.run(test, out=lambda text: print(text, end=""))
    assert runner.failures == 0, f"{name}: see the captured output"
    return runner.tries


def assert_same_output(got, expected):
    """A documented command's output against the real one, word by word
    (commas separate words too, for CSV); numbers to 12 digits, as
    GeographicLib builds and vector widths may differ in the last bits."""
    split = lambda text: re.split(r"[\s,]+", text.strip())
    assert got.count("\n") == expected.count("\n"), (got, expected)
    words, wanted_words = split(got), split(expected)
    assert len(words) == len(wanted_words), (got, expected)
    for word, wanted in zip(words, wanted_words):
        try:
            assert float(word) == pytest.approx(float(wanted), rel=1e-12, abs=1e-9), word
        except ValueError:
            assert word == wanted
