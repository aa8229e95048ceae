#include "loops.hpp"

#include <algorithm>
#include <cstring>

namespace tarnu::py::ufunc {
namespace {

// Elements per kernel call: long enough that the kernel's own loop and its
// vector lanes dominate, short enough that the buffers of a dozen arguments
// (24 KB) sit in L1 and on any thread's stack.
constexpr std::size_t block = 256;

// NumPy hands a loop the bytes of aligned float64 arrays.
double* as_doubles(const char* bytes) noexcept {
  // cppcheck-suppress invalidPointerCast ; the bytes are doubles, aligned
  return reinterpret_cast<double*>(const_cast<char*>(bytes));
}

struct Argument {
  const char* base;
  std::ptrdiff_t step;

  const char* at(std::size_t i) const noexcept {
    return base + static_cast<std::ptrdiff_t>(i) * step;
  }
  bool contiguous() const noexcept { return step == static_cast<std::ptrdiff_t>(sizeof(double)); }
  // The bytes elements [start, start + m) occupy, whatever the stride's sign.
  bool overlaps(const Argument& other, std::size_t start, std::size_t m) const noexcept {
    const auto span = [m, start](const Argument& a) {
      const char* first = a.at(start);
      const char* last = a.at(start + m - 1);
      return std::pair(std::min(first, last), std::max(first, last) + sizeof(double));
    };
    const auto [lo, hi] = span(*this);
    const auto [other_lo, other_hi] = span(other);
    return lo < other_hi && other_lo < hi;
  }
};

void run_range(const Operation& op, const Argument* args, std::size_t begin,
               std::size_t end) noexcept {
  double in_buffer[max_inputs][block];
  double out_buffer[max_outputs][block];
  const double* in[max_inputs];
  double* out[max_outputs];
  const Argument* outputs = args + op.nin;
  // A broadcast scalar (stride 0) fills its buffer once, for every block,
  // and the kernel hears of it.
  unsigned fixed = 0;
  for (int k = 0; k < op.nin; ++k) {
    if (args[k].step != 0) continue;
    std::fill_n(in_buffer[k], block, *as_doubles(args[k].base));
    fixed |= 1u << k;
  }
  for (std::size_t start = begin; start < end; start += block) {
    const std::size_t m = std::min(block, end - start);
    for (int k = 0; k < op.nin; ++k) {
      if (args[k].contiguous() || args[k].step == 0) {
        in[k] = args[k].step == 0 ? in_buffer[k] : as_doubles(args[k].at(start));
        continue;
      }
      for (std::size_t i = 0; i < m; ++i) {
        std::memcpy(&in_buffer[k][i], args[k].at(start + i), sizeof(double));
      }
      in[k] = in_buffer[k];
    }
    for (int k = 0; k < op.nout; ++k) {
      bool direct = outputs[k].contiguous();
      for (int j = 0; j < op.nin && direct; ++j) direct = !outputs[k].overlaps(args[j], start, m);
      out[k] = direct ? as_doubles(outputs[k].at(start)) : out_buffer[k];
    }
    op.kernel(in, out, m, fixed);
    for (int k = 0; k < op.nout; ++k) {
      if (out[k] != out_buffer[k]) continue;
      for (std::size_t i = 0; i < m; ++i) {
        std::memcpy(as_doubles(outputs[k].at(start + i)), &out_buffer[k][i], sizeof(double));
      }
    }
  }
}

}  // namespace

void run(const Operation& op, char* const* args, const std::ptrdiff_t* steps,
         std::size_t n) noexcept {
  Argument arguments[max_inputs + max_outputs];
  for (int k = 0; k < op.nin + op.nout; ++k) arguments[k] = {args[k], steps[k]};
  tarnu::pool::parallel_for(
      n, [&](std::size_t begin, std::size_t end) { run_range(op, arguments, begin, end); },
      op.grain);
}

}  // namespace tarnu::py::ufunc
