#include "tarnu/pool.hpp"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace pool = tarnu::pool;

// While set, every allocation fails: the test that sets it allocates nothing
// else meanwhile. These replace the library's allocation functions too; kept
// out of line, so that the compiler pairs each delete with its new rather
// than free with a new it cannot see is malloc.
std::atomic<bool> refuse_allocation{false};

[[gnu::noinline]] void* operator new(std::size_t size) {
  void* p = refuse_allocation ? nullptr : std::malloc(size != 0 ? size : 1);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
[[gnu::noinline]] void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return refuse_allocation ? nullptr : std::malloc(size != 0 ? size : 1);
}
[[gnu::noinline]] void* operator new[](std::size_t size) { return operator new(size); }
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete[](void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

// Four threads whatever the machine, so that workers exist even on one CPU. This runs
// before main, hence before anything can build the pool.
const bool pool_size_set = setenv("RAYON_NUM_THREADS", "4", 1) == 0;

// Empty when every call got a non-empty range inside [0, n), no chunk but the last
// was shorter than the grain's min_chunk, every index was visited exactly once, and
// (for n below the grain's serial_threshold) the caller ran it all in one call. The
// visit counts are written without a lock, so a missing wait or fence shows too.
// `chunks`, if given, receives the number of calls.
std::string coverage_fault(std::size_t n, pool::Grain grain = pool::fine_grain,
                           std::size_t* chunks = nullptr) {
  std::vector<unsigned char> hits(n, 0);
  std::mutex m;
  std::size_t calls = 0;
  bool off_caller = false, bad_range = false, short_chunk = false;
  const auto caller = std::this_thread::get_id();
  pool::parallel_for(
      n,
      [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end && i < n; ++i) ++hits[i];
        std::lock_guard lock(m);
        ++calls;
        off_caller |= std::this_thread::get_id() != caller;
        bad_range |= !(begin < end && end <= n);
        short_chunk |= end < n && end - begin < grain.min_chunk;
      },
      grain);
  if (chunks != nullptr) *chunks = calls;
  if (bad_range) return "a chunk is empty or out of range";
  if (short_chunk) return "a chunk shorter than the grain";
  for (std::size_t i = 0; i < n; ++i) {
    if (hits[i] != 1) return "index " + std::to_string(i) + " visited " + std::to_string(hits[i]);
  }
  if (n < grain.serial_threshold && (calls != (n > 0) || off_caller)) return "short range split";
  return {};
}

struct Participation {
  bool workers_ran;
  int unblocked_signals;  // summed over every chunk a worker ran
  bool all_written;
};

// The caller holds on to its first chunk until a worker has started one, so workers
// take part for sure, and each worker chunk sleeps before writing, so the caller runs
// out of chunks while workers are still busy: it must wait for them all the same.
Participation participation() {
  const auto caller = std::this_thread::get_id();
  std::atomic<int> worker_chunks{0}, unblocked{0};
  std::vector<double> out(100'000, 0.0);
  pool::parallel_for(out.size(), [&](std::size_t begin, std::size_t end) {
    if (std::this_thread::get_id() != caller) {
      sigset_t mask;
      pthread_sigmask(SIG_BLOCK, nullptr, &mask);
      for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGALRM, SIGCHLD, SIGRTMIN}) {
        unblocked += !sigismember(&mask, sig);
      }
      ++worker_chunks;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } else if (pool::thread_count() > 1) {
      const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
      while (worker_chunks == 0 && std::chrono::steady_clock::now() < give_up) {
        std::this_thread::yield();
      }
    }
    for (std::size_t i = begin; i < end; ++i) out[i] = static_cast<double>(i) + 0.5;
  });
  bool all_written = true;
  for (std::size_t i = 0; i < out.size(); ++i) all_written &= out[i] == static_cast<double>(i) + 0.5;
  return {worker_chunks > 0, unblocked, all_written};
}

std::size_t threads_in_process() {
  const std::filesystem::directory_iterator tasks("/proc/self/task");
  return static_cast<std::size_t>(std::distance(begin(tasks), end(tasks)));
}

// Runs `check` in a forked child, which dies of SIGALRM if it hangs, and expects the
// child to exit with success.
void expect_in_child(const std::function<bool()>& check) {
  const pid_t pid = fork();
  if (pid == 0) {
    alarm(10);
    _exit(check() ? 0 : 1);
  }
  int status = -1;
  waitpid(pid, &status, 0);
  ASSERT_FALSE(WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) << "child hung";
  ASSERT_TRUE(WIFEXITED(status)) << "child died of signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0) << "child's checks failed";
}

bool child_pool_works() {
  return coverage_fault(100'000).empty() && participation().workers_ran &&
         pool::thread_count() == 4 && threads_in_process() == 4;
}

TEST(Pool, ThreadsFromEnv) {
  struct Case {
    const char *num_threads, *rs_num_cpus;
    std::size_t cpus, expected;
  } const cases[] = {
      {"4", "2", 8, 4}, {"007", nullptr, 8, 7}, {"+3", nullptr, 8, 3}, {nullptr, "2", 8, 2},
      {"0", "2", 8, 8},  // 0 means "the CPUs", not "ask the other variable"
      {nullptr, nullptr, 8, 8}, {nullptr, "0", 8, 8}, {nullptr, "-2", 8, 8},
      // not a number: the second variable decides
      {"", "2", 8, 2}, {"-1", "2", 8, 2}, {" 4", "2", 8, 2}, {"0x4", "2", 8, 2},
      {"99999999999999999999999", "2", 8, 2}, {"0", nullptr, 0, 1},  // CPU count unknown
  };
  for (const Case& c : cases) {
    EXPECT_EQ(pool::detail::threads_from_env(c.num_threads, c.rs_num_cpus, c.cpus), c.expected)
        << "RAYON_NUM_THREADS=" << (c.num_threads ? c.num_threads : "(unset)")
        << " RAYON_RS_NUM_CPUS=" << (c.rs_num_cpus ? c.rs_num_cpus : "(unset)")
        << " cpus=" << c.cpus;
  }
}

TEST(Pool, EveryIndexExactlyOnce) {
  ASSERT_TRUE(pool_size_set);
  EXPECT_EQ(pool::thread_count(), 4u);
  for (const pool::Grain grain : {pool::fine_grain, pool::coarse_grain}) {
    const std::size_t t = grain.serial_threshold, c = grain.min_chunk;
    for (std::size_t n : {std::size_t{0}, std::size_t{1}, std::size_t{2}, t - 1, t, t + 1,
                          64 * c + 1, std::size_t{1'000'003}}) {
      EXPECT_EQ(coverage_fault(n, grain), "") << "n = " << n << ", grain " << t;
    }
  }
  // A range the fine grain leaves on the caller, the coarse one cuts up.
  std::size_t fine = 0, coarse = 0;
  ASSERT_EQ(coverage_fault(pool::coarse_grain.serial_threshold, pool::fine_grain, &fine), "");
  ASSERT_EQ(coverage_fault(pool::coarse_grain.serial_threshold, pool::coarse_grain, &coarse), "");
  EXPECT_EQ(fine, 1u);
  EXPECT_GT(coarse, 1u);
}

TEST(Pool, WorkersJoinWithSignalsBlockedAndCallerWaitsForThem) {
  const Participation p = participation();
  EXPECT_TRUE(p.workers_ran) << "no worker took a chunk";
  EXPECT_EQ(p.unblocked_signals, 0) << "a worker can be handed a signal";
  EXPECT_TRUE(p.all_written) << "returned before the workers' writes";
}

// Several threads submit at once, and bodies submit from inside a job, on the caller
// and on the workers: all must finish, each with its own range covered exactly once.
TEST(Pool, ConcurrentAndNestedCalls) {
  std::vector<std::string> faults(4);
  std::vector<std::thread> submitters;
  for (std::size_t t = 0; t < faults.size(); ++t) {
    submitters.emplace_back([&faults, t] {
      for (int round = 0; round < 50 && faults[t].empty(); ++round) {
        faults[t] = coverage_fault(50'000 + t);
      }
    });
  }
  for (std::thread& s : submitters) s.join();
  for (std::size_t t = 0; t < faults.size(); ++t) EXPECT_EQ(faults[t], "") << "submitter " << t;

  std::mutex m;
  std::string nested_fault;
  pool::parallel_for(16 * pool::fine_grain.serial_threshold, [&](std::size_t, std::size_t) {
    const std::string fault = coverage_fault(4 * pool::fine_grain.serial_threshold);
    std::lock_guard lock(m);
    if (nested_fault.empty()) nested_fault = fault;
  });
  EXPECT_EQ(nested_fault, "");
}

// The child has only the forking thread: it must build its own pool, from the
// environment as it is in the child, with exactly that many threads.
// No memory for the pool is reported, never fatal: ranges then run whole on
// their caller, and the pool is built once there is memory again.
TEST(Pool, NoMemoryForThePoolIsReportedNotFatal) {
  refuse_allocation = true;
  const bool started = pool::start();
  const std::size_t threads = pool::thread_count();
  std::atomic<std::size_t> calls{0}, covered{0};
  pool::parallel_for(1 << 20, [&](std::size_t begin, std::size_t end) {
    calls += 1;
    covered += end - begin;
  });
  refuse_allocation = false;
  EXPECT_FALSE(started);
  EXPECT_EQ(threads, 1u);
  EXPECT_EQ(calls, 1u);
  EXPECT_EQ(covered, std::size_t{1} << 20);
  EXPECT_TRUE(pool::start());
  EXPECT_EQ(pool::thread_count(), 4u);
}

TEST(Pool, ForkAfterUse) {
#ifdef __SANITIZE_ADDRESS__
  // GCC 12's AddressSanitizer can hand a forked child its allocator's lock
  // held (by a worker of the parent), whatever the pool does; the plain build
  // runs this test.
  GTEST_SKIP() << "a child forked from a threaded process can hang in ASan's allocator";
#endif
  ASSERT_EQ(coverage_fault(100'000), "");
  expect_in_child(child_pool_works);
  expect_in_child([] {
    setenv("RAYON_NUM_THREADS", "1", 1);
    return coverage_fault(100'000).empty() && !participation().workers_ran &&
           pool::thread_count() == 1 && threads_in_process() == 1;
  });
  EXPECT_EQ(coverage_fault(100'000), "");  // the parent's pool is untouched
}

}  // namespace
