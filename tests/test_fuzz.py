"""Every function called with arbitrary objects, arities, keywords and doubles.

A call has exactly one correct outcome, which the oracle below derives from
the documented binding and conversion rules: a result, or one exception of
an exact type with an exact message. Anything else (SystemError, a message in
another form, a crash) is a fault. Arbitrary doubles never raise, and NaN
appears exactly where the rules of each function say.

The same tests also run in a child process (the last test), so a crash in
native code is reported as a failing test with its signal instead of taking
the whole run down.
"""

import ctypes
import decimal
import fractions
import math
import os
import subprocess
import sys

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from surface_walk import BATCH, BATCH_FUNCTIONS, BY_NAME, FUNCTIONS, SANITIZED, WITH_ARGUMENTS, \
    bits, finite, ids

# The same examples on every run, so CI cannot flake; TARNU_FUZZ_RANDOM=1 and
# a large TARNU_FUZZ_EXAMPLES make a fresh, longer search.
EXAMPLES = int(os.environ.get("TARNU_FUZZ_EXAMPLES", 100 if SANITIZED else 300))
fuzz = settings(max_examples=EXAMPLES, deadline=None, database=None,
                derandomize=not os.environ.get("TARNU_FUZZ_RANDOM"),
                suppress_health_check=[HealthCheck.too_slow])

# The interpreter's own float conversion, the one the module applies to each
# argument: returns the double or raises what it raises.
as_double = ctypes.pythonapi.PyFloat_AsDouble
as_double.restype = ctypes.c_double
as_double.argtypes = [ctypes.py_object]

SPHERE_HALF_CIRCUMFERENCE = math.pi * 6371008.8  # metres


def test_surface_is_the_documented_one():
    from surface import PARAMETERS
    for f in FUNCTIONS:
        assert f.parameters == PARAMETERS[f.name], f


# --- the oracle ---------------------------------------------------------------

MISSING = object()


class Expected(Exception):
    """The exception a call must raise: exactly this type and message."""

    def __init__(self, type_, message):
        super().__init__(type_, message)
        self.type, self.message = type_, message


def quote_list(names):
    quoted = [f"'{n}'" for n in names]
    if len(quoted) <= 2:
        return " and ".join(quoted)
    return ", ".join(quoted[:-1]) + ", and " + quoted[-1]


def bind(function, args, kwargs):
    name, params = function.name + "()", function.parameters
    n, m = len(params), len(args)
    if m > n:
        raise Expected(TypeError, f"{name} takes {n} positional arguments but {m} "
                                  f"{'was' if m == 1 else 'were'} given")
    slots = list(args) + [MISSING] * (n - m)
    for key, value in kwargs.items():
        if key not in params:
            raise Expected(TypeError, f"{name} got an unexpected keyword argument '{key}'")
        i = params.index(key)
        if slots[i] is not MISSING:
            raise Expected(TypeError, f"{name} got multiple values for argument '{key}'")
        slots[i] = value
    missing = [p for p, v in zip(params, slots) if v is MISSING]
    if missing:
        raise Expected(TypeError, f"{name} missing {len(missing)} required positional "
                                  f"{'argument' if len(missing) == 1 else 'arguments'}: "
                                  f"{quote_list(missing)}")
    return slots


def convert(parameter, value):
    try:
        return as_double(value)
    except TypeError as e:
        if type(e) is TypeError:
            raise Expected(TypeError, f"argument '{parameter}': {e}") from None
        raise Expected(type(e), str(e)) from None
    except Exception as e:
        raise Expected(type(e), str(e)) from None


def accept_arrays(params, slots):
    import numpy as np
    for p, v in zip(params, slots):
        if not (isinstance(v, np.ndarray) and v.ndim == 1
                and np.can_cast(v.dtype, np.float64, casting="no")):
            raise Expected(TypeError, f"argument '{p}': '{type(v).__qualname__}' object "
                                      "cannot be converted to 'PyArray<T, D>'")
    for v in slots:
        if not (v.flags.c_contiguous or v.flags.f_contiguous):
            raise Expected(TypeError, "The given array is not contiguous")
    n = len(slots[0])
    m = min(len(v) for v in slots[1:])
    if m < n:
        raise Expected(PanicException, f"index out of bounds: the len is {m} but the index is {m}")
    return slots


class PanicException(BaseException):
    """Stands for pyo3_runtime.PanicException, matched by qualified name."""


def outcome(function, args, kwargs):
    """The call's result, or the Expected exception it must raise."""
    if not function.arity:
        if args or kwargs:
            raise Expected(TypeError, None)  # the interpreter's own message
        return function.fn()
    slots = bind(function, args, kwargs)
    if function.batch:
        lat1, lon1, lat2, lon2 = accept_arrays(function.parameters, slots)
        scalar = BY_NAME[BATCH[function.name]].fn
        import numpy as np
        return np.array([scalar(*map(float, xs)) for xs in zip(lat1, lon1, lat2, lon2)],
                        dtype=np.float64).reshape(len(lat1))
    return function.fn(*[convert(p, v) for p, v in zip(function.parameters, slots)])


def check_call(function, args, kwargs):
    try:
        expected = outcome(function, args, kwargs)
    except Expected as e:
        expected = e
    try:
        result = function.fn(*args, **kwargs)
    except BaseException as e:
        assert isinstance(expected, Expected), f"raised {e!r}, expected {expected!r}"
        if expected.type is PanicException:
            assert type(e).__module__ == "pyo3_runtime" and type(e).__name__ == "PanicException"
        else:
            assert type(e) is expected.type, f"raised {e!r}, expected {expected.type}"
        if expected.message is not None:
            assert str(e) == expected.message
        return
    assert not isinstance(expected, Expected), f"returned {result!r}, expected {expected!r}"
    assert bits(result) == bits(expected)


# --- arbitrary objects ----------------------------------------------------------

class FloatSubclass(float):
    pass


class IndexOnly:
    def __init__(self, i):
        self.i = i

    def __index__(self):
        return self.i


class FloatReturns:
    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value


class FloatRaises:
    def __init__(self, error):
        self.error = error

    def __float__(self):
        raise self.error


class MyTypeError(TypeError):
    pass


doubles = st.floats(allow_nan=True, allow_infinity=True, allow_subnormal=True)
errors = st.sampled_from([ValueError("bad value"), TypeError("bad type"), MyTypeError("mine"),
                          ZeroDivisionError("zero"), OverflowError("big"), KeyError("k")])
objects = st.one_of(
    doubles,
    st.integers(min_value=-(10**320), max_value=10**320),
    st.booleans(),
    st.none(),
    st.text(max_size=5),
    st.binary(max_size=5),
    st.complex_numbers(allow_nan=True, allow_infinity=True),
    st.decimals(allow_nan=False, allow_infinity=True),
    st.fractions(),
    st.lists(doubles, max_size=3),
    st.tuples(doubles),
    st.dictionaries(st.text(max_size=3), doubles, max_size=2),
    doubles.map(FloatSubclass),
    st.integers(min_value=-(2**70), max_value=2**70).map(IndexOnly),
    st.one_of(doubles, st.integers(), st.text(max_size=2)).map(FloatReturns),
    errors.map(FloatRaises),
    st.just(object()),
    st.just(decimal.Decimal("NaN")),
    st.just(fractions.Fraction(10**400, 3)),
)


def call_shapes(function):
    """Positional arguments and keyword arguments, with keyword names drawn
    from the parameters and from arbitrary text (including names that are
    not valid UTF-8)."""
    names = st.one_of(st.sampled_from(function.parameters or ("x",)), st.text(max_size=6))
    return st.tuples(st.lists(objects, max_size=function.arity + 2),
                     st.dictionaries(names, objects, max_size=function.arity + 1))


@pytest.mark.parametrize("function", FUNCTIONS, ids=ids(FUNCTIONS))
def test_arbitrary_objects(function):
    @fuzz
    @given(call_shapes(function))
    def run(call):
        args, kwargs = call
        check_call(function, args, kwargs)

    run()


@pytest.mark.parametrize("function", WITH_ARGUMENTS, ids=ids(WITH_ARGUMENTS))
def test_valid_calls_in_every_binding(function):
    """All-positional, all-keyword and mixed calls give the same bits."""
    @fuzz
    @given(st.lists(doubles, min_size=function.arity, max_size=function.arity),
           st.integers(min_value=0, max_value=function.arity), st.randoms())
    def run(values, split, random):
        names = list(function.parameters[split:])
        random.shuffle(names)
        kwargs = {name: values[function.parameters.index(name)] for name in names}
        assert bits(function.fn(*values[:split], **kwargs)) == bits(function.fn(*values))

    run()


# --- arbitrary doubles: nothing raises, NaN exactly where documented ------------

def nan(x):
    return math.isnan(x)


def rule_great_circle_distance(lat1, lon1, lat2, lon2, s12):
    # A longitude difference that overflows to infinity is non-finite too.
    # Beyond the poles cos(lat) turns negative and the haversine may leave
    # [0, 1], which gives NaN: latitudes there are not range-tested.
    if not finite(lat1, lon1, lat2, lon2, lon2 - lon1):
        assert nan(s12)
    elif abs(lat1) <= 90 and abs(lat2) <= 90 or not nan(s12):
        assert 0.0 <= s12 <= SPHERE_HALF_CIRCUMFERENCE * (1 + 1e-15)


def rule_great_circle_destination(lat1, lon1, bearing, distance, result):
    lat2, lon2 = result
    if not finite(lat1, bearing, distance):
        assert nan(lat2) and nan(lon2)
    elif not finite(lon1):
        assert bits(lat2) == bits(BY_NAME["great_circle_destination"].fn(lat1, 0.0, bearing,
                                                                         distance)[0])
        assert nan(lon2) or lon2 == lon1
    else:
        assert -90.0 <= lat2 <= 90.0 and math.isfinite(lon2)
        assert abs(lon2 - lon1) <= 180.0 * (1 + 1e-15) + abs(lon1) * 1e-15


def inverse_is_defined(lat1, lon1, lat2, lon2):
    return finite(lat1, lon1, lat2, lon2) and abs(lat1) <= 90 and abs(lat2) <= 90


def rule_geodesic_distance(lat1, lon1, lat2, lon2, s12):
    assert nan(s12) != inverse_is_defined(lat1, lon1, lat2, lon2)
    if not nan(s12):
        assert s12 >= 0.0


def rule_inverse_dict(lat1, lon1, lat2, lon2, result):
    assert bits([result[k] for k in ("lat1", "lon1", "lat2", "lon2")]) \
        == bits([lat1, lon1, lat2, lon2])
    defined = inverse_is_defined(lat1, lon1, lat2, lon2)
    for key in result.keys() - {"lat1", "lon1", "lat2", "lon2"}:
        assert nan(result[key]) != defined, key


def rule_direct(lat1, lon1, azi1, s12, lat2, lon2, azi2=None):
    if not (finite(lat1, azi1, s12) and abs(lat1) <= 90):
        assert nan(lat2) and nan(lon2) and (azi2 is None or nan(azi2))
    else:
        assert -90.0 <= lat2 <= 90.0 and (azi2 is None or finite(azi2))
        assert nan(lon2) if not math.isfinite(lon1) else -180.0 <= lon2 <= 180.0


def rule_geodesic_destination(lat1, lon1, bearing, distance, result):
    rule_direct(lat1, lon1, bearing, distance, *result)


def rule_direct_dict(lat1, lon1, azi1, s12, result):
    assert bits([result[k] for k in ("lat1", "lon1", "azi1", "s12")]) \
        == bits([lat1, lon1, azi1, s12])
    rule_direct(lat1, lon1, azi1, s12, result["lat2"], result["lon2"], result["azi2"])


def rule_length_or_angle(x, result):
    """Multiplication or division by a positive constant: NaN stays NaN,
    infinities and the sign (of zeros too) are kept, overflow gives inf."""
    assert nan(result) == nan(x)
    if not nan(x):
        assert math.copysign(1.0, result) == math.copysign(1.0, x)
        assert math.isinf(result) or not math.isinf(x)


def rule_dms_to_deg(degrees, arcminutes, arcseconds, result):
    parts = (degrees, arcminutes, arcseconds)
    if any(map(nan, parts)) or (math.inf in parts and -math.inf in parts):
        assert nan(result)
    elif all(abs(x) < 1e300 for x in parts):  # no partial sum can overflow
        assert math.isfinite(result)
    elif any(map(math.isinf, parts)):  # infinities of one sign; a finite sum may overflow
        assert math.isinf(result) or nan(result)


def rule_deg_to_dms(dd, result):
    d, m, s = result
    if nan(dd):
        assert nan(d) and nan(m) and nan(s)
    elif math.isinf(dd):
        assert d == dd and nan(m) and nan(s)
    else:
        assert d == math.trunc(dd) and math.copysign(1.0, d) == math.copysign(1.0, dd)
        assert m == math.trunc(m) and 0.0 <= m < 60.0 and 0.0 <= s < 60.0


RULES = {
    "great_circle_distance": rule_great_circle_distance,
    "great_circle_destination": rule_great_circle_destination,
    "geodesic_distance": rule_geodesic_distance,
    "geodesic_destination": rule_geodesic_destination,
    "geodesic_inverse": rule_inverse_dict,
    "inverse": rule_inverse_dict,
    "direct": rule_direct_dict,
    "dms_to_deg": rule_dms_to_deg,
    "deg_to_dms": rule_deg_to_dms,
    **{name: rule_length_or_angle for name in (
        "km_to_mi", "mi_to_km", "km_to_nm", "nm_to_km", "m_to_ft", "ft_to_m",
        "m_to_km", "km_to_m", "deg_to_rad", "rad_to_deg")},
}

# Mostly ordinary coordinates, with every kind of special double mixed in.
specials = st.sampled_from([0.0, -0.0, math.nan, math.inf, -math.inf, 5e-324, -5e-324,
                            2.2250738585072014e-308, 1.7976931348623157e308,
                            -1.7976931348623157e308, 90.0, -90.0, 180.0, -180.0, 360.0])
coordinates = st.one_of(st.floats(-400.0, 400.0), specials, doubles)


@pytest.mark.parametrize("function", WITH_ARGUMENTS, ids=ids(WITH_ARGUMENTS))
def test_arbitrary_doubles(function):
    rule = RULES.get(function.name)

    @fuzz
    @given(st.lists(coordinates, min_size=function.arity, max_size=function.arity))
    def run(values):
        result = function.fn(*values)
        flat = result.values() if isinstance(result, dict) else \
            result if isinstance(result, tuple) else (result,)
        assert all(type(x) is float for x in flat)
        if rule is not None:
            rule(*values, result)

    run()


# --- batch functions: arbitrary arrays -----------------------------------------

needs_batch = pytest.mark.skipif(not BATCH_FUNCTIONS, reason="no batch functions in this build")


def arrays():
    """Arrays of every kind the batch functions may be handed: float64 and
    other element types, 0 to 2 dimensions, strided and reversed views,
    read-only ones, a subclass, plus non-arrays."""
    np = pytest.importorskip("numpy")

    class Sub(np.ndarray):
        pass

    def make(values, dtype, shape, view, readonly):
        with np.errstate(all="ignore"):  # NaN and huge values cast to int64 or float32
            a = np.array(values[0] if values and shape == 0 else values or 0.0).astype(dtype)
        if shape == 2:
            a = a.reshape(1, -1)
        if view == "strided" and a.ndim:
            a = a[..., ::2]
        elif view == "reversed" and a.ndim:
            a = a[..., ::-1]
        elif view == "subclass":
            a = a.view(Sub)
        if readonly:
            a.flags.writeable = False
        return a

    dtypes = st.sampled_from([np.float64, np.float64, np.float64, np.dtype(">f8"),
                              np.float32, np.int64, np.complex128, object])
    built = st.builds(make, st.lists(coordinates, max_size=6), dtypes,
                      st.sampled_from([1, 1, 1, 0, 2]),
                      st.sampled_from([None, None, "strided", "reversed", "subclass"]),
                      st.booleans())
    return st.one_of(built, built, objects)


@needs_batch
@pytest.mark.parametrize("function", BATCH_FUNCTIONS, ids=ids(BATCH_FUNCTIONS))
def test_batch_arbitrary_arrays(function):
    array = arrays()

    @fuzz
    @given(st.lists(array, min_size=3, max_size=5),
           st.dictionaries(st.sampled_from(function.parameters + ("bogus",)), array,
                           max_size=2))
    def run(args, kwargs):
        check_call(function, args, kwargs)

    run()


@needs_batch
@pytest.mark.parametrize("function", BATCH_FUNCTIONS, ids=ids(BATCH_FUNCTIONS))
def test_batch_arbitrary_doubles_match_the_scalar_function(function):
    np = pytest.importorskip("numpy")
    scalar = BY_NAME[BATCH[function.name]].fn

    @fuzz
    @given(st.integers(min_value=0, max_value=40).flatmap(
        lambda n: st.lists(st.lists(coordinates, min_size=n, max_size=n),
                           min_size=4, max_size=4)))
    def run(columns):
        arrays = [np.array(c, dtype=np.float64) for c in columns]
        result = function.fn(*arrays)
        expected = [scalar(*xs) for xs in zip(*columns)]
        assert bits(result) == bits(np.array(expected, dtype=np.float64))

    run()


# --- crash detection --------------------------------------------------------------

def test_fuzzing_in_a_child_process_does_not_crash():
    env = dict(os.environ, TARNU_FUZZ_EXAMPLES="10" if SANITIZED else "30")
    child = subprocess.run(
        [sys.executable, "-X", "faulthandler", "-m", "pytest", "-q", "-x", "-p", "no:cacheprovider",
         "-k", "not child_process", __file__],
        capture_output=True, text=True, timeout=600, env=env, cwd=os.path.dirname(__file__))
    assert child.returncode == 0, (
        f"child exited with {child.returncode}"
        + (f" (signal {-child.returncode})" if child.returncode < 0 else "")
        + f"\n{child.stdout[-4000:]}\n{child.stderr[-4000:]}")
