// Arrays from Python into a geometry layout (tarnu/geometry.hpp), checked:
// what every function of tarnu._geometry takes first.
#pragma once

#include "shared/numpy.hpp"
#include "tarnu/geometry.hpp"

namespace tarnu::py::geometry {

// The arrays a layout points into, held while it is in use.
struct Input {
  Ref lat, lon;
  Ref offsets[3];
  tarnu::geometry::Layout layout;
};

// Fills `in` from lat and lon, 1-D aligned float64 arrays of one length and
// one positive stride, and `offsets`, a tuple of 1-D C-contiguous int64
// arrays of one entry or more, innermost level first: 1 (LineString) or 2
// (MultiLineString) of them for lines, 2 (Polygon) or 3 (MultiPolygon) for
// polygons; an outer level may be None, the identity (one item per item
// below it). Then checks them: offsets that are negative, decrease or point
// past the level below raise ValueError naming offsets[k][i], and so does a
// latitude beyond +-90, in words for lat-first input or, with `xy`, for x,
// y (longitude, latitude) input. Anything else that does not fit raises
// TypeError. Returns false with the exception set.
bool accept(PyObject* lat, PyObject* lon, PyObject* offsets, bool lines, bool xy, Input& in);

// A new 1-D array of n doubles or int64s (new reference), or nullptr with
// MemoryError set.
PyObject* new_array(npy_intp n, int type);

// Runs the enclosed scope without the interpreter lock.
class Unlocked {
 public:
  Unlocked() noexcept : state_(PyEval_SaveThread()) {}
  Unlocked(const Unlocked&) = delete;
  Unlocked& operator=(const Unlocked&) = delete;
  ~Unlocked() { PyEval_RestoreThread(state_); }

 private:
  PyThreadState* state_;
};

}  // namespace tarnu::py::geometry
