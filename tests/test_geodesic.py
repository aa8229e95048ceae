"""The geodesic submodule: full inverse and direct problems on WGS84."""

import itertools
import math
import random

import pytest
from geographiclib.geodesic import Geodesic as ReferenceGeodesic

from tarnu._tarnu import distance, geodesic

REFERENCE = ReferenceGeodesic.WGS84
MM = 1e-3
SPECIAL = [-math.inf, -0.0, 0.0, math.nan, math.inf]

INVERSE_KEYS = ["lat1", "lon1", "lat2", "lon2", "s12", "azi1", "azi2", "a12",
                "m12", "M12", "M21", "S12"]
DIRECT_KEYS = INVERSE_KEYS[:8]

# Agreement with the pure-Python port of the same series: both sides round
# differently, so allow a few ulps of each quantity at Earth scale. Distances
# (s12, m12) to 10 nm, ulp(2e7 m) being 4 nm; angles to 1e-12 degree (0.1 mm
# on the ground); unitless scales to 1e-15; areas, up to 2.6e14 m^2 where an
# ulp is 0.03 m^2, to 0.1 m^2.
TOLERANCE = {"s12": 1e-8, "m12": 1e-8, "azi1": 1e-12, "azi2": 1e-12, "a12": 1e-12,
             "lat2": 1e-12, "lon2": 1e-12, "M12": 1e-15, "M21": 1e-15, "S12": 0.1}


def same(a: float, b: float) -> bool:
    """Bit-for-bit equality: NaN equals NaN, -0.0 differs from 0.0."""
    return math.isnan(a) and math.isnan(b) or (a == b and math.copysign(1, a) == math.copysign(1, b))


def angle_difference(a: float, b: float) -> float:
    """|a - b| modulo 360: 180 and -180 are the same azimuth or longitude."""
    return abs(math.remainder(a - b, 360.0))


def random_points(rng: random.Random, n: int):
    """n points uniform on the sphere (latitude from asin of a uniform)."""
    return [(math.degrees(math.asin(rng.uniform(-1, 1))), rng.uniform(-180, 180))
            for _ in range(n)]


def test_layout_and_docstrings():
    assert geodesic.__all__ == ["inverse", "direct", "wgs84_a", "wgs84_f"]
    assert geodesic.inverse.__text_signature__ == "(lat1, lon1, lat2, lon2)"
    assert geodesic.inverse.__doc__ == (
        "Full inverse geodesic problem on WGS84.\n"
        "Returns dict with lat1, lon1, lat2, lon2, s12, azi1, azi2, a12, m12, M12, M21, S12.")
    assert geodesic.direct.__text_signature__ == "(lat1, lon1, azi1, s12)"
    assert geodesic.direct.__doc__ == "Full direct geodesic problem on WGS84."
    assert geodesic.wgs84_a.__doc__ == "WGS84 equatorial radius in meters."
    assert geodesic.wgs84_f.__doc__ == "WGS84 flattening."


# --- inverse ------------------------------------------------------------------

inverse = geodesic.inverse


@pytest.mark.parametrize("args, s12, azi1, azi2, a12", [
    ((0, 0, 0, 1), 111319.491, 90.0, 90.0, 1.0033640898),   # a * 1 degree; 1 degree / (1 - f)
    ((0, 0, 90, 0), 10001965.729, 0.0, 0.0, 90.0),           # quarter meridian
    ((10, 20, 10, 20), 0.0, None, None, 0.0),
])
def test_inverse_reference(args, s12, azi1, azi2, a12):
    result = inverse(*args)
    assert list(result) == INVERSE_KEYS
    assert all(type(v) is float for v in result.values())
    assert result["s12"] == pytest.approx(s12, abs=MM)
    assert result["a12"] == pytest.approx(a12, abs=1e-10)
    if azi1 is not None:
        assert (result["azi1"], result["azi2"]) == (azi1, azi2)


def test_inverse_echoes_the_arguments_unreduced():
    wrapped, plain = inverse(0, 0, 0, 370), inverse(0, 0, 0, 10)
    assert wrapped["lon2"] == 370.0
    for key in ["s12", "azi1", "azi2", "a12"]:
        assert wrapped[key] == plain[key]
    assert inverse(91, 0, 0, 0)["lat1"] == 91.0


def test_inverse_agrees_with_the_narrow_inverse():
    rng = random.Random(4)
    points = random_points(rng, 400)
    for (lat1, lon1), (lat2, lon2) in zip(points[::2], points[1::2]):
        full, narrow = inverse(lat1, lon1, lat2, lon2), distance.geodesic_inverse(lat1, lon1, lat2, lon2)
        assert list(narrow.items()) == list(full.items())[:8]


def test_inverse_matches_geographiclib():
    rng = random.Random(1)
    points = random_points(rng, 6000)
    worst = dict.fromkeys(TOLERANCE, 0.0)
    for (lat1, lon1), (lat2, lon2) in zip(points[::2], points[1::2]):
        got = inverse(lat1, lon1, lat2, lon2)
        want = REFERENCE.Inverse(lat1, lon1, lat2, lon2, ReferenceGeodesic.ALL)
        assert [got[k] for k in DIRECT_KEYS[:4]] == [lat1, lon1, lat2, lon2]
        for key in ["s12", "a12", "m12", "M12", "M21", "S12"]:
            worst[key] = max(worst[key], abs(got[key] - want[key]))
        for key in ["azi1", "azi2"]:
            worst[key] = max(worst[key], angle_difference(got[key], want[key]))
    assert all(worst[key] <= TOLERANCE[key] for key in worst), worst


def test_inverse_accepts_keywords_and_ints():
    assert inverse(lon2=4, lat2=3, lon1=2, lat1=1) == inverse(1.0, 2.0, 3.0, 4.0)
    assert inverse(True, 2, 3, 4)["lat1"] == 1.0


def test_inverse_bad_argument_names_it():
    with pytest.raises(TypeError) as info:
        inverse(0, 0, "north", object())
    assert str(info.value).startswith("argument 'lat2': ")


@pytest.mark.parametrize("args", list(itertools.product(SPECIAL, repeat=4)))
def test_inverse_special_values(args):
    result = inverse(*args)
    assert all(same(result[k], a) for k, a in zip(INVERSE_KEYS, args))
    computed = [result[k] for k in INVERSE_KEYS[4:]]
    if all(math.isfinite(a) for a in args):
        assert computed[0] == 0.0 and computed[3] == 0.0  # s12, a12 of coincident points
    else:
        assert all(math.isnan(v) for v in computed)


# --- direct -------------------------------------------------------------------

direct = geodesic.direct


@pytest.mark.parametrize("args, lat2, lon2, azi2", [
    ((0, 0, 90, 111319.49079327357), 0.0, 1.0, 90.0),
    ((0, 170, 90, 2226389.8158654715), 0.0, -170.0, 90.0),   # lon2 reduced, not 190
    ((0, 0, 0, 10001965.729230457), 90.0, 0.0, 0.0),
    ((0, 370, 90, 0), 0.0, 10.0, 90.0),
    ((0, 0, 450, 0), 0.0, 0.0, 90.0),
])
def test_direct_reference(args, lat2, lon2, azi2):
    result = direct(*args)
    assert list(result) == DIRECT_KEYS
    assert all(type(v) is float for v in result.values())
    assert [result[k] for k in ["lat1", "lon1", "s12", "azi1"]] == [args[0], args[1], args[3], args[2]]
    assert result["lat2"] == pytest.approx(lat2, abs=1e-9)
    assert angle_difference(result["lon2"], lon2) <= 1e-9
    assert -180 <= result["lon2"] <= 180
    assert result["azi2"] == pytest.approx(azi2, abs=1e-9)


def test_direct_a12_is_the_arc_length_reached():
    rng = random.Random(2)
    for lat1, lon1 in random_points(rng, 500):
        azi1, s12 = rng.uniform(-180, 180), rng.uniform(-1e7, 1e7)
        there = direct(lat1, lon1, azi1, s12)
        back = inverse(lat1, lon1, there["lat2"], there["lon2"])
        assert abs(there["a12"]) > 0.0
        assert abs(there["a12"]) == pytest.approx(back["a12"], abs=1e-12)
        assert abs(s12) == pytest.approx(back["s12"], abs=1e-8)


def test_direct_matches_geographiclib():
    rng = random.Random(3)
    worst = dict.fromkeys(["lat2", "lon2", "azi2", "a12"], 0.0)
    for lat1, lon1 in random_points(rng, 3000):
        azi1, s12 = rng.uniform(-180, 180), rng.uniform(-2e7, 2e7)
        got = direct(lat1, lon1, azi1, s12)
        want = REFERENCE.Direct(lat1, lon1, azi1, s12)
        worst["lat2"] = max(worst["lat2"], abs(got["lat2"] - want["lat2"]))
        worst["a12"] = max(worst["a12"], abs(got["a12"] - want["a12"]))
        for key in ["lon2", "azi2"]:
            worst[key] = max(worst[key], angle_difference(got[key], want[key]))
    assert all(worst[key] <= TOLERANCE[key] for key in worst), worst


def test_direct_keywords():
    assert direct(lat1=0.0, lon1=0.0, azi1=90.0, s12=1000.0) == direct(0, 0, 90, 1000)


def test_direct_bad_azimuth_stops_before_distance():
    with pytest.raises(TypeError) as info:
        direct(0, 0, "east", object())
    assert str(info.value).startswith("argument 'azi1': ")


@pytest.mark.parametrize("lat1, lon1, azi1, s12", list(itertools.product(SPECIAL, repeat=4)))
def test_direct_special_values(lat1, lon1, azi1, s12):
    result = direct(lat1, lon1, azi1, s12)
    assert all(same(result[k], v) for k, v in
               [("lat1", lat1), ("lon1", lon1), ("azi1", azi1), ("s12", s12)])
    if not all(math.isfinite(x) for x in (lat1, azi1, s12)):
        assert all(math.isnan(result[k]) for k in ["lat2", "lon2", "azi2", "a12"])
    else:
        assert math.isnan(result["lon2"]) != math.isfinite(lon1)
        assert all(math.isfinite(result[k]) for k in ["lat2", "azi2", "a12"])


# --- wgs84_a, wgs84_f ---------------------------------------------------------

def test_wgs84_constants():
    assert geodesic.wgs84_a() == 6378137.0
    assert geodesic.wgs84_f() == 0.0033528106647474805 == 1 / 298.257223563
    assert 1 / geodesic.wgs84_f() == 298.257223563
    assert geodesic.wgs84_a.__text_signature__ == geodesic.wgs84_f.__text_signature__ == "()"


@pytest.mark.parametrize("function", [geodesic.wgs84_a, geodesic.wgs84_f])
def test_wgs84_constants_take_no_arguments(function):
    with pytest.raises(TypeError, match=r"takes no arguments \(1 given\)"):
        function(1)
    with pytest.raises(TypeError, match="takes no keyword arguments"):
        function(a=1)
