// Serial stand-in for the worker pool (same interface), replaced on merge.
#pragma once
#include <cstddef>
namespace _tarnu::pool {
inline std::size_t thread_count() noexcept { return 1; }
template <class F>
void parallel_for(std::size_t n, F&& body) noexcept {
  if (n != 0) body(std::size_t{0}, n);
}
}  // namespace _tarnu::pool
