#include "fault.hpp"

#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string_view>

namespace tarnu::py {

Fault::Fault(std::string message, std::source_location where) : message_(std::move(message)) {
  std::fprintf(stderr, "tarnu: internal fault in thread %ld at %s:%u:%u (%s):\n%s\n",
               static_cast<long>(syscall(SYS_gettid)), where.file_name(), where.line(),
               where.column(), where.function_name(), message_.c_str());
}

void throw_fault(std::string message) {
  PyObject* error = PyErr_GetRaisedException();  // new reference or nullptr
  if (error != nullptr) {
    Ref text(PyObject_Str(error));
    const char* utf8 = text ? PyUnicode_AsUTF8(text.get()) : nullptr;
    if (utf8 != nullptr) message.append(": ").append(utf8);
    PyErr_Clear();
    PyErr_SetRaisedException(error);  // steals
  }
  throw Fault(std::move(message));
}

namespace {

constexpr const char panic_exception_doc[] =
    "Raised when native code called from Python fails in a way it cannot recover from:\n"
    "a broken internal invariant, reported on standard error where it happened.\n"
    "\n"
    "Like SystemExit, it derives from BaseException rather than Exception, so that it\n"
    "typically propagates all the way through the stack and makes the interpreter exit.";

PyObject* panic_type = nullptr;  // strong reference, kept for the process

[[gnu::cold, noreturn]] void abort_uncaught() noexcept {
  std::fputs("uncaught panic at ffi boundary\n", stderr);
  std::fflush(stderr);
  std::abort();
}

// Raises PanicException(message). An exception that is already pending is
// kept as the new one's __context__ rather than overwritten.
[[gnu::cold]] void raise_panic(std::string_view message) noexcept {
  PyObject* pending = PyErr_GetRaisedException();  // new reference or nullptr
  PyObject* type = panic_exception_type();
  if (type == nullptr) {
    Py_XDECREF(pending);
    return;
  }
  Ref text(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()),
                                "replace"));
  Ref exception(text ? PyObject_CallOneArg(type, text.get()) : nullptr);
  if (!exception) {
    Py_XDECREF(pending);
    return;
  }
  if (pending != nullptr) PyException_SetContext(exception.get(), pending);  // steals
  PyErr_SetRaisedException(exception.release());
}

}  // namespace

PyObject* panic_exception_type() noexcept {
  if (panic_type == nullptr) {
    // The qualified name is odd for C++, and kept for compatibility: callers
    // match it.
    panic_type = PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException", panic_exception_doc,
                                           PyExc_BaseException, nullptr);
  }
  return panic_type;
}

PyObject* raise_current_exception() noexcept {
  try {
    try {
      // Only ever called from a catch block (see the header).
      // cppcheck-suppress rethrowNoCurrentException
      throw;
    } catch (const Fault& fault) {
      raise_panic(fault.what());  // already reported when it was made
    } catch (const std::bad_alloc&) {
      PyErr_NoMemory();
    } catch (const std::exception& error) {
      raise_panic(Fault(error.what()).what());
    } catch (...) {
      raise_panic(Fault("unknown internal fault").what());
    }
  } catch (...) {
    abort_uncaught();
  }
  return nullptr;
}

}  // namespace tarnu::py
