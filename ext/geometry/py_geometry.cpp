// The functions of tarnu._geometry, each: arguments, the checked layout,
// one call into the core without the interpreter lock, the arrays made.
// tarnu.geometry (python/tarnu/geometry.py) is their public face.
#include <limits>

#include "layout.hpp"
#include "module.hpp"

namespace tarnu::py::geometry {
namespace {

namespace g = tarnu::geometry;

double* doubles(const Ref& array) {
  return static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get())));
}

// length(lat, lon, offsets, xy) -> lengths
PyObject* length(PyObject*, PyObject* args) {
  PyObject *lat, *lon, *offsets;
  int xy;
  if (!PyArg_ParseTuple(args, "OOOp:length", &lat, &lon, &offsets, &xy)) return nullptr;
  Input in;
  if (!accept(lat, lon, offsets, true, xy, in)) return nullptr;
  Ref out(new_array(static_cast<npy_intp>(in.layout.geometries.size), NPY_DOUBLE));
  if (!out) return nullptr;
  Unlocked unlocked;
  g::length(in.layout, doubles(out));
  return out.release();
}

// area_perimeter(lat, lon, offsets, xy, rule, area, perimeter) -> (area, perimeter),
// each None where not asked for.
PyObject* area_perimeter(PyObject*, PyObject* args) {
  PyObject *lat, *lon, *offsets;
  int xy, rule, want_area, want_perimeter;
  if (!PyArg_ParseTuple(args, "OOOpipp:area_perimeter", &lat, &lon, &offsets, &xy, &rule,
                        &want_area, &want_perimeter)) {
    return nullptr;
  }
  Input in;
  if (!accept(lat, lon, offsets, false, xy, in)) return nullptr;
  const auto n = static_cast<npy_intp>(in.layout.geometries.size);
  Ref area(want_area ? new_array(n, NPY_DOUBLE) : Py_NewRef(Py_None));
  Ref perimeter(want_perimeter ? new_array(n, NPY_DOUBLE) : Py_NewRef(Py_None));
  if (!area || !perimeter) return nullptr;
  {
    Unlocked unlocked;
    g::area_perimeter(in.layout, static_cast<g::Rule>(rule), want_area ? doubles(area) : nullptr,
                      want_perimeter ? doubles(perimeter) : nullptr);
  }
  return PyTuple_Pack(2, area.get(), perimeter.get());
}

[[gnu::cold, gnu::noinline]] PyObject* too_many_points() {
  PyErr_SetString(PyExc_MemoryError, "densify would make more points than an array can hold");
  return nullptr;
}

// densify(lat, lon, offsets, xy, rings, max_segment, pieces) -> (coordinates, part offsets):
// with xy one (n, 2) array of x = longitude, y = latitude, else a tuple (lat, lon).
PyObject* densify(PyObject*, PyObject* args) {
  PyObject *lat, *lon, *offsets;
  int xy, rings;
  double max_segment;
  long long pieces;
  if (!PyArg_ParseTuple(args, "OOOppdL:densify", &lat, &lon, &offsets, &xy, &rings, &max_segment,
                        &pieces)) {
    return nullptr;
  }
  const g::Spacing spacing{max_segment, pieces};
  Input in;
  if (!accept(lat, lon, offsets, !rings, xy, in)) return nullptr;
  Ref parts(new_array(static_cast<npy_intp>(in.layout.parts.size + 1), NPY_INT64));
  if (!parts) return nullptr;
  auto* part_offsets = static_cast<std::int64_t*>(
      PyArray_DATA(reinterpret_cast<PyArrayObject*>(parts.get())));
  bool fits;
  {
    Unlocked unlocked;
    fits = g::densify_count(in.layout, rings, spacing,
                            std::numeric_limits<npy_intp>::max() / 16, part_offsets);
  }
  if (!fits) return too_many_points();
  const npy_intp n = part_offsets[in.layout.parts.size];
  npy_intp xy_shape[2] = {n, 2};
  Ref first(xy ? PyArray_ZEROS(2, xy_shape, NPY_DOUBLE, 0) : PyArray_ZEROS(1, &n, NPY_DOUBLE, 0));
  Ref second(xy ? Py_NewRef(first.get()) : PyArray_ZEROS(1, &n, NPY_DOUBLE, 0));
  if (!first || !second) return nullptr;
  {
    Unlocked unlocked;
    double* a = doubles(first);
    if (xy) {
      g::densify_fill(in.layout, rings, spacing, part_offsets, a + 1, a, 2);
    } else {
      g::densify_fill(in.layout, rings, spacing, part_offsets, a, doubles(second), 1);
    }
  }
  if (xy) return PyTuple_Pack(2, first.get(), parts.get());
  Ref coordinates(PyTuple_Pack(2, first.get(), second.get()));
  return coordinates ? PyTuple_Pack(2, coordinates.get(), parts.get()) : nullptr;
}

}  // namespace

PyMethodDef methods[] = {
    {"length", length, METH_VARARGS,
     "length(lat, lon, offsets, xy) -> lengths of a line layout, metres."},
    {"area_perimeter", area_perimeter, METH_VARARGS,
     "area_perimeter(lat, lon, offsets, xy, rule, area, perimeter) -> (area, perimeter) of a "
     "polygon layout; rule 0 unoriented, 1 signed, 2 oriented."},
    {"densify", densify, METH_VARARGS,
     "densify(lat, lon, offsets, xy, rings, max_segment, pieces) -> (coordinates, part "
     "offsets)."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace tarnu::py::geometry
