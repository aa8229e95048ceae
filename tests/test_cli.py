"""The `tarnu` console script, run as a user runs it: in a subprocess."""

import csv
import os
import subprocess
import sys
import sysconfig
from pathlib import Path

import numpy as np
import pytest

from tarnu import distance, geodesic
from surface import ALL_UNITS, requires

SCRIPT = Path(sysconfig.get_path("scripts")) / "tarnu"
LONDON_PARIS = ("51.5074", "-0.1278", "48.8566", "2.3522")


def run(*args, check=True, stdin=None):
    result = subprocess.run([SCRIPT, *args], capture_output=True, text=True, timeout=300,
                            input=stdin)
    if check:
        assert result.returncode == 0, result.stderr
    return result


def fails(*args):
    """Runs a command that must fail on its input: exit 2, one-line message."""
    result = run(*args, check=False)
    assert result.returncode == 2, (result.stdout, result.stderr)
    assert result.stderr.count("\n") == 1
    return result.stderr.strip()


# --- entry points and help ------------------------------------------------------

@pytest.mark.parametrize("command", [[], ["distance"], ["destination"], ["inverse"],
                                     ["direct"], ["convert"], ["batch"]])
def test_help(command):
    out = run(*command, "--help").stdout
    assert out.startswith(f"usage: tarnu {' '.join(command)}".rstrip())


def test_version_and_module_entry():
    from tarnu import __version__
    assert run("--version").stdout.strip() == f"tarnu {__version__}"
    module = subprocess.run([sys.executable, "-m", "tarnu", "--version"],
                            capture_output=True, text=True, check=True)
    assert module.stdout.strip() == f"tarnu {__version__}"


@requires("geodesic_distance", "geodesic_destination", *ALL_UNITS)
def test_demo():
    out = run().stdout
    for word in ("London", "Paris", "Sydney", "sphere", "WGS84", "km", "mi"):
        assert word in out
    assert "343.557" in out and "343.923" in out  # London-Paris, sphere and WGS84


@pytest.mark.parametrize("args", [
    ("distance", "1", "2", "3"),                      # missing LON2
    ("distance", "1", "2", "3", "east"),              # not a number
    ("distance", *LONDON_PARIS, "--sphere", "--ellipsoid"),
    ("distance", *LONDON_PARIS, "--unit", "furlong"),
    ("nonsense",),
])
def test_usage_errors_exit_2(args):
    result = run(*args, check=False)
    assert result.returncode == 2 and "usage: tarnu" in result.stderr


# --- one-shot commands ----------------------------------------------------------

@requires("geodesic_distance", *ALL_UNITS)
@pytest.mark.parametrize("shape, measure, unit, per_metre", [
    ([], "geodesic_distance", "km", 1e-3),
    (["--ellipsoid"], "geodesic_distance", "m", 1.0),
    (["--sphere"], "great_circle_distance", "mi", 1 / 1609.344),
    (["--sphere"], "great_circle_distance", "nm", 1 / 1852),
    ([], "geodesic_distance", "ft", 1 / 0.3048),
])
def test_distance(shape, measure, unit, per_metre):
    value, printed_unit = run("distance", *LONDON_PARIS, *shape, "--unit", unit).stdout.split()
    metres = getattr(distance, measure)(*map(float, LONDON_PARIS))
    assert printed_unit == unit
    assert float(value) == pytest.approx(metres * per_metre, abs=1e-3 * per_metre)


@requires("geodesic_distance", "units.m_to_km")
def test_distance_default_is_km_on_the_ellipsoid():
    assert run("distance", "0", "0", "0", "1").stdout == "111.319491 km\n"


@requires("geodesic_destination", *ALL_UNITS)
@pytest.mark.parametrize("shape, move", [([], "geodesic_destination"),
                                         (["--sphere"], "great_circle_destination")])
def test_destination(shape, move):
    lat, lon = map(float, run("destination", "--unit", "mi", *shape,
                              "--", "-33.8688", "151.2093", "-30", "2.5").stdout.split())
    expected = getattr(distance, move)(-33.8688, 151.2093, -30, 2.5 * 1609.344)
    assert (lat, lon) == pytest.approx(expected, abs=1e-9)


@requires("geodesic.inverse")
def test_inverse_prints_every_quantity_with_its_unit():
    lines = run("inverse", "-41.3", "174.8", "40.4", "-3.7").stdout.splitlines()
    expected = geodesic.inverse(-41.3, 174.8, 40.4, -3.7)
    assert [line.split()[0] for line in lines] == list(expected)
    for line in lines:
        key, value, unit = line.split()
        assert float(value) == expected[key]
        assert unit == {"s12": "m", "m12": "m", "S12": "m^2", "M12": "(scale)",
                        "M21": "(scale)"}.get(key, "deg")


@requires("geodesic.direct")
def test_direct():
    lines = run("direct", "0", "0", "90", "111319.49079327357").stdout.splitlines()
    values = {line.split()[0]: float(line.split()[1]) for line in lines}
    assert list(values) == ["lat1", "lon1", "lat2", "lon2", "s12", "azi1", "azi2", "a12"]
    assert values["lon2"] == pytest.approx(1.0, abs=1e-12)
    assert values["a12"] == pytest.approx(1.0033640898, abs=1e-10)


@requires(*ALL_UNITS)
@pytest.mark.parametrize("args, out", [
    (["--", "-10.5", "deg", "dms"], "-10.0 30.0 0.0"),
    (["-0.5", "deg", "dms"], "-0.0 30.0 0.0"),
    (["10", "30", "0", "dms", "deg"], "10.5"),
    (["-10", "30", "0", "dms", "deg"], "-9.5"),                 # each part keeps its sign
    (["-10", "-30", "0", "dms", "deg"], "-10.5"),
    (["3.141592653589793", "rad", "dms"], "180.0 0.0 0.0"),
    (["180", "deg", "rad"], "3.141592653589793"),
    (["0", "90", "0", "dms", "rad"], "0.026179938779914945"),
    (["7", "km", "mi"], "4.349598345661337"),                  # one true division
    (["11", "km", "nm"], "5.939524838012959"),
    (["1", "mi", "ft"], "5280.0"),
    (["3", "m", "ft"], "9.84251968503937"),
    (["9", "m", "km"], "0.009"),
    (["1", "nm", "m"], "1852.0"),
    (["2.5", "km", "km"], "2.5"),
])
def test_convert(args, out):
    assert run("convert", *args).stdout == out + "\n"


@pytest.mark.parametrize("args, message", [
    (["1", "km", "deg"], "cannot convert km to deg"),
    (["1", "2", "km", "mi"], "km takes one VALUE, got 2"),
    (["10", "30", "dms", "deg"], "dms takes DEGREES MINUTES SECONDS, got 2"),
])
def test_convert_rejects(args, message):
    assert message in fails("convert", *args)


# --- batch ----------------------------------------------------------------------

BATCH = requires("geodesic_distance_batch", "great_circle_distance_batch")


def write_rows(path, header, rows):
    with open(path, "w", newline="") as f:
        writer = csv.writer(f)
        writer.writerow(header)
        writer.writerows(rows)


def pairs(n, seed=1):
    rng = np.random.default_rng(seed)
    return (rng.uniform(-90, 90, n), rng.uniform(-180, 180, n),
            rng.uniform(-90, 90, n), rng.uniform(-180, 180, n))


@BATCH
@pytest.mark.parametrize("shape, measure, stdin", [([], "geodesic_distance", False),
                                                   (["--sphere"], "great_circle_distance", True)])
def test_batch_passes_other_columns_through(tmp_path, shape, measure, stdin):
    source = tmp_path / "in.csv"
    write_rows(source, ["name", "lat1", "lon1", "lat2", "lon2", "note"],
               [["London, UK", *LONDON_PARIS, "x"], ["equator", "0", "0", "0", "1", ""]])
    if stdin:
        result = run("batch", "-", *shape, stdin=source.read_text())
    else:
        result = run("batch", str(source), *shape)
    out = list(csv.reader(result.stdout.splitlines()))
    assert out[0] == ["name", "lat1", "lon1", "lat2", "lon2", "note", "distance_m"]
    assert out[1][:6] == ["London, UK", *LONDON_PARIS, "x"]
    assert [float(row[6]) for row in out[1:]] == [
        getattr(distance, measure)(*map(float, LONDON_PARIS)),
        getattr(distance, measure)(0, 0, 0, 1)]


@BATCH
def test_batch_of_100000_rows(tmp_path):
    columns = pairs(100_000)
    source, target = tmp_path / "in.csv", tmp_path / "out.csv"
    write_rows(source, ["id", "lat1", "lon1", "lat2", "lon2"],
               zip(range(100_000), *(c.tolist() for c in columns)))
    run("batch", str(source), "-o", str(target))
    data = np.loadtxt(target, delimiter=",", skiprows=1)
    assert data.shape == (100_000, 6)
    assert np.array_equal(data[:, 0], np.arange(100_000))
    assert np.array_equal(data[:, 1:5].T, np.array(columns))
    assert np.array_equal(data[:, 5], distance.geodesic_distance_batch(*columns))
    assert sorted(os.listdir(tmp_path)) == ["in.csv", "out.csv"]


@pytest.mark.parametrize("text, message", [
    ("lat1,lon1,lat2,lon2\n1,2,3,4\n1,2,x,4\n", "line 3, column 3 (lat2): not a number: 'x'"),
    ("lat2,lat1,lon2,lon1\n1,2,3,4\n\n1,2,3,\n", "line 4, column 4 (lon1): not a number: ''"),
    ("lat1,lon1,lat2,lon2\n1,2,3,4\n1,2,3", "line 3, column 4 (lon2): missing value"),
    ("lat1,lon1,lat2,lon2\n1,2,3,\"4\n", "line 2: unexpected end of data"),
    ("lat1,lon1,lat2\n1,2,3\n", "line 1: missing column(s) lon2"),
    ("", "empty file"),
])
def test_batch_bad_input(tmp_path, text, message):
    source, target = tmp_path / "in.csv", tmp_path / "out.csv"
    source.write_text(text)
    target.write_text("previous contents\n")
    error = fails("batch", str(source), "-o", str(target))
    assert error.startswith(f"tarnu: error: {source}") and message in error
    assert target.read_text() == "previous contents\n"
    assert sorted(os.listdir(tmp_path)) == ["in.csv", "out.csv"]


@BATCH
@pytest.mark.parametrize("cut", ["5", ""])
def test_batch_truncated_after_the_first_block(tmp_path, cut):
    """A file cut off in its last row, past the first block: the line number
    counts every row, and no output is left behind."""
    columns = pairs(70_000)
    source = tmp_path / "in.csv"
    write_rows(source, ["lat1", "lon1", "lat2", "lon2"], zip(*(c.tolist() for c in columns)))
    with open(source, "a") as f:
        f.write(f"1.5,2.5,{cut}")
    error = fails("batch", str(source), "-o", str(tmp_path / "out.csv"))
    column = "column 4 (lon2): missing value" if cut else "column 3 (lat2): not a number"
    assert f"line 70002, {column}" in error
    assert os.listdir(tmp_path) == ["in.csv"]


def test_batch_missing_file(tmp_path):
    assert "No such file or directory" in fails("batch", str(tmp_path / "none.csv"))


def test_batch_unwritable_output(tmp_path):
    source = tmp_path / "in.csv"
    source.write_text("lat1,lon1,lat2,lon2\n")
    result = run("batch", str(source), "-o", str(tmp_path / "no" / "out.csv"), check=False)
    assert result.returncode == 1 and result.stderr.startswith("tarnu: error: ")
    assert result.stderr.count("\n") == 1
