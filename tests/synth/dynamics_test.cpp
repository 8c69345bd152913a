#include "synth/dynamics.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <memory>
#include <tuple>
#include <vector>

#include "synth/fp_mode.h"
#include "tests/support/param_slices.h"

namespace {

using P = DynamicsParam;

struct DynamicsRig {
    std::unique_ptr<DynamicsState> state = std::make_unique<DynamicsState>();  // zeroed, as in the engine
    std::vector<float> detector = std::vector<float>(2 * 128);
    // Peak, linked, 1 ms look-ahead, threshold 8, ratio 0.5, instant attack and release.
    std::array<float, P::kCount> p =
        values(DynamicsParams<float>{.detector = 1, .look_ahead = 1, .threshold = 128, .ratio = 64});

    DynamicsRig() { dynamics_init(*state); }

    // Changes the given (parameter, value) settings and sets the processor up.
    DynamicsRig& setup(std::initializer_list<std::pair<int, float>> changes = {})
    {
        for (const auto& [param, value] : changes) p[param] = value;
        dynamics_setup(*state, p.data());
        return *this;
    }

    // In blocks of up to 128 frames, or of the given sizes in turn; the
    // detector levels of the last block stay readable.
    std::vector<float> render(std::vector<float> frames, const std::vector<int32_t>& sizes = {128})
    {
        const int32_t total = static_cast<int32_t>(frames.size() / 2);
        for (int32_t at = 0, k = 0; at < total; k = (k + 1) % static_cast<int32_t>(sizes.size())) {
            const int32_t n = std::min(sizes[k], total - at);
            dynamics_render(*state, frames.data() + 2 * at, n, detector.data());
            at += n;
        }
        return frames;
    }
};

std::vector<float> test_signal(int32_t frames)
{
    std::vector<float> signal(static_cast<size_t>(2 * frames));
    for (int32_t i = 0; i < frames; ++i) {
        signal[2 * i] = 0.5f * std::sin(0.05f * static_cast<float>(i));
        signal[2 * i + 1] = 0.25f * std::cos(0.031f * static_cast<float>(i));
    }
    return signal;
}

TEST(Dynamics, DetectorTypeZeroPassesFramesUnchangedAndUndelayed)
{
    FpModeGuard mode;
    const std::vector<float> signal = test_signal(300);
    EXPECT_EQ(DynamicsRig().setup({{P::kDetector, 0.0f}, {P::kStereo, 1.0f}}).render(signal), signal);
}

TEST(Dynamics, BelowThresholdTheSignalIsOnlyDelayedByLookAheadPlusOneAndScaled)
{
    FpModeGuard mode;
    // Detector 1 (peak) and 2 (RMS); look-ahead 1 ms (L = 44) and 0 (one frame): the delay in frames.
    for (const auto& [detector, look_ahead, delay] : {std::tuple{1.0f, 1.0f, 45}, {2.0f, 1.0f, 45}, {1.0f, 0.0f, 1}}) {
        DynamicsRig rig;
        rig.setup({{P::kDetector, detector},
                   {P::kLookAhead, look_ahead},
                   {P::kOutput, 80.0f}});  // output gain x input gain = 2^(16/16) = 2
        const std::vector<float> signal = test_signal(400);
        const std::vector<float> out = rig.render(signal);
        for (int32_t i = 0; i < 800; ++i)
            ASSERT_EQ(out[i], i < 2 * delay ? 0.0f : 2.0f * signal[i - 2 * delay])
                << detector << " " << look_ahead << " " << i;
        EXPECT_EQ(rig.state->gain_left, 1.0f);
        EXPECT_EQ(rig.state->gain_right, 1.0f);
    }
}

TEST(Dynamics, BlocksOfAnySizeGiveTheSameFramesAsWholeBlocks)
{
    FpModeGuard mode;
    // Swells over the threshold (about 0.34) and falls back under it, so
    // blocks compress, recover, or pass at a gain of exactly 1.
    std::vector<float> signal = test_signal(4000);
    for (int32_t i = 0; i < 4000; ++i) {
        const float swell = 2.0f * std::fabs(std::sin(0.002f * static_cast<float>(i)));
        signal[2 * i] *= swell;
        signal[2 * i + 1] *= swell;
    }
    // Peak linked and per side, with a line of one frame or of 1 ms, slow and instant release.
    for (const auto& [stereo, look_ahead, release] :
         {std::tuple{0.0f, 0.0f, 40.0f}, {1.0f, 0.0f, 0.0f}, {0.0f, 1.0f, 0.0f}, {1.0f, 1.0f, 40.0f}}) {
        const std::initializer_list<std::pair<int, float>> setting = {{P::kStereo, stereo},
                                                                       {P::kLookAhead, look_ahead},
                                                                       {P::kThreshold, 70.0f},
                                                                       {P::kAttack, 20.0f},
                                                                       {P::kRelease, release}};
        const std::vector<float> whole = DynamicsRig().setup(setting).render(signal);
        EXPECT_EQ(DynamicsRig().setup(setting).render(signal, {1, 2, 127, 5, 64, 3, 128}), whole)
            << stereo << " " << look_ahead << " " << release;
    }
}

TEST(Dynamics, AttackZeroReachesTheTargetGainInOneFrame)
{
    FpModeGuard mode;
    // Peak per side (a mode change, so the gains start at 1), threshold 0.25 (input 4 reads level 16), ratio 1:
    // the target is 1/16.
    DynamicsRig rig;
    rig.setup({{P::kStereo, 1.0f}, {P::kThreshold, 64.0f}, {P::kRatio, 128.0f}, {P::kAttack, 0.0f}})
        .render({4.0f, -4.0f});
    EXPECT_EQ(rig.state->gain_left, 0.0625f);
    EXPECT_EQ(rig.state->gain_right, 0.0625f);
}

TEST(Dynamics, ModeChangeRestartsTheDetectorAndGainsButKeepsTheLine)
{
    FpModeGuard mode;
    DynamicsRig rig;
    rig.setup({{P::kRelease, 64.0f}});  // release 2^-8; mode 0 equals the initial previous mode: gains stay 0
    EXPECT_EQ(rig.state->gain_left, 0.0f);
    rig.render(test_signal(100));
    EXPECT_GT(rig.state->gain_left, 0.0f);
    EXPECT_LT(rig.state->gain_left, 1.0f);
    EXPECT_GT(rig.state->peak_left, 0.0f);
    const int32_t write_index = rig.state->write_index;
    rig.state->rms_history[100] = 3.0f;

    rig.setup({{P::kDetector, 2.0f}});  // RMS, linked
    EXPECT_EQ(rig.state->mode, 1);
    EXPECT_EQ(rig.state->peak_left, 0.0f);
    EXPECT_EQ(rig.state->rms_history[100], 0.0f);
    EXPECT_EQ(rig.state->gain_left, 1.0f);
    EXPECT_EQ(rig.state->gain_right, 1.0f);
    EXPECT_EQ(rig.state->write_index, write_index);

    // The same mode again changes nothing.
    rig.state->gain_left = 0.5f;
    rig.setup();
    EXPECT_EQ(rig.state->gain_left, 0.5f);
}

TEST(Dynamics, LookAheadIsHeldTo128MillisecondsWhateverTheParameter)
{
    FpModeGuard mode;
    for (const auto& [ms, frames] :
         {std::pair{255.0f, 5645}, {129.0f, 5645}, {1e10f, 5645}, {-5.0f, 0}, {std::nanf(""), 5645}})
        EXPECT_EQ(DynamicsRig().setup({{P::kLookAhead, ms}}).state->look_ahead, frames) << "look-ahead " << ms;

    // The longest line delays by 5646 frames; shrinking it mid-way wraps the
    // write index back inside the shorter line.
    DynamicsRig rig;
    std::vector<float> signal(2 * 5800, 0.0f);
    signal[0] = 0.5f;
    const std::vector<float> out = rig.setup({{P::kLookAhead, 255.0f}}).render(signal);
    for (int32_t i = 0; i < 5800; ++i) ASSERT_EQ(out[2 * i], i == 5646 ? 0.5f : 0.0f) << "frame " << i;
    rig.setup({{P::kLookAhead, 1.0f}}).render(std::vector<float>(2 * 128, 0.25f));
    EXPECT_LE(rig.state->write_index, 44);
}

TEST(Dynamics, RmsWindowOfAConstantReadsItsMagnitudeAndSilenceAfterSoundIsNeverNaN)
{
    FpModeGuard mode;
    DynamicsRig linked;  // RMS: input gain 1/8
    linked.setup({{P::kDetector, 2.0f}}).render(std::vector<float>(2 * 8192, -0.5f));
    EXPECT_NEAR(linked.detector[2 * 127], 0.5f / 8.0f, 1e-7f);
    EXPECT_EQ(linked.detector[2 * 127], linked.detector[2 * 127 + 1]);
    linked.render(test_signal(8192));
    linked.render(std::vector<float>(2 * 8192, 0.0f));
    for (float level : linked.detector) ASSERT_GE(level, 0.0f);  // false for NaN

    std::vector<float> signal(2 * 8192, 0.5f);
    for (int32_t i = 0; i < 8192; ++i) signal[2 * i + 1] = -0.25f;
    DynamicsRig per_side;
    per_side.setup({{P::kDetector, 2.0f}, {P::kStereo, 1.0f}}).render(signal);
    EXPECT_NEAR(per_side.detector[2 * 127], 0.5f / 8.0f, 1e-7f);
    EXPECT_NEAR(per_side.detector[2 * 127 + 1], 0.25f / 8.0f, 1e-7f);
}

}  // namespace
