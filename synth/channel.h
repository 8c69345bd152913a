// A channel: sums its voices (and the speech on channel 15) into a stereo
// buffer, runs dynamics, low shelf, distortion and delay on it, feeds the
// reverb and delay sends and adds the result to the master block.
#pragma once

#include <cstdint>

#include "synth/delay.h"
#include "synth/dynamics.h"
#include "synth/param_layout.h"
#include "synth/shelf.h"
#include "synth/units/distortion.h"

struct SynthEngine;

constexpr float kChannelGainScale = 0.6f;  // 0.6000000238418579

struct ChannelState {
    float volume;          // gain into the master block
    float reverb_send;     // includes the volume
    float delay_send;      // includes the volume
    int32_t effect_order;  // 0: distortion then delay; other: delay then distortion
    ShelfEqState equaliser;
    DistortionUnit distortion;
    DelayState delay;
    DynamicsState dynamics;
    // The parameters of the last conversion, which unchanged parameters keep,
    // the patch bytes they came from and the ones a modulation entry wrote
    // (bit per parameter).
    float converted_params[kChannelParamCount];
    uint8_t converted_bytes[kChannelParamCount];
    uint64_t modulated;
    int32_t converted;  // non-zero once converted_params holds a conversion
};

// Sets up channel c's chain from its parameters, the whole chain: the caller
// leaves it as it is where no parameter differs from the last conversion.
void channel_convert_params(SynthEngine& engine, int c);
void channel_reset(SynthEngine& engine, int c);
// Clears every memory of the chain (and of the speech on its channel); the
// coefficients stay.
void channel_clear(SynthEngine& engine, int c);
// Runs the chain in place on n interleaved frames (its voices and speech
// already summed in); detector is n frames of scratch. A chain whose output
// is not finite is heard as silence and cleared at the next block.
void channel_render(SynthEngine& engine, int c, float* frames, int32_t n, float* detector);
// Adds a rendered channel to the reverb and delay sends and the master block.
void channel_mix(SynthEngine& engine, int c, const float* frames, int32_t n);
