// The call boundary shared by every Python function of tarnu._tarnu:
// argument binding and conversion, result objects, Python exceptions and
// registration.
//
// A function body reads the same four steps everywhere: its
// FunctionDescription, one `parse` call that binds and converts the
// arguments (returning false with the exception set), one call into the
// core, and one `make_*` call for the result. Bodies run inside `call`, the
// only place where C++ exceptions are caught and turned into Python ones
// (shared/fault.hpp).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <cstddef>
#include <string_view>

#include "shared/fault.hpp"
#include "shared/handle.hpp"

namespace tarnu::geodesic {
struct GeodesicResult;
}

namespace tarnu::py::exact {

// ---------------------------------------------------------------------------
// Argument binding.

// The static description of a function's parameters, all of them required
// and positional-or-keyword.
template <std::size_t N>
struct FunctionDescription {
  std::string_view name;
  std::array<std::string_view, N> parameters;
};

namespace detail {

// Binds a call to the parameters, filling slots[0..n) with borrowed
// references, or raises TypeError. Used when the call is not simply n
// positional arguments.
bool bind_slow(std::string_view function, const std::string_view* parameters, std::size_t n,
               PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
               PyObject** slots) noexcept;

// Converts a non-float object, wrapping a TypeError with the parameter name.
bool to_double_slow(PyObject* object, std::string_view parameter, double& out);

}  // namespace detail

// Converts one bound argument to a double: an exact float is read directly,
// anything else goes through the interpreter's float conversion.
inline bool to_double(PyObject* object, std::string_view parameter, double& out) {
  if (PyFloat_CheckExact(object)) [[likely]] {
    out = PyFloat_AS_DOUBLE(object);
    return true;
  }
  return detail::to_double_slow(object, parameter, out);
}

// Binds the arguments (borrowed references, nothing allocated). The common
// call of exactly N positional arguments uses the argument array itself.
template <std::size_t N>
inline bool bind(const FunctionDescription<N>& description, PyObject* const* args,
                 Py_ssize_t nargs, PyObject* kwnames, std::array<PyObject*, N>& slots) noexcept {
  if (kwnames == nullptr && nargs == static_cast<Py_ssize_t>(N)) [[likely]] {
    for (std::size_t i = 0; i < N; ++i) slots[i] = args[i];
    return true;
  }
  return detail::bind_slow(description.name, description.parameters.data(), N, args, nargs,
                           kwnames, slots.data());
}

// Binds the arguments, then converts them to doubles in parameter order;
// the first failure ends it.
template <std::size_t N>
inline bool parse(const FunctionDescription<N>& description, PyObject* const* args,
                  Py_ssize_t nargs, PyObject* kwnames, std::array<double, N>& out) {
  std::array<PyObject*, N> slots;
  if (!bind(description, args, nargs, kwnames, slots)) return false;
  for (std::size_t i = 0; i < N; ++i) {
    if (!to_double(slots[i], description.parameters[i], out[i])) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Results. Each returns a new reference, or nullptr with the interpreter's
// own exception (MemoryError when it is out of memory) set.

inline PyObject* make_float(double value) noexcept { return PyFloat_FromDouble(value); }
namespace detail {
PyObject* make_tuple(const std::array<double, 3>& values, std::size_t count) noexcept;
}  // namespace detail

inline PyObject* make_tuple(double first, double second) noexcept {
  return detail::make_tuple({first, second, 0.0}, 2);
}
inline PyObject* make_tuple(double first, double second, double third) noexcept {
  return detail::make_tuple({first, second, third}, 3);
}

// A new dict of a geodesic solution keyed by the geodesy names, in the order
// lat1, lon1, lat2, lon2, s12, azi1, azi2, a12 and, with `lengths`, then
// m12, M12, M21, S12. The key strings are interned once and reused.
PyObject* make_solution(const tarnu::geodesic::GeodesicResult& result, bool lengths) noexcept;

// TypeError("'<type of value>' object cannot be converted to '<target>'"),
// the one form of every type mismatch.
[[gnu::cold]] void raise_type_mismatch(PyObject* value, const char* target);

// Names the parameter in the pending exception when its type is exactly
// TypeError, as every conversion failure does: "argument 'lat1': <message>".
// Any other exception stays as it is.
[[gnu::cold]] void wrap_argument_error(std::string_view parameter) noexcept;

// ---------------------------------------------------------------------------
// Registration.

// The shape of every function that takes arguments.
using FastcallFunction = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t,
                                      PyObject*) noexcept;
using NoargsFunction = PyObject* (*)(PyObject*, PyObject*) noexcept;

inline PyMethodDef fastcall_method(const char* name, FastcallFunction function,
                                      const char* doc) noexcept {
  return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function)),
          METH_FASTCALL | METH_KEYWORDS, doc};
}

inline PyMethodDef noargs_method(const char* name, NoargsFunction function,
                                    const char* doc) noexcept {
  return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function)),
          METH_NOARGS, doc};
}

// Adds `object` to `module` as the attribute `name` and appends the name to
// the module's __all__, creating the list on first use.
bool add_to_module(PyObject* module, PyObject* name, PyObject* object);

// Creates a built-in function for each definition, in order, with the
// submodule as __self__ and its name as __module__, and adds it.
bool add_functions(PyObject* module, const PyMethodDef* definitions, std::size_t count);

template <std::size_t N>
bool add_functions(PyObject* module, const PyMethodDef (&definitions)[N]) {
  return add_functions(module, definitions, N);
}

}  // namespace tarnu::py::exact
