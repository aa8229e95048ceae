"""The distance submodule: great-circle and WGS84 geodesic functions."""

import itertools
import math
import random

import pytest

from tarnu._tarnu import distance

MM = 1e-3
SPECIAL = [-math.inf, -0.0, 0.0, math.nan, math.inf]


def test_registration_order():
    assert distance.__all__ == ["geodesic_distance", "geodesic_destination",
                                "great_circle_distance", "great_circle_destination",
                                "geodesic_inverse"]
    for name in distance.__all__:
        assert getattr(distance, name).__name__ == name


def random_pairs(seed: int, n: int):
    """n point pairs with both points uniform on the sphere."""
    rng = random.Random(seed)
    def point():
        return math.degrees(math.asin(rng.uniform(-1, 1))), rng.uniform(-180, 180)
    return [point() + point() for _ in range(n)]


# --- geodesic_distance --------------------------------------------------------

gd = distance.geodesic_distance


@pytest.mark.parametrize("args, metres", [
    ((0, 0, 0, 1), 111319.491),         # a * 1 degree along the equator
    ((0, 0, 90, 0), 10001965.729),      # quarter meridian
    ((0, 0, 0, 180), 20003931.459),     # meridian through the pole, not the equator
    ((0, 0, 0, 370), 1113194.908),
    ((51.5, -0.1, 51.5, -0.1), 0.0),
])
def test_gd_reference(args, metres):
    result = gd(*args)
    assert type(result) is float
    assert result == pytest.approx(metres, abs=MM)


def test_gd_accepts_keywords_and_ints():
    assert gd(lon2=4, lat2=3, lon1=2, lat1=1) == gd(1.0, 2.0, 3.0, 4.0) == gd(True, 2, 3, 4)
    assert gd.__text_signature__ == "(lat1, lon1, lat2, lon2)"
    assert gd.__doc__ == "Geodesic (ellipsoidal) distance between two points. Returns meters."


@pytest.mark.parametrize("args", list(itertools.product(SPECIAL, repeat=4)))
def test_gd_special_values(args):
    result = gd(*args)
    if all(math.isfinite(a) for a in args):
        assert result == 0.0
    else:
        assert math.isnan(result)


# --- geodesic_destination -----------------------------------------------------

gdest = distance.geodesic_destination


@pytest.mark.parametrize("args, lat2, lon2, tolerance", [
    ((0, 0, 90, 111319.49079327357), 0.0, 1.0, 1e-12),
    ((0, 170, 90, 2226389.8158654715), 0.0, -170.0, 1e-9),   # reduced, never 190
    ((0, 0, 0, 10001965.729230457), 90.0, 0.0, 1e-9),
    ((0, 0, 0, -10001965.729230457), -90.0, 0.0, 1e-9),      # negative distance goes back
    ((0, 370, 90, 0), 0.0, 10.0, 1e-12),
])
def test_gdest_reference(args, lat2, lon2, tolerance):
    result = gdest(*args)
    assert type(result) is tuple and len(result) == 2
    assert all(type(x) is float for x in result)
    assert result[0] == pytest.approx(lat2, abs=tolerance)
    assert result[1] == pytest.approx(lon2, abs=tolerance)


def test_gdest_keywords_and_docstring():
    assert gdest(lat1=0.0, lon1=0.0, bearing=90.0, distance=1000.0) == gdest(0, 0, 90, 1000)
    assert gdest.__text_signature__ == "(lat1, lon1, bearing, distance)"
    assert gdest.__doc__ == ("Geodesic destination given start, azimuth (degrees), "
                             "and distance (meters).\nReturns (lat2, lon2).")


def test_gdest_bad_bearing_stops_before_distance():
    with pytest.raises(TypeError) as info:
        gdest(0, 0, "east", object())
    assert str(info.value).startswith("argument 'bearing': ")


@pytest.mark.parametrize("lat1, lon1, bearing, dist", list(itertools.product(SPECIAL, repeat=4)))
def test_gdest_special_values(lat1, lon1, bearing, dist):
    lat2, lon2 = gdest(lat1, lon1, bearing, dist)
    if not all(math.isfinite(x) for x in (lat1, bearing, dist)):
        assert math.isnan(lat2) and math.isnan(lon2)
    else:
        assert math.isfinite(lat2) and math.isnan(lon2) != math.isfinite(lon1)


# --- geodesic_inverse ---------------------------------------------------------

ginv = distance.geodesic_inverse
INVERSE_KEYS = ["lat1", "lon1", "lat2", "lon2", "s12", "azi1", "azi2", "a12"]


def test_ginv_reference():
    result = ginv(0, 0, 0, 1)
    assert list(result) == INVERSE_KEYS
    assert all(type(v) is float for v in result.values())
    assert result["s12"] == pytest.approx(111319.491, abs=MM)
    assert (result["azi1"], result["azi2"]) == (90.0, 90.0)
    assert result["a12"] == pytest.approx(1.0033640898, abs=1e-10)   # 1 degree / (1 - f)
    meridian = ginv(0, 0, 90, 0)
    assert (meridian["azi1"], meridian["azi2"], meridian["a12"]) == (0.0, 0.0, 90.0)


def test_ginv_echoes_the_arguments():
    wrapped, plain = ginv(0, 0, 0, 370), ginv(0, 0, 0, 10)
    assert [wrapped[k] for k in INVERSE_KEYS[:4]] == [0.0, 0.0, 0.0, 370.0]
    assert [wrapped[k] for k in INVERSE_KEYS[4:]] == [plain[k] for k in INVERSE_KEYS[4:]]
    for args in random_pairs(6, 50):
        assert [ginv(*args)[k] for k in INVERSE_KEYS[:4]] == list(args)


def test_ginv_s12_is_geodesic_distance():
    for args in random_pairs(7, 300):
        assert ginv(*args)["s12"] == gd(*args)


def test_ginv_keywords_and_docstring():
    assert ginv(lon2=4, lat2=3, lon1=2, lat1=1) == ginv(1, 2, 3, 4)
    assert ginv.__doc__ == "Full inverse geodesic result. Returns dict with s12, azi1, azi2, a12, etc."


def test_ginv_bad_argument_names_it():
    with pytest.raises(TypeError) as info:
        ginv(0, [], 0, "x")
    assert str(info.value).startswith("argument 'lon1': ")


@pytest.mark.parametrize("args", list(itertools.product(SPECIAL, repeat=2)))
def test_ginv_special_values(args):
    result = ginv(*args, *args)
    assert [result[k] for k in INVERSE_KEYS[:4]] == pytest.approx(list(args) * 2, nan_ok=True)
    computed = [result[k] for k in INVERSE_KEYS[4:]]
    if all(math.isfinite(a) for a in args):
        assert computed[0] == computed[3] == 0.0
    else:
        assert all(math.isnan(v) for v in computed)


# --- great_circle_distance ----------------------------------------------------

gcd = distance.great_circle_distance


@pytest.mark.parametrize("args, metres", [
    ((0, 0, 0, 1), 111195.080),
    ((0, 0, 1, 0), 111195.080),
    ((0, 0, 0, 180), 20015114.442),
    ((90, 0, -90, 0), 20015114.442),
    ((0, 170, 0, -170), 2223901.605),
])
def test_gcd_reference(args, metres):
    result = gcd(*args)
    assert type(result) is float
    assert result == pytest.approx(metres, abs=MM)


def test_gcd_corners():
    assert gcd(51.5, -0.1, 51.5, -0.1) == 0.0
    assert gcd(0, 0, 0, 361) == pytest.approx(gcd(0, 0, 0, 1), abs=1e-8)
    assert gcd(10, 20, 30, 40) == gcd(30, 40, 10, 20)


def test_gcd_docstring():
    assert gcd.__doc__ == "Great-circle (spherical) distance. Returns meters."


@pytest.mark.parametrize("args", list(itertools.product(SPECIAL, repeat=4)))
def test_gcd_special_values(args):
    result = gcd(*args)
    if all(math.isfinite(a) for a in args):
        assert result == 0.0
    else:
        assert math.isnan(result)


# --- great_circle_destination -------------------------------------------------

gcdest = distance.great_circle_destination


@pytest.mark.parametrize("args, lat2, lon2, tolerance", [
    ((0, 0, 90, 111195.0802335329), 0.0, 1.0, 1e-12),
    ((0, 170, 90, 2223901.604670657), 0.0, 190.0, 1e-12),
    ((0, 0, 90, 44478032.09341316), 0.0, 40.0, 1e-9),
    ((0, 0, 0, -111195.0802335329), -1.0, 0.0, 1e-12),
])
def test_gcdest_reference(args, lat2, lon2, tolerance):
    result = gcdest(*args)
    assert type(result) is tuple and len(result) == 2
    assert all(type(x) is float for x in result)
    assert result[0] == pytest.approx(lat2, abs=tolerance)
    assert result[1] == pytest.approx(lon2, abs=tolerance)


def test_gcdest_zero_distance_round_trips_through_radians():
    assert gcdest(89.5, 3.0, 10.0, 0.0) == (89.50000000000014, 3.0000000000000004)


def test_gcdest_keywords_and_docstring():
    assert gcdest(distance=1000.0, bearing=45.0, lon1=2.0, lat1=1.0) == gcdest(1.0, 2.0, 45.0, 1000.0)
    assert gcdest.__text_signature__ == "(lat1, lon1, bearing, distance)"
    assert gcdest.__doc__ == "Great-circle destination. Returns (lat2, lon2)."


def test_gcdest_bad_bearing_stops_before_distance():
    with pytest.raises(TypeError) as info:
        gcdest(0, 0, "east", object())
    assert str(info.value).startswith("argument 'bearing': ")


@pytest.mark.parametrize("lat1, lon1, bearing, dist", list(itertools.product(SPECIAL, repeat=4)))
def test_gcdest_special_values(lat1, lon1, bearing, dist):
    lat2, lon2 = gcdest(lat1, lon1, bearing, dist)
    if not all(math.isfinite(x) for x in (lat1, bearing, dist)):
        assert math.isnan(lat2) and math.isnan(lon2)
    elif not math.isfinite(lon1):
        assert math.isfinite(lat2)
        assert math.isnan(lon2) or lon2 == lon1
    else:
        assert math.isfinite(lat2) and math.isfinite(lon2)
