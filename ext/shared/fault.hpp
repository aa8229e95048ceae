// Internal faults and the one place that turns C++ exceptions into Python
// ones, for every extension module.
//
// Every entry point the interpreter calls (a module's init function, every
// function body, every ufunc loop that can fail) runs inside `call`, so no
// C++ exception ever reaches the interpreter.
#pragma once

#include <exception>
#include <source_location>
#include <string>

#include "handle.hpp"

namespace tarnu::py {

// A broken invariant inside native code. Constructing one writes its report
// (thread, source location, message) to standard error at once; `call`
// raises it in Python as PanicException.
class Fault : public std::exception {
 public:
  explicit Fault(std::string message,
                 std::source_location where = std::source_location::current());
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// Throws a Fault whose message ends with the pending Python exception's
// text, if any. That exception stays pending: the PanicException raised for
// the fault keeps it as its context.
[[gnu::cold, gnu::noinline, noreturn]] void throw_fault(std::string message);

// The PanicException type, created on first need and kept for the process.
// Returns a borrowed reference, or nullptr with an exception set.
PyObject* panic_exception_type() noexcept;

// Turns the C++ exception being handled into a Python exception and returns
// nullptr: std::bad_alloc becomes MemoryError, anything else PanicException
// (an exception already pending becomes its context, never lost). Must be
// called from a catch block.
[[gnu::cold]] PyObject* raise_current_exception() noexcept;

// Runs a body: its result (a new reference, or nullptr with a Python
// exception set) passes through; any C++ exception becomes a Python one.
// Nothing escapes: a failure of the translation itself aborts.
template <class Body>
inline PyObject* call(Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return raise_current_exception();
  }
}

}  // namespace tarnu::py
