"""tarnu.geometry: every input form against the flat one, the orientation
rules against GeographicLib's PolygonArea, bad input, and densify."""

import math
import sys

import numpy as np
import pytest
from geographiclib.geodesic import Geodesic
from geographiclib.polygonarea import PolygonArea

from tarnu import geometry

shapely = pytest.importorskip("shapely")
gpd = pytest.importorskip("geopandas")
WGS84 = Geodesic.WGS84


def polygon_area(ring, clockwise_positive=False, signed=True):
    """PolygonArea's (perimeter, area) of a ring of (lon, lat) points."""
    p = PolygonArea(WGS84)
    for lon, lat in ring:
        p.AddPoint(lat, lon)
    _, perimeter, area = p.Compute(clockwise_positive, signed)
    return perimeter, area


def circle(lat, n=72, eastwards=True):
    return [((1 if eastwards else -1) * 360 * i / n - 180, lat) for i in range(n)]


RING = [(0, 0), (2, 0), (2, 1), (0, 1)]  # counter-clockwise
HOLE = [(0.5, 0.2), (0.5, 0.8), (1.5, 0.8)]  # clockwise
BIG = circle(-20)  # eastwards: counter-clockwise around all north of 20 S


# (name, polygon, signed, oriented, the area from PolygonArea ring by ring)
RULES = [
    ("ccw default", [RING], False, False, polygon_area(RING)[1]),
    ("cw default", [RING[::-1]], False, False, polygon_area(RING)[1]),
    ("cw signed", [RING[::-1]], True, False, -polygon_area(RING)[1]),
    ("holes any way", [RING, HOLE[::-1]], False, False,
     polygon_area(RING)[1] - polygon_area(HOLE[::-1])[1]),
    ("holes signed", [RING, HOLE], True, False, polygon_area(RING)[1] + polygon_area(HOLE)[1]),
    ("cw oriented: the rest of the Earth", [RING[::-1]], False, True,
     polygon_area(RING[::-1], signed=False)[1]),
    ("hemisphere and more, oriented", [BIG], False, True, polygon_area(BIG, signed=False)[1]),
    ("hemisphere and more, reversed", [BIG[::-1]], False, True,
     polygon_area(BIG[::-1], signed=False)[1]),
    ("hemisphere and more, default", [BIG], False, False, abs(polygon_area(BIG)[1])),
    ("around the south pole", [circle(-80, eastwards=False)], False, True,
     polygon_area(circle(-80, eastwards=False), signed=False)[1]),
    ("oriented holes", [BIG, HOLE], False, True,
     polygon_area(BIG, signed=False)[1] - polygon_area(HOLE, True, False)[1]),
]


@pytest.mark.parametrize("name, rings, signed, oriented, want", RULES, ids=[r[0] for r in RULES])
def test_orientation_rules_match_polygon_area(name, rings, signed, oriented, want):
    got = geometry.area(shapely.Polygon(rings[0], rings[1:]), signed=signed, oriented=oriented)
    assert got == pytest.approx(want, abs=max(10, 1e-9 * abs(want)))


def parcels(n=300, seed=4):
    rng = np.random.default_rng(seed)
    out = []
    for i in range(n):
        lat0, lon0, r = rng.uniform(-80, 80), rng.uniform(-180, 180), 10 ** rng.uniform(1, 5)
        azi = np.sort(rng.uniform(-180, 180, 3 + i % 6))
        ring = []
        for a in azi[:: 1 if i % 2 else -1]:
            d = WGS84.Direct(lat0, lon0, a, r * rng.uniform(0.5, 1))
            ring.append((d["lon2"], d["lat2"]))
        hole = [(lon0 + r * 1e-6 * x, lat0 + r * 1e-6 * y) for x, y in ((0, 0), (1, 0), (0, 1))]
        polygon = shapely.Polygon(ring, [hole] if i % 7 == 3 else [])
        out.append(polygon if i % 5 else shapely.MultiPolygon([polygon]))
    return np.array(out + [None, shapely.Polygon()], dtype=object)


FORMS = {
    "shapely": lambda geoms: geoms,
    "geoseries": lambda geoms: gpd.GeoSeries(geoms, crs=4326),
    "arrow interleaved": lambda geoms: gpd.GeoSeries(geoms).to_arrow(geometry_encoding="geoarrow"),
    "arrow separated": lambda geoms: gpd.GeoSeries(geoms).to_arrow(
        geometry_encoding="geoarrow", interleaved=False),
    "arrow sliced": lambda geoms: __import__("pyarrow").array(
        gpd.GeoSeries(np.concatenate([geoms[:3], geoms])).to_arrow(geometry_encoding="geoarrow"))[3:],
}


@pytest.mark.parametrize("form", FORMS)
def test_every_form_gives_the_flat_answer(form):
    geoms = parcels()
    _, coords, offsets = shapely.to_ragged_array(geoms)
    want_area, want_perimeter = geometry.area_perimeter(coords[:, 1], coords[:, 0], offsets)
    want_area[-2] = want_perimeter[-2] = np.nan  # the None
    area, perimeter = geometry.area_perimeter(FORMS[form](geoms))
    np.testing.assert_array_equal(np.asarray(area), want_area)
    np.testing.assert_array_equal(np.asarray(perimeter), want_perimeter)
    simple = [i for i, g in enumerate(geoms[:-2]) if i % 7 != 3]
    reference = [polygon_area(shapely.get_exterior_ring(shapely.get_geometry(geoms[i], 0))
                              .coords[:-1]) for i in simple]
    assert np.abs(want_perimeter[simple] - [p for p, _ in reference]).max() < 2e-7
    assert (np.abs(want_area[simple] - [abs(a) for _, a in reference]) <=
            np.maximum(0.1, 1e-12 * want_area[simple])).all()


def test_lengths_of_lines_and_multilines():
    lines = [shapely.LineString([(0, 0), (3, 4), (-170, 60)]),
             shapely.MultiLineString([[(179, 0), (-179, 1)], [(10, 10, 5), (11, 11, 7)]]),
             shapely.LineString(), None]
    want = [sum(WGS84.Inverse(a[1], a[0], b[1], b[0])["s12"]
                for part in getattr(g, "geoms", [g]) for a, b in zip(part.coords, part.coords[1:]))
            for g in lines[:3]]
    got = geometry.length(np.array(lines, dtype=object))
    np.testing.assert_allclose(got[:3], want, rtol=0, atol=1e-7)
    assert math.isnan(got[3])


BAD = [
    (lambda: geometry.area(shapely.LineString([(0, 0), (1, 1)])), TypeError, "not LineString"),
    (lambda: geometry.length(shapely.box(0, 0, 1, 1)), TypeError, "not Polygon"),
    (lambda: geometry.perimeter([shapely.Point(0, 0)]), TypeError, "not Point"),
    (lambda: geometry.area([shapely.GeometryCollection()]), TypeError, "GeometryCollection"),
    (lambda: geometry.densify([shapely.box(0, 0, 1, 1), shapely.LineString([(0, 0), (1, 1)])],
                              n=2), TypeError, "lines and polygons"),
    (lambda: geometry.area(shapely.box(0, 80, 1, 95)), ValueError, "y = 95.0"),
    (lambda: geometry.length([10.0, 95.0], [0.0, 0.0], (np.array([0, 2]),)), ValueError, r"lat\[1\]"),
    (lambda: geometry.length([0.0] * 3, [0.0] * 3, (np.array([0, 2, 1]),)), ValueError,
     r"offsets\[0\]\[2\] is 1, below offsets\[0\]\[1\] = 2"),
    (lambda: geometry.length([0.0] * 3, [0.0] * 3, (np.array([0, 4]),)), ValueError,
     r"offsets\[0\]\[1\] is 4, past the end of the 3 points"),
    (lambda: geometry.area([0.0] * 3, [0.0] * 3, (np.array([0, 3]), np.array([-1, 1]))), ValueError,
     r"offsets\[1\]\[0\] is -1"),
    (lambda: geometry.area([0.0] * 3, [0.0] * 3, (np.array([0, 3]), np.array([0, 2]))), ValueError,
     r"offsets\[1\]\[1\] is 2, past the end of the 1 entries offsets\[0\]"),
    (lambda: geometry.area([0.0] * 3, [0.0] * 3, (np.array([0, 3]),)), TypeError, "fit none"),
    (lambda: geometry.area([0.0], [0.0], (np.array([0.0, 1.0]), np.array([0, 1]))), TypeError,
     "integers"),
    (lambda: geometry.area(gpd.GeoSeries([shapely.box(0, 0, 1, 1)], crs=3857)), ValueError,
     "projected"),
    (lambda: geometry.area(shapely.box(0, 0, 1, 1), signed=True, oriented=True), ValueError, "one"),
    (lambda: geometry.densify(shapely.box(0, 0, 1, 1)), TypeError, "one of"),
    (lambda: geometry.densify(shapely.box(0, 0, 1, 1), max_segment_m=0.0), ValueError, "positive"),
    (lambda: geometry.densify(shapely.box(0, 0, 1, 1), n=0), ValueError, "at least 1"),
]


@pytest.mark.parametrize("call, error, message", BAD, ids=[b[2] for b in BAD])
def test_bad_input_raises_naming_it(call, error, message):
    with pytest.raises(error, match=message):
        call()


def test_missing_shapely_is_named(monkeypatch):
    monkeypatch.setitem(sys.modules, "shapely", None)
    with pytest.raises(ImportError, match="needs shapely"):
        geometry.area([object()])


def test_geoseries_keeps_its_index_and_densify_its_crs():
    s = gpd.GeoSeries([shapely.box(0, 0, 1, 1), None], index=["a", "b"], crs=4326)
    assert list(geometry.area(s).index) == ["a", "b"]
    d = geometry.densify(s, max_segment_m=20_000)
    assert d.crs == s.crs and list(d.index) == ["a", "b"] and d.iloc[1] is None
    assert len(d.iloc[0].exterior.coords) == 4 * 6 + 1


@pytest.mark.parametrize("form", ["shapely", "arrow interleaved"])
def test_densify_keeps_vertices_and_spaces_points_along_the_geodesic(form):
    route = shapely.LineString([(170, 10), (190, 20), (260, 60)])  # unrolled longitudes
    out = geometry.densify(FORMS[form](np.array([route, None], dtype=object)), max_segment_m=1e5)
    if form != "shapely":
        out = gpd.GeoSeries.from_arrow(out).values
    coords = np.asarray(out[0].coords)
    assert out[1] is None
    assert [tuple(c) for c in coords[[0, -1]]] == [route.coords[0], route.coords[-1]]
    steps = [WGS84.Inverse(a[1], a[0], b[1], b[0])["s12"] for a, b in zip(coords, coords[1:])]
    assert max(steps) <= 1e5 and min(steps) > 9e4
    assert np.abs(np.diff(coords[:, 0])).max() < 5  # as continuous as the input


def test_densify_flat_returns_new_innermost_offsets():
    lat, lon = np.array([0.0, 0.0, 1.0, 5.0, 5.0]), np.array([0.0, 1.0, 1.0, 5.0, 6.0])
    offsets = (np.array([0, 3, 5]), np.array([0, 1, 2]))
    lat2, lon2, (parts, polygons) = geometry.densify(lat, lon, offsets, "Polygon", n=2)
    assert parts.tolist() == [0, 6, 10] and polygons is offsets[1]
    assert lat2[[0, 2, 4, 6, 8]].tolist() == [0, 0, 1, 5, 5]


def test_nonsense_offsets_never_read_out_of_bounds():
    # Under `make test-asan` a read past any array stops the run.
    rng = np.random.default_rng(9)
    lat, lon = rng.uniform(-90, 90, 50), rng.uniform(-180, 180, 50)
    for _ in range(300):
        levels = [np.sort(rng.integers(-3, 60, rng.integers(1, 8)))
                  for _ in range(rng.integers(1, 4))]
        if rng.random() < 0.3:
            levels[0] = rng.integers(-5, 60, len(levels[0]))
        for call in (geometry.length, geometry.area, geometry.perimeter):
            try:
                call(lat, lon, tuple(levels))
            except (ValueError, TypeError):
                pass
