"""The README's examples, run: each Python block as a doctest, in a namespace
that has the tour's imports, and each console line as a command."""

import re
import shlex
import subprocess
import sys
import sysconfig
from pathlib import Path

import numpy as np
import pytest

from tarnu import distance, geodesic, geometry, ufunc, units
from conftest import FUNCTIONS, assert_same_output, run_examples
from tarnu.cli import INVERSE_UNITS

README = Path(__file__).resolve().parents[1] / "README.md"
BLOCK = re.compile(r"^( *)```python\n(.*?)^\1```", re.M | re.S)


def blocks(examples=True):
    """(heading, line, source) of every python block with examples (or, with
    examples=False, of every one without: a script)."""
    text = README.read_text(encoding="utf-8")
    found = []
    for match in BLOCK.finditer(text):
        indent, body = match.groups()
        source = "".join(line[len(indent):] + "\n" for line in body.splitlines())
        if (">>>" in source) == examples:
            heading = re.findall(r"^#+ (.*)$", text[:match.start()], re.M)[-1]
            found.append((heading, text.count("\n", 0, match.start()) + 1, source))
    return found


def test_readme_has_a_tour_of_every_function():
    text = "".join(source for _, _, source in blocks())
    assert [f.name for f in FUNCTIONS if f".{f.name}(" not in text] == []


def test_readme_leads_arrays_with_the_ufuncs():
    text = "".join(source for _, _, source in blocks())
    assert text.index("ufunc.geodesic_distance(") < text.index("_batch(")


def test_readme_table_names_every_parameter():
    text = README.read_text(encoding="utf-8")
    start = text.index("## Every function")
    table = text[start:text.index("\n## ", start)]
    listed = {name: tuple(filter(None, params.split(", ")))
              for name, params in re.findall(r"`(\w+)\(([\w, ]*)\)`", table)}
    assert listed == {f.name: f.params for f in FUNCTIONS}


@pytest.mark.parametrize("heading, line, source",
                         [pytest.param(*b, id=f"line{b[1]}") for b in blocks()])
def test_readme_example(heading, line, source):
    for optional in ("dask", "pandas", "geopandas", "shapely"):
        if optional in source:
            pytest.importorskip(optional)
    globs = {"np": np, "distance": distance, "geodesic": geodesic, "units": units,
             "ufunc": ufunc, "geometry": geometry, "__name__": "readme"}
    # Later blocks reuse the tour's arrays.
    exec("lat1 = np.array([51.5074, 40.7128, -33.8688]); lon1 = np.array([-0.1278, -74.0060, "
         "151.2093]); lat2 = np.array([48.8566, 34.0522, 35.6762]); lon2 = np.array([2.3522, "
         "-118.2437, 139.6503])", globs)
    run_examples(source, globs, f"README.md line {line} ({heading})", README, line)


@pytest.mark.parametrize("heading, line, source",
                         [pytest.param(*b, id=f"line{b[1]}") for b in blocks(examples=False)])
def test_readme_script(tmp_path, heading, line, source):
    """A block without examples runs as it stands, as a script of its own."""
    for optional in ("dask", "distributed"):
        if optional in source:
            pytest.importorskip(optional)
    (tmp_path / "script.py").write_text(source)
    result = subprocess.run([sys.executable, "script.py"], cwd=tmp_path, capture_output=True,
                            text=True, timeout=300)
    assert result.returncode == 0, f"README.md line {line}:\n{result.stderr}"


# The units the batch table gives, as written there, for those the command prints.
UNIT_WORDS = {"deg": "°", "m": "m", "(scale)": "no unit", "m^2": "m²"}


def test_readme_batch_table_gives_every_unit():
    text = README.read_text(encoding="utf-8")
    start = text.index("| `--operation` | reads | appends |")
    table = text[start:text.index("\n\n", start)]
    for row in table.splitlines()[2:]:
        for cell in row.split("|")[2:4]:
            for names, unit in re.findall(r"((?:`\w+`,? )+)\(([^)]*)\)", cell):
                for name in re.findall(r"`(\w+)`", names):
                    wanted = "m" if name == "distance_m" else UNIT_WORDS[INVERSE_UNITS[name]]
                    assert unit == wanted, (row, name)
            assert re.sub(r"(`\w+`,? )+\([^)]*\),? ?", "", cell).strip() == "", cell  # none unitless


def console_examples():
    """(command, expected output) of every `$ tarnu ...` line in the README's
    console blocks, except batch runs (they need files)."""
    text = README.read_text(encoding="utf-8")
    examples = []
    for block in re.findall(r"^```console\n(.*?)^```", text, re.M | re.S):
        for command, output in re.findall(r"^\$ (.*)\n((?:(?!\$ ).*\n)*)", block, re.M):
            if not command.startswith("tarnu batch"):
                examples.append((command.split("#")[0].strip(), output))
    return examples


@pytest.mark.parametrize("command, output", console_examples())
def test_readme_console_example(command, output):
    script = Path(sysconfig.get_path("scripts")) / "tarnu"
    args = [str(script), *shlex.split(command)[1:]]
    result = subprocess.run(args, capture_output=True, text=True, timeout=60, check=True)
    assert_same_output(result.stdout, output)
