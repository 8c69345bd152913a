#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "speech/phonemes.h"
#include "speech/speech.h"
#include "synth/fp_mode.h"
#include "synth/units/numeric.h"
#include "tests/speech/speech_test_support.h"

namespace {

using Names = std::vector<std::string>;

TEST(SpeechText, NamesMatchInEitherCaseLongestFirstAndAnythingElseIsAPause)
{
    EXPECT_EQ(phonemes_read("AHahAhaHSiL", 5), (Names{"ah", "ah", "ah", "ah", "sil"}));
    EXPECT_EQ(phonemes_read("th t h", 5), (Names{"th", " ", "t", " ", "h"}));
    // "tx" is no name: "t", then an unmatched "x"; "a" starts no name either.
    EXPECT_EQ(phonemes_read("ngnktxa.", 7), (Names{"ng", "n", "k", "t", " ", " ", " "}));
}

TEST(SpeechText, DigitsMultiplyTheDurationAndTurnAFollowingMarkerIntoAPause)
{
    auto speech = make_speech("12ah0ah4!ah");
    const auto played = play_segments(*speech, 4);
    EXPECT_EQ(played[0].ticks, 12 * 6 * 3);
    EXPECT_EQ(played[1].ticks, 6 * 3);  // 0 counts as 1
    EXPECT_EQ(played[2].phoneme, kPauseEntry);
    EXPECT_EQ(played[2].ticks, 4 * 5 * 3);
    EXPECT_EQ(played[3].row, 60);  // the "!" was consumed without a hold
}

TEST(SpeechText, EveryRowOfAPhonemePlaysInTurnAndSilIsItsOwnRow)
{
    auto speech = make_speech("silk");
    std::vector<std::pair<int, int>> rows;  // row, ticks
    for (const PlayedSegment& p : play_segments(*speech, 4)) rows.emplace_back(p.row, p.ticks);
    EXPECT_EQ(rows, (std::vector<std::pair<int, int>>{{50, 6 * 3}, {31, 8 * 3}, {32, 1 * 3}, {33, 4 * 3}}));
}

TEST(SpeechText, TrailingDigitsPauseAtTheEndThenTheTextStartsOverOneTickShort)
{
    auto speech = make_speech("ahj3");
    const char* text = speech->state.text_start;
    const auto played = play_segments(*speech, 7);
    EXPECT_EQ(played[0].ticks, 18);
    EXPECT_EQ(played[4].row, 30);  // the fourth row of "j" fills every slot
    EXPECT_EQ(played[5].phoneme, kPauseEntry);
    EXPECT_EQ(played[5].ticks, 3 * 5 * 3);
    EXPECT_EQ(played[6].row, 60);
    EXPECT_EQ(played[6].ticks, 16);  // the step count restarts at 1, not 3
    EXPECT_GE(speech->state.cursor, text);
    EXPECT_LE(speech->state.cursor, text + 4);
}

TEST(SpeechText, AnEmptyOrAbsentTextIsAnEndlessRunOfPauses)
{
    for (const char* text : {static_cast<const char*>(""), static_cast<const char*>(nullptr)}) {
        auto speech = make_speech(text);
        EXPECT_STREQ(speech->state.text_start, "");
        for (const PlayedSegment& p : play_segments(*speech, 5)) EXPECT_EQ(p.row, kPauseRow);
    }
}

TEST(SpeechText, MarkersHoldUntilTheirOwnNoteEvent)
{
    FpModeGuard mode;
    auto speech = make_speech("!ah_");
    SpeechState& s = speech->state;
    speech_tick(*speech);
    ASSERT_EQ(s.hold_note_on, 1);
    const FormantFrame held = s.target;
    speech_release_note_off_hold(*speech);
    for (int i = 0; i < 10; ++i) speech_tick(*speech);
    EXPECT_TRUE(frames_equal(s.target, held));

    speech_release_note_on_hold(*speech);
    for (int i = 0; i < 19; ++i) speech_tick(*speech);
    ASSERT_EQ(s.hold_note_off, 1);
    speech_release_note_on_hold(*speech);
    for (int i = 0; i < 10; ++i) speech_tick(*speech);
    // The "ah" stays in force while the note sounds.
    EXPECT_TRUE(frames_equal(s.target, frame_for(60, 60, 0.0f)));

    speech_release_note_off_hold(*speech);
    speech_tick(*speech);
    EXPECT_EQ(s.cur_row, kPauseRow);  // back at the start: a pause before the "!"
    for (int i = 0; i < 20 && s.hold_note_on == 0; ++i) speech_tick(*speech);
    EXPECT_EQ(s.hold_note_on, 1);
}

TEST(SpeechBlend, BetweenTwoVowelsASixStepRowBlendsWithFractions17Over18DownTo0)
{
    FpModeGuard mode;
    auto speech = make_speech("ahih");  // rows 60 then 25, both weight 2, 6 steps each
    for (int i = 0; i < 18; ++i) speech_tick(*speech);
    for (int i = 0; i < 18; ++i) {
        speech_tick(*speech);
        // Equal weights raise the fraction to the power 1: linear.
        const float fraction = static_cast<float>(17 - i) * (1.0f / 18.0f);
        ASSERT_TRUE(frames_equal(speech->state.target, frame_for(25, 60, fraction))) << "tick " << i;
    }
}

TEST(SpeechBlend, WeightsMoreThanEightApartChangeAtOnceAndWIntoAVowelUsesExponentFive)
{
    FpModeGuard mode;
    auto abrupt = make_speech("ahb");  // weight 2 into row 6, weight 26
    for (int i = 0; i < 19; ++i) speech_tick(*abrupt);
    EXPECT_EQ(abrupt->state.cur_row, 6);
    EXPECT_TRUE(frames_equal(abrupt->state.target, frame_for(6, 6, 0.0f)));

    auto glide = make_speech("wah");  // weight 10 into weight 2: exactly 8 apart
    for (int i = 0; i < 8 * 3 + 1; ++i) speech_tick(*glide);
    EXPECT_TRUE(frames_equal(glide->state.target, frame_for(60, 63, power(17.0f * (1.0f / 18.0f), 5.0f))));
}

TEST(SpeechControls, Controller4SelectsTexts0To62WithAResetAndSetsTheSpeedAbove)
{
    FpModeGuard mode;
    const char* texts[kSpeechTextCount] = {"ah", "2"};  // text 5 absent
    texts[62] = "iy";
    auto speech = make_speech();
    speech_set_texts(*speech, texts);
    speech_control(*speech, 4, 62);
    EXPECT_EQ(speech->state.cursor, texts[62]);
    speech_control(*speech, 4, 5);
    EXPECT_STREQ(speech->state.text_start, "");

    speech->state.hold_note_on = 1;
    speech_control(*speech, 4, 1);
    EXPECT_EQ(speech->state.text_start, texts[1]);
    EXPECT_EQ(speech->state.hold_note_on, 0);
    EXPECT_EQ(speech->state.segment, 4);
    EXPECT_TRUE(frames_equal(speech->state.current, frame_for(kPauseRow, kPauseRow, 0.0f)));

    // 63 would mean 0 ticks a step and reads as 1.
    for (uint32_t value : {63u, 64u, 127u, 68u}) {
        speech_control(*speech, 4, value);
        EXPECT_EQ(speech->state.text_start, texts[1]);
        EXPECT_EQ(speech->settings.ticks_per_step, value == 63 ? 1 : static_cast<int32_t>(value - 63));
    }
    speech_control(*speech, 4, 1);  // "2": a pause of 2 x 5 steps of 5 ticks
    EXPECT_EQ(play_segments(*speech, 1)[0].ticks, 2 * 5 * 5);
}

TEST(SpeechControls, Controller5ScalesEveryFormantFrequency)
{
    FpModeGuard mode;
    auto speech = make_speech();
    speech_control(*speech, 5, 0);
    formant_set_target(*speech, 0, 0, 0.0f);
    // Resonator 6's tuning from b = 2 r cos(w) and c = -r^2.
    const ResonatorCoeffs& k = speech->state.target.resonators[6];
    const double r = std::sqrt(-static_cast<double>(k.c));
    EXPECT_NEAR(std::acos(k.b / (2.0 * r)) * 44100.0 / (2.0 * std::numbers::pi), 4242.6, 0.1);

    speech_control(*speech, 5, 127);
    EXPECT_NEAR(speech->settings.formant_scale, 1.4066f, 1e-4f);
    speech_control(*speech, 5, 64);
    EXPECT_EQ(speech->settings.formant_scale, 1.0f);
    for (uint32_t number : {0u, 1u, 3u, 6u, 7u, 123u}) speech_control(*speech, number, 0);
    EXPECT_EQ(speech->settings.formant_scale, 1.0f);
    EXPECT_EQ(speech->settings.ticks_per_step, 3);
}

}  // namespace

TEST(SpeechControls, NewTextsKeepTheSequencersPlaceWhereItsTextReadsTheSame)
{
    FpModeGuard mode;
    const std::string first[2] = {"hEH lOW wER ld", "sIH NG"};
    const char* old_texts[kSpeechTextCount] = {first[0].c_str(), first[1].c_str()};
    auto speech = make_speech();
    speech_set_texts(*speech, old_texts);
    speech_control(*speech, 4, 1);
    play_segments(*speech, 3);
    const ptrdiff_t place = speech->state.cursor - speech->state.text_start;
    ASSERT_GT(place, 0);

    // The same words in new memory: the same place in them.
    const std::string same[2] = {first[0], first[1]};
    const char* moved[kSpeechTextCount] = {same[0].c_str(), same[1].c_str()};
    speech_move_texts(*speech, moved);
    EXPECT_EQ(speech->state.text_start, moved[1]);
    EXPECT_EQ(speech->state.cursor - speech->state.text_start, place);

    // Other words in the slot being sung: their beginning; other slots follow.
    const std::string changed[2] = {"AA", "lAO NG"};
    const char* edited[kSpeechTextCount] = {changed[0].c_str(), changed[1].c_str()};
    speech_move_texts(*speech, edited);
    EXPECT_EQ(speech->state.cursor, edited[1]);
    EXPECT_EQ(speech->settings.texts[0], edited[0]);
}
