// The life of an extension module object, the same for every module: made
// once per process, by the first interpreter that imports it, and kept.
#pragma once

#include <atomic>
#include <cstdint>

#include "handle.hpp"

namespace tarnu::py {

// Holds a module for the rest of the process, so that every later import
// (even after `del sys.modules[...]`) gets the same object: the same
// functions and ufuncs, and a pickled ufunc comes back as the very object.
//
// One interpreter has it: the first in which it is made. Its objects belong
// to that interpreter, so any other is refused with
// ImportError(other_interpreter), the module's own words. An import that
// fails claims nothing: the next one, in any interpreter, tries again.
class ModuleCell {
 public:
  // make() returns the new module (a new reference), or nullptr with the
  // exception set; it may throw.
  using Make = PyObject* (*)();

  constexpr ModuleCell(const char* other_interpreter, Make make) noexcept
      : other_interpreter_(other_interpreter), make_(make) {}

  // The module (a new reference), or nullptr with the exception set.
  PyObject* get();

 private:
  const char* other_interpreter_;
  Make make_;
  std::atomic<std::int64_t> interpreter_{-1};  // the one that has it; -1 before any
  PyObject* module_ = nullptr;                 // strong reference, kept for the process
};

}  // namespace tarnu::py
