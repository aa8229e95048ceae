"""The numbers: reference values on the sphere and the ellipsoid, agreement
with GeographicLib, the unit conversions to the bit, and what NaN,
infinities and out-of-range latitudes give."""

import itertools
import math
import operator
import random

import pytest
from geographiclib.geodesic import Geodesic as Reference
from geographiclib.test.test_geodesic import GeodesicTest
from hypothesis import given, settings
from hypothesis import strategies as st

from conftest import (BY_NAME, KEYS, RANGE, SPECIAL, SPHERE_RADIUS, WITH_ARGUMENTS, bits,
                      random_pairs)
from tarnu._tarnu import distance, geodesic, units

MM = 1e-3
WGS84 = Reference.WGS84

# function, arguments, expected result (a dict: the keys that must match), tolerance.
REFERENCE = [
    ("great_circle_distance", (0, 0, 0, 1), 111195.080, MM),  # R * pi / 180
    ("great_circle_distance", (0, 0, 0, 180), 20015114.442, MM),  # antipodes: pi * R, not NaN
    ("great_circle_distance", (90, 0, -90, 0), 20015114.442, MM),
    ("great_circle_distance", (0, 170, 0, -170), 2223901.605, MM),
    ("great_circle_distance", (51.5, -0.1, 51.5, -0.1), 0.0, 0),
    ("great_circle_destination", (0, 170, 90, 2223901.604670657), (0.0, 190.0), 1e-12),  # unwrapped
    ("great_circle_destination", (0, 0, 0, -111195.0802335329), (-1.0, 0.0), 1e-12),  # backwards
    ("great_circle_destination", (0, 0, 90, 44478032.09341316), (0.0, 40.0), 1e-9),
    ("great_circle_destination", (89.5, 3.0, 10.0, 0.0), (89.50000000000014, 3.0000000000000004), 0),
    ("geodesic_distance", (0, 0, 0, 1), 111319.491, MM),  # a * pi / 180
    ("geodesic_distance", (0, 0, 0, 180), 20003931.459, MM),  # over the pole, not the equator
    ("geodesic_destination", (0, 170, 90, 2226389.8158654715), (0.0, -170.0), 1e-9),  # reduced
    ("geodesic_destination", (0, 0, 0, -10001965.729230457), (-90.0, 0.0), 1e-9),
    ("geodesic_inverse", (0, 0, 0, 370), {"lon2": 370.0, "s12": 1113194.908, "azi1": 90.0,
                                          "azi2": 90.0, "a12": 10.0336408982}, MM),
    ("inverse", (0, 0, 90, 0), {"s12": 10001965.729, "azi1": 0.0, "a12": 90.0,
                                "m12": 6378137.0, "M21": 0.0052621645, "S12": 0.0}, MM),
    ("direct", (0, 370, 450, 0), {"lon1": 370.0, "lat2": 0.0, "lon2": 10.0, "azi1": 450.0,
                                  "azi2": 90.0, "a12": 0.0}, 1e-12),
    ("wgs84_a", (), 6378137.0, 0),
    ("wgs84_f", (), 1 / 298.257223563, 0),
]


@pytest.mark.parametrize("name, args, expected, tolerance", REFERENCE)
def test_reference_values(name, args, expected, tolerance):
    result = BY_NAME[name].fn(*args)
    if isinstance(expected, dict):
        assert tuple(result) == KEYS[:len(result)] and len(result) == (12 if name == "inverse" else 8)
        result = [result[k] for k in expected]
        expected = list(expected.values())
    assert type(result) is type(expected) or isinstance(expected, list)
    assert result == pytest.approx(expected, abs=tolerance, rel=0)


def angle(a, b):
    return abs(math.remainder(a - b, 360.0))


# GeographicLib's own tolerances: nanometre-scale lengths, 1e-13 degree.
TOLERANCE = {"lat2": 1e-13, "lon2": 1e-13, "azi1": 1e-13, "azi2": 1e-13, "s12": 1e-8,
             "a12": 1e-13, "m12": 1e-8, "M12": 1e-15, "M21": 1e-15, "S12": 0.1}


@pytest.mark.parametrize("case", GeodesicTest.testcases, ids=lambda c: f"{c[0]},{c[1]}")
def test_published_geodesics(case):
    lat1, lon1, azi1, lat2, lon2, azi2, s12, a12, m12, M12, M21, S12 = case
    published = dict(zip(["azi1", "azi2", "s12", "a12", "m12", "M12", "M21", "S12"],
                         [azi1, azi2, s12, a12, m12, M12, M21, S12]))
    got = geodesic.inverse(lat1, lon1, lat2, lon2)
    for key, want in published.items():
        diff = angle(got[key], want) if key.startswith("azi") else abs(got[key] - want)
        assert diff <= TOLERANCE[key], (key, got[key], want)
    there = geodesic.direct(lat1, lon1, azi1, s12)
    for key, want in [("lat2", lat2), ("lon2", lon2), ("azi2", azi2), ("a12", a12)]:
        assert angle(there[key], want) <= TOLERANCE[key], (key, there[key], want)


def test_agrees_with_geographiclib_on_random_geodesics():
    # The same series in another language: a few ulps apart, so a little
    # looser than the published tolerances.
    loose = {k: 100 * v if k != "S12" else v for k, v in TOLERANCE.items()}
    rng = random.Random(1)
    for lat1, lon1, lat2, lon2 in zip(*(c.tolist() for c in random_pairs(2000, seed=1))):
        got = geodesic.inverse(lat1, lon1, lat2, lon2)
        want = WGS84.Inverse(lat1, lon1, lat2, lon2, Reference.ALL)
        assert [got[k] for k in KEYS[:4]] == [lat1, lon1, lat2, lon2]
        assert list(distance.geodesic_inverse(lat1, lon1, lat2, lon2).items()) == \
            list(got.items())[:8]
        assert distance.geodesic_distance(lat1, lon1, lat2, lon2) == got["s12"]
        azi1, s12 = rng.uniform(-180, 180), rng.uniform(-2e7, 2e7)
        there = geodesic.direct(lat1, lon1, azi1, s12)
        assert distance.geodesic_destination(lat1, lon1, azi1, s12) == (there["lat2"],
                                                                        there["lon2"])
        back = WGS84.Direct(lat1, lon1, azi1, s12)
        assert all(abs(r[k]) <= RANGE[k] for r in (got, there) for k in RANGE if k in r)
        for key in KEYS[4:]:
            assert angle(got[key], want[key]) <= loose[key], (key, got[key], want[key])
        for key in ("lat2", "lon2", "azi2", "a12"):
            assert angle(there[key], back[key]) <= loose[key], (key, there[key], back[key])


# --- NaN, infinities and latitudes beyond the poles ------------------------------------

def finite(*xs):
    return all(map(math.isfinite, xs))


def check(name, args, result):
    """The documented outcome of a call on arbitrary doubles: floats, never an
    exception, NaN exactly where an input leaves the answer undefined."""
    flat = list(result.values() if isinstance(result, dict) else
                result if isinstance(result, tuple) else (result,))
    assert all(type(x) is float for x in flat)
    lat1, lon1, c, d = args
    if name == "great_circle_distance":
        if not finite(*args, d - lon1):
            assert math.isnan(result)
        elif abs(lat1) <= 90 and abs(c) <= 90:  # beyond, the haversine may leave [0, 1]
            assert 0 <= result <= math.pi * SPHERE_RADIUS * (1 + 1e-15)
    elif name == "great_circle_destination":
        lat2, lon2 = result
        if not finite(lat1, c, d):
            assert math.isnan(lat2) and math.isnan(lon2)
        elif not math.isfinite(lon1):
            assert math.isfinite(lat2) and (math.isnan(lon2) or lon2 == lon1)
        else:
            assert finite(lat2, lon2) and abs(lon2 - lon1) <= 180 * (1 + 1e-15) + abs(lon1) * 1e-15
    elif name in ("geodesic_distance", "geodesic_inverse", "inverse"):
        defined = finite(*args) and abs(lat1) <= 90 and abs(c) <= 90
        if isinstance(result, dict):
            assert bits(flat[:4]) == bits(list(args))
        assert all(math.isnan(v) != defined for v in flat[-8 if name == "inverse" else -4:])
    else:  # geodesic_destination, direct
        if isinstance(result, dict):
            assert bits([result[k] for k in ("lat1", "lon1", "azi1", "s12")]) == bits(list(args))
            flat = [result[k] for k in ("lat2", "lon2", "azi2", "a12")]
        lat2, lon2, *rest = flat
        if finite(lat1, c, d) and abs(lat1) <= 90:
            assert -90 <= lat2 <= 90 and finite(*rest)
            assert math.isnan(lon2) if not math.isfinite(lon1) else -180 <= lon2 <= 180
        else:
            assert all(map(math.isnan, flat))


EDGES = SPECIAL + (90.0, -91.0, 180.0, 1e308)
GEOMETRY = [f for f in WITH_ARGUMENTS if f.submodule != "units"]


@pytest.mark.parametrize("f", GEOMETRY, ids=repr)
def test_special_values(f):
    for args in itertools.product(EDGES, repeat=4):
        check(f.name, args, f.fn(*args))

    @settings(max_examples=300, deadline=None, database=None, derandomize=True)
    @given(st.lists(st.one_of(st.floats(-400, 400), st.floats()), min_size=4, max_size=4))
    def arbitrary(args):
        check(f.name, args, f.fn(*args))

    arbitrary()


# --- units ------------------------------------------------------------------------

# Each conversion is exactly one rounded operation with its constant.
CONVERSIONS = [
    ("km_to_mi", operator.truediv, 1.609344), ("mi_to_km", operator.mul, 1.609344),
    ("km_to_nm", operator.truediv, 1.852), ("nm_to_km", operator.mul, 1.852),
    ("m_to_ft", operator.truediv, 0.3048), ("ft_to_m", operator.mul, 0.3048),
    ("m_to_km", operator.truediv, 1000.0), ("km_to_m", operator.mul, 1000.0),
    ("deg_to_rad", operator.mul, math.pi / 180), ("rad_to_deg", operator.mul, 180 / math.pi),
]


@pytest.mark.parametrize("name, operation, constant", CONVERSIONS)
def test_conversions_are_one_operation(name, operation, constant):
    rng = random.Random(name)
    samples = [rng.uniform(-1e6, 1e6) for _ in range(2000)] + list(range(-50, 51)) + \
        [*SPECIAL, 1e308, 5e-324]
    convert = getattr(units, name)
    assert bits([convert(x) for x in samples]) == bits([operation(float(x), constant)
                                                        for x in samples])


@pytest.mark.parametrize("parts, degrees", [
    ((10, 30, 0), 10.5),
    ((-10, 30, 0), -9.5),  # each part keeps its own sign
    ((-10, -30, 0), -10.5),
    ((12, 20, 44.16), 12.345600000000001),  # minutes added before seconds
    ((0, 90, 0), 1.5),
    ((-0.0, -0.0, -0.0), -0.0),
    ((math.inf, 0, -math.inf), math.nan),
])
def test_dms_to_deg(parts, degrees):
    assert bits(units.dms_to_deg(*parts)) == bits(degrees)


@pytest.mark.parametrize("degrees, parts", [
    (-10.5, (-10.0, 30.0, 0.0)),  # the sign on the degrees alone
    (-0.5, (-0.0, 30.0, 0.0)),  # ... as a negative zero
    (1.1, (1.0, 6.0, 3.197442310920451e-13)),  # seconds not rounded
    (12.3456, (12.0, 20.0, 44.15999999999727)),
    (math.inf, (math.inf, math.nan, math.nan)),
    (-math.inf, (-math.inf, math.nan, math.nan)),
    (math.nan, (math.nan, math.nan, math.nan)),
])
def test_deg_to_dms(degrees, parts):
    assert bits(units.deg_to_dms(degrees)) == bits(parts)


def test_dms_round_trip():
    rng = random.Random(9)
    for _ in range(2000):
        dd = rng.uniform(-360, 360)
        d, m, s = units.deg_to_dms(dd)
        assert d == math.trunc(dd) and math.copysign(1, d) == math.copysign(1, dd)
        assert m == math.trunc(m) and 0 <= m < 60 and 0 <= s < 60
        assert units.dms_to_deg(abs(d), m, s) == pytest.approx(abs(dd), abs=1e-12)
