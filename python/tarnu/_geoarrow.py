"""GeoArrow native arrays through the Arrow PyCapsule interface, read in place.

`read(obj)` takes any object with ``__arrow_c_array__`` whose array is a
GeoArrow native encoding (``geoarrow.linestring``, ``multilinestring``,
``polygon`` or ``multipolygon``; coordinates interleaved as a fixed-size
list of x, y[, z[, m]] or separated as a struct of x, y, ...). It reads the
Arrow C data interface with ctypes, so it needs no Arrow library: the
coordinates come back as NumPy views on the Arrow buffers (x = longitude,
y = latitude; z and m are skipped by the stride), the offsets as int64
arrays. `write(...)` builds such an array back, with pyarrow.
"""

from __future__ import annotations

import ctypes
import json
import struct
from typing import Any, NamedTuple

import numpy as np

# Extension names, with the number of offset levels above the coordinates.
KINDS = {
    "geoarrow.linestring": ("LineString", 1),
    "geoarrow.multilinestring": ("MultiLineString", 2),
    "geoarrow.polygon": ("Polygon", 2),
    "geoarrow.multipolygon": ("MultiPolygon", 3),
}
_BY_DEPTH = {1: "geoarrow.linestring", 3: "geoarrow.multipolygon"}


class _Schema(ctypes.Structure):
    format: bytes
    name: bytes
    metadata: int | None
    flags: int
    n_children: int
    children: Any
    dictionary: int | None
    release: int | None
    private_data: int | None


_Schema._fields_ = [
    ("format", ctypes.c_char_p), ("name", ctypes.c_char_p), ("metadata", ctypes.c_void_p),
    ("flags", ctypes.c_int64), ("n_children", ctypes.c_int64),
    ("children", ctypes.POINTER(ctypes.POINTER(_Schema))),
    ("dictionary", ctypes.c_void_p), ("release", ctypes.c_void_p),
    ("private_data", ctypes.c_void_p),
]


class _Array(ctypes.Structure):
    length: int
    null_count: int
    offset: int
    n_buffers: int
    n_children: int
    buffers: Any
    children: Any
    dictionary: int | None
    release: int | None
    private_data: int | None


_Array._fields_ = [
    ("length", ctypes.c_int64), ("null_count", ctypes.c_int64), ("offset", ctypes.c_int64),
    ("n_buffers", ctypes.c_int64), ("n_children", ctypes.c_int64),
    ("buffers", ctypes.POINTER(ctypes.c_void_p)),
    ("children", ctypes.POINTER(ctypes.POINTER(_Array))),
    ("dictionary", ctypes.c_void_p), ("release", ctypes.c_void_p),
    ("private_data", ctypes.c_void_p),
]

_capsule_pointer = ctypes.pythonapi.PyCapsule_GetPointer
_capsule_pointer.restype = ctypes.c_void_p
_capsule_pointer.argtypes = [ctypes.py_object, ctypes.c_char_p]


class GeoArrow(NamedTuple):
    kind: str                   # "LineString", "MultiLineString", "Polygon", "MultiPolygon"
    lat: np.ndarray             # views on the Arrow buffers
    lon: np.ndarray
    offsets: tuple[np.ndarray, ...]  # int64, innermost level first
    missing: np.ndarray | None  # null geometries
    field: dict[bytes, bytes]   # the field's metadata, extension name and CRS included
    keep: Any                   # the capsules, which own the buffers


def _metadata(address: int | None) -> dict[bytes, bytes]:
    """The key-value pairs of an ArrowSchema's metadata blob."""
    if not address:
        return {}
    def read(at: int, n: int) -> bytes:
        return ctypes.string_at(address + at, n)

    (count,) = struct.unpack("=i", read(0, 4))
    pairs, at = {}, 4
    for _ in range(count):
        (n,) = struct.unpack("=i", read(at, 4))
        key = read(at + 4, n)
        at += 4 + n
        (n,) = struct.unpack("=i", read(at, 4))
        pairs[key] = read(at + 4, n)
        at += 4 + n
    return pairs


def _view(address: int, ctype: Any, start: int, count: int) -> np.ndarray:
    if count <= 0 or not address:
        return np.zeros(0, dtype=np.dtype(ctype))
    buffer = (ctype * (start + count)).from_address(address)
    return np.ctypeslib.as_array(buffer)[start:]


def _offsets(schema: _Schema, array: _Array) -> np.ndarray:
    fmt = schema.format
    ctype = {b"+l": ctypes.c_int32, b"+L": ctypes.c_int64}.get(fmt)
    if ctype is None:
        raise TypeError(f"a GeoArrow geometry level must be a list, not Arrow format {fmt.decode()!r}")
    view = _view(array.buffers[1], ctype, array.offset, array.length + 1)
    if len(view) == 0:
        view = np.zeros(1, dtype=np.int64)
    return np.ascontiguousarray(view, dtype=np.int64)


def _coordinates(schema: _Schema, array: _Array) -> tuple[np.ndarray, np.ndarray]:
    """(lat, lon) of a coordinate array, interleaved or separated."""
    fmt = schema.format.decode()
    n = array.length
    if fmt.startswith("+w:"):
        width = int(fmt[3:])
        child_schema, child = schema.children[0].contents, array.children[0].contents
        if child_schema.format != b"g" or width < 2:
            raise TypeError(f"GeoArrow coordinates must be doubles, not Arrow format {fmt!r}")
        values = _view(child.buffers[1], ctypes.c_double,
                       child.offset + array.offset * width, n * width)
        if n == 0:
            return np.zeros(0), np.zeros(0)
        return values[1::width], values[0::width]
    if fmt == "+s":
        columns = {}
        for k in range(schema.n_children):
            child_schema, child = schema.children[k].contents, array.children[k].contents
            if child_schema.format != b"g":
                raise TypeError("GeoArrow coordinates must be doubles")
            columns[child_schema.name] = _view(child.buffers[1], ctypes.c_double,
                                               child.offset + array.offset, n)
        if b"x" not in columns or b"y" not in columns:
            raise TypeError("separated GeoArrow coordinates need fields x and y")
        if n == 0:
            return np.zeros(0), np.zeros(0)
        return columns[b"y"], columns[b"x"]
    raise TypeError(f"GeoArrow coordinates must be a fixed-size list or a struct, not {fmt!r}")


def read(obj: Any, operation: str) -> GeoArrow:
    capsules = obj.__arrow_c_array__()
    schema = _Schema.from_address(_capsule_pointer(capsules[0], b"arrow_schema"))
    array = _Array.from_address(_capsule_pointer(capsules[1], b"arrow_array"))
    field = _metadata(schema.metadata)
    name = field.get(b"ARROW:extension:name", b"").decode()
    levels: list[np.ndarray] = []
    top_schema, top = schema, array
    while schema.format in (b"+l", b"+L"):
        levels.append(_offsets(schema, array))
        schema, array = schema.children[0].contents, array.children[0].contents
    if not name:
        name = _BY_DEPTH.get(len(levels), "")
        if not name:
            raise TypeError(f"{operation}: a GeoArrow array of {len(levels)} list levels without "
                            "its extension name: Polygon or MultiLineString?")
    if name not in KINDS:
        raise TypeError(f"{operation}: GeoArrow {name} is not read here: only the native "
                        "linestring, multilinestring, polygon and multipolygon encodings")
    kind, depth = KINDS[name]
    if depth != len(levels):
        raise TypeError(f"{operation}: {name} with {len(levels)} list levels, not {depth}")
    lat, lon = _coordinates(schema, array)
    missing = None
    if top.null_count != 0 and top.buffers[0]:
        bits = _view(top.buffers[0], ctypes.c_uint8, 0, (top.offset + top.length + 7) // 8)
        valid = np.unpackbits(bits, bitorder="little")[top.offset:top.offset + top.length]
        missing = valid == 0
    del top_schema
    return GeoArrow(kind, lat, lon, tuple(levels[::-1]), missing, field, capsules)


def write(kind: str, coordinates: np.ndarray, offsets: tuple[np.ndarray, ...],
          missing: np.ndarray | None, field: dict[bytes, bytes]) -> "ArrowGeometries":
    """A GeoArrow array of x, y pairs (interleaved) with these offsets."""
    try:
        import pyarrow as pa  # type: ignore[import-untyped]
    except ImportError as error:
        raise ImportError("densify needs pyarrow to return a GeoArrow array "
                          "(pip install pyarrow)") from error
    values: Any = pa.FixedSizeListArray.from_arrays(pa.array(coordinates.reshape(-1)), 2)
    for k, level in enumerate(offsets):
        outer = k == len(offsets) - 1
        mask = pa.array(missing) if outer and missing is not None else None
        values = pa.ListArray.from_arrays(pa.array(level), values, mask=mask)
    metadata = {key: value for key, value in field.items()
                if key in (b"ARROW:extension:name", b"ARROW:extension:metadata")}
    if b"ARROW:extension:name" not in metadata:
        metadata[b"ARROW:extension:name"] = next(
            name for name, (k, _) in KINDS.items() if k == kind).encode()
        metadata.setdefault(b"ARROW:extension:metadata", json.dumps({}).encode())
    return ArrowGeometries(values, pa.field("geometry", values.type, metadata=metadata))


class ArrowGeometries:
    """A GeoArrow array: pass it to anything that takes the Arrow PyCapsule
    interface (``geopandas.GeoSeries.from_arrow``, ``pyarrow.array``...)."""

    def __init__(self, array: Any, field: Any):
        self.array, self.field = array, field

    def __arrow_c_array__(self, requested_schema: Any = None) -> tuple[Any, Any]:
        return self.field.__arrow_c_schema__(), self.array.__arrow_c_array__()[1]

    def __len__(self) -> int:
        return len(self.array)
