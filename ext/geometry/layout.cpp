#include "layout.hpp"

namespace tarnu::py::geometry {
namespace {

namespace g = tarnu::geometry;

[[gnu::cold, gnu::noinline]] bool type_error(const char* message) {
  PyErr_SetString(PyExc_TypeError, message);
  return false;
}

// The coordinate arrays: float64, one dimension, aligned, and a stride that
// is a positive whole number of doubles (a length below 2 has any stride).
bool coordinates(PyObject* lat, PyObject* lon, g::Coordinates& c) {
  for (PyObject* a : {lat, lon}) {
    if (!PyArray_Check(a)) return type_error("lat and lon must be NumPy arrays");
    auto* array = reinterpret_cast<PyArrayObject*>(a);
    if (PyArray_TYPE(array) != NPY_DOUBLE || PyArray_NDIM(array) != 1 || !PyArray_ISALIGNED(array)) {
      return type_error("lat and lon must be aligned 1-D float64 arrays");
    }
  }
  auto* la = reinterpret_cast<PyArrayObject*>(lat);
  auto* lo = reinterpret_cast<PyArrayObject*>(lon);
  const npy_intp n = PyArray_DIM(la, 0);
  const npy_intp step = n < 2 ? 8 : PyArray_STRIDE(la, 0);
  if (PyArray_DIM(lo, 0) != n || (n >= 2 && PyArray_STRIDE(lo, 0) != step) || step <= 0 ||
      step % 8 != 0) {
    return type_error("lat and lon must have one length and one positive stride");
  }
  c = {static_cast<const double*>(PyArray_DATA(la)), static_cast<const double*>(PyArray_DATA(lo)),
       step / 8, static_cast<std::size_t>(n)};
  return true;
}

bool offsets_array(PyObject* a, g::Offsets& o) {
  if (!PyArray_Check(a)) return type_error("offsets must be NumPy arrays");
  auto* array = reinterpret_cast<PyArrayObject*>(a);
  if (PyArray_TYPE(array) != NPY_INT64 || PyArray_NDIM(array) != 1 ||
      !PyArray_IS_C_CONTIGUOUS(array) || !PyArray_ISALIGNED(array) || PyArray_DIM(array, 0) < 1) {
    return type_error("offsets must be C-contiguous 1-D int64 arrays of one entry or more");
  }
  o = {static_cast<const std::int64_t*>(PyArray_DATA(array)),
       static_cast<std::size_t>(PyArray_DIM(array, 0) - 1)};
  return true;
}

[[gnu::cold, gnu::noinline]] bool offsets_fault(const g::Layout& l, const g::Check& c, int k) {
  const g::Offsets& o = c.level == g::Level::parts      ? l.parts
                        : c.level == g::Level::polygons ? l.polygons
                                                        : l.geometries;
  const auto i = static_cast<Py_ssize_t>(c.index);
  const long long v = o.data ? o.data[c.index] : 0;
  switch (c.fault) {
    case g::Fault::negative:
      PyErr_Format(PyExc_ValueError, "offsets[%d][%zd] is %lld: offsets cannot be negative", k, i, v);
      break;
    case g::Fault::decreasing:
      PyErr_Format(PyExc_ValueError,
                   "offsets[%d][%zd] is %lld, below offsets[%d][%zd] = %lld: offsets must not "
                   "decrease",
                   k, i, v, k, i - 1, static_cast<long long>(o.data[c.index - 1]));
      break;
    default:
      if (k == 0) {
        PyErr_Format(PyExc_ValueError, "offsets[0][%zd] is %lld, past the end of the %zu points",
                     i, v, l.coords.size);
      } else {
        const std::size_t below = k == 1 ? l.parts.size : l.polygons.size;
        PyErr_Format(PyExc_ValueError,
                     "offsets[%d][%zd] is %lld, past the end of the %zu entries offsets[%d] "
                     "describes",
                     k, i, v, below, k - 1);
      }
  }
  return false;
}

[[gnu::cold, gnu::noinline]] bool latitude_fault(const g::Coordinates& c, std::size_t i, bool xy) {
  Ref value(PyFloat_FromDouble(c.lat[static_cast<std::ptrdiff_t>(i) * c.stride]));
  if (!value) return false;
  if (xy) {
    PyErr_Format(PyExc_ValueError,
                 "point %zu has y = %R, beyond +-90 degrees: y is the latitude (shapely and "
                 "GeoArrow put x = longitude first); are longitude and latitude swapped?",
                 i, value.get());
  } else {
    PyErr_Format(PyExc_ValueError,
                 "lat[%zu] = %R is beyond +-90 degrees: tarnu takes the latitude first "
                 "(lat, lon); are they swapped?",
                 i, value.get());
  }
  return false;
}

}  // namespace

bool accept(PyObject* lat, PyObject* lon, PyObject* offsets, bool lines, bool xy, Input& in) {
  g::Layout& l = in.layout;
  if (!coordinates(lat, lon, l.coords)) return false;
  const Py_ssize_t levels = PyTuple_Check(offsets) ? PyTuple_GET_SIZE(offsets) : -1;
  const Py_ssize_t least = lines ? 1 : 2;
  if (levels < least || levels > least + 1) {
    return type_error(lines ? "offsets must be a tuple of 1 (LineString) or 2 (MultiLineString) arrays"
                            : "offsets must be a tuple of 2 (Polygon) or 3 (MultiPolygon) arrays");
  }
  g::Offsets o[3];
  for (Py_ssize_t k = 0; k < levels; ++k) {
    PyObject* level = PyTuple_GET_ITEM(offsets, k);  // borrowed
    if (k > 0 && level == Py_None) {
      o[k] = {nullptr, o[k - 1].size};  // the identity: one item per item below
      continue;
    }
    if (!offsets_array(level, o[k])) return false;
    in.offsets[k] = Ref(Py_NewRef(level));
  }
  in.lat = Ref(Py_NewRef(lat));
  in.lon = Ref(Py_NewRef(lon));
  l.parts = o[0];
  if (lines) {
    l.geometries = levels == 2 ? o[1] : g::Offsets{nullptr, l.parts.size};
  } else {
    l.polygons = o[1];
    l.geometries = levels == 3 ? o[2] : g::Offsets{nullptr, l.polygons.size};
  }
  const g::Check c = g::check(l, lines);
  if (c.fault != g::Fault::none) {
    const int k = c.level == g::Level::parts ? 0 : c.level == g::Level::polygons || lines ? 1 : 2;
    return offsets_fault(l, c, k);
  }
  std::size_t bad;
  {
    Unlocked unlocked;
    bad = g::first_bad_latitude(l);
  }
  return bad == l.coords.size || latitude_fault(l.coords, bad, xy);
}

PyObject* new_array(npy_intp n, int type) { return PyArray_SimpleNew(1, &n, type); }

}  // namespace tarnu::py::geometry
