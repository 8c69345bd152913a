// Cost of the signal units per frame (render) or per control tick, at the
// engine's block length of 128 frames and under the engine's arithmetic mode.
#include <benchmark/benchmark.h>

#include <array>

#include "synth/fp_mode.h"
#include "synth/units/distortion.h"
#include "synth/units/envelope.h"
#include "synth/units/filter.h"
#include "synth/units/lfo.h"
#include "synth/units/oscillator.h"

namespace {

constexpr int kFrames = kBlockSize;

// Reports the time per frame (per_frame, e.g. "1.7ns") beside the time per block.
void count_frames(benchmark::State& state, int64_t frames_per_iteration)
{
    const int64_t frames = static_cast<int64_t>(state.iterations()) * frames_per_iteration;
    state.SetItemsProcessed(frames);
    state.counters["per_frame"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

std::array<float, 2 * kFrames> test_signal()
{
    std::array<float, 2 * kFrames> signal{};
    uint32_t seed = 1;
    for (float& x : signal) {
        seed = seed * 196314165u + 907633515u;
        x = static_cast<float>(static_cast<int32_t>(seed)) * 0x1p-31f;
    }
    return signal;
}

void BM_OscillatorRender(benchmark::State& state)
{
    FpModeGuard fp;
    OscillatorState osc{};
    oscillator_reset(osc);
    osc.note = 69.0f;
    const float p[6] = {static_cast<float>(state.range(0)), 0.0f, 64.0f, 70.0f, 40.0f, 100.0f};
    oscillator_setup(osc, p, RateConstants{});
    std::array<float, 2 * kFrames> buffer = test_signal();
    for (auto _ : state) {
        oscillator_render(osc, buffer.data(), kFrames);
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    count_frames(state, kFrames);
}
// 1 ramp, 2 pulse, 3 sine, 4 noise, 5 phase modulation.
BENCHMARK(BM_OscillatorRender)->DenseRange(1, 5);

void BM_FilterRender(benchmark::State& state)
{
    FpModeGuard fp;
    FilterState filter{};
    filter_reset(filter);
    const float p[3] = {static_cast<float>(state.range(0)), 80.0f, 40.0f};
    filter_setup(filter, p, RateConstants{});
    std::array<float, 2 * kFrames> in = test_signal(), out{};
    for (auto _ : state) {
        filter_render(filter, in.data(), out.data(), kFrames);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    count_frames(state, kFrames);
}
// 1 low, 2 band, 3 high, 4 notch, 5 all.
BENCHMARK(BM_FilterRender)->DenseRange(1, 5);

DistortionUnit distortion_for(benchmark::State& state)
{
    DistortionUnit unit{};
    distortion_reset(unit);
    const float p[4] = {static_cast<float>(state.range(0)), 48.0f, 90.0f, 70.0f};
    distortion_setup(unit, p, RateConstants{});
    return unit;
}

void BM_DistortionMono(benchmark::State& state)
{
    FpModeGuard fp;
    DistortionUnit unit = distortion_for(state);
    std::array<float, 2 * kFrames> in = test_signal(), out{};
    for (auto _ : state) {
        distortion_render_mono(unit, in.data(), out.data(), kFrames);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    count_frames(state, kFrames);
}
// 1 overdrive, 2 clip, 3 bit crusher, 4 rate reducer, 5 filter (low-pass).
BENCHMARK(BM_DistortionMono)->DenseRange(1, 5);

void BM_DistortionStereo(benchmark::State& state)
{
    FpModeGuard fp;
    DistortionUnit unit = distortion_for(state);
    std::array<float, 2 * kFrames> in = test_signal(), out{};
    for (auto _ : state) {
        distortion_render_stereo(unit, in.data(), out.data(), kFrames);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    count_frames(state, kFrames);
}
BENCHMARK(BM_DistortionStereo)->DenseRange(1, 5);

// Control-rate units: one tick per block, so ns/frame is the tick's cost
// spread over the block's frames.
void BM_EnvelopeTick(benchmark::State& state)
{
    FpModeGuard fp;
    EnvelopeState env{};
    const float p[6] = {20.0f, 60.0f, 50.0f, 60.0f, 70.0f, 128.0f};
    envelope_setup(env, p);
    envelope_reset(env);
    int32_t tick = 0;
    for (auto _ : state) {
        envelope_setup(env, p);
        envelope_tick(env, (tick++ & 1023) < 700);  // attack, decay, sustain and release in turn
        benchmark::DoNotOptimize(env.out);
    }
    count_frames(state, kFrames);
}
BENCHMARK(BM_EnvelopeTick);

void BM_LfoTick(benchmark::State& state)
{
    FpModeGuard fp;
    LfoState lfo{};
    lfo_reset(lfo);
    const float p[7] = {static_cast<float>(state.range(0)), 0.0f, 0.0f, 90.0f, 0.0f, 2.0f, 100.0f};
    for (auto _ : state) {
        lfo_setup(lfo, p);
        lfo_tick(lfo);
        benchmark::DoNotOptimize(lfo.out);
    }
    count_frames(state, kFrames);
}
// 0 saw, 1 triangle, 2 square, 3 sine, 4 sample and hold.
BENCHMARK(BM_LfoTick)->DenseRange(0, 4);

}  // namespace
