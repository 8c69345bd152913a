#include "synth/units/envelope.h"

#include "synth/units/numeric.h"

namespace {

constexpr float kSustainSlopePerStep = 0.0019374999683350325f;  // octaves per tick per slope step

void attack_step(EnvelopeState& env)
{
    env.level += env.attack_step;
    if (env.level >= kEnvelopeCeiling) {
        env.level = kEnvelopeCeiling;
        env.state = kEnvelopeDecay;
    }
}

void decay_step(EnvelopeState& env)
{
    env.level *= env.decay_factor;
    if (env.level <= env.sustain_level) {
        env.level = env.sustain_level;
        env.state = kEnvelopeSustain;
    }
}

void sustain_step(EnvelopeState& env)
{
    env.level *= env.sustain_factor;
    if (env.level <= kEnvelopeFloor) {
        env.level = 0.0f;
        env.state = kEnvelopeOff;
    } else if (env.level >= kEnvelopeCeiling) {
        env.level = kEnvelopeCeiling;
    }
}

void release_step(EnvelopeState& env)
{
    env.level *= env.release_factor;
    if (env.level <= kEnvelopeFloor) {
        env.level = 0.0f;
        env.state = kEnvelopeOff;
    }
}

}  // namespace

void envelope_reset(EnvelopeState& env)
{
    env.state = kEnvelopeOff;
}

void envelope_setup(EnvelopeState& env, const float* slice)
{
    float p[EnvelopeParam::kCount];
    for (int i = 0; i < EnvelopeParam::kCount; ++i) p[i] = clamp_parameter(slice[i]);
    // Attack: 128 per tick at 0 down to 1/32 per tick (4096 ticks) at 128.
    env.attack_step = pow2(7.0f - (0.09375f * p[EnvelopeParam::kAttack]));
    // Decay and release: 1 - 2^(-11 p/128), from 0 (instant) to 1 - 2^-11.
    env.decay_factor = 1.0f - pow2_span11(1.0f - (p[EnvelopeParam::kDecay] / 128.0f));
    env.sustain_level = p[EnvelopeParam::kSustain];
    // Sustain slope: 64 is flat, above rises, below sinks.
    env.sustain_factor = pow2((p[EnvelopeParam::kSlope] - 64.0f) * kSustainSlopePerStep);
    env.release_factor = 1.0f - pow2_span11(1.0f - (p[EnvelopeParam::kRelease] / 128.0f));
    env.gain = p[EnvelopeParam::kGain] / 128.0f;
}

void envelope_tick(EnvelopeState& env, int32_t gate)
{
    // A state left by the gate change runs the new state's rule in the same tick.
    switch (env.state) {
    case kEnvelopeAttack:
        if (gate) {
            attack_step(env);
        } else {
            env.state = kEnvelopeRelease;
            release_step(env);
        }
        break;
    case kEnvelopeDecay:
        if (gate) {
            decay_step(env);
        } else {
            env.state = kEnvelopeRelease;
            release_step(env);
        }
        break;
    case kEnvelopeSustain:
        if (gate) {
            sustain_step(env);
        } else {
            env.state = kEnvelopeRelease;
            release_step(env);
        }
        break;
    case kEnvelopeRelease:
        if (gate) {
            env.state = kEnvelopeAttack;  // resumes from the current level
            attack_step(env);
        } else {
            release_step(env);
        }
        break;
    default:  // Off
        if (gate) {
            env.state = kEnvelopeAttack;
            attack_step(env);
        } else {
            env.state = kEnvelopeOff;
            env.level = 0.0f;
        }
        break;
    }
    env.out = env.level * env.gain;
}
