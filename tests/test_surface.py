"""The surface callers meet: the package and module layout, every function's
name, signature and docstring, argument binding and conversion, and the
shipped stubs."""

import ast
import doctest
import importlib.metadata
import importlib.resources
import inspect
import subprocess

import numpy as np
import pytest

import tarnu
from conftest import BY_NAME, FUNCTIONS, SURFACE, WITH_ARGUMENTS, assert_ok, bits, run_python, \
    scalar_args
from tarnu import _tarnu


def test_layout():
    assert (_tarnu.__name__, _tarnu.__all__) == ("tarnu._tarnu", list(SURFACE)) and _tarnu.__doc__
    assert tarnu.__all__ == [*SURFACE, "__version__"]
    assert tarnu.__version__ == importlib.metadata.version("tarnu")
    for sub, functions in SURFACE.items():
        module = getattr(_tarnu, sub)
        assert (module.__name__, module.__doc__, module.__all__) == (sub, None, list(functions))
        assert getattr(tarnu, sub) is module is importlib.import_module(f"tarnu.{sub}")
    for f in FUNCTIONS:
        assert (f.fn.__name__, f.fn.__qualname__, f.fn.__module__) == (f.name, f.name, f.submodule)
        assert f.fn.__self__ is getattr(_tarnu, f.submodule)
        assert (f.fn.__text_signature__, f.fn.__doc__) == (f"({', '.join(f.params)})", f.doc)


def test_the_distribution_carries_the_mit_licence():
    dist = importlib.metadata.distribution("tarnu")
    licence = next(f for f in dist.files if f.name == "LICENSE")
    assert dist.metadata["License"] == "MIT" and licence.read_text().startswith("MIT License\n")


@pytest.mark.parametrize("sub", [*SURFACE, "ufunc"])
def test_stubs_match_the_module(sub):
    """Each stub names the module's functions with their parameters (None for
    a ufunc, stubbed as a variable), and its __all__ is the module's."""
    tree = ast.parse(importlib.resources.files("tarnu").joinpath(f"{sub}.pyi").read_text())
    stubbed = {node.name: tuple(a.arg for a in node.args.args)
               for node in tree.body if isinstance(node, ast.FunctionDef)}
    stubbed |= {node.target.id: None for node in tree.body if isinstance(node, ast.AnnAssign)}
    listed = next(ast.literal_eval(node.value) for node in tree.body if isinstance(node, ast.Assign)
                  and [t.id for t in node.targets] == ["__all__"])
    module = importlib.import_module(f"tarnu.{sub}")
    public = {name: None if isinstance(fn, np.ufunc) else tuple(inspect.signature(fn).parameters)
              for name, fn in vars(module).items() if callable(fn) and not name.startswith("_")}
    assert (stubbed, listed) == (public, module.__all__)
    assert importlib.resources.files("tarnu").joinpath("py.typed").is_file()


@pytest.mark.parametrize("name", ["tarnu", "tarnu.ufunc"])
def test_no_stray_public_names(name):
    """What a module imports for itself (sys, once) is not part of its surface."""
    module = importlib.import_module(name)
    stray = [key for key, value in vars(module).items() if not key.startswith("_")
             and key not in module.__all__ and not getattr(value, "__name__", "").startswith("tarnu.")]
    assert stray == []


def test_imports():
    assert_ok(run_python("""
        import importlib, sys
        import tarnu._tarnu as first
        fn = first.distance.great_circle_distance
        del sys.modules["tarnu._tarnu"]
        import tarnu._tarnu as second
        assert second is first and second.distance.great_circle_distance is fn
        try:
            importlib.import_module("tarnu._tarnu.distance")
        except ModuleNotFoundError:
            pass
        else:
            raise AssertionError("a native submodule is importable by its own name")
        from tarnu.distance import great_circle_distance
        bare = [n for n in ("distance", "geodesic", "units") if n in sys.modules]
        assert not bare, bare
        print("ok")
    """))
    failed, attempted = doctest.testmod(tarnu, optionflags=doctest.ELLIPSIS)
    assert attempted and not failed


def test_only_the_init_function_is_exported():
    nm = subprocess.run(["nm", "-D", "--defined-only", _tarnu.__file__], capture_output=True,
                        text=True)
    if nm.returncode != 0:
        pytest.skip("nm unavailable")
    symbols = [line.split()[-1] for line in nm.stdout.splitlines() if line.strip()]
    assert [s for s in symbols if not s.startswith("_")] == ["PyInit__tarnu"]


# --- binding ------------------------------------------------------------------

def missing(names):
    quoted = [f"'{n}'" for n in names]
    listed = " and ".join(quoted) if len(quoted) <= 2 else ", ".join(quoted[:-1]) + ", and " + \
        quoted[-1]
    return f"missing {len(names)} required positional argument{'s' * (len(names) > 1)}: {listed}"


# Every way a call can fail to bind, on a function of four parameters: the
# message, and which failure wins when there are several.
BINDING = [
    ((1, 2, 3, 4, 5), {}, "takes 4 positional arguments but 5 were given"),
    ((1, 2, 3, 4, 5), {"lat1": 0}, "takes 4 positional arguments but 5 were given"),
    ((1, 2, 3), {"lon3": 4}, "got an unexpected keyword argument 'lon3'"),
    ((), {"lat": 4, "lat1": 1}, "got an unexpected keyword argument 'lat'"),
    ((1, 2, 3), {"\ud800": 4}, "got an unexpected keyword argument '\ud800'"),
    ((1, 2, 3, 4), {"lat1": 5}, "got multiple values for argument 'lat1'"),
    ((1, 2), {"lon1": 5, "lat2": 3, "lon2": 4}, "got multiple values for argument 'lon1'"),
    ((1, 2, 3), {}, missing(["lon2"])),
    (("x", [], None), {}, missing(["lon2"])),  # binding comes before conversion
    ((1, 2), {}, missing(["lat2", "lon2"])),
    ((), {"lon1": 2}, missing(["lat1", "lat2", "lon2"])),
    ((1,), {"lon2": 4}, missing(["lon1", "lat2"])),
]


@pytest.mark.parametrize("args, kwargs, message", BINDING)
def test_binding_errors(args, kwargs, message):
    with pytest.raises(TypeError) as caught:
        _tarnu.distance.great_circle_distance(*args, **kwargs)
    assert str(caught.value) == f"great_circle_distance() {message}"


@pytest.mark.parametrize("f", WITH_ARGUMENTS, ids=repr)
def test_every_function_binds_by_its_own_names(f):
    args = scalar_args(f)
    expected = bits(f.fn(*args))
    assert bits(f.fn(**dict(zip(f.params, args)))) == expected
    assert bits(f.fn(*args[:1], **dict(reversed(list(zip(f.params[1:], args[1:])))))) == expected
    n = len(f.params)
    for call, message in [
        (lambda: f.fn(*args, 0.0), f"takes {n} positional arguments but {n + 1} were given"),
        (lambda: f.fn(), missing(f.params)),
        (lambda: f.fn(*args[:-1], "x"), None),
    ]:
        with pytest.raises(TypeError) as caught:
            call()
        assert str(caught.value) == (f"{f.name}() {message}" if message else
                                     f"argument '{f.params[-1]}': must be real number, not str")


@pytest.mark.parametrize("name", ["wgs84_a", "wgs84_f"])
def test_constants_take_no_arguments(name):
    for call in (lambda: BY_NAME[name].fn(1), lambda: BY_NAME[name].fn(a=1)):
        with pytest.raises(TypeError, match="takes no"):
            call()


# --- conversion -----------------------------------------------------------------

def floats_as(value=None, error=None):
    """An object whose __float__ returns value or raises error."""
    def convert(self):
        if error is not None:
            raise error
        return value
    return type("Number", (), {"__float__": convert})()


def _chain(error, cause):
    error.__cause__ = cause
    return error


MyTypeError = type("MyTypeError", (TypeError,), {})

# Anything float() takes converts; a TypeError of exactly that type is renamed
# after the argument, keeping its cause and hiding its context; any other
# error passes unchanged.
CONVERSION = [
    ((True, type("I", (), {"__index__": lambda self: 7})(), False, floats_as(-1.0)), None),
    ((np.float32(1), np.int64(7), type("F", (float,), {})(0.0), -1), None),
    ((0, 0, "north", []), (TypeError, "argument 'lat2': must be real number, not str", None)),
    ((0, 0, floats_as("x"), 0),
     (TypeError, "argument 'lat2': Number.__float__ returned non-float (type str)", None)),
    ((0, 0, floats_as(error=_chain(TypeError("outer"), KeyError("inner"))), 0),
     (TypeError, "argument 'lat2': outer", KeyError)),
    ((0, floats_as(error=MyTypeError("mine")), 0, 0), (MyTypeError, "mine", None)),
    ((floats_as(error=ValueError("no")), 0, 0, 0), (ValueError, "no", None)),
    ((0, 0, 0, 10**400), (OverflowError, "int too large to convert to float", None)),
]


@pytest.mark.parametrize("args, error", CONVERSION)
def test_conversion(args, error):
    if error is None:
        assert _tarnu.distance.great_circle_distance(*args) == \
            _tarnu.distance.great_circle_distance(1.0, 7.0, 0.0, -1.0)
        return
    with pytest.raises(BaseException) as caught:
        _tarnu.distance.great_circle_distance(*args)
    kind, message, cause = error
    assert (type(caught.value), str(caught.value)) == (kind, message)
    assert type(caught.value.__cause__) is (cause or type(None))
    assert caught.value.__suppress_context__ == (kind is TypeError)
