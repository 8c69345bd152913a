#include "synth/units/envelope.h"

#include <gtest/gtest.h>

#include "synth/fp_mode.h"
#include "tests/support/param_slices.h"

namespace {

// attack, decay, sustain level, sustain slope, release, gain
EnvelopeState make_envelope(float a, float d, float s, float slope, float r, float gain = 128.0f)
{
    EnvelopeState env{};
    const auto p = values(
        EnvelopeParams<float>{.attack = a, .decay = d, .sustain = s, .slope = slope, .release = r, .gain = gain});
    envelope_setup(env, p.data());
    envelope_reset(env);
    return env;
}

void tick(EnvelopeState& env, int32_t gate, int32_t state, float level)
{
    envelope_tick(env, gate);
    EXPECT_EQ(env.state, state);
    EXPECT_EQ(env.level, level);
}

TEST(Envelope, InstantAttackPeaksInOneTickAndInstantDecaySnapsToSustain)
{
    FpModeGuard fp;
    const EnvelopeState slow = make_envelope(128, 128, 0, 64, 0);
    EXPECT_EQ(slow.attack_step, 0.03125f);
    EXPECT_EQ(slow.decay_factor, 0.99951171875f);
    EnvelopeState env = make_envelope(0, 0, 40, 64, 64, 64);
    tick(env, 1, kEnvelopeDecay, 128.0f);
    EXPECT_EQ(env.out, 64.0f);
    tick(env, 1, kEnvelopeSustain, 40.0f);
    EnvelopeState full = make_envelope(0, 100, 128, 64, 64);
    tick(full, 1, kEnvelopeDecay, 128.0f);
    tick(full, 1, kEnvelopeSustain, 128.0f);
    EnvelopeState rising = make_envelope(0, 0, 100, 128, 64);
    for (int i = 0; i < 300; ++i) envelope_tick(rising, 1);
    tick(rising, 1, kEnvelopeSustain, 128.0f);
}

TEST(Envelope, SinkingSustainTurnsOffThenRestartsWhileTheGateIsHeld)
{
    FpModeGuard fp;
    EnvelopeState env = make_envelope(0, 0, 100, 0, 64);
    for (int i = 0; i < 100000 && env.state != kEnvelopeOff; ++i) envelope_tick(env, 1);
    ASSERT_EQ(env.state, kEnvelopeOff);
    EXPECT_EQ(env.level, 0.0f);
    tick(env, 1, kEnvelopeDecay, 128.0f);  // a new instant attack from 0
}

TEST(Envelope, ReleaseRunsInTheTickTheGateDropsAndAttackResumesFromItsLevel)
{
    FpModeGuard fp;
    EnvelopeState env = make_envelope(64, 0, 100, 64, 0);  // 2 per tick, instant release
    tick(env, 1, kEnvelopeAttack, 2.0f);
    tick(env, 1, kEnvelopeAttack, 4.0f);
    EnvelopeState held = env;
    tick(env, 0, kEnvelopeOff, 0.0f);
    held.release_factor = 0.5f;
    tick(held, 0, kEnvelopeRelease, 2.0f);
    tick(held, 1, kEnvelopeAttack, 4.0f);
    env.level = 55.0f;  // reset keeps the level; the next gateless tick clears it
    envelope_reset(env);
    tick(env, 0, kEnvelopeOff, 0.0f);
}

}  // namespace
