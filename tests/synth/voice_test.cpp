#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <tuple>

#include "tests/synth/engine_harness.h"

namespace {

// Converts voice 0 from the given raw parameters.
const VoiceState& convert(EngineHarness& h, std::initializer_list<std::pair<int, float>> values)
{
    FpModeGuard mode;
    float* p = h.engine->state.voice_params[0];
    for (int i = 0; i < kVoiceParamCount; ++i) p[i] = 0.0f;
    for (const auto& [index, value] : values) p[index] = value;
    voice_convert_params(*h.engine, 0, ~uint64_t{0});
    return h.voice(0);
}

TEST(Voice, MixingAddsPannedSamplesInVoiceOrderAndANonFiniteOneCountsAsPlusZeroOnceCleaned)
{
    // Signed zeros, a sum that overflows though every sample is finite, and
    // each non-finite kind; seven frames: one group of four and three more.
    EngineHarness h(PatchBuilder{});
    SynthEngine& engine = *h.engine;
    FpModeGuard mode;
    constexpr int32_t kFrames = 7;
    const float blocks[3][kFrames] = {{-0.0f, 1.0f, FLT_MAX, -2.5f, FLT_MAX, -0.0f, 3.0f},
                                      {-0.0f, NAN, 0.75f, INFINITY, 0.5f, -0.0f, -INFINITY},
                                      {-0.0f, -1.0f, 0.25f, 2.0f, -0.0f, 0.0f, 1.0f}};
    const float pans[3][2] = {{1.0f, 0.0f}, {0.5f, 0.75f}, {0.0f, 1.0f}};
    std::vector<float> expected(2 * kFrames, 0.0f);
    for (int v = 0; v < 3; ++v) {
        std::copy(blocks[v], blocks[v] + kFrames, engine.buffers.voice_out[v]);
        engine.state.voices[v].pan_left = pans[v][0];
        engine.state.voices[v].pan_right = pans[v][1];
        for (int32_t i = 0; i < kFrames; ++i) {
            const float s = std::isfinite(blocks[v][i]) ? blocks[v][i] : 0.0f;
            expected[2 * i] += s * pans[v][0];
            expected[2 * i + 1] += s * pans[v][1];
        }
    }
    const auto mix = [&](bool clean) {
        std::vector<float> frames(2 * kFrames, 0.0f);
        std::vector<bool> finite;
        for (int v = 0; v < 3; ++v) finite.push_back(voice_mix(engine, v, frames.data(), kFrames, clean));
        return std::make_pair(frames, finite);
    };
    EXPECT_EQ(mix(false).second, (std::vector<bool>{false, false, true}));
    EXPECT_TRUE(std::none_of(engine.state.faulty_voices, engine.state.faulty_voices + 3, [](uint8_t f) { return f; }));
    const auto [frames, finite] = mix(true);
    EXPECT_EQ(finite, (std::vector<bool>{false, true, true}));
    EXPECT_EQ(0, std::memcmp(frames.data(), expected.data(), sizeof(float) * expected.size()));
    EXPECT_EQ(std::vector<uint8_t>(engine.state.faulty_voices, engine.state.faulty_voices + 3),
              (std::vector<uint8_t>{0, 1, 0}));
}

TEST(Voice, PanIsEqualPowerAndBalanceFadesOneParallelFilterAtATime)
{
    EngineHarness h{PatchBuilder()};
    // Pan: left and right gains.
    for (const auto& [pan, left, right] :
         {std::tuple{0.0f, 1.0f, 0.0f}, std::tuple{128.0f, 0.0f, 1.0f}, std::tuple{64.0f, 0.70710677f, 0.70710677f}}) {
        const VoiceState& voice = convert(h, {{kVoicePan, pan}});
        EXPECT_EQ(voice.pan_left, left) << "pan " << pan;
        EXPECT_EQ(voice.pan_right, right) << "pan " << pan;
    }
    // Balance: filter 1 and filter 2 gains; 63.5 - 64 rounds to 0 (ties to even), filter 1's side of the rule.
    for (const auto& [balance, first, second] :
         {std::tuple{0.0f, 1.0f, 0.0f}, std::tuple{64.0f, 1.0f, 1.0f}, std::tuple{127.0f, 0.015625f, 1.0f},
          std::tuple{63.5f, 1.0078125f, 1.0f}}) {
        const VoiceState& voice = convert(h, {{kVoiceBalance, balance}});
        EXPECT_EQ(voice.filter1_gain, first) << "balance " << balance;
        EXPECT_EQ(voice.filter2_gain, second) << "balance " << balance;
    }
}

// Renders a single held note and returns the frames.
std::vector<float> render_note(const PatchBuilder& patch, int32_t frames)
{
    EngineHarness h(patch);
    h.play(StreamBuilder().note_on(0, 57, 100));
    return h.render(frames);
}

PatchBuilder two_filter_patch(uint8_t routing)
{
    PatchBuilder patch;
    patch.oscillator(0, {.mode = kOscillatorRamp, .colour = 0})
        .filter(0, {.mode = kFilterLowPass, .cutoff = 70, .resonance = 60})
        .filter(1, {.mode = kFilterHighPass, .cutoff = 50, .resonance = 20})
        .routing(routing);
    return patch;
}

TEST(Voice, RoutingZeroIgnoresFilterTwoAndHighRoutingsActSerial)
{
    const std::vector<float> single = render_note(two_filter_patch(0), 3 * kBlockSize);
    const std::vector<float> alone =
        render_note(PatchBuilder(two_filter_patch(0)).filter(1, {.mode = kFilterBypass}), 3 * kBlockSize);
    EXPECT_EQ(single, alone);

    const std::vector<float> serial = render_note(two_filter_patch(1), 3 * kBlockSize);
    EXPECT_NE(serial, single);
    EXPECT_EQ(render_note(two_filter_patch(3), 3 * kBlockSize), serial);
    EXPECT_EQ(render_note(two_filter_patch(200), 3 * kBlockSize), serial);
}

TEST(Voice, ParallelRoutingAtBalance64SumsBothFilters)
{
    const int32_t frames = 3 * kBlockSize;
    const std::vector<float> both = render_note(two_filter_patch(2), frames);
    const std::vector<float> first =
        render_note(PatchBuilder(two_filter_patch(0)).routing(2).filter(1, {.mode = 6}).balance(0), frames);
    EXPECT_NE(both, first);
    // Filter 2 alone: filter 1 passes (mode 0) and is weighted 0 at balance 128.
    const std::vector<float> second =
        render_note(PatchBuilder(two_filter_patch(2)).filter(0, {.mode = kFilterBypass}).balance(128), frames);
    // The channel is linear with effects off: the sum matches up to rounding.
    double worst = 0.0;
    for (size_t i = 0; i < both.size(); ++i) {
        const double d = static_cast<double>(both[i]) - (static_cast<double>(first[i]) + second[i]);
        worst = std::max(worst, std::abs(d));
    }
    EXPECT_LT(worst, 1e-6);
}

TEST(Voice, TheFirstBlockRampsFromSilenceToTheEnvelopeLevel)
{
    EngineHarness h(sine_patch());
    h.play(StreamBuilder().note_on(0, 60, 100));
    h.render(1);
    EXPECT_EQ(h.voice(0).amplitude_step, 1.0f / 128.0f);
    h.render(kBlockSize - 1);
    EXPECT_EQ(h.voice(0).amplitude, 1.0f);
}

TEST(Voice, PhaseResetRestartsTheOscillatorsOnlyWhenSet)
{
    for (uint8_t reset : {0, 1}) {
        EngineHarness h(sine_patch(1).phase_reset(reset));
        h.play(StreamBuilder().note_on(0, 60, 100));
        h.render(kBlockSize);
        const uint32_t phase = h.voice(0).oscillators[0].phase;
        ASSERT_NE(phase, 0u);
        h.play(StreamBuilder().note_off(0, 60).note_on(0, 64, 100));
        EXPECT_EQ(h.voice(0).oscillators[0].phase, reset ? 0u : phase) << int(reset);
    }
}

TEST(Voice, AVoiceIsFreedAtTheBlockStartWhereItsEnvelopeEnds)
{
    EngineHarness h(sine_patch());
    h.play(StreamBuilder().note_on(0, 60, 100));
    h.render(kBlockSize);
    h.play(StreamBuilder().note_off(0, 60));
    EXPECT_EQ(h.busy_voices(), 1);
    h.render(1);  // release 0 ends the envelope in one tick
    EXPECT_EQ(h.busy_voices(), 0);
}

}  // namespace
