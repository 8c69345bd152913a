// Wild parameter bytes and blown-up states: every continuous parameter is held
// to its 0..128 scale, selectors keep their whole byte, and a unit whose state
// became NaN or infinite is silenced and cleared at the next block instead of
// poisoning the mix.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <set>

#include "tests/synth/engine_harness.h"

namespace {

bool all_finite(const std::vector<float>& frames)
{
    for (float x : frames) {
        if (!std::isfinite(x)) return false;
    }
    return true;
}

// Every unit in use, so that each continuous byte changes the sound.
PatchBuilder every_unit_patch()
{
    return PatchBuilder()
        .oscillator(0, {.mode = kOscillatorRamp, .colour = 40, .gain = 90})
        .oscillator(1, {.mode = kOscillatorPulse, .detune = 70, .colour = 70, .gain = 80})
        .oscillator(2, {.mode = kOscillatorNoise, .transpose = 76, .colour = 60, .gain = 30})
        .filter(0, {.mode = kFilterLowPass, .cutoff = 80, .resonance = 60})
        .filter(1, {.mode = kFilterBandPass, .cutoff = 60, .resonance = 40})
        .routing(kRoutingParallel)
        .balance(50)
        .distortion({.mode = kDistortionOverdrive, .drive = 48, .a = 100, .b = 70})
        .envelope(0, {.attack = 10, .decay = 60, .sustain = 100, .slope = 70, .release = 40})
        .envelope(1, {.attack = 20, .decay = 70, .sustain = 64, .slope = 60, .release = 30})
        .lfo(0, {.waveform = kLfoSine, .rate = 80, .start_phase = 20, .polarity = 2, .amount = 30})
        .lfo(1, {.waveform = kLfoTriangle, .key_sync = 1, .rate = 90, .start_phase = 30, .amount = 20})
        .modulate(kModSourceLfo1, 100, kVoicePan)
        .modulate(kModSourceLfo2, 70, kVoiceTranspose)
        .volume(100)
        .reverb_send(60)
        .delay_send(40)
        .shelf(64)
        .channel_distortion({.mode = kDistortionClip, .drive = 40, .a = 90, .b = 60})
        .channel_delay({90, 70, 20, 25, 60, 40, 32})
        .channel_dynamics({1, 1, 0, 3, 40, 90, 20, 60, 64});
}

GlobalsBuilder every_master_unit()
{
    return GlobalsBuilder()
        .reverb({.decay = 90, .damping = 50, .low_cut = 30, .input = 100})
        .delay({90, 80, 4, 5, 20, 10, 40})
        .low_cut(5)
        .high_cut(110)
        .dynamics({2, 0, 0, 5, 50, 80, 10, 70, 64});
}

// Two notes held for six blocks, then released for six.
std::vector<float> render_phrase(const PatchBuilder& patch, const GlobalsBuilder& globals = every_master_unit())
{
    EngineHarness h(BankBuilder().add(patch), globals);
    h.play(StreamBuilder().note_on(0, 48, 100).note_on(0, 55, 90));
    std::vector<float> out = h.render(6 * kBlockSize);
    h.play(StreamBuilder().note_off(0, 48).note_off(0, 55));
    const std::vector<float> tail = h.render(6 * kBlockSize);
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

// Patch bytes (voice block, then channel block) that select a mode or hold
// bits rather than a level; the distortion's B is the crusher's mask only in
// crusher mode, which the patch above does not use.
std::set<int> selector_bytes()
{
    std::set<int> out{kVoiceRouting, kVoicePhaseReset};
    for (int osc : {kVoiceOscillator1, kVoiceOscillator2, kVoiceOscillator3}) {
        out.insert({osc + OscillatorParam::kMode, osc + OscillatorParam::kRing});
    }
    for (int filter : {kVoiceFilter1, kVoiceFilter2}) out.insert(filter + FilterParam::kMode);
    out.insert(kVoiceDistortion + DistortionParam::kMode);
    for (int lfo : {kVoiceLfo1, kVoiceLfo2}) {
        out.insert(
            {lfo + LfoParam::kWaveform, lfo + LfoParam::kKeySync, lfo + LfoParam::kOneShot, lfo + LfoParam::kPolarity});
    }
    const int channel = kPatchChannelOffset;
    out.insert({channel + kChannelEffectOrder, channel + kChannelDistortion + DistortionParam::kMode,
                channel + kChannelDynamics + DynamicsParam::kDetector,
                channel + kChannelDynamics + DynamicsParam::kStereo,
                channel + kChannelDynamics + DynamicsParam::kCompensationOff});
    return out;
}

TEST(ParameterRange, EveryContinuousPatchByteAbove128SoundsAs128)
{
    const std::set<int> selectors = selector_bytes();
    for (int position = 0; position < kPatchPolyphonyOffset; ++position) {
        if (selectors.count(position)) continue;
        const std::vector<float> top = render_phrase(every_unit_patch().byte(position, 128));
        for (uint8_t wild : {129, 200, 255}) {
            const std::vector<float> out = render_phrase(every_unit_patch().byte(position, wild));
            ASSERT_TRUE(all_finite(out)) << "byte " << position << " at " << int(wild);
            ASSERT_EQ(out, top) << "byte " << position << " at " << int(wild);
        }
    }
}

TEST(ParameterRange, EveryContinuousGlobalByteAbove128SoundsAs128)
{
    const std::set<int> selectors{kGlobalDynamics + DynamicsParam::kDetector, kGlobalDynamics + DynamicsParam::kStereo,
                                  kGlobalDynamics + DynamicsParam::kCompensationOff};
    for (int position = 0; position < kGlobalParamCount; ++position) {
        if (selectors.count(position)) continue;
        const std::vector<float> top = render_phrase(every_unit_patch(), every_master_unit().byte(position, 128));
        const std::vector<float> out = render_phrase(every_unit_patch(), every_master_unit().byte(position, 255));
        ASSERT_TRUE(all_finite(out)) << "global byte " << position;
        ASSERT_EQ(out, top) << "global byte " << position;
    }
}

// The bytes that once gave an all-NaN render or a full-scale DC offset.
TEST(ParameterRange, PanTransposeColourAndResonanceBeyondTheScaleStayFinite)
{
    const int osc1 = kPatchVoiceOffset + kVoiceOscillator1;
    const int filter1 = kPatchVoiceOffset + kVoiceFilter1;
    const std::vector<std::pair<int, uint8_t>> cases{{kVoicePan, 200},
                                                     {kVoicePan, 129},
                                                     {osc1 + OscillatorParam::kTranspose, 255},
                                                     {osc1 + OscillatorParam::kColour, 255},
                                                     {filter1 + FilterParam::kResonance, 129}};
    const auto patch = [] {
        return sine_patch().oscillator(0, {.mode = kOscillatorRamp}).filter(0, {.mode = kFilterLowPass, .cutoff = 90});
    };
    for (const auto& [position, value] : cases) {
        const std::vector<float> out = render_phrase(patch().byte(position, value), GlobalsBuilder());
        EXPECT_TRUE(all_finite(out)) << "byte " << position << " at " << int(value);
        EXPECT_EQ(out, render_phrase(patch().byte(position, 128), GlobalsBuilder())) << "byte " << position;
    }
}

TEST(ParameterRange, TheCrusherMaskKeepsItsWholeByte)
{
    const auto crusher = [](uint8_t mask) {
        return sine_patch().distortion({.mode = kDistortionBitCrusher, .drive = 32, .a = 4, .b = mask});
    };
    EXPECT_NE(render_phrase(crusher(255), GlobalsBuilder()), render_phrase(crusher(128), GlobalsBuilder()));
}

struct Fault {
    const char* unit;
    std::function<void(SynthEngine&)> poison;
    std::function<bool(const SynthEngine&)> cleared;
};

// Each unit's state is poisoned between two blocks; the output stays finite,
// the unit is cleared at the next block start and sound goes on.
TEST(Containment, AUnitWhoseStateBecameNonFiniteIsSilencedAndClearedAtTheNextBlock)
{
    const float nan = std::nanf("");
    const float inf = INFINITY;
    const std::vector<Fault> faults{
        {"voice", [nan](SynthEngine& e) { e.state.voices[0].filters[0].band = nan; },
         [](const SynthEngine& e) { return e.state.voice_channel[0] == -1; }},
        {"channel dynamics", [inf](SynthEngine& e) { e.state.channels[0].dynamics.gain_left = inf; },
         [](const SynthEngine& e) { return std::isfinite(e.state.channels[0].dynamics.gain_left); }},
        {"channel delay",
         [nan](SynthEngine& e) { std::fill_n(e.state.channels[0].delay.ring_left, kChannelDelayFrames, nan); },
         [](const SynthEngine& e) { return e.state.channels[0].delay.write_index == kBlockSize; }},
        {"reverb", [nan](SynthEngine& e) { e.state.reverb.comb_states[2] = nan; },
         [](const SynthEngine& e) { return std::isfinite(e.state.reverb.comb_states[2]); }},
        {"global delay",
         [inf](SynthEngine& e) { std::fill_n(e.state.global_delay.ring_right, kGlobalDelayFrames, inf); },
         [](const SynthEngine& e) { return e.state.global_delay.write_index == kBlockSize; }},
        {"master dynamics", [nan](SynthEngine& e) { e.state.master_dynamics.gain_left = nan; },
         [](const SynthEngine& e) { return std::isfinite(e.state.master_dynamics.gain_left); }},
    };
    for (const Fault& fault : faults) {
        EngineHarness h(BankBuilder().add(every_unit_patch()), every_master_unit());
        h.play(StreamBuilder().note_on(0, 48, 100).note_on(1, 60, 100));
        h.render(4 * kBlockSize);
        fault.poison(*h.engine);
        const std::vector<float> hit = h.render(kBlockSize);
        EXPECT_TRUE(all_finite(hit)) << fault.unit;
        const std::vector<float> after = h.render(kBlockSize);
        EXPECT_TRUE(fault.cleared(*h.engine)) << fault.unit;
        const SynthState& state = h.engine->state;
        const auto none = [](const auto& flags) {
            return std::all_of(std::begin(flags), std::end(flags), [](uint8_t f) { return f == 0; });
        };
        EXPECT_TRUE(none(state.faulty_voices) && none(state.faulty_channels) && state.faulty_master == 0) << fault.unit;
        const std::vector<float> later = h.render(8 * kBlockSize);
        EXPECT_TRUE(all_finite(after) && all_finite(later)) << fault.unit;
        EXPECT_FALSE(all_zero(later)) << fault.unit << ": the mix fell silent";
    }
}

}  // namespace
