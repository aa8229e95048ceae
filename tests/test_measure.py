"""`tarnu measure`: one row per GeoJSON feature with tarnu.geometry's values,
and the input errors it reports (exit 2) without touching the output."""

import json
import subprocess
import sysconfig
from pathlib import Path

import numpy as np
import pytest

from tarnu import geometry

SCRIPT = Path(sysconfig.get_path("scripts")) / "tarnu"
SQUARE = [[0, 0], [1, 0], [1, 1], [0, 1], [0, 0]]
FEATURES = [
    ({"type": "Polygon", "coordinates": [SQUARE, [[0.2, 0.2], [0.2, 0.4], [0.4, 0.4]]]}, "sq"),
    ({"type": "LineString", "coordinates": [[179, 0], [-179, 1, 30]]}, None),
    (None, 7),
    ({"type": "GeometryCollection", "geometries": [
        {"type": "Point", "coordinates": [0, 0]},
        {"type": "MultiLineString", "coordinates": [[[0, 0], [0, 1]]]},
        {"type": "MultiPolygon", "coordinates": [[SQUARE], [SQUARE[::-1]]]}]}, None),
    ({"type": "MultiPoint", "coordinates": [[0, 0]]}, None),
]


def run(tmp_path, document, *options):
    path = tmp_path / "in.geojson"
    path.write_text(document if isinstance(document, str) else json.dumps(document))
    return subprocess.run([SCRIPT, "measure", path, *options], capture_output=True, text=True)


def test_one_row_per_feature_with_the_module_values(tmp_path):
    collection = {"type": "FeatureCollection", "features": [
        {"type": "Feature", "geometry": g, "properties": {}} | ({"id": i} if i is not None else {})
        for g, i in FEATURES]}
    result = run(tmp_path, collection, "-o", tmp_path / "out.csv")
    assert result.returncode == 0 and result.stdout == ""
    rows = [line.split(",") for line in (tmp_path / "out.csv").read_text().splitlines()]
    square_area, square_perimeter = geometry.area_perimeter(
        [0.0, 0.0, 1.0, 1.0, 0.2, 0.4, 0.4], [0.0, 1.0, 1.0, 0.0, 0.2, 0.2, 0.4],
        (np.array([0, 4, 7]), np.array([0, 2])))
    line = geometry.length([0.0, 1.0], [179.0, -179.0], (np.array([0, 2]),))
    assert rows == [
        ["index", "id", "length_m", "perimeter_m", "area_m2"],
        ["0", "sq", "", repr(float(square_perimeter[0])), repr(float(square_area[0]))],
        ["1", "", repr(float(line[0])), "", ""],
        ["2", "7", "", "", ""],
        ["3", "", repr(float(geometry.length([0.0, 1.0], [0.0, 0.0], (np.array([0, 2]),))[0])),
         rows[4][3], rows[4][4]],
        ["4", "", "", "", ""],
    ]
    assert float(rows[4][4]) == pytest.approx(2 * geometry.area([0.0, 0.0, 1.0, 1.0],
                                                                  [0.0, 1.0, 1.0, 0.0],
                                                                  (np.array([0, 4]),
                                                                   np.array([0, 1])))[0])


ERRORS = [
    ("{", "not JSON"),
    ('{"type": "Topology"}', "not a GeoJSON"),
    ({"type": "LineString", "coordinates": [[10, 95], [0, 0]]}, "latitude 95.0 beyond"),
    ({"type": "Polygon", "coordinates": [[[0, "a"], [1, 1], [0, 1]]]}, "feature 0: a position"),
    ({"type": "Feature", "geometry": {"type": "Circle"}}, "feature 0: not a GeoJSON geometry"),
]


@pytest.mark.parametrize("document, message", ERRORS, ids=[e[1] for e in ERRORS])
def test_bad_input_exits_2_and_leaves_the_output(tmp_path, document, message):
    out = tmp_path / "out.csv"
    out.write_text("kept\n")
    result = run(tmp_path, document, "-o", out)
    assert result.returncode == 2 and message in result.stderr
    assert out.read_text() == "kept\n"
