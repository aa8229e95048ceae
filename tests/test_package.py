"""The package users import: its names, the dotted submodules, the version and
the shipped type stubs."""

import ast
import doctest
import importlib
import importlib.metadata
import importlib.resources
import inspect
import subprocess
import sys

import pytest

import tarnu
from tarnu import _tarnu
from surface import SURFACE, requires


def test_public_names():
    assert tarnu.__all__ == ["distance", "geodesic", "units", "__version__"]
    for name in ("distance", "geodesic", "units"):
        assert getattr(tarnu, name) is getattr(_tarnu, name)


@pytest.mark.parametrize("name", ["distance", "geodesic", "units"])
def test_dotted_submodules(name):
    module = importlib.import_module(f"tarnu.{name}")
    assert module is getattr(_tarnu, name) is sys.modules[f"tarnu.{name}"]


def test_from_import_leaves_bare_names_alone():
    code = ("import sys\n"
            "from tarnu.distance import great_circle_distance\n"
            "import tarnu.units, tarnu.geodesic\n"
            "names = ('distance', 'geodesic', 'units')\n"
            "print([n for n in names if n in sys.modules or 'tarnu._tarnu.' + n in sys.modules],"
            " [n for n in names if 'tarnu.' + n in sys.modules])\n")
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout.strip() == "[] ['distance', 'geodesic', 'units']"


def test_version_is_the_distribution_version():
    assert tarnu.__version__ == importlib.metadata.version("tarnu")
    assert all(part.isdigit() for part in tarnu.__version__.split("."))


@requires("geodesic_distance")
def test_package_docstring_example():
    failed, attempted = doctest.testmod(tarnu, optionflags=doctest.ELLIPSIS)
    assert attempted and not failed


# --- type stubs ----------------------------------------------------------------

def stub_functions(sub):
    """{name: [parameter names]} and __all__ of an installed stub."""
    tree = ast.parse(importlib.resources.files("tarnu").joinpath(f"{sub}.pyi").read_text())
    functions = {node.name: [arg.arg for arg in node.args.args]
                 for node in tree.body if isinstance(node, ast.FunctionDef)}
    names = next(ast.literal_eval(node.value) for node in tree.body
                 if isinstance(node, ast.Assign) and node.targets[0].id == "__all__")
    return functions, names


def test_stubs_are_installed():
    files = importlib.resources.files("tarnu")
    for name in ("py.typed", "_tarnu.pyi", "distance.pyi", "geodesic.pyi", "units.pyi"):
        assert files.joinpath(name).is_file(), name


@pytest.mark.parametrize("sub", SURFACE)
def test_stubs_match_the_module(sub):
    functions, names = stub_functions(sub)
    assert names == list(functions) == SURFACE[sub]
    module = getattr(tarnu, sub)
    present = [name for name in SURFACE[sub] if hasattr(module, name)]
    assert getattr(module, "__all__", []) == present  # registered in the stubs' order
    for name in present:
        assert list(inspect.signature(getattr(module, name)).parameters) == functions[name]
