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
// p[0..5]: attack, decay, sustain, sustain slope, release, gain.
void envelope_setup(EnvelopeState& env, const float* p);
void envelope_tick(EnvelopeState& env, int32_t gate);
