// The process-wide worker pool behind the batch functions and the ufunc loops.
//
// One pool per process, however many extension modules use it (it lives in the
// shared library they both link), built on first use and never shut down: thread_count() - 1
// detached worker threads plus whichever thread calls parallel_for. Its size is fixed
// when it is built, from RAYON_NUM_THREADS, then RAYON_RS_NUM_CPUS, then the CPUs this
// process may run on (see detail::threads_from_env). A child made by fork() starts
// without the parent's workers and builds a fresh pool, reading the environment again,
// on its next use.
//
// Workers run with every signal blocked and touch nothing but the job they are given,
// so they never see a Python object or the interpreter lock. They are never joined and
// may still be inside a job while the process exits: what a job reads (the shared
// WGS84 solver) must have no destructor to run under them.
#pragma once

#include <cstddef>
#include <memory>
#include <type_traits>

namespace tarnu::pool {

// How finely parallel_for may cut a range, chosen by what one index costs: a range
// shorter than serial_threshold runs whole on the caller, and no chunk handed out is
// shorter than min_chunk (the last one of a range may be). The caller claims chunks
// too and waits only for chunks a worker has already claimed, so a grain set too fine
// costs at most the wake-up and about one chunk; one set too coarse leaves a long
// range on one thread.
struct Grain {
  std::size_t serial_threshold;
  std::size_t min_chunk;
};

// For bodies of some nanoseconds an index, like the haversine kernel: below 2048
// indices the wake-up and the hand-back cost more than the range takes; above, a
// range is cut into about four chunks per thread, none shorter than 256.
inline constexpr Grain fine_grain{2048, 256};

// For bodies of about a microsecond an index, like a geodesic inverse: a chunk of 8
// outlasts a worker's wake-up, and 32 indices already keep two threads busy.
inline constexpr Grain coarse_grain{32, 8};

static_assert(fine_grain.serial_threshold >= 2 && coarse_grain.serial_threshold >= 2,
              "ranges of 0 or 1 indices must stay on the caller");

// A non-owning reference to a callable `void(std::size_t begin, std::size_t end)`.
// It never allocates; the callable must outlive every call through the reference,
// which a temporary lambda passed straight to parallel_for does.
class FunctionRef {
 public:
  template <class F>
    requires(!std::is_same_v<std::remove_cvref_t<F>, FunctionRef> &&
             std::is_object_v<std::remove_reference_t<F>> &&
             std::is_invocable_v<F&, std::size_t, std::size_t>)
  // Implicit, so that a lambda can be passed as is.
  // cppcheck-suppress noExplicitConstructor
  FunctionRef(F&& f) noexcept
      : object_(const_cast<void*>(static_cast<const void*>(std::addressof(f)))),
        call_([](void* object, std::size_t begin, std::size_t end) {
          (*static_cast<std::remove_reference_t<F>*>(object))(begin, end);
        }) {}

  void operator()(std::size_t begin, std::size_t end) const { call_(object_, begin, end); }

 private:
  void* object_;
  void (*call_)(void*, std::size_t, std::size_t);
};

// Builds the pool if this process (or this forked child) has none yet. False when
// there is no memory for it: parallel_for then runs every range on its caller, and
// the next call tries again.
bool start() noexcept;

// The number of threads that work on a job, the caller included: at least 1 (1 when
// the pool cannot be built). Builds the pool as start() does.
std::size_t thread_count() noexcept;

// Calls body(begin, end) on disjoint, non-empty chunks that together cover [0, n)
// exactly once, and returns when every call has returned; everything the calls wrote
// is then visible to the caller. The chunks run on the workers and on the calling
// thread; the body visits its own chunk in whatever order it likes (the batch
// functions go in ascending order). body must not throw (it would terminate the
// process) and must not fork.
//
// With n below grain.serial_threshold, a pool of one thread, or a call made from inside
// a body, body(0, n) runs once on the calling thread (no call at all when n is 0). Calls
// from several threads at once are safe: one of them has the workers, and any that
// arrives meanwhile runs its whole range on its own thread rather than waiting.
void parallel_for(std::size_t n, FunctionRef body, Grain grain = fine_grain) noexcept;

namespace detail {

// The pool's size from the two environment variables' values (nullptr when unset)
// and the number of CPUs available (0 when unknown). A value counts when it is an
// optional '+' followed by decimal digits only, and fits in size_t; anything else
// ("", " 4", "-1", "4x", "0x4", an overflow) counts as not a number. Then:
//   num_threads a number above 0      -> that number;
//   num_threads "0"                   -> cpus;
//   num_threads unset or not a number -> rs_num_cpus if it is a number above 0, else cpus;
// and cpus of 0 gives 1.
std::size_t threads_from_env(const char* num_threads, const char* rs_num_cpus,
                             std::size_t cpus) noexcept;

}  // namespace detail
}  // namespace tarnu::pool
