// Stereo reverb on the mono reverb send: four damped combs into two all-pass
// filters per side, with slightly different line lengths left and right, and
// a one-pole low-cut at each output.
#pragma once

#include <cstdint>

constexpr int32_t kReverbCombLeft[4] = {1309, 1635, 1811, 1926};
constexpr int32_t kReverbCombRight[4] = {1327, 1631, 1833, 1901};
constexpr int32_t kReverbAllPassLeft[2] = {220, 74};
constexpr int32_t kReverbAllPassRight[2] = {205, 77};
// Sum of all twelve line lengths.
constexpr int32_t kReverbLineFloats = 1309 + 1635 + 1811 + 1926 + 220 + 74 + 1327 + 1631 + 1833 + 1901 + 205 + 77;

// The reverb's parameters, in the order of its slice of the global block.
struct ReverbParam {
    static constexpr int32_t kDecay = 0;    // 0 longest, 127 shortest
    static constexpr int32_t kDamping = 1;  // loss of highs inside the tail
    static constexpr int32_t kLowCut = 2;   // output low cut (value/128)^4
    static constexpr int32_t kInput = 3;    // input level value / 128
    static constexpr int32_t kCount = 4;
};

struct ReverbState {
    float gains[6];  // combs 1..4 feedback, all-passes 1..2
    float input_gain;
    float damping;
    float output_lowcut;
    int32_t indices[12];   // left combs, left all-passes, right combs, right all-passes
    float comb_states[8];  // left combs 1..4, right combs 1..4
    float output_states[2];
    float lines[kReverbLineFloats];  // in the order of indices
};

// Zeroes the whole state, lines included.
void reverb_reset(ReverbState& reverb);
// Zeroes the lines and states; the coefficients stay.
void reverb_clear(ReverbState& reverb);
// p: a ReverbParam slice on the 0..128 scale; rate_ratio rescales.
void reverb_setup(ReverbState& reverb, const float* p, float rate_ratio);
// Adds the reverb of send[0..n-1] to the n interleaved master frames. If any of
// its arithmetic underflowed, the lines and states are cleared after the block.
void reverb_render(ReverbState& reverb, const float* send, float* master, int32_t n);
