// A voice: three oscillators into two filters (single, serial or parallel),
// a distortion unit, an amplitude envelope with a per-sample ramp, a second
// envelope and two LFOs for modulation, panned into the channel buffer.
#pragma once

#include <cstdint>

#include "synth/param_layout.h"
#include "synth/units/distortion.h"
#include "synth/units/envelope.h"
#include "synth/units/filter.h"
#include "synth/units/lfo.h"
#include "synth/units/oscillator.h"

struct SynthEngine;
struct RenderScratch;

enum FilterRouting : int32_t {
    kRoutingFilter1 = 0,
    kRoutingSerial = 1,
    kRoutingParallel = 2,
};

constexpr int kOscillatorsPerVoice = 3;

struct VoiceState {
    int32_t note;
    float velocity;   // 0..127
    int32_t gate;     // 1 from note-on until note-off
    float amplitude;  // ramps once per sample
    float amplitude_step;
    float transpose;  // semitones
    int32_t routing;
    float pan_left;
    float pan_right;
    float filter1_gain;  // parallel routing weights
    float filter2_gain;
    int32_t phase_reset;  // non-zero: note-on zeroes the oscillator phases
    OscillatorState oscillators[kOscillatorsPerVoice];
    FilterState filters[2];
    EnvelopeState envelopes[2];  // envelope 1 is the amplitude envelope
    LfoState lfos[2];
    DistortionUnit distortion;
    // The parameters of the last conversion, the patch bytes they came from,
    // the ones a modulation entry wrote (bit per parameter) and the note:
    // a unit whose slice is unchanged keeps its coefficients.
    float converted_params[kVoiceParamCount];
    uint8_t converted_bytes[kVoiceParamCount];
    uint64_t modulated;
    int32_t converted_note;
    int32_t converted;  // non-zero once converted_params holds a conversion
};

// Sets up voice v's units from its parameters where changes (bit per
// parameter) says they differ from the last conversion; all at the first.
void voice_convert_params(SynthEngine& engine, int v, uint64_t changes);
void voice_note_on(SynthEngine& engine, int v, int32_t note, int32_t velocity);
void voice_note_off(SynthEngine& engine, int v);
void voice_reset(SynthEngine& engine, int v);
// Clears every memory of voice v (the amplitude, the envelope levels) after a
// reset; for a voice whose state became non-finite.
void voice_clear(SynthEngine& engine, int v);
void voice_tick(SynthEngine& engine, int v);
// Renders n frames of voice v, after its amplitude ramp, into its voice_out
// block (the scalar path; voice_lanes.h renders several at once).
void voice_render(SynthEngine& engine, int v, int32_t n, RenderScratch& scratch);
// Adds voice v's block, panned, to n interleaved channel frames; false when
// a sample of it is not finite (or, rarely, when their sum overflows). With
// clean set, each such sample is first made +0 in the block and the voice
// marked, to be cleared at the next block.
bool voice_mix(SynthEngine& engine, int v, float* frames, int32_t n, bool clean);
