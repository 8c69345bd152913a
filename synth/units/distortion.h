// Distortion unit: overdrive, clip, bit crusher, rate reducer and five filter
// responses, on a voice's mono signal or a channel's interleaved stereo.
#pragma once

#include <cstdint>

#include "synth/constants.h"
#include "synth/units/filter.h"

// Modes 0..9; 10 and above behave as off.
enum DistortionMode : int32_t {
    kDistortionOff = 0,
    kDistortionOverdrive = 1,
    kDistortionClip = 2,
    kDistortionBitCrusher = 3,
    kDistortionRateReducer = 4,
    kDistortionLowPass = 5,
    kDistortionBandPass = 6,
    kDistortionHighPass = 7,
    kDistortionNotch = 8,
    kDistortionAllPass = 9,  // high + band + low
};

// A distortion unit's parameters, in the order of its slice of the patch.
struct DistortionParam {
    static constexpr int32_t kMode = 0;   // DistortionMode
    static constexpr int32_t kDrive = 1;  // input gain 2^((value - 32)/16)
    static constexpr int32_t kA = 2;      // output level, coarseness, hold rate or cut-off, by mode
    static constexpr int32_t kB = 3;      // bias, flipped bits or resonance, by mode
    static constexpr int32_t kCount = 4;
};

struct DistortionUnit {
    int32_t mode;
    float drive;            // input gain (modes 1..3)
    float output_gain;      // modes 1, 2
    float bias;             // modes 1, 2
    float crush_scale;      // mode 3
    int32_t crush_step;     // mode 3
    int32_t crush_mask;     // mode 3: bits flipped in the 16-bit result
    uint32_t hold_counter;  // mode 4
    uint32_t hold_step;     // mode 4
    uint32_t held_left;     // mode 4, raw sample bits (mono or left)
    uint32_t held_right;    // mode 4, raw sample bits (right)
    FilterState filter_a;   // modes 5..9: mono or left
    FilterState filter_b;   // modes 5..9: right
};

void distortion_reset(DistortionUnit& unit);
// p: a DistortionParam slice on the 0..128 scale.
void distortion_setup(DistortionUnit& unit, const float* p, const RateConstants& rates);
// n >= 1 samples; in and out may be the same buffer.
void distortion_render_mono(DistortionUnit& unit, const float* in, float* out, int32_t n);
// frames >= 1 interleaved pairs; in and out may be the same buffer.
void distortion_render_stereo(DistortionUnit& unit, const float* in, float* out, int32_t frames);
