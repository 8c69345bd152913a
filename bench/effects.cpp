// Cost of the engine's effects per frame (ns/frame) on 128-frame blocks:
// the delay in both forms, the dynamics processor with each detector, the
// reverb and the low shelf.
#include <memory>

#include "bench/bench_support.h"
#include "synth/delay.h"
#include "synth/dynamics.h"
#include "synth/fp_mode.h"
#include "synth/reverb.h"
#include "synth/shelf.h"
#include "tests/support/param_slices.h"

namespace {

// Argument: 0 the channel's insert form, 1 the global send form. Chorus-like
// settings: modulated, some feedback, half wet.
void BM_Delay(benchmark::State& state)
{
    FpModeGuard mode;
    const bool send = state.range(0) != 0;
    const int32_t ring = send ? kGlobalDelayFrames : kChannelDelayFrames;
    std::vector<float> rings(2 * static_cast<size_t>(ring));
    DelayState delay{};
    delay.ring_left = rings.data();
    delay.ring_right = rings.data() + ring;
    delay.mask = ring - 1;
    delay_reset(delay);
    const auto p = values(DelayParams<float>{
        .mix = 96, .feedback = 90, .left = 40, .right = 44, .rate = 80, .depth = 30, .stereo_phase = 100});
    delay_setup(delay, p.data(), RateConstants{});
    const std::vector<float> input = bench_block();
    std::vector<float> frames = input;
    time_blocks(state, [&] {
        if (send) {
            delay_render_send(delay, input.data(), frames.data(), kBlockSize);
        } else {
            frames = input;
            delay_render_insert(delay, frames.data(), kBlockSize);
        }
    });
}
BENCHMARK(BM_Delay)->ArgNames({"send"})->Arg(0)->Arg(1);

// Argument: the detector, 1 peak (per side), 2 RMS (linked). The threshold
// lies below the signal so the gain computer works every frame.
void BM_Dynamics(benchmark::State& state)
{
    FpModeGuard mode;
    auto dyn = std::make_unique<DynamicsState>();
    dynamics_init(*dyn);
    const auto p = values(DynamicsParams<float>{.detector = static_cast<float>(state.range(0)),
                                                .stereo = state.range(0) == 1 ? 1.0f : 0.0f,
                                                .look_ahead = 5,
                                                .threshold = 40,
                                                .ratio = 96,
                                                .attack = 40,
                                                .release = 60});
    dynamics_setup(*dyn, p.data());
    std::vector<float> detector(2 * kBlockSize);
    const std::vector<float> input = bench_block();
    std::vector<float> frames = input;
    time_blocks(state, [&] {
        frames = input;
        dynamics_render(*dyn, frames.data(), kBlockSize, detector.data());
    });
}
BENCHMARK(BM_Dynamics)->ArgNames({"detector"})->Arg(1)->Arg(2);

void BM_Reverb(benchmark::State& state)
{
    FpModeGuard mode;
    auto reverb = std::make_unique<ReverbState>();
    reverb_reset(*reverb);
    const auto p = values(ReverbParams<float>{.decay = 60, .damping = 90, .low_cut = 20, .input = 100});
    reverb_setup(*reverb, p.data(), 1.0f);
    const std::vector<float> send = bench_block();
    std::vector<float> master(2 * kBlockSize, 0.0f);
    time_blocks(state, [&] { reverb_render(*reverb, send.data(), master.data(), kBlockSize); });
}
BENCHMARK(BM_Reverb);

void BM_Shelf(benchmark::State& state)
{
    FpModeGuard mode;
    ShelfEqState eq{};
    shelf_setup(eq, 100.0f, RateConstants{});
    const std::vector<float> input = bench_block();
    std::vector<float> frames = input;
    time_blocks(state, [&] {
        frames = input;
        shelf_render(eq, frames.data(), kBlockSize);
    });
}
BENCHMARK(BM_Shelf);

}  // namespace
