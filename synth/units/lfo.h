// Low-frequency oscillator, stepped once per control block, with key sync,
// one-shot and positive, negative or bipolar output.
#pragma once

#include <cstdint>

enum LfoWaveform : int32_t {
    kLfoSaw = 0,
    kLfoTriangle = 1,
    kLfoSquare = 2,
    kLfoSine = 3,
    kLfoSampleHold = 4,  // 5..7 behave as the saw
};

enum LfoPolarity : int32_t {
    kLfoPositive = 0,  // 0..amount
    kLfoNegative = 1,  // 0..-amount
    kLfoBipolar = 2,   // -amount/2..amount/2
};

// An LFO's parameters, in the order of its slice of the patch.
struct LfoParam {
    static constexpr int32_t kWaveform = 0;    // LfoWaveform
    static constexpr int32_t kKeySync = 1;     // 1: note-on restarts the phase
    static constexpr int32_t kOneShot = 2;     // 1: the phase stops at the cycle end
    static constexpr int32_t kRate = 3;        // 4096 ticks a cycle at 0, 4 at 128
    static constexpr int32_t kStartPhase = 4;  // 128 = one cycle
    static constexpr int32_t kPolarity = 5;    // LfoPolarity
    static constexpr int32_t kAmount = 6;      // output size 0..128
    static constexpr int32_t kCount = 7;
};

struct LfoState {
    float out;         // valid after each tick
    int32_t waveform;  // low 3 bits
    int32_t key_sync;  // non-zero: note-on restarts the phase
    int32_t one_shot;  // non-zero: the phase stops at the cycle end
    uint32_t rate;     // phase step per tick
    uint32_t phase;
    uint32_t start_phase;  // loaded at note-on with key sync
    float amplitude;       // signed output scale
    float offset;
    uint32_t random;          // sample-and-hold value and generator state
    uint32_t previous_phase;  // phase at the previous sample-and-hold tick
};

// Phases 0; the sample-and-hold generator starts from random.
void lfo_reset(LfoState& lfo, uint32_t random);
// p: an LfoParam slice on the 0..128 scale.
void lfo_setup(LfoState& lfo, const float* p);
void lfo_key_on(LfoState& lfo);
void lfo_tick(LfoState& lfo);
