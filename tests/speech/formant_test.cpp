#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>
#include <tuple>

#include "speech/phonemes.h"
#include "speech/speech.h"
#include "synth/fp_mode.h"
#include "tests/speech/speech_test_support.h"

namespace {

TEST(FormantEngine, NoiseFromAZeroStateGivesTheKnownSequence)
{
    FpModeGuard mode;
    SpeechState state{};
    const uint32_t seeds[] = {907633515u, 2641306770u, 4111285669u, 4143921812u};
    const float values[] = {-0.1443376f, -0.0507646f, 0.1905431f, 0.3753233f};
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(noise_next(state), values[i], 1e-7f);
        EXPECT_EQ(state.noise_seed, seeds[i]);
    }
}

TEST(FormantEngine, LevelsBlendInLevelUnitsAndDoubleEverySixUnits)
{
    FpModeGuard mode;
    // Current level, blend level, fraction: gain.
    for (const auto& [a, b, fraction, gain, within] : {std::tuple{70, 70, 0.0f, 1.0f, 0.0f},
                                                       {64, 64, 0.0f, 0.5f, 0.0f},
                                                       {62, 62, 0.0f, 0.3969f, 1e-4f},
                                                       {0, 0, 0.0f, 0.00030760f, 1e-8f},  // 2^(-70/6)
                                                       {-16, -16, 0.0f, 0.0000484f, 1e-7f},
                                                       {70, 58, 0.5f, 0.5f, 0.0f}})  // not the mean of 1.0 and 0.25
        EXPECT_NEAR(level_to_gain(a, b, fraction), gain, within) << a << " " << b << " " << fraction;
}

TEST(FormantEngine, CoefficientsMatchTheKnownValuesAt44100)
{
    auto speech = make_speech();
    const ResonatorCoeffs& out = speech->settings.output_coeffs;  // 12 kHz, 4 kHz, gain 2
    EXPECT_NEAR(out.a, 3.547699f, 1e-5f);
    EXPECT_NEAR(out.b, -0.208269f, 1e-6f);
    EXPECT_NEAR(out.c, -0.565580f, 1e-6f);

    const FormantFrame frame = frame_for(0, 0, 0.0f);
    const ResonatorCoeffs& r1 = frame.resonators[1];  // 490 Hz, 60 Hz, level 64
    EXPECT_NEAR(r1.a, 0.0024347f, 2e-7f);
    EXPECT_NEAR(r1.b, 1.98662f, 1e-5f);
    EXPECT_NEAR(r1.c, -0.991488f, 1e-6f);
    const ResonatorCoeffs& r4 = frame.resonators[4];  // 3200 Hz, 200 Hz, level 40
    EXPECT_NEAR(r4.a, 0.0063000f, 2e-7f);
    EXPECT_NEAR(r4.b, 1.77031f, 1e-5f);
    EXPECT_NEAR(r4.c, -0.971907f, 1e-6f);
    EXPECT_NEAR(frame.voice_gain, 0.39685f, 1e-5f);
}

TEST(FormantEngine, ASettledResonatorPassesGainTimesInput)
{
    FpModeGuard mode;
    auto speech = make_speech();
    ResonatorCoeffs k{};
    resonator_set(speech->settings, k, 1000.0f, 300.0f, 0.3f);
    Resonator resonator{&k, 0.0f, 0.0f};
    float y = 0.0f;
    for (int i = 0; i < 20000; ++i) y = resonator_step(resonator, 2.0f);
    EXPECT_NEAR(y, 0.6f, 1e-5f);
}

TEST(FormantEngine, RenderRampsOntoTheTargetAndWritesTheLeftInputsSpeechToBothSides)
{
    FpModeGuard mode;
    auto a = make_speech("ah");
    auto b = make_speech("ah");
    speech_tick(*a);
    speech_tick(*b);
    float fa[2 * 128];
    float fb[2 * 128];
    for (int n = 0; n < 128; ++n) {
        fa[2 * n] = fb[2 * n] = std::sin(0.07f * static_cast<float>(n));
        fa[2 * n + 1] = 0.0f;
        fb[2 * n + 1] = 0.9f;
    }
    speech_render(*a, fa, 128);
    speech_render(*b, fb, 128);
    EXPECT_EQ(std::memcmp(fa, fb, sizeof(fa)), 0);
    for (int n = 0; n < 128; ++n) ASSERT_EQ(fa[2 * n], fa[2 * n + 1]);

    const float* current = reinterpret_cast<const float*>(&a->state.current);
    const float* target = reinterpret_cast<const float*>(&a->state.target);
    for (int i = 0; i < kFormantFrameValues; ++i) {
        EXPECT_NEAR(current[i], target[i], 1e-5f * (1.0f + std::fabs(target[i]))) << "value " << i;
    }
}

TEST(PhonemeTable, SampleRowsAndTheConstantColumnsMatchTheTable)
{
    const float row18[] = {490, 60, 1480, 90, 2500, 150, 270, 0, 0, 0, -19, -16, -16, -16, -16, -16, -1, 5, 31};
    const float row37[] = {480, 40, 1780, 300, 2620, 260, 450, 62, 0, 0, -19, 49, 49, 49, 34, 56, -1, 8, 11};
    const float row54[] = {400, 200, 1720, 90, 2620, 220, 270, 0, 32, 60, -19, -16, 42, 42, 54, 50, 45, 12, 18};
    auto speech = make_speech();
    EXPECT_EQ(std::memcmp(speech->settings.rows[18], row18, sizeof(row18)), 0);
    EXPECT_EQ(std::memcmp(speech->settings.rows[37], row37, sizeof(row37)), 0);
    EXPECT_EQ(std::memcmp(speech->settings.rows[54], row54, sizeof(row54)), 0);

    const std::set<int> exceptions = {1, 36, 37, 38, 53, 54};  // ae, m, n, ng, rx, s
    for (int row = 0; row < kPhonemeRowCount; ++row) {
        const float* p = kPhonemeRows[row];
        const bool typical = p[kParamF1Bandwidth] == 60 && p[kParamF2Bandwidth] == 90 && p[kParamF3Bandwidth] == 150 &&
                             p[kParamNasalFreq] == 270;
        EXPECT_EQ(typical, exceptions.count(row) == 0) << "row " << row;
        EXPECT_TRUE(p[kParamDuration] >= 0 && p[kParamDuration] <= 16) << "row " << row;
        EXPECT_TRUE(p[kParamBlendWeight] >= 2 && p[kParamBlendWeight] <= 31) << "row " << row;
    }
}

}  // namespace
