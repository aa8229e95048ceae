"""The units submodule: length and angle conversions."""

import math
import operator
import random

import pytest

from tarnu._tarnu import units

# name, parameter, operation, constant: the result is exactly one rounded
# operation of the argument with the constant.
CONVERSIONS = [
    ("km_to_mi", "km", operator.truediv, 1.609344),
    ("mi_to_km", "mi", operator.mul, 1.609344),
    ("km_to_nm", "km", operator.truediv, 1.852),
    ("nm_to_km", "nm", operator.mul, 1.852),
    ("m_to_ft", "m", operator.truediv, 0.3048),
    ("ft_to_m", "ft", operator.mul, 0.3048),
    ("m_to_km", "m", operator.truediv, 1000.0),
    ("km_to_m", "km", operator.mul, 1000.0),
    ("deg_to_rad", "d", operator.mul, math.pi / 180),
    ("rad_to_deg", "r", operator.mul, 180 / math.pi),
]
NAMES = [c[0] for c in CONVERSIONS] + ["dms_to_deg", "deg_to_dms"]


def same(a: float, b: float) -> bool:
    """Bit-for-bit equality: NaN equals NaN, -0.0 differs from 0.0."""
    return math.isnan(a) and math.isnan(b) or (a == b and math.copysign(1, a) == math.copysign(1, b))


def test_layout():
    assert units.__all__ == NAMES
    for name in NAMES:
        function = getattr(units, name)
        assert function.__doc__ is None
        assert function.__name__ == name
    assert units.km_to_mi.__text_signature__ == "(km)"
    assert units.dms_to_deg.__text_signature__ == "(degrees, arcminutes, arcseconds)"


# --- the ten one-operation conversions ----------------------------------------

@pytest.mark.parametrize("function, argument, expected", [
    (units.m_to_ft, 3, 9.84251968503937),       # 3 * (1 / 0.3048) is ...369
    (units.m_to_km, 9, 0.009),                  # 9 * 0.001 is 0.009000000000000001
    (units.km_to_mi, 7, 4.349598345661337),
    (units.km_to_nm, 11, 5.939524838012959),
    (units.km_to_m, 2, 2000.0),
    (units.mi_to_km, 1, 1.609344),
    (units.nm_to_km, 1, 1.852),
    (units.ft_to_m, 1, 0.3048),
    (units.rad_to_deg, math.pi, 180.0),
    (units.deg_to_rad, 180, math.pi),
])
def test_reference_values(function, argument, expected):
    result = function(argument)
    assert type(result) is float
    assert result == expected


@pytest.mark.parametrize("name, parameter, operation, constant", CONVERSIONS)
def test_one_rounded_operation(name, parameter, operation, constant):
    function = getattr(units, name)
    rng = random.Random(name)
    samples = [rng.uniform(-1e6, 1e6) for _ in range(2000)] + list(range(-50, 51))
    assert [function(x) for x in samples] == [operation(float(x), constant) for x in samples]


@pytest.mark.parametrize("name, parameter, operation, constant", CONVERSIONS)
def test_keyword_and_bad_argument(name, parameter, operation, constant):
    function = getattr(units, name)
    assert function(**{parameter: 2}) == function(2.0) == function(True) * 2
    with pytest.raises(TypeError) as info:
        function("1")
    assert str(info.value).startswith(f"argument '{parameter}': ")
    with pytest.raises(TypeError) as info:
        function(1, 2)
    assert str(info.value) == f"{name}() takes 1 positional arguments but 2 were given"


@pytest.mark.parametrize("name, parameter, operation, constant", CONVERSIONS)
@pytest.mark.parametrize("x", [-math.inf, -0.0, 0.0, math.nan, math.inf])
def test_special_values(name, parameter, operation, constant, x):
    assert same(getattr(units, name)(x), operation(x, constant))


def test_overflow_gives_infinity():
    assert units.m_to_ft(1e308) == math.inf
    assert units.km_to_m(-1e306) == -math.inf


# --- dms_to_deg -----------------------------------------------------------------

@pytest.mark.parametrize("args, expected", [
    ((10, 30, 0), 10.5),
    ((-10, 30, 0), -9.5),          # each component keeps its own sign
    ((-10, -30, 0), -10.5),
    ((12, 20, 44.16), 12.345600000000001),
    ((0, 0, 3600), 1.0),
    ((0, 90, 0), 1.5),             # no range test
    ((1, 1, 1), 1.0169444444444444),
])
def test_dms_to_deg_reference(args, expected):
    result = units.dms_to_deg(*args)
    assert type(result) is float
    assert result == expected


def test_dms_to_deg_adds_left_to_right():
    rng = random.Random(8)
    for _ in range(2000):
        d, m, s = rng.uniform(-180, 180), rng.uniform(-60, 60), rng.uniform(-60, 60)
        assert units.dms_to_deg(d, m, s) == (d + m / 60.0) + s / 3600.0


def test_dms_to_deg_keywords_and_bad_arguments():
    assert units.dms_to_deg(arcseconds=0, degrees=1, arcminutes=30) == 1.5
    with pytest.raises(TypeError) as info:
        units.dms_to_deg(1, 2, "x")
    assert str(info.value).startswith("argument 'arcseconds': ")
    with pytest.raises(TypeError) as info:
        units.dms_to_deg("x", [], "y")
    assert str(info.value).startswith("argument 'degrees': ")


def test_dms_to_deg_special_values():
    assert math.isnan(units.dms_to_deg(math.inf, 0, -math.inf))
    assert units.dms_to_deg(0, math.inf, 0) == math.inf
    assert same(units.dms_to_deg(-0.0, -0.0, -0.0), -0.0)


# --- deg_to_dms -----------------------------------------------------------------

@pytest.mark.parametrize("dd, expected", [
    (10.5, (10.0, 30.0, 0.0)),
    (-10.5, (-10.0, 30.0, 0.0)),                     # sign on the degrees only
    (-0.5, (-0.0, 30.0, 0.0)),                       # ... as a negative zero
    (1.1, (1.0, 6.0, 3.197442310920451e-13)),        # no rounding of the seconds
    (12.3456, (12.0, 20.0, 44.15999999999727)),
    (0.0, (0.0, 0.0, 0.0)),
    (-0.0, (-0.0, 0.0, 0.0)),
    (math.inf, (math.inf, math.nan, math.nan)),
    (-math.inf, (-math.inf, math.nan, math.nan)),
    (math.nan, (math.nan, math.nan, math.nan)),
])
def test_deg_to_dms_reference(dd, expected):
    result = units.deg_to_dms(dd)
    assert type(result) is tuple and len(result) == 3
    assert all(type(x) is float for x in result)
    assert all(same(a, b) for a, b in zip(result, expected)), result


def test_deg_to_dms_minutes_and_seconds_are_never_negative():
    rng = random.Random(9)
    for _ in range(2000):
        dd = rng.uniform(-360, 360)
        d, m, s = units.deg_to_dms(dd)
        assert d == math.trunc(dd) and math.copysign(1, d) == math.copysign(1, dd)
        assert m == math.trunc(m) and 0 <= m < 60 and 0 <= s < 60


def test_deg_to_dms_round_trip_loses_the_sign_of_the_parts():
    assert units.dms_to_deg(*units.deg_to_dms(-10.5)) == -9.5
    assert units.dms_to_deg(*units.deg_to_dms(10.5)) == 10.5


def test_deg_to_dms_keyword_and_types():
    assert units.deg_to_dms(dd=2) == units.deg_to_dms(2.0) == (2.0, 0.0, 0.0)
    np = pytest.importorskip("numpy")
    assert units.deg_to_dms(np.float32(0.5)) == (0.0, 30.0, 0.0)
