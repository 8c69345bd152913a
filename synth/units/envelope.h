// Envelope generator, stepped once per control block: additive attack,
// multiplicative decay, a sloped sustain and a multiplicative release on a
// 0..128 level scale.
#pragma once

#include <cstdint>

enum EnvelopePhase : int32_t {
    kEnvelopeOff = 0,
    kEnvelopeAttack = 1,
    kEnvelopeDecay = 2,
    kEnvelopeSustain = 3,
    kEnvelopeRelease = 4,
};

constexpr float kEnvelopeFloor = 0.0001220703125f;  // 2^-13
constexpr float kEnvelopeCeiling = 128.0f;

// An envelope's parameters, in the order of its slice of the patch.
struct EnvelopeParam {
    static constexpr int32_t kAttack = 0;   // 0 opens in one tick, 128 takes 4096 ticks
    static constexpr int32_t kDecay = 1;    // 0 instant, 128 slowest
    static constexpr int32_t kSustain = 2;  // level 0..128
    static constexpr int32_t kSlope = 3;    // sustain drift: 64 flat
    static constexpr int32_t kRelease = 4;  // 0 instant, 128 slowest
    static constexpr int32_t kGain = 5;     // value / 128
    static constexpr int32_t kCount = 6;
};

struct EnvelopeState {
    float out;             // level * gain, valid after each tick
    int32_t state;         // EnvelopePhase
    float level;           // 0..128
    float attack_step;     // added per tick in Attack
    float decay_factor;    // level multiplier per tick in Decay
    float sustain_level;   // Decay ends at or below it
    float sustain_factor;  // level multiplier per tick in Sustain
    float release_factor;  // level multiplier per tick in Release
    float gain;
};

// State Off; the level is kept.
void envelope_reset(EnvelopeState& env);
// p: an EnvelopeParam slice on the 0..128 scale.
void envelope_setup(EnvelopeState& env, const float* p);
void envelope_tick(EnvelopeState& env, int32_t gate);
