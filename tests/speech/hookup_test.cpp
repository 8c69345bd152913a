#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "synth/units/oscillator.h"
#include "tests/synth/engine_harness.h"

namespace {

constexpr int kOtherChannel = 14;

// An engine on a sine patch singing `text` as text 0, as a sequencer reset leaves it.
struct SingingEngine : EngineHarness {
    const char* texts[kSpeechTextCount] = {};

    explicit SingingEngine(const char* text) : EngineHarness(sine_patch())
    {
        texts[0] = text;
        speech_set_texts(engine->speech, texts);
    }

    SpeechState& speech() { return engine->speech.state; }
    std::vector<float> blocks(int count) { return render(count * 128); }
};

double rms(const std::vector<float>& frames)
{
    double sum = 0.0;
    for (float x : frames) sum += static_cast<double>(x) * x;
    return std::sqrt(sum / static_cast<double>(frames.size()));
}

TEST(SpeechHookup, NotesOnTheSpeechChannelSingTheTextThroughItsHolds)
{
    SingingEngine h("!ah_");
    h.blocks(4);
    EXPECT_EQ(h.speech().hold_note_on, 1);
    h.play(StreamBuilder().note_on(kSpeechChannel, 60, 100));
    EXPECT_EQ(h.speech().hold_note_on, 0);  // acted on by the next block's tick
    EXPECT_GT(rms(h.blocks(30)), 1e-3);
    EXPECT_EQ(h.speech().cur_row, 60);
    EXPECT_EQ(h.speech().hold_note_off, 1);
    EXPECT_GT(rms(h.blocks(10)), 1e-3);  // the held "ah" keeps shaping the note

    h.play(StreamBuilder().note_on(kSpeechChannel, 60, 0));
    EXPECT_EQ(h.speech().hold_note_off, 0);
    h.blocks(20);
    EXPECT_EQ(h.speech().hold_note_on, 1);  // a pause, then "!" waits again
}

TEST(SpeechHookup, TheSpeechReshapesTheChannelsOwnSoundInMono)
{
    SingingEngine speech("ah");
    SingingEngine plain("ah");
    speech.play(StreamBuilder().note_on(kSpeechChannel, 60, 100));
    plain.play(StreamBuilder().note_on(kOtherChannel, 60, 100));
    const auto a = speech.blocks(20);
    const auto b = plain.blocks(20);
    EXPECT_NE(a, b);
    for (size_t i = 0; i < a.size(); i += 2) ASSERT_EQ(a[i], a[i + 1]);
}

TEST(SpeechHookup, WithoutNotesOnTheSpeechChannelNothingIsHeardButTheTextMovesOn)
{
    SingingEngine h("ahsil");
    EXPECT_TRUE(all_zero(h.blocks(20)));
    EXPECT_EQ(h.speech().cur_row, 50);  // past "ah" (18 ticks) into "sil"
}

TEST(SpeechHookup, OnlyTheSpeechChannelsNotesAllNotesOffAndControllersReachTheSpeech)
{
    SingingEngine h("!ah_");
    h.texts[1] = "iy";
    speech_set_texts(h.engine->speech, h.texts);
    h.blocks(1);
    h.play(StreamBuilder()
               .note_on(kOtherChannel, 60, 100)
               .controller(kOtherChannel, 4, 1)
               .controller(kOtherChannel, 5, 0));
    h.blocks(2);
    EXPECT_EQ(h.speech().hold_note_on, 1);
    EXPECT_EQ(h.speech().text_start, h.texts[0]);
    EXPECT_EQ(h.engine->speech.settings.formant_scale, 1.0f);

    h.play(StreamBuilder().note_on(kSpeechChannel, 62, 100));
    h.blocks(30);
    ASSERT_EQ(h.speech().hold_note_off, 1);
    h.play(StreamBuilder().note_on(kOtherChannel, 60, 0).controller(kOtherChannel, 123, 0));
    EXPECT_EQ(h.speech().hold_note_off, 1);
    h.play(StreamBuilder().controller(kSpeechChannel, 123, 0));
    EXPECT_EQ(h.speech().hold_note_off, 0);

    h.play(StreamBuilder().controller(kSpeechChannel, 4, 1).controller(kSpeechChannel, 5, 0));
    EXPECT_EQ(h.speech().text_start, h.texts[1]);
    EXPECT_NEAR(h.engine->speech.settings.formant_scale, 0.70710678f, 1e-7f);
}

}  // namespace
