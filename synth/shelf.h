// Low-shelf equaliser at 150 Hz on a channel: up to +12 dB below the corner.
#pragma once

#include <cstdint>

#include "synth/constants.h"

struct ShelfEqState {
    int32_t boost;  // round(parameter); 0 = off
    float a1, a2;   // feedback, divided by a0
    float b0, b1, b2;
    // Inputs and outputs of the two frames before, the older first.
    float x2_left, x2_right;
    float x1_left, x1_right;
    float y2_left, y2_right;
    float y1_left, y1_right;
};

// p on the 0..128 scale; A = 2^(p/128), shelf gain A^2.
void shelf_setup(ShelfEqState& eq, float p, const RateConstants& rates);
// Zeroes the filter memory; the coefficients stay.
void shelf_clear(ShelfEqState& eq);
// In place on n interleaved stereo frames, left side first.
void shelf_render(ShelfEqState& eq, float* frames, int32_t n);
