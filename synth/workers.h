// A small pool of rendering threads, created at start-up and handed to the
// engines that may use it: each block, the engine splits its channels into
// one job per thread, runs job 0 on the calling thread and the others on the
// pool, and waits for them before the master section. Every pool thread sets
// the engine's arithmetic mode itself. Engines without a pool (the default,
// and any engine inside a plugin) render on the caller's thread only.
#pragma once

#include <cstdint>

struct SynthWorkers;

using WorkerJob = void (*)(void* context, int job);

constexpr int kMaxWorkerThreads = 15;  // besides the caller's: one per channel in all

// A pool for `threads` rendering threads in all, the caller's included, so
// threads - 1 new ones; null when threads < 2 or no thread could be started.
SynthWorkers* synth_workers_create(int threads);
void synth_workers_destroy(SynthWorkers* workers);
// The rendering threads in all, the caller's included.
int synth_workers_threads(const SynthWorkers& workers);
// Runs job(context, k) once for each k in 0..jobs-1 (jobs <= the thread
// count): the caller and the pool's threads claim them in turn, so a pool
// thread the system has not scheduled yet holds nothing up; returns when all
// are done. A job must not depend on the thread that runs it.
void synth_workers_run(SynthWorkers& workers, int jobs, WorkerJob job, void* context);
// The machine's cores, at least 1.
int synth_machine_cores();
