// NumPy arrays at the call boundary: accepting one-dimensional float64 input
// arrays, and handing a filled buffer of doubles back as a new array without
// a copy; and the worker pool the batch functions fill it on.
//
// Only this pair of files sees NumPy's native API in the module. It is bound
// on the first call that accepts an array, so the module imports, and every
// function that takes no array works, where NumPy is not installed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdlib>
#include <memory>

#include "boundary.hpp"

namespace tarnu::py::exact {

// An accepted input: a one-dimensional, contiguous array of doubles, read in
// place. It holds a new reference to the array for as long as it lives, so
// the data stays valid; nothing ever writes through `data`. An array whose
// data is not aligned for doubles (a view at an odd byte offset) is read
// from an aligned copy instead, which `copy` owns.
struct InputArray {
  Ref array;
  const double* data = nullptr;
  std::size_t size = 0;
  std::unique_ptr<double[]> copy;

  double operator[](std::size_t i) const noexcept { return data[i]; }
};

// Binds the call and accepts its four array arguments, in parameter order:
//   1. each must be an ndarray (or subclass) of one dimension whose element
//      type NumPy judges equivalent to float64, else TypeError
//      "argument 'lat2': 'list' object cannot be converted to 'PyArray<T, D>'";
//   2. then each, again in order, must be C- or F-contiguous, else TypeError
//      "The given array is not contiguous" (naming no argument);
//   3. then none of the last three may be shorter than the first, else
//      ValueError "argument 'lon2': has 3 elements, fewer than the 5 of 'lat1'".
//      Longer arrays are accepted (kept for compatibility); their extra
//      elements are never read.
// Then each misaligned array has its first elements, as many as the first
// array has, copied (MemoryError when that fails).
// Returns false with the exception set; the arrays accepted so far are given
// back in reverse order as `out` is destroyed; without NumPy that exception
// is ImportError. Throws Fault, which the boundary raises as
// PanicException, when an imported NumPy has no usable API table.
bool parse_arrays(const FunctionDescription<4>& description, PyObject* const* args,
                  Py_ssize_t nargs, PyObject* kwnames, std::array<InputArray, 4>& out);

// The buffer of a result array: room for `size` doubles, allocated before the
// computation fills it and freed on every path unless make_array takes it.
class OutputBuffer {
 public:
  // Throws std::bad_alloc (MemoryError in Python) when memory runs out.
  explicit OutputBuffer(std::size_t size);

  double* data() noexcept { return data_.get(); }
  std::size_t size() const noexcept { return size_; }
  double& operator[](std::size_t i) noexcept { return data_[i]; }

  // Frees a buffer (with the interpreter lock held).
  struct Free {
    void operator()(double* p) const noexcept;
  };

 private:
  friend PyObject* make_array(OutputBuffer&& buffer);
  std::unique_ptr<double[], Free> data_;
  std::size_t size_;
  std::size_t capacity_;  // allocated elements: at least 1, so malloc never sees 0
};

// A new one-dimensional float64 array over the buffer, without a copy. The
// array does not own its data: its base object, a PySliceContainer, takes the
// buffer and frees it when the array and every view of it are gone. Returns
// nullptr with the exception set (the buffer then freed); a failure to create
// the owner is an internal fault ("Failed to create slice container").
PyObject* make_array(OutputBuffer&& buffer);

// Builds the worker pool the batch functions run on, if there is none yet.
// Throws std::bad_alloc (MemoryError in Python) when there is no memory for
// it.
void start_pool();

}  // namespace tarnu::py::exact
