#include "boundary.hpp"

#include <cstdio>
#include <iterator>
#include <string>

#include "tarnu/geodesic.hpp"

namespace tarnu::py::exact {

// ---------------------------------------------------------------------------
// Binding.

namespace {

using std::string_view;

int as_int(std::size_t n) { return static_cast<int>(n); }

[[gnu::cold, gnu::noinline]] void raise_too_many(string_view function, std::size_t n,
                                                 Py_ssize_t given) {
  PyErr_Format(PyExc_TypeError, "%.*s() takes %zu positional arguments but %zd %s given",
               as_int(function.size()), function.data(), n, given,
               given == 1 ? "was" : "were");
}

[[gnu::cold, gnu::noinline]] void raise_multiple(string_view function, string_view parameter) {
  PyErr_Format(PyExc_TypeError, "%.*s() got multiple values for argument '%.*s'",
               as_int(function.size()), function.data(), as_int(parameter.size()),
               parameter.data());
}

[[gnu::cold, gnu::noinline]] void raise_unexpected(string_view function, PyObject* keyword) {
  PyErr_Format(PyExc_TypeError, "%.*s() got an unexpected keyword argument '%S'",
               as_int(function.size()), function.data(), keyword);
}

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'"
[[gnu::cold, gnu::noinline]] void raise_missing(string_view function,
                                                const string_view* parameters, std::size_t n,
                                                PyObject* const* slots) {
  std::size_t missing = 0;
  for (std::size_t i = 0; i < n; ++i) missing += slots[i] == nullptr;
  std::string list;
  std::size_t listed = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (slots[i] != nullptr) continue;
    if (listed > 0) {
      if (missing > 2) list += ",";
      list += listed + 1 == missing ? " and " : " ";
    }
    list += "'";
    list += parameters[i];
    list += "'";
    ++listed;
  }
  PyErr_Format(PyExc_TypeError, "%.*s() missing %zu required positional %s: %s",
               as_int(function.size()), function.data(), missing,
               missing == 1 ? "argument" : "arguments", list.c_str());
}

}  // namespace

bool detail::bind_slow(string_view function, const string_view* parameters, std::size_t n,
                       PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                       PyObject** slots) noexcept {
  if (nargs > static_cast<Py_ssize_t>(n)) {
    raise_too_many(function, n, nargs);
    return false;
  }
  for (std::size_t i = 0; i < n; ++i) slots[i] = i < static_cast<std::size_t>(nargs) ? args[i] : nullptr;

  const Py_ssize_t nkw = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t k = 0; k < nkw; ++k) {
    PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);
    Py_ssize_t length = 0;
    const char* text = PyUnicode_AsUTF8AndSize(keyword, &length);
    if (text == nullptr) PyErr_Clear();  // not UTF-8: matches no parameter
    std::size_t i = 0;
    while (text != nullptr && i < n && parameters[i] != string_view(text, static_cast<std::size_t>(length))) ++i;
    if (text == nullptr || i == n) {
      raise_unexpected(function, keyword);
      return false;
    }
    if (slots[i] != nullptr) {
      raise_multiple(function, parameters[i]);
      return false;
    }
    slots[i] = args[nargs + k];
  }

  for (std::size_t i = static_cast<std::size_t>(nargs); i < n; ++i) {
    if (slots[i] == nullptr) {
      raise_missing(function, parameters, n, slots);
      return false;
    }
  }
  return true;
}

// ---------------------------------------------------------------------------
// Conversion.

namespace {

// A PanicException raised in Python code (say in a __float__) is not an
// argument error: the fault goes on, with the same message.
[[gnu::cold, noreturn]] void resume_panic(PyObject* exception) {
  Ref message(PyObject_Str(exception));
  const char* text = message ? PyUnicode_AsUTF8(message.get()) : nullptr;
  std::string resumed = text != nullptr ? text : "PanicException";
  PyErr_Clear();
  std::fputs("tarnu: a PanicException raised in Python code is resumed as an internal fault.\n"
             "Python stack trace below:\n",
             stderr);
  PyErr_SetRaisedException(exception);  // steals
  PyErr_PrintEx(0);
  throw Fault(std::move(resumed));
}

// TypeError("argument 'lat1': <the conversion's message>"), keeping the
// conversion error's own __cause__ and suppressing its context.
[[gnu::cold]] PyObject* argument_error(string_view parameter, PyObject* conversion_error) {
  Ref message(PyUnicode_FromFormat("argument '%.*s': %S", as_int(parameter.size()),
                                   parameter.data(), conversion_error));
  if (!message) return nullptr;
  PyObject* error = PyObject_CallOneArg(PyExc_TypeError, message.get());
  if (error != nullptr) PyException_SetCause(error, PyException_GetCause(conversion_error));
  return error;
}

}  // namespace

bool detail::to_double_slow(PyObject* object, string_view parameter, double& out) {
  const double value = PyFloat_AsDouble(object);
  if (value != -1.0 || !PyErr_Occurred()) [[likely]] {
    out = value;
    return true;
  }
  Ref error(PyErr_GetRaisedException());
  PyObject* panic = panic_exception_type();
  if (panic == nullptr) return false;
  if (PyErr_GivenExceptionMatches(error.get(), panic)) resume_panic(error.release());
  if (Py_IS_TYPE(error.get(), reinterpret_cast<PyTypeObject*>(PyExc_TypeError))) {
    PyObject* wrapped = argument_error(parameter, error.get());
    if (wrapped == nullptr) return false;
    error = Ref(wrapped);
  }
  PyErr_SetRaisedException(error.release());
  return false;
}

void wrap_argument_error(string_view parameter) noexcept {
  Ref error(PyErr_GetRaisedException());
  if (error && Py_IS_TYPE(error.get(), reinterpret_cast<PyTypeObject*>(PyExc_TypeError))) {
    PyObject* wrapped = argument_error(parameter, error.get());
    if (wrapped == nullptr) return;
    error = Ref(wrapped);
  }
  PyErr_SetRaisedException(error.release());
}

// ---------------------------------------------------------------------------
// Results.

PyObject* detail::make_tuple(const std::array<double, 3>& values, std::size_t count) noexcept {
  // Each float is made first to last, then the tuple; a failure stops there.
  std::array<Ref, 3> items;
  for (std::size_t i = 0; i < count; ++i) {
    items[i] = Ref(PyFloat_FromDouble(values[i]));
    if (!items[i]) return nullptr;
  }
  PyObject* tuple = PyTuple_New(static_cast<Py_ssize_t>(count));
  if (tuple == nullptr) return nullptr;
  for (std::size_t i = 0; i < count; ++i) {
    PyTuple_SET_ITEM(tuple, static_cast<Py_ssize_t>(i), items[i].release());
  }
  return tuple;
}

namespace {

using tarnu::geodesic::GeodesicResult;

struct Field {
  const char* key;
  double GeodesicResult::*value;
};

// The order of the dicts' keys; the last four only in full solutions.
constexpr Field solution_fields[] = {
    {"lat1", &GeodesicResult::lat1}, {"lon1", &GeodesicResult::lon1},
    {"lat2", &GeodesicResult::lat2}, {"lon2", &GeodesicResult::lon2},
    {"s12", &GeodesicResult::s12},   {"azi1", &GeodesicResult::azi1},
    {"azi2", &GeodesicResult::azi2}, {"a12", &GeodesicResult::a12},
    {"m12", &GeodesicResult::m12},   {"M12", &GeodesicResult::M12},
    {"M21", &GeodesicResult::M21},   {"S12", &GeodesicResult::S12},
};
constexpr std::size_t field_count = std::size(solution_fields);
constexpr std::size_t short_field_count = 8;
PyObject* key_objects[field_count] = {};  // interned, kept for the process

}  // namespace

PyObject* make_solution(const GeodesicResult& result, bool lengths) noexcept {
  const std::size_t count = lengths ? field_count : short_field_count;
  // Sized up front: a result dict never grows while it is filled.
  Ref dict(_PyDict_NewPresized(static_cast<Py_ssize_t>(count)));
  if (!dict) return nullptr;
  for (std::size_t i = 0; i < count; ++i) {
    PyObject*& key = key_objects[i];
    if (key == nullptr) key = PyUnicode_InternFromString(solution_fields[i].key);
    if (key == nullptr) return nullptr;
    Ref value(PyFloat_FromDouble(result.*solution_fields[i].value));
    if (!value || PyDict_SetItem(dict.get(), key, value.get()) < 0) return nullptr;
  }
  return dict.release();
}

// ---------------------------------------------------------------------------
// Registration.

void raise_type_mismatch(PyObject* value, const char* target) {
  Ref name(PyType_GetQualName(Py_TYPE(value)));
  if (!name) return;
  PyErr_Format(PyExc_TypeError, "'%U' object cannot be converted to '%s'", name.get(), target);
}

namespace {

PyObject* interned(PyObject*& slot, const char* text) {
  if (slot == nullptr) slot = PyUnicode_InternFromString(text);
  return slot;
}

PyObject* all_string = nullptr;
PyObject* name_string = nullptr;

}  // namespace

bool add_to_module(PyObject* module, PyObject* name, PyObject* object) {
  PyObject* all = interned(all_string, "__all__");
  if (all == nullptr) return false;
  Ref list(PyObject_GetAttr(module, all));
  if (!list) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    list = Ref(PyList_New(0));
    if (!list || PyObject_SetAttr(module, all, list.get()) < 0) return false;
  } else if (!PyList_Check(list.get())) {
    raise_type_mismatch(list.get(), "PyList");
    return false;
  }
  if (PyList_Append(list.get(), name) < 0) {
    PyErr_Clear();
    throw Fault("could not append __name__ to __all__");
  }
  return PyObject_SetAttr(module, name, object) == 0;
}

bool add_functions(PyObject* module, const PyMethodDef* definitions, std::size_t count) {
  Ref module_name(PyModule_GetNameObject(module));
  if (!module_name) return false;
  PyObject* name_attribute = interned(name_string, "__name__");
  if (name_attribute == nullptr) return false;
  for (std::size_t i = 0; i < count; ++i) {
    // The function object points at its definition for as long as it lives,
    // which is the rest of the process: the copy is never freed.
    auto* definition = new PyMethodDef(definitions[i]);
    Ref function(PyCMethod_New(definition, module, module_name.get(), nullptr));
    if (!function) return false;
    Ref name(PyObject_GetAttr(function.get(), name_attribute));
    if (!name) return false;
    if (!PyUnicode_Check(name.get())) {
      raise_type_mismatch(name.get(), "PyString");
      return false;
    }
    if (!add_to_module(module, name.get(), function.get())) return false;
  }
  return true;
}

}  // namespace tarnu::py::exact
