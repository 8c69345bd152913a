#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "synth/units/numeric.h"
#include "tests/synth/engine_harness.h"

namespace {

// Destinations that change no sound here.
constexpr uint8_t kLfo1Amount = kVoiceLfo1 + LfoParam::kAmount;
constexpr uint8_t kLfo1Rate = kVoiceLfo1 + LfoParam::kRate;
constexpr uint8_t kLfo2Rate = kVoiceLfo2 + LfoParam::kRate;
constexpr uint8_t kLfo2Amount = kVoiceLfo2 + LfoParam::kAmount;
constexpr uint8_t kChannelVolumeDest = kModDestChannelFirst + kChannelVolume;
constexpr uint8_t kFactorOne = 128;  // (128 - 64) / 64 = 1
constexpr uint8_t kFactorZero = 64;

// Puts voice 0 on channel 0 with the given note and velocity, as a note-on
// would have left it, and rebuilds its parameters.
const float* rebuild_voice(EngineHarness& h, int32_t note, float velocity)
{
    FpModeGuard mode;
    h.engine->state.voice_channel[0] = 0;
    h.engine->state.voices[0].note = note;
    h.engine->state.voices[0].velocity = velocity;
    voice_update_params(*h.engine, 0);
    return h.engine->state.voice_params[0];
}

TEST(ModulationMatrix, EachAdditionIsClampedInto0To128EvenWhenASourceIsNaN)
{
    PatchBuilder patch;
    patch.byte(kLfo1Amount, 100)
        .modulate(kModSourceVelocity, kFactorOne, kLfo1Amount)  // +64, clamped to 128
        .modulate(kModSourceController1, 32, kLfo1Amount);      // 80 * -32 / 64 = -40
    patch.byte(kLfo1Rate, 200).modulate(kModSourceVelocity, kFactorZero, kLfo1Rate);
    patch.byte(kLfo2Amount, 10).modulate(kModSourceVelocity, 0, kLfo2Amount);  // 10 - 64
    patch.byte(kVoicePan, 3).modulate(kModSourceEnvelope1, kFactorOne, kVoicePan);
    patch.byte(kVoiceTranspose, 250);  // untouched bytes keep their raw value
    EngineHarness h(patch);
    h.engine->state.channel_controls[0].controllers[0] = 80;
    h.engine->state.voices[0].envelopes[0].out = std::nanf("");
    const float* p = rebuild_voice(h, 60, 64.0f);
    EXPECT_EQ(p[kLfo1Amount], 88.0f);
    EXPECT_EQ(p[kLfo1Rate], 128.0f);
    EXPECT_EQ(bits_from_float(p[kLfo2Amount]), 0u);
    EXPECT_EQ(p[kVoicePan], 128.0f);
    EXPECT_EQ(p[kVoiceTranspose], 250.0f);
}

TEST(ModulationMatrix, AProgramChangeRebuildsAsAFreshVoiceWouldEvenWhereOnlyTheEntriesDiffer)
{
    PatchBuilder modulated;
    modulated.volume(100)
        .byte(kLfo1Amount, 100)
        .byte(kLfo1Rate, 10)
        .modulate(kModSourceVelocity, kFactorOne, kLfo1Amount);
    modulated.modulate(kModSourceController1, kFactorOne, kChannelVolumeDest);
    PatchBuilder plain;  // the same bytes without the entry
    plain.volume(100).byte(kLfo1Amount, 100).byte(kLfo1Rate, 10);
    PatchBuilder faster;
    faster.volume(100).byte(kLfo1Amount, 100).byte(kLfo1Rate, 20);
    const PatchBuilder* patches[] = {&modulated, &plain, &faster, &modulated};
    EngineHarness h(BankBuilder().add(modulated).add(plain).add(faster).add(modulated));
    for (uint32_t program = 0; program < 4; ++program) {
        h.engine->state.channel_controls[0].program = program;
        EngineHarness fresh(*patches[program]);
        for (EngineHarness* e : {&h, &fresh}) {
            e->engine->state.channel_controls[0].controllers[0] = 5;
            FpModeGuard mode;
            channel_update_params(*e->engine, 0);
        }
        const float* p = rebuild_voice(h, 60, 100.0f);
        const float* q = rebuild_voice(fresh, 60, 100.0f);
        for (int i = 0; i < kVoiceParamCount; ++i)
            EXPECT_EQ(bits_from_float(p[i]), bits_from_float(q[i])) << "program " << program << " parameter " << i;
        EXPECT_EQ(h.engine->state.channel_params[0][kChannelVolume],
                  fresh.engine->state.channel_params[0][kChannelVolume])
            << "program " << program;
        EXPECT_EQ(h.engine->state.channels[0].volume, fresh.engine->state.channels[0].volume) << "program " << program;
        EXPECT_EQ(h.voice(0).lfos[0].amplitude, fresh.voice(0).lfos[0].amplitude) << "program " << program;
        EXPECT_EQ(h.voice(0).lfos[0].rate, fresh.voice(0).lfos[0].rate) << "program " << program;
    }
}

TEST(ModulationMatrix, KeySourcesGiveTwiceTheDistanceFromNote48)
{
    PatchBuilder patch;
    patch.byte(kLfo1Rate, 64).byte(kLfo2Rate, 64).byte(kLfo2Amount, 64);
    patch.modulate(kModSourceKey, kFactorOne, kLfo1Rate)
        .modulate(kModSourceKey + 1, kFactorOne, kLfo2Rate)
        .modulate(255, kFactorOne, kLfo2Amount);
    EngineHarness h(patch);
    const float* p = rebuild_voice(h, 48, 100.0f);
    EXPECT_EQ(p[kLfo1Rate], 64.0f);
    p = rebuild_voice(h, 60, 100.0f);
    EXPECT_EQ(p[kLfo1Rate], 88.0f);
    EXPECT_EQ(p[kLfo2Rate], 88.0f);
    EXPECT_EQ(p[kLfo2Amount], 88.0f);
    p = rebuild_voice(h, 36, 100.0f);
    EXPECT_EQ(p[kLfo1Rate], 40.0f);
}

TEST(ModulationMatrix, ChannelEntriesTakeOnlyControllersAndVelocityReadsZero)
{
    PatchBuilder patch;
    patch.volume(100).reverb_send(200).delay_send(50).byte(kVoicePan, 64);
    patch
        .modulate(kModSourceController1 + 6, kFactorOne, kChannelVolumeDest)         // + controller 7
        .modulate(kModSourceVelocity, 0, kModDestChannelFirst + kChannelReverbSend)  // reads 0, clamps 200
        .modulate(kModSourceEnvelope1, kFactorOne, kModDestChannelFirst + kChannelDelaySend)
        .modulate(kModSourceKey, kFactorOne, kModDestChannelFirst + kChannelDelaySend)
        .modulate(kModSourceController1, kFactorOne, kModDestChannelFirst + kChannelShelf)
        .modulate(kModSourceController1, kFactorOne, 84)
        .modulate(kModSourceController1, kFactorOne, 255);
    EngineHarness h(patch);
    h.engine->state.channel_controls[0].controllers[6] = 10;
    h.engine->state.channel_controls[0].controllers[0] = 5;
    h.engine->state.voices[0].envelopes[0].out = 100.0f;
    const float* p = rebuild_voice(h, 60, 127.0f);
    EXPECT_EQ(p[kVoicePan], 64.0f);  // channel destinations leave the voice alone
    {
        FpModeGuard mode;
        channel_update_params(*h.engine, 0);
    }
    const float* q = h.engine->state.channel_params[0];
    EXPECT_EQ(q[kChannelVolume], 110.0f);
    EXPECT_EQ(q[kChannelReverbSend], 128.0f);
    EXPECT_EQ(q[kChannelDelaySend], 50.0f);
    EXPECT_EQ(q[kChannelShelf], 5.0f);
    EXPECT_FLOAT_EQ(h.engine->state.channels[0].volume, 110.0f / 128.0f * 0.6f);
}

TEST(ModulationMatrix, EnvelopeSourcesReadThePreviousTick)
{
    PatchBuilder patch;
    patch.oscillator(0, {.mode = kOscillatorSine})
        .envelope(1, {.attack = 64, .gain = 128})
        .modulate(kModSourceEnvelope2, kFactorOne, kLfo1Amount);
    EngineHarness h(patch);
    h.play(StreamBuilder().note_on(0, 60, 100));
    h.render(1);
    // The first block rebuilt the parameters before envelope 2's first tick.
    EXPECT_EQ(h.engine->state.voice_params[0][kLfo1Amount], 0.0f);
    const float first_tick = h.voice(0).envelopes[1].out;
    EXPECT_GT(first_tick, 0.0f);
    h.render(kBlockSize);
    EXPECT_EQ(h.engine->state.voice_params[0][kLfo1Amount], first_tick);
}

TEST(ModulationMatrix, ProgramChangeIsReadAtTheNextBlockStart)
{
    EngineHarness h(BankBuilder().add(PatchBuilder().volume(100)).add(PatchBuilder().volume(40)));
    h.render(1);
    EXPECT_EQ(h.engine->state.channel_params[5][kChannelVolume], 100.0f);
    h.play(StreamBuilder().program(5, 1));
    h.render(kBlockSize - 1);
    EXPECT_EQ(h.engine->state.channel_params[5][kChannelVolume], 100.0f);
    h.render(1);
    EXPECT_EQ(h.engine->state.channel_params[5][kChannelVolume], 40.0f);
    EXPECT_EQ(h.engine->state.channel_params[4][kChannelVolume], 100.0f);
}

TEST(ParameterChanges, AnyBitOfAnyCandidateOrAnyByteCountsAndTheLastValuesFollow)
{
    for (const int count : {int{kVoiceParamCount}, int{kChannelParamCount}}) {
        const uint64_t all = (uint64_t{1} << count) - 1u;
        for (int i = 0; i < count; ++i) {
            // One past the end stays untouched.
            std::vector<float> last(count + 1, 0.0f);
            std::vector<float> p(count, 0.0f);
            p[i] = -0.0f;  // equal to 0 as a value, not as bits
            EXPECT_EQ(params_take_changes(p.data(), last.data(), all & ~(uint64_t{1} << i)), 0u) << count << " " << i;
            EXPECT_EQ(params_take_changes(p.data(), last.data(), all), uint64_t{1} << i) << count << " " << i;
            EXPECT_EQ(bits_from_float(last[i]), bits_from_float(-0.0f));
            EXPECT_EQ(bits_from_float(last[count]), 0u);
            EXPECT_EQ(params_take_changes(p.data(), last.data(), all), 0u) << count << " " << i;

            std::vector<uint8_t> last_bytes(count + 1, 0);
            std::vector<uint8_t> bytes(count, 0);
            bytes[i] = 1;
            const bool differ = count == kVoiceParamCount
                                    ? bytes_differ<kVoiceParamCount>(bytes.data(), last_bytes.data())
                                    : bytes_differ<kChannelParamCount>(bytes.data(), last_bytes.data());
            EXPECT_TRUE(differ) << count << " " << i;
            EXPECT_EQ(bytes_take_changes(bytes.data(), last_bytes.data(), count), uint64_t{1} << i)
                << count << " " << i;
            EXPECT_EQ(last_bytes[i], 1);
            EXPECT_EQ(last_bytes[count], 0);
            EXPECT_EQ(bytes_take_changes(bytes.data(), last_bytes.data(), count), 0u) << count << " " << i;
        }
        // A NaN that keeps its bits is no change.
        std::vector<float> p(count, std::nanf(""));
        std::vector<float> last(count, 1.0f);
        EXPECT_EQ(params_take_changes(p.data(), last.data(), all), all);
        EXPECT_EQ(params_take_changes(p.data(), last.data(), all), 0u);
    }
}

}  // namespace
