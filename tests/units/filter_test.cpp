#include "synth/units/filter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "synth/fp_mode.h"
#include "tests/support/param_slices.h"

namespace {

FilterState make_filter(float mode, float cutoff, float resonance, RateConstants rates = {})
{
    FilterState filter{};
    filter_reset(filter);
    const auto p = values(FilterParams<float>{.mode = mode, .cutoff = cutoff, .resonance = resonance});
    filter_setup(filter, p.data(), rates);
    return filter;
}

// Peak level of a unit sine at hz through a filter at cut-off 64 (f = 1/32, a
// corner near 440 Hz with the two-fold oversampling), after a second to settle.
float response(float mode, float hz)
{
    FilterState filter = make_filter(mode, 64.0f, 0.0f);
    std::vector<float> signal(88200);
    for (size_t i = 0; i < signal.size(); ++i)
        signal[i] = static_cast<float>(std::sin(2.0 * std::numbers::pi * hz * i / 44100.0));
    filter_render(filter, signal.data(), signal.data(), static_cast<int32_t>(signal.size()));
    float peak = 0.0f;
    for (size_t i = 44100; i < signal.size(); ++i) peak = std::max(peak, std::fabs(signal[i]));
    return peak;
}

TEST(Filter, CutOffSpansTenOctavesScaledByTheRate)
{
    FpModeGuard fp;
    EXPECT_EQ(make_filter(1, 128, 0).cutoff, 1.0f);
    EXPECT_EQ(make_filter(1, 0, 128).cutoff, 0.0009765625f);
    EXPECT_EQ(make_filter(1, 0, 128).damping, 0.0f);
    RateConstants rates;
    ASSERT_TRUE(rate_setup(rates, 88200));
    EXPECT_EQ(make_filter(1, 128, 0, rates).cutoff, 0.5f);
}

TEST(Filter, ResponsesPassAndRejectTheExpectedFrequencies)
{
    FpModeGuard fp;
    EXPECT_GT(response(kFilterLowPass, 50), 0.9f);
    EXPECT_LT(response(kFilterLowPass, 10000), 0.01f);
    EXPECT_LT(response(kFilterHighPass, 50), 0.02f);
    EXPECT_GT(response(kFilterHighPass, 10000), 0.9f);
    EXPECT_GT(response(kFilterBandPass, 440),
              5 * std::max(response(kFilterBandPass, 50), response(kFilterBandPass, 10000)));
    EXPECT_LT(response(kFilterNotch, 440), 0.2f * response(kFilterNotch, 50));
    EXPECT_NEAR(response(kFilterAll, 3000), 1.0f, 0.1f);
    EXPECT_EQ(response(9, 10000), response(kFilterLowPass, 10000));  // modes 8..13 act as 0..5
}

TEST(Filter, FullResonanceRingsWithoutDecay)
{
    FpModeGuard fp;
    FilterState filter = make_filter(kFilterLowPass, 64, 128);
    std::vector<float> signal(100000, 0.0f);
    signal[0] = 1.0f;
    filter_render(filter, signal.data(), signal.data(), static_cast<int32_t>(signal.size()));
    const float early = *std::max_element(signal.begin() + 1000, signal.begin() + 3000);
    EXPECT_GT(early, 0.03f);
    EXPECT_NEAR(*std::max_element(signal.end() - 2000, signal.end()), early, 0.05f * early);
}

TEST(Filter, BypassCopiesKeepsTheStatesAndStrideTwoSkipsTheOtherSide)
{
    FpModeGuard fp;
    FilterState filter = make_filter(kFilterLowPass, 100, 0);
    filter.stride = 2;
    std::vector<float> frames(64, 7.0f);
    filter_render(filter, frames.data(), frames.data(), 32);
    for (size_t i = 0; i < frames.size(); i += 2) EXPECT_NE(frames[i], 7.0f);
    for (size_t i = 1; i < frames.size(); i += 2) EXPECT_EQ(frames[i], 7.0f);
    const FilterState before = filter;
    for (int mode : {0, 6, 7, 8}) {
        filter.mode = mode;
        std::vector<float> copy(64, 0.0f);
        filter_render(filter, frames.data(), copy.data(), 64);
        EXPECT_EQ(copy, frames);
    }
    EXPECT_EQ(filter.low, before.low);
    EXPECT_EQ(filter.band, before.band);
}

}  // namespace
