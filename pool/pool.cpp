#include "tarnu/pool.hpp"

#include <pthread.h>
#include <sched.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <exception>
#include <thread>

namespace tarnu::pool {
namespace {

// One parallel_for call. It lives on the caller's stack: the caller does not return
// before every worker that picked it up has let go of it (`users` back to 0).
struct Job {
  FunctionRef body;
  std::size_t n;
  std::size_t chunk;
  std::size_t chunks;
  // Next chunk to claim. Relaxed is enough: the fields above are published under the
  // pool mutex, and results reach the caller through that mutex too.
  std::atomic<std::size_t> next{0};
  std::size_t users = 0;  // workers inside this job; guarded by Pool::mutex
};

struct Pool {
  std::size_t size = 1;  // workers + the caller; fixed once the pool is published
  std::mutex mutex;
  std::condition_variable wake;  // workers wait here for a new generation
  std::condition_variable done;  // the caller waits here for its job's users to leave
  Job* job = nullptr;            // the running job, or nullptr between jobs
  std::uint64_t generation = 0;  // bumped for every job, so a late waker can tell
};

// The fork handlers reset these, so they are globals rather than Pool members. The
// pool itself is never freed: workers wait on its members until the process ends,
// and in a forked child the old one is simply abandoned along with its (absent) workers.
std::atomic<Pool*> instance{nullptr};
std::mutex create_mutex;  // held while a pool is built
std::mutex job_mutex;     // held by the one caller whose job the workers run

// Set on worker threads for good, and on a caller while it runs chunks of its own
// job, so that a parallel_for from inside a body stays on its thread instead of
// waiting for the workers it is itself keeping busy.
thread_local bool in_job = false;

void run_chunks(Job& job) noexcept {
  for (;;) {
    const std::size_t c = job.next.fetch_add(1, std::memory_order_relaxed);
    if (c >= job.chunks) return;
    const std::size_t begin = c * job.chunk;
    const std::size_t end = job.n - begin > job.chunk ? begin + job.chunk : job.n;
    job.body(begin, end);
  }
}

void work(Pool* pool) noexcept {
  in_job = true;
  std::uint64_t seen = 0;
  std::unique_lock lock(pool->mutex);
  for (;;) {
    pool->wake.wait(lock, [&] { return pool->generation != seen; });
    seen = pool->generation;
    Job* job = pool->job;
    if (job == nullptr) continue;  // woke after that job was over
    ++job->users;
    lock.unlock();
    run_chunks(*job);
    // Retaking the mutex orders this worker's writes before the caller's reads.
    lock.lock();
    if (--job->users == 0) pool->done.notify_one();
  }
}

std::size_t cpus_available() noexcept {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) return 0;
  return static_cast<std::size_t>(CPU_COUNT(&set));
}

// nullptr when there is no memory for the pool itself.
Pool* build_pool() noexcept {
  const std::size_t wanted = detail::threads_from_env(
      std::getenv("RAYON_NUM_THREADS"), std::getenv("RAYON_RS_NUM_CPUS"), cpus_available());
  auto* pool = new (std::nothrow) Pool;
  if (pool == nullptr) return nullptr;
  // A new thread inherits its creator's signal mask. Blocking everything around the
  // creation leaves the workers unable to take any signal, so SIGINT and friends are
  // always delivered to a thread that the interpreter knows about.
  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  std::size_t started = 0;
  try {
    for (; started + 1 < wanted; ++started) std::thread(work, pool).detach();
  } catch (const std::exception&) {
    // Out of threads, or of memory for one: the pool is as large as what did
    // start.
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  pool->size = started + 1;
  return pool;
}

// The pool, built if there is none; nullptr when it cannot be (the next
// call tries again).
Pool* get_pool() noexcept {
  // cppcheck-suppress constVariable ; the caller gets the pool to run jobs on
  if (Pool* pool = instance.load(std::memory_order_acquire)) return pool;
  std::lock_guard lock(create_mutex);
  Pool* pool = instance.load(std::memory_order_relaxed);
  if (pool == nullptr) {
    pool = build_pool();
    instance.store(pool, std::memory_order_release);
  }
  return pool;
}

// fork() copies only the forking thread. Holding both mutexes across it means the
// child never inherits one locked by a thread that no longer exists, nor a half-built
// pool; the child then forgets the parent's pool, whose workers it does not have.
void before_fork() noexcept {
  create_mutex.lock();
  job_mutex.lock();
}
void after_fork_in_parent() noexcept {
  job_mutex.unlock();
  create_mutex.unlock();
}
void after_fork_in_child() noexcept {
  instance.store(nullptr, std::memory_order_relaxed);
  job_mutex.unlock();
  create_mutex.unlock();
}

// Registered when the module is loaded rather than at first use, so that no fork can
// fall between a pool starting to be built and its handlers existing.
[[maybe_unused]] const int fork_handlers =
    pthread_atfork(before_fork, after_fork_in_parent, after_fork_in_child);

std::optional<std::size_t> parse_count(const char* text) noexcept {
  if (text == nullptr) return std::nullopt;
  if (*text == '+') ++text;
  const char* end = text + std::strlen(text);
  std::size_t value;
  const auto [stop, error] = std::from_chars(text, end, value, 10);
  if (error != std::errc() || stop != end) return std::nullopt;
  return value;
}

}  // namespace

std::size_t detail::threads_from_env(const char* num_threads, const char* rs_num_cpus,
                                     std::size_t cpus) noexcept {
  const std::size_t fallback = cpus > 0 ? cpus : 1;
  if (const auto count = parse_count(num_threads)) return *count > 0 ? *count : fallback;
  if (const auto count = parse_count(rs_num_cpus); count && *count > 0) return *count;
  return fallback;
}

bool start() noexcept { return get_pool() != nullptr; }

std::size_t thread_count() noexcept {
  const Pool* pool = get_pool();
  return pool != nullptr ? pool->size : 1;
}

void parallel_for(std::size_t n, FunctionRef body, Grain grain) noexcept {
  if (n == 0) return;
  if (n < grain.serial_threshold || in_job) return body(0, n);
  Pool* built = get_pool();
  if (built == nullptr) return body(0, n);  // no memory for a pool: the caller alone
  Pool& pool = *built;
  // While another thread's job has the workers, this range runs here instead: no
  // caller queues behind another, and a body that submits work cannot deadlock.
  std::unique_lock turn(job_mutex, std::try_to_lock);
  if (pool.size == 1 || !turn.owns_lock()) return body(0, n);

  const std::size_t share = 4 * pool.size;  // about four chunks per thread
  const std::size_t chunk = std::max(grain.min_chunk, n / share + (n % share != 0));
  Job job{body, n, chunk, n / chunk + (n % chunk != 0)};
  const std::size_t helpers = std::min(pool.size - 1, job.chunks - 1);

  std::unique_lock lock(pool.mutex);
  pool.job = &job;
  ++pool.generation;
  if (helpers == pool.size - 1) {
    pool.wake.notify_all();
  } else {
    for (std::size_t i = 0; i < helpers; ++i) pool.wake.notify_one();
  }
  lock.unlock();

  in_job = true;
  run_chunks(job);
  in_job = false;

  // Every chunk is claimed now. Unpublishing the job keeps late wakers out; those
  // already inside finish their chunks and leave, and the last one wakes us. Waiting
  // on the mutex also acquires every write they made.
  lock.lock();
  pool.job = nullptr;
  pool.done.wait(lock, [&] { return job.users == 0; });
}

}  // namespace tarnu::pool
