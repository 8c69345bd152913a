// Formant speech synthesizer, fixed to channel 15: a phoneme sequencer walks a
// phonetic text once per engine block and sets targets for seven two-pole
// resonators, which reshape the channel's own rendered sound (the carrier)
// into sung speech.
#pragma once

#include <cstdint>

constexpr int kPhonemeRowCount = 69;
constexpr int kPhonemeParamCount = 19;
constexpr int kPhonemeEntryCount = 52;
constexpr int kSpeechTextCount = 64;
constexpr int kFormantResonatorCount = 7;
constexpr int kFormantFrameValues = 25;
constexpr int32_t kPauseRow = 18;

struct ResonatorCoeffs {
    float a;  // input gain
    float b;  // first feedback
    float c;  // second feedback
};

struct Resonator {
    const ResonatorCoeffs* coeffs;
    float y1;  // last output
    float y2;  // the output before
};

// The unit ramped per frame, value by value.
struct FormantFrame {
    ResonatorCoeffs resonators[kFormantResonatorCount];
    float voice_gain;
    float aspiration_gain;
    float frication_gain;
    float bypass_gain;
};

struct SpeechState {
    FormantFrame current;                          // values in force for the next frame
    FormantFrame target;                           // computed at the last tick
    Resonator resonators[kFormantResonatorCount];  // k uses current.resonators[k]
    float prev_excitation;
    uint32_t noise_seed;
    float noise_state;
    // Sequencer.
    int32_t tick_count;  // ticks left in the current step
    int32_t segment;     // index into the entry's rows
    int32_t steps_left;  // whole steps left after the running one
    int32_t phoneme;     // inventory entry 0..51
    int32_t multiplier;  // duration multiplier, at least 1
    float step_scale;    // 1 / (segment steps * ticks_per_step)
    const char* text_start;
    const char* cursor;
    int32_t prev_row;       // row being left
    int32_t cur_row;        // row being approached
    int32_t hold_note_on;   // set by "!", cleared by a note-on
    int32_t hold_note_off;  // set by "_", cleared by a note-off
    float dc_state1;
    float dc_state2;
    Resonator output_resonator;  // uses output_coeffs
};

// Settings shared by the whole speech synthesizer; kept apart from the state
// record, which a reset zeroes.
struct SpeechSettings {
    uint32_t sample_rate;
    float two_pi_over_rate;
    float minus_pi_over_rate;
    ResonatorCoeffs output_coeffs;
    float rows[kPhonemeRowCount][kPhonemeParamCount];
    int32_t ticks_per_step;
    float formant_scale;
    const char* texts[kSpeechTextCount];  // null = absent
    float scratch_cur[kPhonemeParamCount];
    float scratch_blend[kPhonemeParamCount];
    float increments[kFormantFrameValues];
};

struct SpeechSynth {
    SpeechState state;
    SpeechSettings settings;
};

// Stores the rate and derives the resonator constants; before speech_init.
void speech_set_rate(SpeechSynth& speech, uint32_t rate);
void speech_init(SpeechSynth& speech);
void speech_reset(SpeechSynth& speech);
// Copies the first 64 entries and points the sequencer at text 0.
void speech_set_texts(SpeechSynth& speech, const char* const* texts);
// Swaps in another set of texts (the old set is no longer read afterwards).
// The sequencer reads on in the same slot: at the same place when the text
// there is unchanged, from its beginning otherwise.
void speech_move_texts(SpeechSynth& speech, const char* const* texts);
// Clears the resonator, noise and DC memories (a state that has become
// non-finite); the sequencer reads on where it was.
void speech_clear_memory(SpeechSynth& speech);
// Once per engine block, whether or not channel 15 sounds.
void speech_tick(SpeechSynth& speech);
// Controller 4 on channel 15: values up to kSpeechLastSelectableText select a
// text, higher ones set the speed (value - 63 ticks a step).
constexpr uint32_t kSpeechControllerText = 4;
constexpr uint32_t kSpeechLastSelectableText = 62;
// Controllers 4 (text select, speed) and 5 (formant scale); others ignored.
void speech_control(SpeechSynth& speech, uint32_t number, uint32_t value);
void speech_release_note_on_hold(SpeechSynth& speech);
void speech_release_note_off_hold(SpeechSynth& speech);
void formant_set_target(SpeechSynth& speech, int32_t cur_row, int32_t blend_row, float fraction);
// Reads each frame's left sample as the carrier and writes the speech to both sides.
void speech_render(SpeechSynth& speech, float* frames, uint32_t count);

void resonator_set(const SpeechSettings& settings, ResonatorCoeffs& coeffs, float freq, float bw, float gain);
float resonator_step(Resonator& resonator, float x);
float level_to_gain(float cur, float blend, float fraction);
float noise_next(SpeechState& state);
