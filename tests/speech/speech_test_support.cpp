#include "tests/speech/speech_test_support.h"

#include <cstring>

#include "speech/phonemes.h"
#include "synth/fp_mode.h"

std::unique_ptr<SpeechSynth> make_speech(const char* text0)
{
    auto speech = std::make_unique<SpeechSynth>();
    FpModeGuard mode;
    speech_set_rate(*speech, 44100);
    speech_init(*speech);
    const char* texts[kSpeechTextCount] = {text0};
    speech_set_texts(*speech, texts);
    return speech;
}

std::vector<PlayedSegment> play_segments(SpeechSynth& speech, size_t count)
{
    FpModeGuard mode;
    SpeechState& s = speech.state;
    std::vector<PlayedSegment> played;
    for (int tick = 0; tick < 100000; ++tick) {
        // A tick that finds no ticks and no steps left starts a segment or a hold.
        const bool boundary = s.tick_count <= 0 && s.steps_left <= 0;
        speech_tick(speech);
        if (boundary && played.size() == count) break;
        if (boundary && (s.hold_note_on != 0 || s.hold_note_off != 0)) {
            played.push_back({s.hold_note_on != 0 ? -1 : -2, 0, -1, 0});
            speech_release_note_on_hold(speech);
            speech_release_note_off_hold(speech);
            continue;
        }
        if (boundary) played.push_back({s.phoneme, s.segment, s.cur_row, 0});
        if (!played.empty()) ++played.back().ticks;
    }
    return played;
}

std::vector<std::string> phonemes_read(const char* text, size_t count)
{
    auto speech = make_speech(text);
    std::vector<std::string> names;
    for (const PlayedSegment& p : play_segments(*speech, 4 * count)) {
        if (names.size() == count) break;
        if (p.phoneme < 0) names.push_back(p.phoneme == -1 ? "!" : "_");
        if (p.phoneme >= 0 && p.segment == 0) names.push_back(kPhonemeEntries[p.phoneme].name);
    }
    return names;
}

bool frames_equal(const FormantFrame& a, const FormantFrame& b)
{
    return std::memcmp(&a, &b, sizeof(FormantFrame)) == 0;
}

FormantFrame frame_for(int cur_row, int blend_row, float fraction)
{
    auto speech = make_speech();
    FpModeGuard mode;
    formant_set_target(*speech, cur_row, blend_row, fraction);
    return speech->state.target;
}
