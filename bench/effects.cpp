// Cost of the engine's effects per frame (ns/frame) on 128-frame blocks:
// the delay in both forms, the dynamics processor in each detector mode, the
// reverb and the low shelf.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include "synth/constants.h"
#include "synth/delay.h"
#include "synth/dynamics.h"
#include "synth/fp_mode.h"
#include "synth/reverb.h"
#include "synth/shelf.h"

namespace {

constexpr int32_t kFrames = kBlockSize;

// A stereo block with some movement in it, well above the denormal range.
std::vector<float> bench_block()
{
    std::vector<float> frames(2 * kFrames);
    for (int32_t i = 0; i < kFrames; ++i) {
        frames[2 * i] = 0.5f * std::sin(0.07f * static_cast<float>(i));
        frames[2 * i + 1] = 0.4f * std::cos(0.113f * static_cast<float>(i));
    }
    return frames;
}

void count_frames(benchmark::State& state)
{
    const double frames = static_cast<double>(state.iterations()) * kFrames;
    state.SetItemsProcessed(static_cast<int64_t>(frames));
    // Shown as a time per frame (ns).
    state.counters["per_frame"] =
        benchmark::Counter(frames, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Chorus-like settings: modulated, some feedback, half wet.
constexpr float kDelaySettings[7] = {96.0f, 90.0f, 40.0f, 44.0f, 80.0f, 30.0f, 100.0f};

void BM_DelayInsert(benchmark::State& state)
{
    FpModeGuard mode;
    std::vector<float> rings(2 * kChannelDelayFrames);
    DelayState delay{};
    delay.ring_left = rings.data();
    delay.ring_right = rings.data() + kChannelDelayFrames;
    delay.mask = kChannelDelayFrames - 1;
    delay_reset(delay);
    delay_setup(delay, kDelaySettings, RateConstants{});
    const std::vector<float> input = bench_block();
    std::vector<float> frames = input;
    for (auto _ : state) {
        frames = input;
        delay_render_insert(delay, frames.data(), kFrames);
        benchmark::DoNotOptimize(frames.data());
    }
    count_frames(state);
}
BENCHMARK(BM_DelayInsert);

void BM_DelaySend(benchmark::State& state)
{
    FpModeGuard mode;
    std::vector<float> rings(2 * kGlobalDelayFrames);
    DelayState delay{};
    delay.ring_left = rings.data();
    delay.ring_right = rings.data() + kGlobalDelayFrames;
    delay.mask = kGlobalDelayFrames - 1;
    delay_reset(delay);
    delay_setup(delay, kDelaySettings, RateConstants{});
    const std::vector<float> block = bench_block();
    const std::vector<float> send(block.begin(), block.begin() + kFrames);
    std::vector<float> master(2 * kFrames, 0.0f);
    for (auto _ : state) {
        delay_render_send(delay, send.data(), master.data(), kFrames);
        benchmark::DoNotOptimize(master.data());
        benchmark::ClobberMemory();
    }
    count_frames(state);
}
BENCHMARK(BM_DelaySend);

// Argument: detector q0 (1 peak, 2 RMS) and q1 (0 linked, 1 per side).
void BM_Dynamics(benchmark::State& state)
{
    FpModeGuard mode;
    auto dyn = std::make_unique<DynamicsState>();
    dynamics_init(*dyn);
    // Threshold below the signal so the gain computer works every frame.
    const float q[9] = {static_cast<float>(state.range(0)), static_cast<float>(state.range(1)),
                        0.0f, 5.0f, 40.0f, 96.0f, 40.0f, 60.0f, 64.0f};
    dynamics_setup(*dyn, q);
    std::vector<float> detector(2 * kFrames);
    const std::vector<float> input = bench_block();
    std::vector<float> frames = input;
    for (auto _ : state) {
        frames = input;
        dynamics_render(*dyn, frames.data(), kFrames, detector.data());
        benchmark::DoNotOptimize(frames.data());
    }
    count_frames(state);
}
BENCHMARK(BM_Dynamics)->ArgNames({"q0", "q1"})->Args({1, 0})->Args({1, 1})->Args({2, 0})->Args({2, 1});

void BM_Reverb(benchmark::State& state)
{
    FpModeGuard mode;
    auto reverb = std::make_unique<ReverbState>();
    reverb_reset(*reverb);
    const float q[4] = {60.0f, 90.0f, 20.0f, 100.0f};
    reverb_setup(*reverb, q, 1.0f);
    const std::vector<float> block = bench_block();
    const std::vector<float> send(block.begin(), block.begin() + kFrames);
    std::vector<float> master(2 * kFrames, 0.0f);
    for (auto _ : state) {
        reverb_render(*reverb, send.data(), master.data(), kFrames);
        benchmark::DoNotOptimize(master.data());
        benchmark::ClobberMemory();
    }
    count_frames(state);
}
BENCHMARK(BM_Reverb);

void BM_Shelf(benchmark::State& state)
{
    FpModeGuard mode;
    ShelfEqState eq{};
    shelf_setup(eq, 100.0f, RateConstants{});
    const std::vector<float> input = bench_block();
    std::vector<float> frames = input;
    for (auto _ : state) {
        frames = input;
        shelf_render(eq, frames.data(), kFrames);
        benchmark::DoNotOptimize(frames.data());
    }
    count_frames(state);
}
BENCHMARK(BM_Shelf);

}  // namespace
