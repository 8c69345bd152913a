// Oscillator: renders one block of mono samples into a voice's work buffer and
// adds to it, multiplies into it (ring), or in phase-modulation mode replaces
// it with a sine pushed by its contents. Ramp and pulse are box-averaged over
// the phase swept per sample, in closed form.
#pragma once

#include <cstdint>

#include "synth/constants.h"

// Modes (mode AND 7); 0, 6 and 7 are silent and leave buffer and phase alone.
enum OscillatorMode : int32_t {
    kOscillatorSilent = 0,
    kOscillatorRamp = 1,  // movable peak: falling saw, triangle, rising saw
    kOscillatorPulse = 2,
    kOscillatorSine = 3,
    kOscillatorNoise = 4,  // white noise through a state-variable filter
    kOscillatorPhaseMod = 5,
};

// An oscillator's parameters, in the order of its slice of the patch.
struct OscillatorParam {
    static constexpr int32_t kMode = 0;       // OscillatorMode
    static constexpr int32_t kRing = 1;       // 1: multiply instead of add
    static constexpr int32_t kTranspose = 2;  // semitones + 64
    static constexpr int32_t kDetune = 3;     // (value - 64) / 128 semitones
    static constexpr int32_t kColour = 4;     // ramp peak, pulse width, noise damping
    static constexpr int32_t kGain = 5;       // value / 128
    static constexpr int32_t kCount = 6;
};

struct OscillatorState {
    int32_t mode;         // only the low 3 bits are used
    int32_t ring;         // bit 0: multiply into the buffer instead of adding
    uint32_t phase;       // one cycle = 2^32
    int32_t increment;    // phase step per sample, used unsigned
    uint32_t threshold;   // colour as a phase: ramp peak, pulse width
    float noise_cutoff;   // noise filter frequency coefficient
    float noise_damping;  // noise filter damping
    uint32_t noise_seed;
    float gain;  // 0..1
    float noise_low;
    float noise_band;
    float note;          // voice note + voice transpose (semitones)
    float pitch_offset;  // transpose + detune of this oscillator (semitones)
};

// Phase and noise states to 0; the noise generator starts from noise_seed.
void oscillator_reset(OscillatorState& osc, uint32_t noise_seed);
// p: an OscillatorParam slice on the 0..128 scale.
void oscillator_setup(OscillatorState& osc, const float* p, const RateConstants& rates);
// The slice's part of oscillator_setup for the parameters whose bit (1 <<
// OscillatorParam::k...) is set in changes, the pitch offset included; the
// rest, and the phase step and noise cut-off, are left as they are (for a
// caller that knows those parameters, and the note, unchanged).
void oscillator_setup_slice(OscillatorState& osc, const float* p, uint32_t changes);
// Recomputes the phase step and noise cut-off from note and pitch offset.
void oscillator_update_pitch(OscillatorState& osc, const RateConstants& rates);
// Renders n >= 1 samples into buffer[0..n-1] by the mode's rule.
void oscillator_render(OscillatorState& osc, float* buffer, int32_t n);
