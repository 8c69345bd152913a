#include "speech/speech.h"

#include <cmath>
#include <cstring>

#include "speech/formant.h"
#include "speech/phonemes.h"
#include "synth/units/numeric.h"

namespace {

constexpr char kEmptyText[] = "";
constexpr int32_t kDefaultTicksPerStep = 3;               // 384 frames a step
constexpr int32_t kSegmentAfterReset = kPhonemeRowSlots;  // the first tick reads the text
constexpr float kAbruptWeightDifference = 8.0f;           // blend weights further apart change at once

constexpr uint32_t kControllerFormantScale = 5;
constexpr uint32_t kSpeedBase = 63;  // value - 63 ticks per step

// Output resonator: a broad peak at 12 kHz that brightens the result.
constexpr float kOutputFreq = 12000.0f;      // Hz
constexpr float kOutputBandwidth = 4000.0f;  // Hz
constexpr float kOutputGain = 2.0f;

const char* text_or_empty(const char* text)
{
    return text != nullptr ? text : kEmptyText;
}

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

int32_t entry_row(int32_t phoneme, int32_t segment)
{
    if (segment >= kPhonemeRowSlots) return kRowListEnd;
    return kPhonemeEntries[phoneme].rows[segment];
}

// Starts the row at `segment` of the current entry; the multiplier stretches
// the row's duration.
void start_segment(SpeechSynth& speech)
{
    SpeechState& s = speech.state;
    const int32_t ticks_per_step = speech.settings.ticks_per_step;
    s.prev_row = s.cur_row;
    s.cur_row = entry_row(s.phoneme, s.segment);
    const int32_t duration = nearest(speech.settings.rows[s.cur_row][kParamDuration]);
    // 32-bit arithmetic with wrap-around, as the counters are 32-bit words.
    int32_t steps = static_cast<int32_t>(static_cast<uint32_t>(s.multiplier) * static_cast<uint32_t>(duration));
    if (steps == 0) steps = 1;
    const int32_t segment_ticks =
        static_cast<int32_t>(static_cast<uint32_t>(steps) * static_cast<uint32_t>(ticks_per_step));
    s.step_scale = 1.0f / static_cast<float>(segment_ticks);
    s.steps_left = steps - 1;
}

// Reads the digits of a multiplier and a phoneme name at the cursor and
// starts the phoneme's first segment. An unmatched character is a pause; at
// the terminating NUL after digits the pause plays and the cursor stays on
// the NUL, so the next read returns to the start of the text.
void read_phoneme(SpeechSynth& speech)
{
    SpeechState& s = speech.state;
    uint32_t multiplier = 0;
    while (is_digit(*s.cursor)) {
        multiplier = multiplier * 10u + static_cast<uint32_t>(*s.cursor - '0');
        ++s.cursor;
    }
    s.multiplier = multiplier == 0 ? 1 : static_cast<int32_t>(multiplier);

    int32_t length = 0;
    int32_t entry = phoneme_match(s.cursor, &length);
    if (entry < 0) {
        entry = kPauseEntry;
        length = *s.cursor != '\0' ? 1 : 0;
    }
    s.cursor += length;
    s.phoneme = entry;
    s.segment = 0;
    start_segment(speech);
}

}  // namespace

void speech_set_rate(SpeechSynth& speech, uint32_t rate)
{
    SpeechSettings& settings = speech.settings;
    settings.sample_rate = rate;
    settings.two_pi_over_rate = static_cast<float>(6.2831854820251465 / static_cast<double>(rate));
    settings.minus_pi_over_rate = static_cast<float>(-3.1415927410125732 / static_cast<double>(rate));
}

void speech_reset(SpeechSynth& speech)
{
    SpeechState& s = speech.state;
    s = SpeechState{};
    for (int k = 0; k < kFormantResonatorCount; ++k) s.resonators[k].coeffs = &s.current.resonators[k];
    s.output_resonator.coeffs = &speech.settings.output_coeffs;
    // Both frames hold the pause row, so the first render starts from silence
    // without a ramp.
    formant_compute_frame(speech, s.current, kPauseRow, kPauseRow, 0.0f);
    formant_compute_frame(speech, s.target, kPauseRow, kPauseRow, 0.0f);
    s.prev_row = kPauseRow;
    s.cur_row = kPauseRow;
    s.segment = kSegmentAfterReset;
}

void speech_clear_memory(SpeechSynth& speech)
{
    SpeechState& s = speech.state;
    for (Resonator& r : s.resonators) r.y1 = r.y2 = 0.0f;
    s.output_resonator.y1 = s.output_resonator.y2 = 0.0f;
    s.prev_excitation = 0.0f;
    s.noise_state = 0.0f;
    s.dc_state1 = 0.0f;
    s.dc_state2 = 0.0f;
}

void speech_init(SpeechSynth& speech)
{
    SpeechSettings& settings = speech.settings;
    std::memcpy(settings.rows, kPhonemeRows, sizeof(settings.rows));
    // The reset runs with the formant scale still in force from before.
    speech_reset(speech);
    settings.formant_scale = 1.0f;
    settings.ticks_per_step = kDefaultTicksPerStep;
    speech.state.text_start = text_or_empty(settings.texts[0]);
    speech.state.cursor = speech.state.text_start;
    resonator_set(settings, settings.output_coeffs, kOutputFreq, kOutputBandwidth, kOutputGain);
}

void speech_set_texts(SpeechSynth& speech, const char* const* texts)
{
    for (int i = 0; i < kSpeechTextCount; ++i) speech.settings.texts[i] = texts != nullptr ? texts[i] : nullptr;
    speech.state.text_start = text_or_empty(speech.settings.texts[0]);
    speech.state.cursor = speech.state.text_start;
}

void speech_move_texts(SpeechSynth& speech, const char* const* texts)
{
    SpeechSettings& settings = speech.settings;
    SpeechState& s = speech.state;
    int slot = 0;
    while (slot < kSpeechTextCount && text_or_empty(settings.texts[slot]) != s.text_start) ++slot;
    if (slot == kSpeechTextCount) slot = 0;
    for (int i = 0; i < kSpeechTextCount; ++i) settings.texts[i] = texts != nullptr ? texts[i] : nullptr;
    const char* start = text_or_empty(settings.texts[slot]);
    // The same words: the same place in them. Other words: their beginning,
    // once the sound being made ends.
    const bool same = s.text_start != nullptr && std::strcmp(start, s.text_start) == 0;
    s.cursor = same ? start + (s.cursor - s.text_start) : start;
    s.text_start = start;
}

void speech_tick(SpeechSynth& speech)
{
    SpeechState& s = speech.state;
    const int32_t ticks_per_step = speech.settings.ticks_per_step;
    if (s.hold_note_off != 0 || s.hold_note_on != 0) return;

    if (s.tick_count <= 0) {
        s.tick_count = ticks_per_step;
        if (s.steps_left > 0) {
            --s.steps_left;
        } else {
            ++s.segment;
            if (entry_row(s.phoneme, s.segment) != kRowListEnd) {
                start_segment(speech);
            } else {
                const char c = *s.cursor;
                if (c == '\0') {
                    // End of the text: back to its start. One pause plays
                    // first when the text starts with a marker or is empty.
                    s.cursor = s.text_start;
                    s.multiplier = 1;
                    s.tick_count = 1;
                    s.phoneme = kPauseEntry;
                    s.segment = 0;
                    const char first = *s.cursor;
                    if (first == '\0' || first == '!' || first == '_') {
                        start_segment(speech);
                    } else {
                        read_phoneme(speech);
                    }
                } else if (c == '!' || c == '_') {
                    if (c == '!') {
                        s.hold_note_on = 1;
                    } else {
                        s.hold_note_off = 1;
                    }
                    ++s.cursor;
                    s.tick_count = 0;
                    s.steps_left = 0;
                    return;
                } else {
                    read_phoneme(speech);
                }
            }
        }
    }

    --s.tick_count;
    const int32_t ticks_left =
        static_cast<int32_t>(static_cast<uint32_t>(s.steps_left) * static_cast<uint32_t>(ticks_per_step)) +
        s.tick_count;
    float fraction = static_cast<float>(ticks_left) * s.step_scale;

    const float prev_weight = speech.settings.rows[s.prev_row][kParamBlendWeight];
    const float cur_weight = speech.settings.rows[s.cur_row][kParamBlendWeight];
    // The weights shape the glide: a heavier row being left holds on longer.
    if (fraction != 0.0f) fraction = power(fraction, prev_weight / cur_weight);
    const int32_t blend_row = std::fabs(cur_weight - prev_weight) > kAbruptWeightDifference ? s.cur_row : s.prev_row;
    formant_set_target(speech, s.cur_row, blend_row, fraction);
}

void speech_control(SpeechSynth& speech, uint32_t number, uint32_t value)
{
    if (number == kSpeechControllerText) {
        if (value <= kSpeechLastSelectableText) {
            speech_reset(speech);
            speech.state.text_start = text_or_empty(speech.settings.texts[value]);
            speech.state.cursor = speech.state.text_start;
        } else {
            // A speed of 0 ticks per step (value 63) would never end a step; it reads as 1.
            const uint32_t ticks = value - kSpeedBase;
            speech.settings.ticks_per_step = ticks == 0 ? 1 : static_cast<int32_t>(ticks);
        }
    } else if (number == kControllerFormantScale) {
        speech.settings.formant_scale = pow2((static_cast<float>(value) - 64.0f) / 128.0f);
    }
}

void speech_release_note_on_hold(SpeechSynth& speech)
{
    speech.state.hold_note_on = 0;
}

void speech_release_note_off_hold(SpeechSynth& speech)
{
    speech.state.hold_note_off = 0;
}
