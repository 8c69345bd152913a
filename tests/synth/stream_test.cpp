#include <gtest/gtest.h>

#include <tuple>

#include "tests/synth/engine_harness.h"

namespace {

TEST(StreamInterpreter, NoteOnAssignsTheLowestFreeVoiceWithItsNoteAndVelocity)
{
    EngineHarness h(sine_patch());
    h.play(StreamBuilder().note_on(3, 60, 100));
    EXPECT_EQ(std::tuple(h.channel_of(0), h.voice(0).note, h.voice(0).velocity, h.voice(0).gate),
              std::tuple(3, 60, 100.0f, 1));
    EXPECT_EQ(h.engine->state.voice_stamp[0], 0u);
    EXPECT_EQ(h.engine->state.note_counter, 1u);
    EXPECT_EQ(h.busy_voices(), 1);
}

TEST(StreamInterpreter, NoteOffReleasesOnlyTheLowestHeldVoiceOfThatNoteAndChannel)
{
    EngineHarness h(sine_patch());
    h.play(StreamBuilder().note_on(1, 60, 100).note_on(0, 60, 100).note_on(0, 60, 100));
    h.play(StreamBuilder().note_off(0, 60));
    EXPECT_EQ(h.gates(3), (std::vector<int>{1, 0, 1}));  // voice 0 is on channel 1
    h.play(StreamBuilder().note_off(0, 60).note_off(0, 61));
    EXPECT_EQ(h.gates(3), (std::vector<int>{1, 0, 0}));
    // Velocity 0 releases like status 8n; released voices stay busy until their envelope ends.
    h.play(StreamBuilder().note_on(1, 60, 0));
    EXPECT_EQ(h.gates(3), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(h.busy_voices(), 3);
}

TEST(StreamInterpreter, RunningStatusCarriesOnAndMalformedBytesNeverStallTheReader)
{
    struct Case {
        const char* what;
        std::vector<std::vector<uint8_t>> streams;
        int busy;
        int last_channel, last_note;  // of the highest busy voice
    };
    const Case cases[] = {
        {"running status within and across streams", {{0x90, 60, 100, 64, 90, 0xFD}, {67, 80, 0xFD}}, 3, 0, 67},
        {"data before any status ends the stream", {{60, 100, 0x90, 61, 100, 0xFD}}, 0, -1, 0},
        {"data under a system status is skipped a byte at a time",
         {{0xF8, 1, 2, 3, 0xF0, 0x90, 60, 100, 0xFD}},
         1,
         0,
         60},
        {"a system status runs on into the next stream", {{0xF1, 0xFD}, {61, 100, 62, 0xFD}}, 0, -1, 0},
        {"the end byte cuts a message short and is never passed", {{0x90, 60, 0xFD, 0x90, 61, 100, 0xFD}}, 0, -1, 0},
        {"a status byte cuts a message short", {{0x90, 60, 0x91, 62, 100, 0xFD}}, 1, 1, 62},
        {"pressure and pitch bend change nothing",
         {{0xA0, 60, 10, 0xD0, 5, 6, 0xE0, 0, 64, 0x90, 60, 100, 0xFD}},
         1,
         0,
         60},
    };
    for (const Case& c : cases) {
        EngineHarness h(sine_patch());
        for (const auto& stream : c.streams) h.play(stream);
        EXPECT_EQ(h.busy_voices(), c.busy) << c.what;
        if (c.busy > 0) {
            EXPECT_EQ(h.channel_of(c.busy - 1), c.last_channel) << c.what;
            EXPECT_EQ(h.voice(c.busy - 1).note, c.last_note) << c.what;
        }
        EXPECT_EQ(h.engine->state.channel_controls[0].controllers[4], 0) << c.what;
    }
}

TEST(StreamInterpreter, AtThePolyphonyLimitTheChannelsOldestReleasedVoiceIsTakenFirst)
{
    EngineHarness h(sine_patch(2));
    h.play(StreamBuilder().note_on(0, 60, 100).note_on(0, 62, 100).note_off(0, 62));
    h.play(StreamBuilder().note_on(0, 64, 100));
    EXPECT_EQ(h.voice(1).note, 64);
    EXPECT_EQ(h.voice(1).gate, 1);
    EXPECT_EQ(h.engine->state.voice_stamp[1], 2u);
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
    EXPECT_EQ(std::tuple(after.note, after.envelopes[0].state), std::tuple(72, int32_t{kEnvelopeAttack}));
    EXPECT_EQ(std::tuple(after.envelopes[0].level, after.amplitude, after.oscillators[0].phase),
              std::tuple(before.envelopes[0].level, before.amplitude, before.oscillators[0].phase));
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

TEST(StreamInterpreter, APatchWithPolyphonyZeroIgnoresNoteOnsButChannel15StillReleasesTheSpeechHold)
{
    EngineHarness h(sine_patch(0));
    h.engine->speech.state.hold_note_on = 1;
    h.play(StreamBuilder().note_on(0, 60, 100).note_on(14, 60, 100));
    EXPECT_EQ(h.engine->speech.state.hold_note_on, 1);
    h.play(StreamBuilder().note_on(15, 60, 100));
    EXPECT_EQ(h.busy_voices(), 0);
    EXPECT_EQ(h.engine->state.note_counter, 0u);
    EXPECT_EQ(h.engine->speech.state.hold_note_on, 0);
}

TEST(StreamInterpreter, Controller120FreesAtOnceWhile123Releases)
{
    EngineHarness h(PatchBuilder(sine_patch()).envelope(0, {.release = 120}));
    h.play(StreamBuilder().note_on(0, 60, 100).note_on(0, 62, 100).note_on(1, 60, 100));
    h.render(kBlockSize);

    h.play(StreamBuilder().controller(0, 123, 0));
    EXPECT_EQ(h.channels(3), (std::vector<int>{0, 0, 1}));
    EXPECT_EQ(h.gates(3), (std::vector<int>{0, 0, 1}));
    h.play(StreamBuilder().controller(0, 120, 0));
    EXPECT_EQ(h.channels(3), (std::vector<int>{-1, -1, 1}));
    EXPECT_EQ(h.voice(0).envelopes[0].state, kEnvelopeOff);
}

TEST(StreamInterpreter, ControllersOneToSevenAreStoredAndAProgramChangeToTheSameProgramClearsThemButKeepsVoices)
{
    EngineHarness h(BankBuilder().add(sine_patch()).add(sine_patch()));
    h.play(StreamBuilder().note_on(0, 60, 100).controller(0, 1, 10).controller(0, 6, 60).controller(0, 7, 70));
    h.play(StreamBuilder().controller(0, 0, 5).controller(0, 8, 9));  // not stored
    EXPECT_EQ(h.controls(0), (std::vector<int>{0, 10, 0, 0, 0, 0, 60, 70}));
    h.play(StreamBuilder().program(0, 0));
    EXPECT_EQ(h.channel_of(0), 0);
    EXPECT_EQ(h.controls(0), (std::vector<int>{0, 0, 0, 0, 0, 0, 0, 70}));

    h.play(StreamBuilder().program(0, 1));
    EXPECT_EQ(h.controls(0)[0], 1);
    EXPECT_EQ(h.channel_of(0), -1);
    EXPECT_EQ(h.voice(0).gate, 1);  // freed without a reset: the voice keeps its unit state
}

TEST(StreamInterpreter, ResetRestoresTheInitialStateWithoutGlobals)
{
    EngineHarness h(BankBuilder().add(sine_patch()).add(sine_patch()), GlobalsBuilder().high_cut(127));
    h.play(StreamBuilder().program(2, 1).controller(2, 3, 30).note_on(2, 60, 100));
    h.render(100);

    h.play(StreamBuilder().reset());
    EXPECT_EQ(h.busy_voices(), 0);
    EXPECT_EQ(h.controls(2), (std::vector<int>{0, 0, 0, 0, 0, 0, 0, 127}));
    const SynthEngine& e = *h.engine;
    EXPECT_EQ(std::tuple(e.state.running_status, e.state.note_counter, e.state.frames_left), std::tuple(0, 0u, 0));
    EXPECT_EQ(e.state.master_cut.high_coefficient, 0.0f);  // the globals are not set again
    EXPECT_EQ(std::tuple(e.sample_rate, e.patch_bank), std::tuple(kSampleRate, h.bank.data()));

    // After the reset a data byte has no status to run under.
    h.play(std::vector<uint8_t>{0xFF, 60, 100, 0xFD});
    EXPECT_EQ(h.busy_voices(), 0);
    h.play(std::vector<uint8_t>{0xFF, 0x90, 60, 100, 0xFD});
    EXPECT_EQ(h.busy_voices(), 1);
}

}  // namespace
