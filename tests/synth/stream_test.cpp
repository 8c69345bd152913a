#include <gtest/gtest.h>

#include "tests/synth/engine_harness.h"

namespace {

PatchBuilder sine_patch(uint8_t polyphony = 16)
{
    PatchBuilder patch;
    patch.oscillator(0, {.mode = kOscillatorSine}).polyphony(polyphony);
    return patch;
}

TEST(StreamInterpreter, NoteOnAssignsTheLowestFreeVoiceWithItsNoteAndVelocity)
{
    EngineHarness h(sine_patch());
    h.play(StreamBuilder().note_on(3, 60, 100));
    EXPECT_EQ(h.channel_of(0), 3);
    EXPECT_EQ(h.voice(0).note, 60);
    EXPECT_EQ(h.voice(0).velocity, 100.0f);
    EXPECT_EQ(h.voice(0).gate, 1);
    EXPECT_EQ(h.engine->voice_stamp[0], 0u);
    EXPECT_EQ(h.engine->note_counter, 1u);
    EXPECT_EQ(h.busy_voices(), 1);
}

TEST(StreamInterpreter, RunningStatusCarriesWithinAndAcrossStreams)
{
    EngineHarness h(sine_patch());
    h.play(std::vector<uint8_t>{0x90, 60, 100, 64, 90, 0xFD});
    EXPECT_EQ(h.busy_voices(), 2);
    EXPECT_EQ(h.voice(1).note, 64);
    EXPECT_EQ(h.voice(1).velocity, 90.0f);

    h.play(std::vector<uint8_t>{67, 80, 0xFD});
    EXPECT_EQ(h.busy_voices(), 3);
    EXPECT_EQ(h.voice(2).note, 67);
}

TEST(StreamInterpreter, DataBeforeAnyStatusEndsTheStream)
{
    EngineHarness h(sine_patch());
    h.play(std::vector<uint8_t>{60, 100, 0x90, 61, 100, 0xFD});
    EXPECT_EQ(h.busy_voices(), 0);
    EXPECT_EQ(h.engine->running_status, 0);
}

TEST(StreamInterpreter, VelocityZeroAndStatus8nBothReleaseTheNote)
{
    EngineHarness h(sine_patch());
    h.play(StreamBuilder().note_on(0, 60, 100).note_on(0, 62, 100));
    h.play(StreamBuilder().note_on(0, 60, 0).note_off(0, 62, 77));
    EXPECT_EQ(h.voice(0).gate, 0);
    EXPECT_EQ(h.voice(1).gate, 0);
    EXPECT_EQ(h.busy_voices(), 2);  // released voices stay busy until their envelope ends
}

TEST(StreamInterpreter, NoteOffReleasesOnlyTheLowestHeldVoiceOfThatNoteAndChannel)
{
    EngineHarness h(sine_patch());
    h.play(StreamBuilder().note_on(1, 60, 100).note_on(0, 60, 100).note_on(0, 60, 100));
    h.play(StreamBuilder().note_off(0, 60));
    EXPECT_EQ(h.voice(0).gate, 1);  // channel 1
    EXPECT_EQ(h.voice(1).gate, 0);
    EXPECT_EQ(h.voice(2).gate, 1);
    h.play(StreamBuilder().note_off(0, 60));
    EXPECT_EQ(h.voice(2).gate, 0);
    h.play(StreamBuilder().note_off(0, 61));
    EXPECT_EQ(h.voice(0).gate, 1);
}

TEST(StreamInterpreter, AtThePolyphonyLimitTheChannelsOldestReleasedVoiceIsTakenFirst)
{
    EngineHarness h(sine_patch(2));
    h.play(StreamBuilder().note_on(0, 60, 100).note_on(0, 62, 100).note_off(0, 62));
    h.play(StreamBuilder().note_on(0, 64, 100));
    EXPECT_EQ(h.voice(1).note, 64);
    EXPECT_EQ(h.voice(1).gate, 1);
    EXPECT_EQ(h.engine->voice_stamp[1], 2u);
    EXPECT_EQ(h.busy_voices(), 2);

    // Nothing released: the oldest voice of the channel goes.
    h.play(StreamBuilder().note_on(0, 65, 100));
    EXPECT_EQ(h.voice(0).note, 65);
    EXPECT_EQ(h.busy_voices(), 2);
}

TEST(StreamInterpreter, AStolenVoiceKeepsItsStateAndAttacksFromItsLevel)
{
    EngineHarness h(PatchBuilder(sine_patch(1)).envelope(0, {.attack = 40}));
    h.play(StreamBuilder().note_on(0, 60, 100));
    h.render(4 * kBlockSize);
    const VoiceState before = h.voice(0);
    ASSERT_GT(before.envelopes[0].level, 0.0f);

    h.play(StreamBuilder().note_on(0, 72, 50));
    EXPECT_EQ(h.busy_voices(), 1);
    const VoiceState& after = h.voice(0);
    EXPECT_EQ(after.note, 72);
    EXPECT_EQ(after.envelopes[0].state, kEnvelopeAttack);
    EXPECT_EQ(after.envelopes[0].level, before.envelopes[0].level);
    EXPECT_EQ(after.amplitude, before.amplitude);
    EXPECT_EQ(after.oscillators[0].phase, before.oscillators[0].phase);
}

TEST(StreamInterpreter, WithAllVoicesBusyTheOldestReleasedVoiceOfAnyChannelIsStolen)
{
    EngineHarness h(sine_patch(16));
    StreamBuilder fill;
    for (int v = 0; v < kVoiceCount; ++v) fill.note_on(v / 16, static_cast<uint8_t>(40 + v), 100);
    h.play(fill);
    ASSERT_EQ(h.busy_voices(), 32);
    h.play(StreamBuilder().note_off(1, 40 + 25).note_off(1, 40 + 20));

    h.play(StreamBuilder().note_on(2, 90, 100));
    EXPECT_EQ(h.channel_of(20), 2);
    EXPECT_EQ(h.voice(20).note, 90);

    h.play(StreamBuilder().note_on(2, 91, 100));
    EXPECT_EQ(h.channel_of(25), 2);

    // No released voice left: the oldest of all.
    h.play(StreamBuilder().note_on(2, 92, 100));
    EXPECT_EQ(h.channel_of(0), 2);
    EXPECT_EQ(h.voice(0).note, 92);
}

TEST(StreamInterpreter, APatchWithPolyphonyZeroIgnoresNoteOns)
{
    EngineHarness h(sine_patch(0));
    h.play(StreamBuilder().note_on(0, 60, 100));
    EXPECT_EQ(h.busy_voices(), 0);
    EXPECT_EQ(h.engine->note_counter, 0u);
}

TEST(StreamInterpreter, Controller120FreesAtOnceWhile123Releases)
{
    EngineHarness h(PatchBuilder(sine_patch()).envelope(0, {.release = 120}));
    h.play(StreamBuilder().note_on(0, 60, 100).note_on(0, 62, 100).note_on(1, 60, 100));
    h.render(kBlockSize);

    h.play(StreamBuilder().controller(0, 123, 0));
    EXPECT_EQ(h.channel_of(0), 0);
    EXPECT_EQ(h.voice(0).gate, 0);
    EXPECT_EQ(h.voice(1).gate, 0);
    EXPECT_EQ(h.voice(2).gate, 1);

    h.play(StreamBuilder().controller(0, 120, 0));
    EXPECT_EQ(h.channel_of(0), -1);
    EXPECT_EQ(h.channel_of(1), -1);
    EXPECT_EQ(h.voice(0).envelopes[0].state, kEnvelopeOff);
    EXPECT_EQ(h.channel_of(2), 1);
}

TEST(StreamInterpreter, ControllersOneToSevenAreStoredAndOthersIgnored)
{
    EngineHarness h(sine_patch());
    h.play(StreamBuilder().controller(4, 1, 11).controller(4, 7, 77).controller(4, 0, 5).controller(4, 8, 9));
    const ChannelControls& controls = h.engine->channel_controls[4];
    EXPECT_EQ(controls.bytes[0], 0);
    EXPECT_EQ(controls.bytes[1], 11);
    EXPECT_EQ(controls.bytes[7], 77);
}

TEST(StreamInterpreter, ProgramChangeToTheSameProgramKeepsVoicesButClearsControllers)
{
    EngineHarness h(BankBuilder().add(sine_patch()).add(sine_patch()));
    h.play(StreamBuilder().note_on(0, 60, 100).controller(0, 1, 10).controller(0, 6, 60).controller(0, 7, 70));
    h.play(StreamBuilder().program(0, 0));
    EXPECT_EQ(h.channel_of(0), 0);
    const ChannelControls& controls = h.engine->channel_controls[0];
    EXPECT_EQ(controls.bytes[1], 0);
    EXPECT_EQ(controls.bytes[6], 0);
    EXPECT_EQ(controls.bytes[7], 70);

    h.play(StreamBuilder().program(0, 1));
    EXPECT_EQ(controls.bytes[0], 1);
    EXPECT_EQ(h.channel_of(0), -1);
    // Freed without a reset: the voice keeps its unit state.
    EXPECT_EQ(h.voice(0).gate, 1);
}

TEST(StreamInterpreter, PressureAndPitchBendChangeNothing)
{
    EngineHarness h(sine_patch());
    h.play(std::vector<uint8_t>{0xA0, 60, 10, 0xD0, 5, 6, 0xE0, 0, 64, 0x90, 60, 100, 0xFD});
    EXPECT_EQ(h.busy_voices(), 1);
    EXPECT_EQ(h.voice(0).note, 60);
    EXPECT_EQ(h.engine->channel_controls[0].bytes[5], 0);
}

TEST(StreamInterpreter, DataBytesUnderSystemStatusAreSkippedOneAtATime)
{
    EngineHarness h(sine_patch());
    h.play(std::vector<uint8_t>{0xF8, 1, 2, 3, 0xF0, 0x90, 60, 100, 0xFD});
    EXPECT_EQ(h.busy_voices(), 1);

    h.play(std::vector<uint8_t>{0xF1, 0xFD});
    h.play(std::vector<uint8_t>{61, 100, 62, 0xFD});
    EXPECT_EQ(h.busy_voices(), 1);
}

TEST(StreamInterpreter, AStatusByteCutsAMessageShortAndTheEndByteIsNeverPassed)
{
    EngineHarness h(sine_patch());
    h.play(std::vector<uint8_t>{0x90, 60, 0xFD, 0x90, 61, 100, 0xFD});
    EXPECT_EQ(h.busy_voices(), 0);

    h.play(std::vector<uint8_t>{0x90, 60, 0x91, 62, 100, 0xFD});
    EXPECT_EQ(h.busy_voices(), 1);
    EXPECT_EQ(h.channel_of(0), 1);
    EXPECT_EQ(h.voice(0).note, 62);
}

TEST(StreamInterpreter, ResetRestoresTheInitialStateWithoutGlobals)
{
    EngineHarness h(BankBuilder().add(sine_patch()).add(sine_patch()), GlobalsBuilder().high_cut(127));
    h.play(StreamBuilder().program(2, 1).controller(2, 3, 30).note_on(2, 60, 100));
    h.render(100);

    h.play(StreamBuilder().reset());
    EXPECT_EQ(h.busy_voices(), 0);
    EXPECT_EQ(h.engine->channel_controls[2].bytes[0], 0);
    EXPECT_EQ(h.engine->channel_controls[2].bytes[3], 0);
    EXPECT_EQ(h.engine->channel_controls[2].bytes[7], 127);
    EXPECT_EQ(h.engine->running_status, 0);
    EXPECT_EQ(h.engine->note_counter, 0u);
    EXPECT_EQ(h.engine->frames_left, 0);
    EXPECT_EQ(h.engine->master_cut.high_coefficient, 0.0f);
    EXPECT_EQ(h.engine->sample_rate, kSampleRate);
    EXPECT_EQ(h.engine->patch_bank, h.bank.data());

    // After the reset a data byte has no status to run under.
    h.play(std::vector<uint8_t>{0xFF, 60, 100, 0xFD});
    EXPECT_EQ(h.busy_voices(), 0);
    h.play(std::vector<uint8_t>{0xFF, 0x90, 60, 100, 0xFD});
    EXPECT_EQ(h.busy_voices(), 1);
}

TEST(StreamInterpreter, OnlyChannel15ReachesTheSpeechHooks)
{
    // Polyphony 0: the notes themselves are ignored, their speech hooks are not.
    EngineHarness h(sine_patch(0));
    SpeechState& speech = h.engine->speech.state;
    const float scale = h.engine->speech.settings.formant_scale;
    speech.hold_note_on = 1;
    speech.hold_note_off = 1;
    h.play(StreamBuilder().note_on(14, 60, 100).note_off(14, 60).controller(14, 123, 0).controller(14, 5, 127));
    EXPECT_EQ(speech.hold_note_on, 1);
    EXPECT_EQ(speech.hold_note_off, 1);
    EXPECT_EQ(h.engine->speech.settings.formant_scale, scale);

    h.play(StreamBuilder().note_on(15, 60, 100));
    EXPECT_EQ(speech.hold_note_on, 0);
    EXPECT_EQ(speech.hold_note_off, 1);
    h.play(StreamBuilder().controller(15, 123, 0));
    EXPECT_EQ(speech.hold_note_off, 0);
    speech.hold_note_off = 1;
    h.play(StreamBuilder().note_on(15, 60, 0));
    EXPECT_EQ(speech.hold_note_off, 0);

    h.play(StreamBuilder().controller(15, 5, 127));
    EXPECT_EQ(h.engine->channel_controls[15].bytes[5], 127);
    EXPECT_NE(h.engine->speech.settings.formant_scale, scale);
}

}  // namespace
