// Resonant state-variable filter, run twice per sample on the same input
// (two-fold oversampling), with five responses.
#pragma once

#include <cstdint>

#include "synth/constants.h"

// Responses (mode AND 7); 0, 6 and 7 pass the input through.
enum FilterMode : int32_t {
    kFilterBypass = 0,
    kFilterLowPass = 1,
    kFilterBandPass = 2,
    kFilterHighPass = 3,
    kFilterNotch = 4,  // high + low
    kFilterAll = 5,    // high + band + low
};

// A filter's parameters, in the order of its slice of the patch.
struct FilterParam {
    static constexpr int32_t kMode = 0;       // FilterMode
    static constexpr int32_t kCutoff = 1;     // 2^(10 value/128 - 10) at 44100 Hz
    static constexpr int32_t kResonance = 2;  // damping 1 - value/128
    static constexpr int32_t kCount = 3;
};

struct FilterState {
    int32_t mode;
    float cutoff;   // frequency coefficient f
    float damping;  // q = 1 - resonance
    float low;
    float band;
    int32_t stride;  // 1 mono, 2 one side of interleaved stereo
};

// States 0, stride 1; mode and coefficients kept.
void filter_reset(FilterState& filter);
// p: a FilterParam slice on the 0..128 scale.
void filter_setup(FilterState& filter, const float* p, const RateConstants& rates);
// n >= 1 samples; in and out advance by the stride and may be the same buffer.
void filter_render(FilterState& filter, const float* in, float* out, int32_t n);
// The left filter on the left side of `frames` interleaved frames and the
// right on the right, as two filter_render calls with stride 2 would.
void filter_render_stereo(FilterState& left, FilterState& right, const float* in, float* out, int32_t frames);
