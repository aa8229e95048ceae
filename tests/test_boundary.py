"""The call boundary: module layout, argument binding, conversion and errors."""

import importlib
import subprocess
import sys
import textwrap

import pytest

from tarnu import _tarnu
from tarnu._tarnu import distance

gcd = distance.great_circle_distance


def run_python(code: str) -> subprocess.CompletedProcess:
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)],
                          capture_output=True, text=True, timeout=120)


# --- layout -----------------------------------------------------------------

def test_top_level_layout():
    assert _tarnu.__name__ == "tarnu._tarnu"
    assert _tarnu.__all__ == ["distance", "geodesic", "units"]
    assert _tarnu.__doc__
    for name in _tarnu.__all__:
        sub = getattr(_tarnu, name)
        assert sub.__name__ == name
        assert sub.__doc__ is None
        assert name not in sys.modules and f"tarnu._tarnu.{name}" not in sys.modules


def test_submodules_are_not_importable():
    with pytest.raises(ModuleNotFoundError):
        importlib.import_module("tarnu._tarnu.distance")


def test_function_objects():
    assert type(gcd).__name__ == "builtin_function_or_method"
    assert gcd.__self__ is distance
    assert gcd.__module__ == "distance"
    assert gcd.__name__ == gcd.__qualname__ == "great_circle_distance"
    assert gcd.__text_signature__ == "(lat1, lon1, lat2, lon2)"
    import inspect
    params = inspect.signature(gcd).parameters.values()
    assert [p.kind for p in params] == [inspect.Parameter.POSITIONAL_OR_KEYWORD] * 4
    assert all(p.default is inspect.Parameter.empty for p in params)


def test_reimport_returns_the_same_objects():
    code = """
        import sys
        import tarnu._tarnu as first
        distance, fn = first.distance, first.distance.great_circle_distance
        del sys.modules["tarnu._tarnu"]
        import tarnu._tarnu as second
        assert second is first and second.distance is distance
        assert second.distance.great_circle_distance is fn
        print("ok")
    """
    result = run_python(code)
    assert result.stdout.strip() == "ok", result.stderr


def test_only_the_init_function_is_exported():
    so = _tarnu.__file__
    nm = subprocess.run(["nm", "-D", "--defined-only", so], capture_output=True, text=True)
    if nm.returncode != 0:
        pytest.skip("nm unavailable")
    symbols = [line.split()[-1] for line in nm.stdout.splitlines() if line.strip()]
    assert [s for s in symbols if not s.startswith("_")] == ["PyInit__tarnu"]


# --- binding ----------------------------------------------------------------

@pytest.mark.parametrize("call, message", [
    (lambda: gcd(1, 2, 3, 4, 5),
     "great_circle_distance() takes 4 positional arguments but 5 were given"),
    (lambda: gcd(1, 2, 3, 4, 5, lat1=0),
     "great_circle_distance() takes 4 positional arguments but 5 were given"),
])
def test_too_many_positional(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


@pytest.mark.parametrize("kwargs, message", [
    ({"lon3": 4}, "great_circle_distance() got an unexpected keyword argument 'lon3'"),
    ({"LAT1": 4}, "great_circle_distance() got an unexpected keyword argument 'LAT1'"),
    ({"lat": 4, "lat1": 1}, "great_circle_distance() got an unexpected keyword argument 'lat'"),
    ({"lat1x": 9, "lon2": 1}, "great_circle_distance() got an unexpected keyword argument 'lat1x'"),
])
def test_unexpected_keyword_comes_before_missing(kwargs, message):
    with pytest.raises(TypeError) as info:
        gcd(1, 2, 3, **kwargs) if "lat1" not in kwargs else gcd(**kwargs)
    assert str(info.value) == message


def test_unencodable_keyword_is_unexpected():
    with pytest.raises(TypeError, match="unexpected keyword argument '\ud800'"):
        gcd(1, 2, 3, **{"\ud800": 4})


@pytest.mark.parametrize("args, kwargs, name", [
    ((1, 2, 3, 4), {"lat1": 5}, "lat1"),
    ((1, 2), {"lon1": 5, "lat2": 3, "lon2": 4}, "lon1"),
])
def test_duplicate_argument(args, kwargs, name):
    with pytest.raises(TypeError) as info:
        gcd(*args, **kwargs)
    assert str(info.value) == f"great_circle_distance() got multiple values for argument '{name}'"


@pytest.mark.parametrize("args, kwargs, tail", [
    ((1, 2, 3), {}, "1 required positional argument: 'lon2'"),
    ((1, 2), {}, "2 required positional arguments: 'lat2' and 'lon2'"),
    ((), {}, "4 required positional arguments: 'lat1', 'lon1', 'lat2', and 'lon2'"),
    ((), {"lon1": 2}, "3 required positional arguments: 'lat1', 'lat2', and 'lon2'"),
    ((1,), {"lon2": 4}, "2 required positional arguments: 'lon1' and 'lat2'"),
])
def test_missing(args, kwargs, tail):
    with pytest.raises(TypeError) as info:
        gcd(*args, **kwargs)
    assert str(info.value) == f"great_circle_distance() missing {tail}"


def test_keywords_bind_by_name_in_any_order():
    assert gcd(lon2=4, lat2=3, lon1=2, lat1=1) == gcd(1, 2, 3, 4)
    assert gcd(1, 2, lon2=4, lat2=3) == gcd(1, 2, 3, 4)


# --- conversion -------------------------------------------------------------

class FloatSubclass(float):
    pass


class IndexOnly:
    def __index__(self):
        return 7


class FloatMinusOne:
    def __float__(self):
        return -1.0


class FloatRaises:
    def __float__(self):
        raise ValueError("no float for you")


def test_accepted_argument_types():
    reference = gcd(1.0, 7.0, 0.0, -1.0)
    assert gcd(True, IndexOnly(), False, FloatMinusOne()) == reference
    assert gcd(FloatSubclass(1.0), 7, 0, -1) == reference
    np = pytest.importorskip("numpy")
    assert gcd(np.float32(1.0), np.int64(7), np.float64(0.0), -1) == reference


def test_conversion_type_error_names_the_first_bad_argument():
    with pytest.raises(TypeError) as info:
        gcd(0, "x", [], 0)
    assert str(info.value).startswith("argument 'lon1': ")
    assert str(info.value) == "argument 'lon1': must be real number, not str"
    assert info.value.__cause__ is None and info.value.__suppress_context__


def test_conversion_keeps_the_cause():
    class Chained:
        def __float__(self):
            try:
                raise KeyError("inner")
            except KeyError as e:
                raise TypeError("outer") from e

    with pytest.raises(TypeError) as info:
        gcd(0, 0, Chained(), 0)
    assert str(info.value) == "argument 'lat2': outer"
    assert isinstance(info.value.__cause__, KeyError)


def test_other_conversion_errors_pass_unchanged():
    with pytest.raises(OverflowError) as info:
        gcd(10**400, 0, 0, 0)
    assert "lat1" not in str(info.value)
    with pytest.raises(ValueError, match="^no float for you$"):
        gcd(0, 0, 0, FloatRaises())


def test_type_error_subclass_is_not_wrapped():
    class MyTypeError(TypeError):
        pass

    class Raises:
        def __float__(self):
            raise MyTypeError("mine")

    with pytest.raises(MyTypeError, match="^mine$"):
        gcd(Raises(), 0, 0, 0)


def test_binding_errors_come_before_conversion():
    with pytest.raises(TypeError, match="missing 1 required"):
        gcd("x", 0, 0)
