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
constexpr int32_t kDynamicsRms = 1;      // else peak
constexpr int32_t kDynamicsPerSide = 2;  // else linked on the mean of both sides
constexpr int32_t kDynamicsOff = 4;

// A compressor's parameters, in the order of its slice of the patch or global block.
struct DynamicsParam {
    static constexpr int32_t kDetector = 0;         // 0 off, 1 peak, 2 RMS
    static constexpr int32_t kStereo = 1;           // 0 linked, 1 per side
    static constexpr int32_t kCompensationOff = 2;  // 1: the output is not scaled by the threshold
    static constexpr int32_t kLookAhead = 3;        // milliseconds
    static constexpr int32_t kThreshold = 4;        // 8 x 2^(10 value/128 - 10)
    static constexpr int32_t kRatio = 5;            // value / 128
    static constexpr int32_t kAttack = 6;           // gain fall per frame 2^(-12 value/128)
    static constexpr int32_t kRelease = 7;          // gain rise per frame 2^(-16 value/128)
    static constexpr int32_t kOutput = 8;           // output level 2^((value - 64)/16)
    static constexpr int32_t kCount = 9;
};

struct DynamicsState {
    int32_t mode;
    int32_t previous_mode;  // a change restarts the detector
    float input_gain;       // 1 / threshold
    float ratio;
    float output_gain;
    float attack;         // smoothing while the gain falls
    float release;        // smoothing while the gain rises
    int32_t look_ahead;   // L: the delay line holds L + 1 frames
    int32_t write_index;  // 0..L
    float gain_left;
    float gain_right;
    float peak_left;  // linked mode uses the left one
    float peak_right;
    int32_t rms_index;   // 0..8191
    float rms_sum_left;  // linked mode uses the left one
    float rms_sum_right;
    float delay_line[kDynamicsDelayFrames * 2];  // interleaved stereo
    float rms_history[kRmsWindowFrames * 2];     // interleaved stereo squares
};

// Mode 2 as a placeholder until the first set-up.
void dynamics_init(DynamicsState& dyn);
// Clears the detector, the gains (to 1) and the look-ahead line; the
// coefficients stay as set up.
void dynamics_clear(DynamicsState& dyn);
// p: a DynamicsParam slice on the 0..128 scale.
void dynamics_setup(DynamicsState& dyn, const float* p);
// In place on n (at most kMaxBlockSize) interleaved stereo frames; detector
// is scratch for n stereo frames, rounded up to an even n, and holds the
// levels of the sides afterwards.
void dynamics_render(DynamicsState& dyn, float* frames, int32_t n, float* detector);
