#include "synth/units/oscillator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#include "synth/fp_mode.h"
#include "tests/support/param_slices.h"

namespace {

constexpr double kCycle = 4294967296.0;

OscillatorState make_oscillator(float mode, float colour, float note = 60.0f, float ring = 0.0f)
{
    OscillatorState osc{};
    osc.note = note;
    const auto p = values(OscillatorParams<float>{.mode = mode, .ring = ring, .colour = colour});
    oscillator_setup(osc, p.data(), RateConstants{});
    return osc;
}

std::vector<float> render(OscillatorState& osc, int32_t n, float fill = 0.0f)
{
    std::vector<float> out(static_cast<size_t>(n), fill);
    for (int32_t done = 0; done < n; done += 128) oscillator_render(osc, out.data() + done, std::min(128, n - done));
    return out;
}

double ideal(int mode, double phase, double peak)
{
    phase -= std::floor(phase);
    if (mode == kOscillatorPulse) return phase < peak ? 1.0 : -1.0;
    return phase < peak ? -1.0 + 2.0 * phase / peak : 1.0 - 2.0 * (phase - peak) / (1.0 - peak);
}

// Mean over [from, to] by the midpoint rule, cut at the wave's corners first.
double swept_mean(int mode, double from, double to, double peak)
{
    std::vector<double> cuts{from, to};
    for (double c : {peak - 1.0, 0.0, peak, 1.0})
        if (c > from && c < to) cuts.push_back(c);
    std::sort(cuts.begin(), cuts.end());
    double sum = 0.0;
    for (size_t j = 0; j + 1 < cuts.size(); ++j) {
        const double h = (cuts[j + 1] - cuts[j]) / 64.0;
        for (int m = 0; m < 64; ++m) sum += ideal(mode, cuts[j] + (m + 0.5) * h, peak) * h;
    }
    return sum / (to - from);
}

TEST(Oscillator, RampAndPulseAreTheIdealWaveAveragedOverEachStep)
{
    FpModeGuard fp;
    for (int mode : {kOscillatorRamp, kOscillatorPulse})
        for (float note : {36.0f, 60.0f, 84.0f, 108.0f})
            for (float colour : {0.0f, 2.0f, 16.0f, 64.0f, 101.3f, 126.0f}) {
                OscillatorState osc = make_oscillator(static_cast<float>(mode), colour, note);
                osc.phase = 0x12345678u;
                const std::vector<float> out = render(osc, 1500);
                const uint32_t step = static_cast<uint32_t>(osc.increment);
                double worst = 0.0;
                for (uint32_t i = 0; i < 1500; ++i) {
                    const double to = (0x12345678u + i * step) / kCycle;
                    worst =
                        std::max(worst,
                                 std::fabs(out[i] - swept_mean(mode, to - step / kCycle, to, osc.threshold / kCycle)));
                }
                EXPECT_LT(worst, 1e-3) << "mode " << mode << " note " << note << " colour " << colour;
            }
}

TEST(Oscillator, PitchAndColourConvertToPhaseStepsAndColourZeroPulseIsLow)
{
    FpModeGuard fp;
    EXPECT_EQ(make_oscillator(1, 0).increment, 12740060);
    EXPECT_EQ(make_oscillator(1, 0, 72.0f).increment, 25480120);
    EXPECT_EQ(make_oscillator(1, 0).noise_cutoff, 0.03125f);
    EXPECT_EQ(make_oscillator(4, 32).noise_damping, 0.5f);
    EXPECT_EQ(make_oscillator(1, 64).threshold, 0x80000000u);
    for (float colour : {0.0f, 128.0f}) {
        OscillatorState pulse = make_oscillator(kOscillatorPulse, colour, 96.0f);
        EXPECT_EQ(pulse.threshold, 0u);
        for (float v : render(pulse, 600)) ASSERT_EQ(v, -1.0f);
    }
}

TEST(Oscillator, SineAndPhaseModulationOfAClearedBufferFollowTheSine)
{
    FpModeGuard fp;
    for (float mode : {3.0f, 5.0f}) {
        OscillatorState osc = make_oscillator(mode, 0, 81.0f);
        const std::vector<float> out = render(osc, 512);
        for (int i = 0; i < 512; ++i)
            ASSERT_NEAR(out[i], std::sin(2.0 * std::numbers::pi * i * osc.increment / kCycle), 2e-4);
        EXPECT_EQ(out[0], 0.0f);
    }
    OscillatorState ringed = make_oscillator(kOscillatorPhaseMod, 0, 81.0f, 1.0f);  // times the zeros
    for (float v : render(ringed, 256)) ASSERT_EQ(v, 0.0f);
}

TEST(Oscillator, ModeAndRingUseTheirLowBitsAndSilentModesKeepThePhase)
{
    FpModeGuard fp;
    OscillatorState ramp = make_oscillator(1, 40), nine = make_oscillator(9, 40);
    EXPECT_EQ(render(ramp, 300), render(nine, 300));
    OscillatorState adds = make_oscillator(2, 40, 60, 2), rings = make_oscillator(2, 40, 60, 3);
    adds.phase = rings.phase = 0x10000000u;  // inside the high part: +1
    EXPECT_EQ(render(adds, 1, 2.0f)[0], 3.0f);
    EXPECT_EQ(render(rings, 1, 2.0f)[0], 2.0f);
    for (float mode : {0.0f, 6.0f, 7.0f, 8.0f}) {
        OscillatorState osc = make_oscillator(mode, 40);
        osc.phase = 777;
        for (float v : render(osc, 200, 0.25f)) ASSERT_EQ(v, 0.25f);
        osc.mode = kOscillatorSine;  // resumes from the kept phase
        render(osc, 1);
        EXPECT_EQ(osc.phase, 777u + static_cast<uint32_t>(osc.increment));
    }
}

TEST(Oscillator, NoiseIsSeededOnceAtResetAndLeavesThePhase)
{
    FpModeGuard fp;
    OscillatorState a = make_oscillator(kOscillatorNoise, 20), b = a;
    oscillator_reset(a, 1000);
    oscillator_reset(b, 1000);
    EXPECT_EQ(render(a, 4096), render(b, 4096));
    EXPECT_EQ(a.phase, 0u);
}

TEST(Oscillator, RampWithAPeakFinerThanItsResolutionStaysFinite)
{
    FpModeGuard fp;
    OscillatorState tiny = make_oscillator(kOscillatorRamp, 1e-6f, 100.0f);
    ASSERT_NE(tiny.threshold, 0u);
    tiny.phase = 0xFFFFFFFFu - 100000u;
    for (float v : render(tiny, 4096)) ASSERT_LE(std::fabs(v), 1.0f);
}

TEST(Oscillator, ASliceSetUpOfTheChangedParametersAloneGivesTheFullSetUp)
{
    FpModeGuard fp;
    const auto before = values(OscillatorParams<float>{.mode = 1, .colour = 20, .gain = 90});
    const auto after =
        values(OscillatorParams<float>{.mode = 4, .ring = 1, .transpose = 70, .detune = 30, .colour = 100, .gain = 12});
    for (int32_t param = 0; param < OscillatorParam::kCount; ++param) {
        auto p = before;
        p[param] = after[param];
        OscillatorState full{};
        oscillator_setup(full, p.data(), RateConstants{});
        OscillatorState sliced{};
        oscillator_setup(sliced, before.data(), RateConstants{});
        oscillator_setup_slice(sliced, p.data(), 1u << param);
        oscillator_update_pitch(sliced, RateConstants{});
        EXPECT_EQ(std::memcmp(&full, &sliced, sizeof full), 0) << param;
    }
}

}  // namespace
