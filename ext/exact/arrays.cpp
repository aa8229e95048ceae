#include "arrays.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>

#include "shared/numpy.hpp"
#include "tarnu/pool.hpp"

namespace tarnu::py::exact {
namespace {

// ---------------------------------------------------------------------------
// NumPy's API.

constexpr const char numpy_missing[] =
    "numpy is required by the batch functions, and it could not be imported";

// The float64 descriptor; a new reference kept for the process.
PyArray_Descr* float64_descriptor() {
  static PyArray_Descr* const descriptor = PyArray_DescrFromType(NPY_DOUBLE);
  return descriptor;
}

// ---------------------------------------------------------------------------
// Acceptance.

// The target type named in refusals: odd for C++, kept because callers match it.
constexpr const char array_target[] = "PyArray<T, D>";

[[gnu::cold, gnu::noinline]] bool refuse(PyObject* object, std::string_view parameter) {
  raise_type_mismatch(object, array_target);
  wrap_argument_error(parameter);
  return false;
}

[[gnu::cold, gnu::noinline]] bool refuse_not_contiguous() {
  PyErr_SetString(PyExc_TypeError, "The given array is not contiguous");
  return false;
}

[[gnu::cold, gnu::noinline]] bool refuse_short(std::string_view parameter, std::size_t size,
                                               std::string_view first, std::size_t n) {
  PyErr_Format(PyExc_ValueError, "argument '%.*s': has %zu elements, fewer than the %zu of '%.*s'",
               static_cast<int>(parameter.size()), parameter.data(), size, n,
               static_cast<int>(first.size()), first.data());
  return false;
}

// An identical descriptor object needs no question to NumPy; a byte-swapped
// or otherwise different float64 does, and is refused unless equivalent.
bool is_float64(PyArray_Descr* descriptor) {
  PyArray_Descr* float64 = float64_descriptor();
  return descriptor == float64 || PyArray_EquivTypes(descriptor, float64);
}

bool accept(PyObject* object, std::string_view parameter, InputArray& out) {
  if (!PyArray_Check(object)) return refuse(object, parameter);
  auto* array = reinterpret_cast<PyArrayObject*>(object);
  if (PyArray_NDIM(array) != 1 || !is_float64(PyArray_DESCR(array))) {
    return refuse(object, parameter);
  }
  out.array = Ref(Py_NewRef(object));
  // A misaligned array gets its data from a copy, made once every argument
  // is accepted.
  if (PyArray_ISALIGNED(array)) out.data = static_cast<const double*>(PyArray_DATA(array));
  out.size = static_cast<std::size_t>(PyArray_DIM(array, 0));
  return true;
}

// Either flag will do: for one dimension they coincide.
bool is_contiguous(const InputArray& input) {
  const int flags = PyArray_FLAGS(reinterpret_cast<PyArrayObject*>(input.array.get()));
  return (flags & (NPY_ARRAY_C_CONTIGUOUS | NPY_ARRAY_F_CONTIGUOUS)) != 0;
}

}  // namespace

bool parse_arrays(const FunctionDescription<4>& description, PyObject* const* args,
                  Py_ssize_t nargs, PyObject* kwnames, std::array<InputArray, 4>& out) {
  std::array<PyObject*, 4> slots;
  if (!bind(description, args, nargs, kwnames, slots)) return false;
  if (!bind_numpy(numpy_missing)) return false;
  // Every type error is reported before any contiguity or length error,
  // whatever the positions of the arguments.
  for (std::size_t i = 0; i < 4; ++i) {
    if (!accept(slots[i], description.parameters[i], out[i])) return false;
  }
  for (const InputArray& input : out) {
    if (!is_contiguous(input)) return refuse_not_contiguous();
  }
  const std::size_t n = out[0].size;
  for (std::size_t i = 1; i < 4; ++i) {
    if (out[i].size < n) {
      return refuse_short(description.parameters[i], out[i].size, description.parameters[0], n);
    }
  }
  // Reading a double through a misaligned pointer is undefined, whatever
  // the hardware allows.
  for (InputArray& input : out) {
    if (input.data != nullptr) continue;
    input.copy = std::make_unique_for_overwrite<double[]>(n);
    std::memcpy(input.copy.get(), PyArray_DATA(reinterpret_cast<PyArrayObject*>(input.array.get())),
                n * sizeof(double));
    input.data = input.copy.get();
  }
  return true;
}

// ---------------------------------------------------------------------------
// Results.

// Result buffers are reported to tracemalloc, as NumPy reports its own, so a
// user profiling memory sees them (under a domain of their own). CPython
// 3.12's tracemalloc.h declares these two without C linkage, so a C++ caller
// names the C symbols itself.
constexpr unsigned int tracemalloc_domain = 0x7461726e;  // "tarn"
int trace_track(unsigned int, std::uintptr_t, std::size_t) __asm__("PyTraceMalloc_Track");
int trace_untrack(unsigned int, std::uintptr_t) __asm__("PyTraceMalloc_Untrack");

void OutputBuffer::Free::operator()(double* p) const noexcept {
  trace_untrack(tracemalloc_domain, reinterpret_cast<std::uintptr_t>(p));
  std::free(p);
}

OutputBuffer::OutputBuffer(std::size_t size)
    : size_(size), capacity_(std::max<std::size_t>(size, 1)) {
  if (capacity_ > PTRDIFF_MAX / sizeof(double)) throw std::bad_alloc();
  data_.reset(static_cast<double*>(std::malloc(capacity_ * sizeof(double))));
  if (!data_) throw std::bad_alloc();
  trace_track(tracemalloc_domain, reinterpret_cast<std::uintptr_t>(data_.get()),
                      capacity_ * sizeof(double));
}

namespace {

// The owner of a result array's buffer.
struct SliceContainer {
  PyObject_HEAD
  double* data;
};

void slice_container_dealloc(PyObject* self) noexcept {
  OutputBuffer::Free()(reinterpret_cast<SliceContainer*>(self)->data);
  PyTypeObject* type = Py_TYPE(self);
  type->tp_free(self);
  Py_DECREF(type);  // instances of a heap type hold a reference to it
}

PyType_Slot slice_container_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(slice_container_dealloc)},
    {Py_tp_doc, const_cast<char*>("Owns the buffer of an array returned by a batch function.")},
    {0, nullptr},
};

PyType_Spec slice_container_spec = {
    "tarnu._tarnu.PySliceContainer",  // an odd name for C++, kept because callers match it
    sizeof(SliceContainer),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    slice_container_slots,
};

// The type, created on first use and kept for the process (borrowed).
PyTypeObject* slice_container_type() {
  static PyObject* type = nullptr;
  if (type == nullptr) type = PyType_FromSpec(&slice_container_spec);
  if (type == nullptr) throw_fault("Failed to create slice container");
  return reinterpret_cast<PyTypeObject*>(type);
}

}  // namespace

PyObject* make_array(OutputBuffer&& buffer) {
  PyTypeObject* type = slice_container_type();
  Ref owner(type->tp_alloc(type, 0));
  if (!owner) throw_fault("Failed to create slice container");
  double* data = buffer.data_.release();
  reinterpret_cast<SliceContainer*>(owner.get())->data = data;

  npy_intp dims[1] = {static_cast<npy_intp>(buffer.size_)};
  npy_intp strides[1] = {sizeof(double)};
  // PyArray_NewFromDescr takes the descriptor's reference, even on failure.
  PyArray_Descr* descriptor = PyArray_DescrFromType(NPY_DOUBLE);
  if (descriptor == nullptr) return nullptr;
  Ref array(PyArray_NewFromDescr(&PyArray_Type, descriptor, 1, dims, strides, data,
                                 NPY_ARRAY_WRITEABLE, nullptr));
  if (!array) return nullptr;
  // Takes the owner's reference, even on failure.
  if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(array.get()), owner.release()) < 0) {
    return nullptr;
  }
  return array.release();
}

void start_pool() {
  if (!tarnu::pool::start()) throw std::bad_alloc();
}

}  // namespace tarnu::py::exact
