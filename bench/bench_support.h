// What the benchmarks share: a test signal, the counters they report, and a
// loop that times one block of work per iteration.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "synth/constants.h"

// A stereo block of noise-like samples in -1..1, well above the denormal range.
inline std::vector<float> bench_block()
{
    std::vector<float> signal(2 * kBlockSize);
    uint32_t seed = 1;
    for (float& x : signal) {
        seed = seed * 196314165u + 907633515u;
        x = static_cast<float>(static_cast<int32_t>(seed)) * 0x1p-31f;
    }
    return signal;
}

// The time per frame (per_frame, e.g. "1.7ns"), frames per second and the
// multiple of real time at 44100 Hz on one core.
inline void report_frames(benchmark::State& state, int64_t frames_per_iteration = kBlockSize)
{
    const double frames = static_cast<double>(state.iterations()) * static_cast<double>(frames_per_iteration);
    state.counters["per_frame"] = benchmark::Counter(frames, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["frames_per_s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
    state.counters["realtime_x"] = benchmark::Counter(frames / kSampleRate, benchmark::Counter::kIsRate);
}

// Runs work() once per iteration, each a block of kBlockSize frames (a
// control tick counts as the block it serves). The caller holds the
// engine's arithmetic mode (FpModeGuard) around set-up and timing alike.
template <typename Work>
void time_blocks(benchmark::State& state, Work work)
{
    for (auto _ : state) {
        work();
        benchmark::ClobberMemory();
    }
    report_frames(state);
}
