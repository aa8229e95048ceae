// The ufuncs' inner loops, free of NumPy and of Python.
//
// NumPy hands a loop n elements as one pointer and one byte stride per
// argument, inputs first, then outputs; a stride may be 0 (a broadcast
// scalar), negative or any multiple of 8. `run` cuts the range into chunks
// for the worker pool and each chunk into blocks, and hands every block to
// the operation's kernel as contiguous doubles: an argument that already is
// contiguous is passed in place, any other is gathered into a buffer (and an
// output scattered from one) on the stack; a broadcast scalar fills its
// buffer once, and the kernel is told which inputs those are, so that it can
// work out once what they alone decide. An output that overlaps an input
// (NumPy allows `out=` to be an input, element for element) is written
// through a buffer too, after the kernel has read the whole block.
// Nothing is allocated; any number of threads may run loops at once.
#pragma once

#include <cstddef>

#include "tarnu/pool.hpp"

namespace tarnu::py::ufunc {

inline constexpr int max_inputs = 5;
inline constexpr int max_outputs = 8;

// n elements of contiguous inputs to contiguous outputs that overlap none of
// them; in[k] and out[k] follow the operation's argument order. Bit k of
// `fixed` says in[k] holds one value n times (a broadcast scalar), which a
// kernel may use to compute what that input decides alone once.
using Kernel = void (*)(const double* const* in, double* const* out, std::size_t n,
                        unsigned fixed) noexcept;

struct Operation {
  const char* name;
  int nin, nout;
  tarnu::pool::Grain grain;  // what one element costs (see tarnu/pool.hpp)
  Kernel kernel;
  const char* doc;
};

// Every operation, in the order the module defines them.
const Operation* operations(std::size_t& count) noexcept;

// Runs `op` over n elements of the arguments at args[0 .. nin + nout) with
// byte strides steps[...], on the worker pool when n is large enough.
void run(const Operation& op, char* const* args, const std::ptrdiff_t* steps,
         std::size_t n) noexcept;

}  // namespace tarnu::py::ufunc
