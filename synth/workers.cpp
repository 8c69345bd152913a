#include "synth/workers.h"

#include <linux/futex.h>
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <ctime>
#include <cstdlib>
#include <new>

#include "synth/fp_mode.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

// A block's jobs take tens of microseconds, and the master section between
// two rounds about ten more; a sleeping thread takes longer than that to
// wake. A waiting thread spins first (timed by the clock, read every few
// pauses, whatever a pause costs on the machine), then yields its core until
// the longer mark, so that a thread of ours the system has put aside on a
// busy machine can run there, and only then sleeps.
constexpr int64_t kSpinNanoseconds = 10000;
constexpr int64_t kYieldNanoseconds = 50000;
constexpr uint32_t kPausesPerClockRead = 16;

int64_t monotonic_ns()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

inline void spin_pause()
{
#if defined(__x86_64__) || defined(__i386__)
    _mm_pause();
#endif
}

// The kernel's wait on a word: sleeps while it holds `from`; a wake ends it.
void futex_wait(const std::atomic<uint32_t>& word, uint32_t from)
{
    syscall(SYS_futex, reinterpret_cast<const uint32_t*>(&word), FUTEX_WAIT_PRIVATE, from, nullptr, nullptr, 0);
}

void futex_wake_all(std::atomic<uint32_t>& word)
{
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAKE_PRIVATE, INT32_MAX, nullptr, nullptr, 0);
}

// Waits until value differs from `from`, spinning first; sleepers counts the
// threads asleep on it, so a change wakes the kernel only when one is.
uint32_t wait_change(const std::atomic<uint32_t>& value, uint32_t from, std::atomic<int32_t>& sleepers)
{
    const int64_t start = monotonic_ns();
    for (uint32_t i = 1;; ++i) {
        const uint32_t now = value.load(std::memory_order_acquire);
        if (now != from) return now;
        spin_pause();
        if (i % kPausesPerClockRead == 0 && monotonic_ns() - start > kSpinNanoseconds) break;
    }
    for (;;) {
        const uint32_t now = value.load(std::memory_order_acquire);
        if (now != from) return now;
        if (monotonic_ns() - start > kYieldNanoseconds) break;
        sched_yield();
    }
    for (;;) {
        sleepers.fetch_add(1);
        uint32_t now = value.load();
        if (now == from) futex_wait(value, from);
        sleepers.fetch_sub(1);
        now = value.load(std::memory_order_acquire);
        if (now != from) return now;
    }
}

// Changes value and wakes whoever sleeps on it.
void publish(std::atomic<uint32_t>& value, uint32_t delta, std::atomic<int32_t>& sleepers)
{
    value.fetch_add(delta);
    if (sleepers.load() > 0) futex_wake_all(value);
}

}  // namespace

// What a pool thread starts with: its pool and its own job's index.
struct WorkerStart {
    SynthWorkers* workers;
    int index;
};

// Allocated with malloc, as everything the player allocates: the player
// links no C++ runtime library.
struct SynthWorkers {
    pthread_t pool[kMaxWorkerThreads];
    WorkerStart starts[kMaxWorkerThreads];
    int started = 0;                                     // threads in the pool
    std::atomic<uint32_t> generation{0};                 // counts the rounds handed out
    std::atomic<uint32_t> finished{0};                   // counts the jobs done, all rounds
    std::atomic<uint32_t> taken[kMaxWorkerThreads + 1];  // per job: 1 once a thread has it
    std::atomic<int32_t> generation_sleepers{0};
    std::atomic<int32_t> finished_sleepers{0};
    std::atomic<bool> stopping{false};
    std::atomic<int> jobs{0};  // of the current round
    WorkerJob job = nullptr;
    void* context = nullptr;
};

namespace {

// Runs the jobs of the current round that nobody has taken yet, starting
// with the thread's own (job k for pool thread k, job 0 for the caller), so
// each thread keeps its channels, and their memory stays in its cache; a
// thread that comes late finds its job taken and returns. Nobody waits on a
// thread that has not started: the others run what it left.
void run_jobs(SynthWorkers& workers, int own, bool pool_thread)
{
    const int jobs = workers.jobs.load(std::memory_order_acquire);
    for (int k = 0; k < jobs; ++k) {
        const int j = (own + k) % jobs;
        if (workers.taken[j].exchange(1, std::memory_order_acq_rel) != 0) continue;
        if (pool_thread) {
            FpModeGuard mode;
            workers.job(workers.context, j);
        } else {
            workers.job(workers.context, j);
        }
        publish(workers.finished, 1, workers.finished_sleepers);
    }
}

void worker_loop(SynthWorkers* workers, int index)
{
    uint32_t seen = 0;
    for (;;) {
        seen = wait_change(workers->generation, seen, workers->generation_sleepers);
        if (workers->stopping.load(std::memory_order_acquire)) return;
        run_jobs(*workers, index, true);
    }
}

void* worker_main(void* argument)
{
    const WorkerStart& start = *static_cast<const WorkerStart*>(argument);
    worker_loop(start.workers, start.index);
    return nullptr;
}

}  // namespace

SynthWorkers* synth_workers_create(int threads)
{
    if (threads < 2) return nullptr;
    if (threads > kMaxWorkerThreads + 1) threads = kMaxWorkerThreads + 1;
    void* memory = std::malloc(sizeof(SynthWorkers));
    if (memory == nullptr) return nullptr;
    auto* workers = new (memory) SynthWorkers;
    for (std::atomic<uint32_t>& taken : workers->taken) taken.store(1, std::memory_order_relaxed);
    for (int k = 1; k < threads; ++k) {
        WorkerStart& start = workers->starts[workers->started];
        start = {workers, k};
        if (pthread_create(&workers->pool[workers->started], nullptr, worker_main, &start) != 0) {
            synth_workers_destroy(workers);
            return nullptr;
        }
        ++workers->started;
    }
    return workers;
}

void synth_workers_destroy(SynthWorkers* workers)
{
    if (workers == nullptr) return;
    workers->stopping.store(true, std::memory_order_release);
    publish(workers->generation, 1, workers->generation_sleepers);
    for (int k = 0; k < workers->started; ++k) pthread_join(workers->pool[k], nullptr);
    workers->~SynthWorkers();
    std::free(workers);
}

int synth_workers_threads(const SynthWorkers& workers)
{
    return workers.started + 1;
}

void synth_workers_run(SynthWorkers& workers, int jobs, WorkerJob job, void* context)
{
    const uint32_t target = workers.finished.load(std::memory_order_relaxed) + static_cast<uint32_t>(jobs);
    workers.job = job;
    workers.context = context;
    workers.jobs.store(jobs, std::memory_order_release);
    for (int j = 0; j < jobs; ++j) workers.taken[j].store(0, std::memory_order_release);
    publish(workers.generation, 1, workers.generation_sleepers);
    run_jobs(workers, 0, false);
    uint32_t finished = workers.finished.load(std::memory_order_acquire);
    while (finished != target) finished = wait_change(workers.finished, finished, workers.finished_sleepers);
}

int synth_machine_cores()
{
    const long cores = sysconf(_SC_NPROCESSORS_ONLN);
    return cores < 1 ? 1 : static_cast<int>(cores);
}
