// Cost of the signal units per frame (render) or per control tick, at the
// engine's block length of 128 frames and under the engine's arithmetic mode.
#include "bench/bench_support.h"
#include "synth/fp_mode.h"
#include "synth/units/distortion.h"
#include "synth/units/envelope.h"
#include "synth/units/filter.h"
#include "synth/units/lfo.h"
#include "synth/units/oscillator.h"
#include "tests/support/param_slices.h"

namespace {

// Argument: the mode, 1 ramp, 2 pulse, 3 sine, 4 noise, 5 phase modulation.
void BM_OscillatorRender(benchmark::State& state)
{
    FpModeGuard fp;
    OscillatorState osc{};
    oscillator_reset(osc, 1);
    osc.note = 69.0f;
    const auto p = values(
        OscillatorParams<float>{.mode = static_cast<float>(state.range(0)), .detune = 70, .colour = 40, .gain = 100});
    oscillator_setup(osc, p.data(), RateConstants{});
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
    const auto p =
        values(FilterParams<float>{.mode = static_cast<float>(state.range(0)), .cutoff = 80, .resonance = 40});
    filter_setup(filter, p.data(), RateConstants{});
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
    const auto p =
        values(DistortionParams<float>{.mode = static_cast<float>(state.range(0)), .drive = 48, .a = 90, .b = 70});
    distortion_setup(unit, p.data(), RateConstants{});
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
    const auto p = values(
        EnvelopeParams<float>{.attack = 20, .decay = 60, .sustain = 50, .slope = 60, .release = 70, .gain = 128});
    envelope_setup(env, p.data());
    envelope_reset(env);
    int32_t tick = 0;
    time_blocks(state, [&] {
        envelope_setup(env, p.data());
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
    const auto p = values(LfoParams<float>{
        .waveform = static_cast<float>(state.range(0)), .rate = 90, .polarity = kLfoBipolar, .amount = 100});
    time_blocks(state, [&] {
        lfo_setup(lfo, p.data());
        lfo_tick(lfo);
        benchmark::DoNotOptimize(lfo.out);
    });
}
BENCHMARK(BM_LfoTick)->DenseRange(0, 4);

}  // namespace
