#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#include "synth/shelf.h"
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
    std::vector<float> frames = run.input;
    channel_update_params(engine, 0);
    channel_render(engine, 0, frames.data(), kFrames, buffers.detector);
    channel_mix(engine, 0, frames.data(), kFrames);
    run.master.assign(buffers.master, buffers.master + 2 * kFrames);
    run.reverb_send.assign(buffers.reverb_send, buffers.reverb_send + kFrames);
    run.delay_send.assign(buffers.delay_send, buffers.delay_send + kFrames);
    return run;
}

TEST(Channel, VolumeScalesTheOutputByUpTo0Point6AndTheMonoSendsFollowIt)
{
    struct Case {
        uint8_t volume, reverb, delay;  // 0..128
        float gain, reverb_gain, delay_gain;
    };
    const float half = 0.5f * 0.6f;
    const Case cases[] = {{128, 0, 0, 0.6f, 0.0f, 0.0f},
                          {0, 128, 128, 0.0f, 0.0f, 0.0f},
                          {64, 128, 32, half, 0.6f * half, (0.25f * 0.6f) * half}};
    for (const Case& c : cases) {
        const ChannelRun run = run_channel(PatchBuilder().volume(c.volume).reverb_send(c.reverb).delay_send(c.delay));
        FpModeGuard mode;
        for (int32_t i = 0; i < kFrames; ++i) {
            const float sum = run.input[2 * i] + run.input[2 * i + 1];
            ASSERT_EQ(run.master[2 * i], run.input[2 * i] * c.gain) << "volume " << int(c.volume) << " frame " << i;
            ASSERT_EQ(run.master[2 * i + 1], run.input[2 * i + 1] * c.gain) << "volume " << int(c.volume);
            ASSERT_EQ(run.reverb_send[i], sum * c.reverb_gain) << "volume " << int(c.volume) << " frame " << i;
            ASSERT_EQ(run.delay_send[i], sum * c.delay_gain) << "volume " << int(c.volume) << " frame " << i;
        }
    }
}

PatchBuilder chain(uint8_t order, uint8_t distortion_mode, uint8_t mix)
{
    return PatchBuilder()
        .effect_order(order)
        .channel_distortion({.mode = distortion_mode, .drive = 100, .a = 128, .b = 64})
        .channel_delay({.mix = mix, .feedback = 90, .left = 1, .right = 2});
}

TEST(Channel, EffectOrderMattersOnlyWhenDistortionAndDelayBothAct)
{
    EXPECT_NE(run_channel(chain(0, kDistortionClip, 100)).master, run_channel(chain(1, kDistortionClip, 100)).master);
    EXPECT_EQ(run_channel(chain(0, kDistortionOff, 100)).master, run_channel(chain(1, kDistortionOff, 100)).master);
    EXPECT_EQ(run_channel(chain(0, kDistortionClip, 64)).master, run_channel(chain(1, kDistortionClip, 64)).master);
    // Any order from 1 up puts the delay first.
    EXPECT_EQ(run_channel(chain(1, kDistortionClip, 100)).master, run_channel(chain(77, kDistortionClip, 100)).master);
}

// n frames of a constant left and right.
std::vector<float> constant_frames(int32_t n, float left, float right)
{
    std::vector<float> frames(static_cast<size_t>(2 * n), left);
    for (int32_t i = 0; i < n; ++i) frames[2 * i + 1] = right;
    return frames;
}

void render_blocks(ShelfEqState& eq, std::vector<float>& frames)
{
    const int32_t total = static_cast<int32_t>(frames.size() / 2);
    for (int32_t at = 0; at < total; at += 128) shelf_render(eq, frames.data() + 2 * at, std::min(128, total - at));
}

TEST(Shelf, ParameterRoundingToZeroLeavesTheSignalAndTheFilterAlone)
{
    FpModeGuard mode;
    RateConstants rates;
    ShelfEqState eq{};
    shelf_setup(eq, 128.0f, rates);
    std::vector<float> warm = constant_frames(64, 0.5f, -0.5f);
    shelf_render(eq, warm.data(), 64);
    const ShelfEqState before = eq;

    for (const float p : {0.5f, 0.0f, -0.4f}) {
        shelf_setup(eq, p, rates);
        EXPECT_EQ(eq.boost, 0);
        std::vector<float> frames = constant_frames(128, 0.3f, 0.7f);
        shelf_render(eq, frames.data(), 128);
        EXPECT_EQ(frames, constant_frames(128, 0.3f, 0.7f));
        EXPECT_EQ(std::tuple(eq.b0, eq.a2, eq.y1_left, eq.x1_right),
                  std::tuple(before.b0, before.a2, before.y1_left, before.x1_right));
    }
}

TEST(Shelf, BlocksOfAnySizeGiveTheSameFramesAsWholeBlocks)
{
    FpModeGuard mode;
    RateConstants rates;
    ShelfEqState whole_eq{}, pieces_eq{};
    shelf_setup(whole_eq, 100.0f, rates);
    shelf_setup(pieces_eq, 100.0f, rates);
    std::vector<float> whole(2 * 1000);
    for (int32_t i = 0; i < 2000; ++i) whole[i] = std::sin(0.013f * static_cast<float>(i * i % 977));
    std::vector<float> pieces = whole;
    render_blocks(whole_eq, whole);
    for (int32_t at = 0, k = 0; at < 1000; at += k, k = k % 7 + 1)
        shelf_render(pieces_eq, pieces.data() + 2 * at, std::min(k, 1000 - at));
    EXPECT_EQ(pieces, whole);
}

TEST(Shelf, BoostRaisesTheGainAtDcToASquaredPerSideWhileTheHighestFrequencyPassesAtUnity)
{
    FpModeGuard mode;
    RateConstants rates;
    for (const float p : {1.0f, 64.0f, 128.0f}) {
        ShelfEqState dc_eq{}, high_eq{};
        shelf_setup(dc_eq, p, rates);
        shelf_setup(high_eq, p, rates);
        std::vector<float> dc = constant_frames(20000, 1.0f, -0.25f), high(2 * 20000, 0.0f);
        for (int32_t i = 0; i < 20000; ++i) high[2 * i] = (i % 2) ? -1.0f : 1.0f;
        render_blocks(dc_eq, dc);
        render_blocks(high_eq, high);
        if (p > 1.0f) {  // +6 dB at 64, +12 dB at 128
            EXPECT_NEAR(dc[2 * 19999], p / 32.0f, 1e-3f) << "p " << p;
            EXPECT_NEAR(dc[2 * 19999 + 1], -0.25f * (p / 32.0f), 1e-3f) << "p " << p;
        }
        EXPECT_NEAR(high[2 * 19998], 1.0f, 1e-3f) << "p " << p;
        EXPECT_NEAR(high[2 * 19999], -1.0f, 1e-3f) << "p " << p;
        EXPECT_EQ(high[2 * 19999 + 1], 0.0f);
    }
}

}  // namespace
