#include "synth/units/lfo.h"

#include "synth/units/numeric.h"

namespace {

constexpr float kRateScale = 1073741824.0f;   // 2^30: the fastest rate, a cycle in 4 ticks
constexpr float kPhaseScale = 2147483648.0f;  // 2^31
constexpr uint32_t kPhaseEnd = 0xFFFFFFFFu;   // where a one-shot LFO stops

// The waveform value in [0, 1) at the current phase.
float waveform_value(LfoState& lfo)
{
    const uint32_t phase = lfo.phase;
    switch (lfo.waveform & 7) {
    case kLfoTriangle: {
        uint32_t u = phase << 1;
        if (phase & 0x80000000u) u = ~u;
        return unit_from_bits(u);
    }
    case kLfoSquare:
        return phase < 0x80000000u ? 0.0f : unit_from_bits(kPhaseEnd);
    case kLfoSine: {
        const float s = unit_from_bits(phase);
        return (0.5f * fast_sine(kTwoPi * s)) + 0.5f;
    }
    case kLfoSampleHold:
        // A new value each time the cycle wraps.
        if (phase < lfo.previous_phase) lfo.random = random_step(lfo.random);
        lfo.previous_phase = phase;
        return unit_from_bits(lfo.random);
    default:  // saw; 5..7 have no waveform of their own
        return unit_from_bits(phase);
    }
}

}  // namespace

void lfo_reset(LfoState& lfo, uint32_t random)
{
    lfo.phase = 0;
    lfo.previous_phase = 0;
    lfo.random = random;
}

void lfo_setup(LfoState& lfo, const float* p)
{
    lfo.waveform = nearest(p[LfoParam::kWaveform]);
    lfo.key_sync = nearest(p[LfoParam::kKeySync]);
    lfo.one_shot = nearest(p[LfoParam::kOneShot]);
    // 2^20 per tick (4096 ticks a cycle) at 0 to 2^30 (4 ticks) at 128.
    const float rate = clamp_parameter(p[LfoParam::kRate]);
    lfo.rate = static_cast<uint32_t>(nearest(pow2_span10(rate / 128.0f) * kRateScale));
    const float start_phase = clamp_parameter(p[LfoParam::kStartPhase]);
    lfo.start_phase = 2u * static_cast<uint32_t>(nearest((start_phase / 128.0f) * kPhaseScale));
    const float amount = clamp_parameter(p[LfoParam::kAmount]);
    switch (nearest(p[LfoParam::kPolarity])) {
    case kLfoNegative:
        lfo.amplitude = -amount;
        lfo.offset = 0.0f;
        break;
    case kLfoBipolar:
        lfo.amplitude = amount;
        lfo.offset = -amount / 2.0f;
        break;
    default:
        lfo.amplitude = amount;
        lfo.offset = 0.0f;
        break;
    }
}

void lfo_key_on(LfoState& lfo)
{
    if (lfo.key_sync != 0) {
        lfo.phase = lfo.start_phase;
        lfo.previous_phase = kPhaseEnd;  // sample and hold draws at the next tick
    }
}

void lfo_tick(LfoState& lfo)
{
    // Every waveform value is finite and not below +0 (the sine's least is
    // about 3e-6), so a zero amplitude times any of them is that zero: the
    // value is needed only by sample and hold, which draws as its phase wraps.
    const bool no_value = lfo.amplitude == 0.0f && (lfo.waveform & 7) != kLfoSampleHold;
    const float w = no_value ? 0.0f : waveform_value(lfo);
    lfo.out = (w * lfo.amplitude) + lfo.offset;
    const uint32_t next = lfo.phase + lfo.rate;
    const bool wrapped = next < lfo.rate;
    lfo.phase = (wrapped && lfo.one_shot != 0) ? kPhaseEnd : next;
}
