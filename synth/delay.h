// Modulated stereo delay: one per channel as an insert on rings of 2048
// frames, and one global delay on rings of 32768 frames fed by the sends.
// The read position moves with a triangle and is read with linear
// interpolation.
#pragma once

#include <cstdint>

#include "synth/constants.h"

constexpr int32_t kChannelDelayFrames = 2048;
constexpr int32_t kGlobalDelayFrames = 32768;

struct DelayState {
    float* ring_left;             // mask + 1 floats
    float* ring_right;            // mask + 1 floats
    int32_t mask;                 // ring length - 1
    int32_t write_index;
    int32_t delay_left;           // base delay, frames
    int32_t delay_right;          // base delay, frames
    uint32_t modulation_phase;    // one cycle = 2^32
    uint32_t modulation_step;     // per frame
    uint32_t right_phase_offset;
    int32_t modulation_depth;     // peak, frames
    float feedback;
    float dry;
    float wet;
};

// Write index and phase 0, both rings cleared.
void delay_reset(DelayState& delay);
// p[0..6]: dry/wet, feedback, left delay, right delay, rate, depth, stereo phase.
void delay_setup(DelayState& delay, const float* p, const RateConstants& rates);
// Channel insert: the output replaces the n interleaved stereo frames.
void delay_render_insert(DelayState& delay, float* frames, int32_t n);
// Global send: mono input, only the delayed signal, added to the master frames.
void delay_render_send(DelayState& delay, const float* send, float* master, int32_t n);
