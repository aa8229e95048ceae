"""The distance submodule: great-circle functions."""

import itertools
import math

import pytest

from tarnu._tarnu import distance

MM = 1e-3
SPECIAL = [-math.inf, -0.0, 0.0, math.nan, math.inf]


def test_registration_order():
    assert distance.__all__[:2] == [n for n in distance.__all__ if n.startswith("great_circle")][:2]
    for name in distance.__all__:
        assert getattr(distance, name).__name__ == name


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
