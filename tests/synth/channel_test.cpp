#include <gtest/gtest.h>

#include <cmath>

#include "tests/synth/engine_harness.h"

namespace {

constexpr int32_t kFrames = kBlockSize;

// Channel 0's chain run once on a fixed test signal.
struct ChannelRun {
    std::vector<float> input;
    std::vector<float> master;
    std::vector<float> reverb_send;
    std::vector<float> delay_send;
};

ChannelRun run_channel(const PatchBuilder& patch)
{
    EngineHarness h(patch);
    SynthEngine& engine = *h.engine;
    SynthBuffers& buffers = engine.buffers;
    FpModeGuard mode;
    ChannelRun run;
    for (int32_t i = 0; i < kFrames; ++i) {
        run.input.push_back(0.5f * std::sin(0.1f * static_cast<float>(i)));
        run.input.push_back(0.25f * std::cos(0.07f * static_cast<float>(i)) - 0.1f);
    }
    std::fill(buffers.master, buffers.master + 2 * kFrames, 0.0f);
    std::fill(buffers.reverb_send, buffers.reverb_send + kFrames, 0.0f);
    std::fill(buffers.delay_send, buffers.delay_send + kFrames, 0.0f);
    std::copy(run.input.begin(), run.input.end(), buffers.channel);
    channel_update_params(engine, 0);
    channel_render(engine, 0, kFrames);
    run.master.assign(buffers.master, buffers.master + 2 * kFrames);
    run.reverb_send.assign(buffers.reverb_send, buffers.reverb_send + kFrames);
    run.delay_send.assign(buffers.delay_send, buffers.delay_send + kFrames);
    return run;
}

TEST(Channel, FullVolumeWithNeutralStagesGivesAGainOf0Point6)
{
    const ChannelRun run = run_channel(PatchBuilder().volume(128));
    for (size_t i = 0; i < run.input.size(); ++i) ASSERT_EQ(run.master[i], run.input[i] * 0.6f) << i;
    EXPECT_TRUE(all_zero(run.reverb_send));
    EXPECT_TRUE(all_zero(run.delay_send));
}

TEST(Channel, VolumeZeroSilencesTheOutputAndBothSends)
{
    const ChannelRun run = run_channel(PatchBuilder().volume(0).reverb_send(128).delay_send(128));
    EXPECT_TRUE(all_zero(run.master));
    EXPECT_TRUE(all_zero(run.reverb_send));
    EXPECT_TRUE(all_zero(run.delay_send));
}

TEST(Channel, SendsAreMonoSumsScaledByTheirLevelAndTheVolume)
{
    const ChannelRun run = run_channel(PatchBuilder().volume(64).reverb_send(128).delay_send(32));
    FpModeGuard mode;
    const float volume = 0.5f * 0.6f;
    const float reverb_gain = (1.0f * 0.6f) * volume;
    const float delay_gain = (0.25f * 0.6f) * volume;
    for (int32_t i = 0; i < kFrames; ++i) {
        const float sum = run.input[2 * i] + run.input[2 * i + 1];
        ASSERT_EQ(run.reverb_send[i], sum * reverb_gain) << i;
        ASSERT_EQ(run.delay_send[i], sum * delay_gain) << i;
        ASSERT_EQ(run.master[2 * i], run.input[2 * i] * volume) << i;
    }
}

PatchBuilder chain(uint8_t order, uint8_t distortion_mode, uint8_t dry_wet)
{
    PatchBuilder patch;
    patch.effect_order(order)
        .channel_distortion({.mode = distortion_mode, .drive = 100, .a = 128, .b = 64})
        .channel_delay({.dry_wet = dry_wet, .feedback = 90, .left = 1, .right = 2});
    return patch;
}

TEST(Channel, EffectOrderMattersOnlyWhenDistortionAndDelayBothAct)
{
    EXPECT_NE(run_channel(chain(0, kDistortionClip, 100)).master, run_channel(chain(1, kDistortionClip, 100)).master);
    EXPECT_EQ(run_channel(chain(0, kDistortionOff, 100)).master, run_channel(chain(1, kDistortionOff, 100)).master);
    EXPECT_EQ(run_channel(chain(0, kDistortionClip, 64)).master, run_channel(chain(1, kDistortionClip, 64)).master);
    // Any order from 1 up puts the delay first.
    EXPECT_EQ(run_channel(chain(1, kDistortionClip, 100)).master, run_channel(chain(77, kDistortionClip, 100)).master);
}

}  // namespace
