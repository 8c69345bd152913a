#include "synth/units/lfo.h"

#include <gtest/gtest.h>

#include <vector>

#include "synth/fp_mode.h"
#include "synth/units/numeric.h"
#include "tests/support/param_slices.h"

namespace {

constexpr float kJustBelowOne = 1.0f - 0x1p-23f;
using Outputs = std::vector<float>;

// random: the sample-and-hold generator's first word.
LfoState make_lfo(float waveform, float key_sync, float one_shot, float rate, float start = 0, float polarity = 0,
                  float amount = 1, uint32_t random = 0)
{
    LfoState lfo{};
    lfo_reset(lfo, random);
    const auto p = values(LfoParams<float>{.waveform = waveform,
                                           .key_sync = key_sync,
                                           .one_shot = one_shot,
                                           .rate = rate,
                                           .start_phase = start,
                                           .polarity = polarity,
                                           .amount = amount});
    lfo_setup(lfo, p.data());
    return lfo;
}

Outputs ticks(LfoState lfo, int n)
{
    Outputs out;
    for (int i = 0; i < n; ++i) {
        lfo_tick(lfo);
        out.push_back(lfo.out);
    }
    return out;
}

TEST(Lfo, WaveformsAndPolaritiesOverACycleOfFourTicks)
{
    FpModeGuard fp;
    EXPECT_EQ(make_lfo(0, 0, 0, 0).rate, 1u << 20);
    EXPECT_EQ(make_lfo(0, 0, 0, 0, 64).start_phase, 0x80000000u);
    EXPECT_EQ(make_lfo(0, 0, 0, 0, 128).start_phase, 0u);
    EXPECT_EQ(ticks(make_lfo(kLfoSaw, 0, 0, 128), 5), (Outputs{0.0f, 0.25f, 0.5f, 0.75f, 0.0f}));
    EXPECT_EQ(ticks(make_lfo(kLfoTriangle, 0, 0, 128), 4), (Outputs{0.0f, 0.5f, kJustBelowOne, 0.5f - 0x1p-23f}));
    EXPECT_EQ(ticks(make_lfo(kLfoSquare, 0, 0, 128), 4), (Outputs{0.0f, 0.0f, kJustBelowOne, kJustBelowOne}));
    EXPECT_NEAR(ticks(make_lfo(kLfoSine, 0, 0, 128), 2)[1], 0.99999675f, 1e-7f);
    for (float waveform : {5.0f, 7.0f}) EXPECT_EQ(ticks(make_lfo(waveform, 0, 0, 128), 2), (Outputs{0.0f, 0.25f}));
    EXPECT_EQ(ticks(make_lfo(kLfoSaw, 0, 0, 128, 0, 2, 128), 4), (Outputs{-64.0f, -32.0f, 0.0f, 32.0f}));
    EXPECT_EQ(ticks(make_lfo(kLfoSaw, 0, 0, 128, 0, 1, 128), 2), (Outputs{0.0f, -32.0f}));
    EXPECT_EQ(ticks(make_lfo(kLfoSaw, 0, 0, 128, 0, 7, 128), 2), (Outputs{0.0f, 32.0f}));
}

TEST(Lfo, OneShotFreezesAtTheCycleEnd)
{
    FpModeGuard fp;
    const float frozen[5] = {kJustBelowOne, 0.0f, kJustBelowOne, 0.5f, 0.0f};
    for (int waveform = 0; waveform < 5; ++waveform) {
        const Outputs out = ticks(make_lfo(static_cast<float>(waveform), 0, 1, 128), 12);
        const float expected = waveform == kLfoSampleHold ? out[4] : frozen[waveform];
        for (int i = 5; i < 12; ++i) EXPECT_NEAR(out[i], expected, 5e-7f) << waveform;
    }
}

TEST(Lfo, KeySyncRestartsThePhaseAndDrawsANewHeldValue)
{
    FpModeGuard fp;
    LfoState synced = make_lfo(kLfoSampleHold, 1, 0, 10, 0, 0, 1, 5);
    LfoState free_running = make_lfo(kLfoSampleHold, 0, 0, 10, 0, 0, 1, 5);
    lfo_key_on(synced);
    lfo_key_on(free_running);
    EXPECT_EQ(ticks(synced, 1)[0], unit_from_bits(random_step(5)));
    EXPECT_EQ(ticks(free_running, 1)[0], unit_from_bits(5));
    LfoState saw = make_lfo(kLfoSaw, 1, 0, 128, 32);
    lfo_tick(saw);
    lfo_key_on(saw);
    EXPECT_EQ(ticks(saw, 1)[0], 0.25f);
}

TEST(Lfo, ZeroAmountGivesTheValueTimesZeroAndSampleAndHoldGoesOnDrawing)
{
    FpModeGuard fp;
    for (int waveform = 0; waveform < 8; ++waveform) {
        for (float polarity : {0.0f, 1.0f, 2.0f}) {
            // Amount 1, positive: the output is the waveform value itself.
            LfoState valued = make_lfo(static_cast<float>(waveform), 0, 0, 1, 0, 0, 1, 9);
            LfoState zero = make_lfo(static_cast<float>(waveform), 0, 0, 1, 0, polarity, 0, 9);
            for (int i = 0; i < 5000; ++i) {
                lfo_tick(valued);
                lfo_tick(zero);
                const float expected = (valued.out * zero.amplitude) + zero.offset;
                ASSERT_EQ(bits_from_float(zero.out), bits_from_float(expected)) << waveform << " " << i;
            }
            EXPECT_EQ(zero.random, valued.random) << waveform;
        }
    }
}

}  // namespace
