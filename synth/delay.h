// Modulated stereo delay: one per channel as an insert on rings of 2048
// frames, and one global delay on rings of 32768 frames fed by the sends.
// The read position moves with a triangle and is read with linear
// interpolation.
#pragma once

#include <cstdint>

#include "synth/constants.h"

constexpr int32_t kChannelDelayFrames = 2048;
constexpr int32_t kGlobalDelayFrames = 32768;

// A delay's parameters, in the order of its slice of the patch or global block.
struct DelayParam {
    static constexpr int32_t kMix = 0;       // wet (value - 64)/64, dry 1 - |wet|: 64 bypasses
    static constexpr int32_t kFeedback = 1;  // (value - 64)/64
    static constexpr int32_t kLeft = 2;      // base delay, 8 frames a step on a channel, 248 globally
    static constexpr int32_t kRight = 3;
    static constexpr int32_t kRate = 4;         // modulation rate, 0.02 Hz at 0 to 20 Hz at 128
    static constexpr int32_t kDepth = 5;        // modulation depth, up to 1023 frames
    static constexpr int32_t kStereoPhase = 6;  // right side's modulation phase: 64 same as the left
    static constexpr int32_t kCount = 7;
};

struct DelayState {
    float* ring_left;   // mask + 1 floats
    float* ring_right;  // mask + 1 floats
    int32_t mask;       // ring length - 1
    int32_t write_index;
    int32_t delay_left;         // base delay, frames
    int32_t delay_right;        // base delay, frames
    uint32_t modulation_phase;  // one cycle = 2^32
    uint32_t modulation_step;   // per frame
    uint32_t right_phase_offset;
    int32_t modulation_depth;  // peak, frames
    float feedback;
    float dry;
    float wet;
};

// Write index and phase 0, both rings cleared.
void delay_reset(DelayState& delay);
// p: a DelayParam slice on the 0..128 scale.
void delay_setup(DelayState& delay, const float* p, const RateConstants& rates);
// Channel insert: the output replaces the n interleaved stereo frames.
void delay_render_insert(DelayState& delay, float* frames, int32_t n);
// Global send: mono input, only the delayed signal, added to the master frames.
void delay_render_send(DelayState& delay, const float* send, float* master, int32_t n);
