// Look-ahead compressor: a peak or RMS detector (linked or per side), a gain
// computer with a ratio, attack and release smoothing, and a delay line so the
// gain reacts before the signal arrives. Coefficients are per frame and are
// not scaled by the sample rate.
#pragma once

#include <cstdint>

constexpr int32_t kDynamicsDelayFrames = 5700;
constexpr int32_t kDynamicsMaxLookAhead = kDynamicsDelayFrames - 1;
constexpr int32_t kRmsWindowFrames = 8192;

// Mode bits.
constexpr int32_t kDynamicsRms = 1;        // else peak
constexpr int32_t kDynamicsPerSide = 2;    // else linked on the mean of both sides
constexpr int32_t kDynamicsOff = 4;

struct DynamicsState {
    int32_t mode;
    int32_t previous_mode;   // a change restarts the detector
    float input_gain;        // 1 / threshold
    float ratio;
    float output_gain;
    float attack;            // smoothing while the gain falls
    float release;           // smoothing while the gain rises
    int32_t look_ahead;      // L: the delay line holds L + 1 frames
    int32_t write_index;     // 0..L
    float gain_left;
    float gain_right;
    float peak_left;         // linked mode uses the left one
    float peak_right;
    int32_t rms_index;       // 0..8191
    float rms_sum_left;      // linked mode uses the left one
    float rms_sum_right;
    float delay_line[kDynamicsDelayFrames * 2];   // interleaved stereo
    float rms_history[kRmsWindowFrames * 2];      // interleaved stereo squares
};

// Mode 2 as a placeholder until the first set-up.
void dynamics_init(DynamicsState& dyn);
// q[0..8]: detector, stereo detection, threshold compensation off,
// look-ahead (ms), threshold, ratio, attack, release, output level.
void dynamics_setup(DynamicsState& dyn, const float* q);
// In place on n interleaved stereo frames; detector is n stereo frames of scratch.
void dynamics_render(DynamicsState& dyn, float* frames, int32_t n, float* detector);
