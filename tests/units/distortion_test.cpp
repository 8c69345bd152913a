#include "synth/units/distortion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "synth/fp_mode.h"
#include "synth/units/numeric.h"
#include "tests/support/param_slices.h"

namespace {

DistortionUnit make_unit(float mode, float drive, float a, float b)
{
    DistortionUnit unit{};
    distortion_reset(unit);
    const auto p = values(DistortionParams<float>{.mode = mode, .drive = drive, .a = a, .b = b});
    distortion_setup(unit, p.data(), RateConstants{});
    return unit;
}

float shape(DistortionUnit& unit, float x)
{
    distortion_render_mono(unit, &x, &x, 1);
    return x;
}

TEST(Distortion, OverdriveMapsOneJustBelowOneFoldsBackWhenHotAndClipOffsetsFirst)
{
    FpModeGuard fp;
    DistortionUnit unit = make_unit(kDistortionOverdrive, 32, 128, 64);  // drive 1, bias 0
    EXPECT_NEAR(shape(unit, 1.0f), 0.99999535f, 3e-7f);
    EXPECT_NEAR(shape(unit, -1.0f), -0.99999535f, 3e-7f);
    DistortionUnit hot = make_unit(kDistortionOverdrive, 128, 128, 64);  // drive 64
    EXPECT_LT(std::fabs(shape(hot, 1.0f)), std::fabs(shape(hot, 0.02f)));
    DistortionUnit clip = make_unit(kDistortionClip, 64, 64, 96);  // drive 4, bias 2, gain 0.5
    EXPECT_EQ(shape(clip, -0.625f), -0.25f);
    EXPECT_EQ(shape(clip, 10.0f), 0.5f);
}

TEST(Distortion, OverdriveShapesEverySampleAsTheScalarCurveDoesEdgeValuesIncluded)
{
    // Both coefficient sets and the boundaries between them (1 and 2 after
    // drive and bias), zeros of both signs, the extremes and non-finite
    // input, in blocks whose last sample has no partner.
    FpModeGuard fp;
    const float inputs[] = {0.0f,  -0.0f, 1.0f,  -1.0f,     0.99999994f, 1.9999999f, 2.0f,
                            -2.0f, 0.3f,  -1.5f, 3.0e38f,   -3.0e38f,    INFINITY,   -INFINITY,
                            NAN,   -NAN,  1e-3f, -1.0e-30f, 7.0f,        -0.0625f,   1.25f};
    for (const float drive : {32.0f, 80.0f}) {
        for (const float bias : {64.0f, 90.0f}) {
            const DistortionUnit setup = make_unit(kDistortionOverdrive, drive, 100, bias);
            for (int32_t count : {1, 2, 21}) {
                DistortionUnit unit = setup;
                std::vector<float> block(inputs, inputs + count);
                distortion_render_mono(unit, block.data(), block.data(), count);
                for (int32_t i = 0; i < count; ++i) {
                    const float expected = atan_shaper((inputs[i] * unit.drive) + unit.bias) * unit.output_gain;
                    EXPECT_EQ(bits_from_float(block[i]), bits_from_float(expected))
                        << "drive " << drive << " bias " << bias << " input " << inputs[i];
                }
            }
        }
    }
}

TEST(Distortion, BitCrusherRoundsClampsAndFlipsMaskBits)
{
    FpModeGuard fp;
    DistortionUnit unit = make_unit(kDistortionBitCrusher, 32, 0, 0);
    EXPECT_EQ(shape(unit, 0.30001f), 9831.0f / 32768.0f);
    EXPECT_EQ(shape(unit, 1.0f), 32767.0f / 32768.0f);
    EXPECT_EQ(shape(unit, -3.0f), -32767.0f / 32768.0f);
    DistortionUnit masked = make_unit(kDistortionBitCrusher, 32, 0, 1);
    EXPECT_EQ(shape(masked, 0.0f), 512.0f / 32768.0f);
    DistortionUnit coarse = make_unit(kDistortionBitCrusher, 128, 255, 255);  // wrapping products
    for (float x : {-1.0f, 0.7f, 1e6f}) EXPECT_LE(std::fabs(shape(coarse, x)), 8.0f);
}

TEST(Distortion, RateReducerHoldsSamplesBetweenCounterWraps)
{
    FpModeGuard fp;
    DistortionUnit unit = make_unit(kDistortionRateReducer, 32, 0, 0);  // a capture every 1024 samples
    std::vector<float> in(2048), out(2048);
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<float>(i);
    distortion_render_mono(unit, in.data(), out.data(), 2048);
    EXPECT_EQ(out[1022], 0.0f);
    EXPECT_EQ(out[1023], 1023.0f);
    EXPECT_EQ(out[2046], 1023.0f);
    EXPECT_EQ(out[2047], 2047.0f);
    DistortionUnit frozen = make_unit(kDistortionRateReducer, 32, 128, 0);  // step 0: never wraps
    distortion_render_stereo(frozen, in.data(), out.data(), 1024);
    for (float v : out) ASSERT_EQ(v, 0.0f);
}

TEST(Distortion, StereoFilterModesKeepTheSidesApart)
{
    FpModeGuard fp;
    DistortionUnit unit = make_unit(kDistortionLowPass, 32, 64, 0);
    DistortionUnit mono = unit;
    std::vector<float> frames(256, 0.0f), left(128, 0.0f);
    frames[0] = left[0] = 1.0f;
    distortion_render_stereo(unit, frames.data(), frames.data(), 128);
    distortion_render_mono(mono, left.data(), left.data(), 128);
    for (int i = 0; i < 128; ++i) {
        ASSERT_EQ(frames[2 * i], left[i]);
        ASSERT_EQ(frames[2 * i + 1], 0.0f);
    }
}

TEST(Distortion, OffAndUnknownModesPassThroughAndSetUpKeepsOtherModesFields)
{
    FpModeGuard fp;
    for (float mode : {0.0f, 10.0f, 255.0f}) {
        DistortionUnit unit = make_unit(mode, 32, 64, 64);
        const float in[4] = {0.1f, -2.0f, 3.0f, 0.0f};
        float out[4] = {};
        distortion_render_stereo(unit, in, out, 2);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(out[i], in[i]);
    }
    DistortionUnit unit = make_unit(kDistortionClip, 32, 32, 64);
    const auto crusher = values(DistortionParams<float>{.mode = kDistortionBitCrusher, .drive = 64, .a = 0, .b = 0});
    distortion_setup(unit, crusher.data(), RateConstants{});
    EXPECT_EQ(unit.output_gain, 0.25f);
    EXPECT_EQ(unit.drive, 4.0f);
}

}  // namespace
