#include "synth/shelf.h"

#include <gtest/gtest.h>

#include <vector>

#include "synth/constants.h"
#include "synth/fp_mode.h"

namespace {

// n frames of a constant left and right.
std::vector<float> constant_frames(int32_t n, float left, float right)
{
    std::vector<float> frames(static_cast<size_t>(2 * n));
    for (int32_t i = 0; i < n; ++i) {
        frames[2 * i] = left;
        frames[2 * i + 1] = right;
    }
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
        EXPECT_EQ(eq.b0, before.b0);
        EXPECT_EQ(eq.a2, before.a2);
        EXPECT_EQ(eq.y1_left, before.y1_left);
        EXPECT_EQ(eq.x1_right, before.x1_right);
    }
}

TEST(Shelf, BoostRaisesTheGainAtDcToASquaredPerSide)
{
    FpModeGuard mode;
    RateConstants rates;
    for (const float p : {64.0f, 128.0f}) {
        const float gain = p == 128.0f ? 4.0f : 2.0f;  // +12 dB and +6 dB
        ShelfEqState eq{};
        shelf_setup(eq, p, rates);
        std::vector<float> frames = constant_frames(20000, 1.0f, -0.25f);
        render_blocks(eq, frames);
        EXPECT_NEAR(frames[2 * 19999], gain, 1e-3f) << "p " << p;
        EXPECT_NEAR(frames[2 * 19999 + 1], -0.25f * gain, 1e-3f) << "p " << p;
    }
}

TEST(Shelf, HighFrequenciesPassAtUnityGain)
{
    FpModeGuard mode;
    RateConstants rates;
    for (const float p : {1.0f, 128.0f}) {
        ShelfEqState eq{};
        shelf_setup(eq, p, rates);
        std::vector<float> frames(2 * 20000);
        for (int32_t i = 0; i < 20000; ++i) {
            frames[2 * i] = (i % 2) ? -1.0f : 1.0f;  // the highest frequency there is
            frames[2 * i + 1] = 0.0f;
        }
        render_blocks(eq, frames);
        EXPECT_NEAR(frames[2 * 19998], 1.0f, 1e-3f) << "p " << p;
        EXPECT_NEAR(frames[2 * 19999], -1.0f, 1e-3f) << "p " << p;
        EXPECT_EQ(frames[2 * 19999 + 1], 0.0f);
    }
}

}  // namespace
