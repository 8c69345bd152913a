// Cost of the signal units per frame (render) or per control tick, at the
// engine's block length of 128 frames and under the engine's arithmetic mode.
#include "bench/bench_support.h"
#include "synth/fp_mode.h"
#include "synth/units/distortion.h"
#include "synth/units/envelope.h"
#include "synth/units/filter.h"
#include "synth/units/lfo.h"
#include "synth/units/oscillator.h"

namespace {

// Argument: the mode, 1 ramp, 2 pulse, 3 sine, 4 noise, 5 phase modulation.
void BM_OscillatorRender(benchmark::State& state)
{
    FpModeGuard fp;
    OscillatorState osc{};
    oscillator_reset(osc, 1);
    osc.note = 69.0f;
    const float p[6] = {static_cast<float>(state.range(0)), 0.0f, 64.0f, 70.0f, 40.0f, 100.0f};
    oscillator_setup(osc, p, RateConstants{});
    std::vector<float> buffer = bench_block();
    time_blocks(state, [&] { oscillator_render(osc, buffer.data(), kBlockSize); });
}
BENCHMARK(BM_OscillatorRender)->DenseRange(1, 5);

// Argument: the response, 1 low, 2 band, 3 high, 4 notch, 5 all.
void BM_FilterRender(benchmark::State& state)
{
    FpModeGuard fp;
    FilterState filter{};
    filter_reset(filter);
    const float p[3] = {static_cast<float>(state.range(0)), 80.0f, 40.0f};
    filter_setup(filter, p, RateConstants{});
    const std::vector<float> in = bench_block();
    std::vector<float> out(in.size());
    time_blocks(state, [&] { filter_render(filter, in.data(), out.data(), kBlockSize); });
}
BENCHMARK(BM_FilterRender)->DenseRange(1, 5);

// Arguments: the mode (1 overdrive, 2 clip, 3 bit crusher, 4 rate reducer,
// 5 low-pass filter) and 0 for the voice's mono form, 1 for the channel's stereo form.
void BM_DistortionRender(benchmark::State& state)
{
    FpModeGuard fp;
    DistortionUnit unit{};
    distortion_reset(unit);
    const float p[4] = {static_cast<float>(state.range(0)), 48.0f, 90.0f, 70.0f};
    distortion_setup(unit, p, RateConstants{});
    const std::vector<float> in = bench_block();
    std::vector<float> out(in.size());
    const auto render = state.range(1) ? distortion_render_stereo : distortion_render_mono;
    time_blocks(state, [&] { render(unit, in.data(), out.data(), kBlockSize); });
}
BENCHMARK(BM_DistortionRender)->ArgsProduct({benchmark::CreateDenseRange(1, 5, 1), {0, 1}});

// Control-rate units: one set-up and tick per block, so ns/frame is their
// cost spread over the block's frames.
void BM_EnvelopeTick(benchmark::State& state)
{
    FpModeGuard fp;
    EnvelopeState env{};
    const float p[6] = {20.0f, 60.0f, 50.0f, 60.0f, 70.0f, 128.0f};
    envelope_setup(env, p);
    envelope_reset(env);
    int32_t tick = 0;
    time_blocks(state, [&] {
        envelope_setup(env, p);
        envelope_tick(env, (tick++ & 1023) < 700);  // attack, decay, sustain and release in turn
        benchmark::DoNotOptimize(env.out);
    });
}
BENCHMARK(BM_EnvelopeTick);

// Argument: the waveform, 0 saw, 1 triangle, 2 square, 3 sine, 4 sample and hold.
void BM_LfoTick(benchmark::State& state)
{
    FpModeGuard fp;
    LfoState lfo{};
    lfo_reset(lfo, 1);
    const float p[7] = {static_cast<float>(state.range(0)), 0.0f, 0.0f, 90.0f, 0.0f, 2.0f, 100.0f};
    time_blocks(state, [&] {
        lfo_setup(lfo, p);
        lfo_tick(lfo);
        benchmark::DoNotOptimize(lfo.out);
    });
}
BENCHMARK(BM_LfoTick)->DenseRange(0, 4);

}  // namespace
