#include "synth/units/oscillator.h"

#include <cmath>

#include "synth/units/numeric.h"

namespace {

constexpr float kPhaseScale = 2147483648.0f;  // 2^31: colour 0..1 to half a phase

// Swept-interval cases of ramp and pulse as a 3-bit code: bit 2 the previous
// phase was below the threshold, bit 1 the step wrapped past the cycle end,
// bit 0 the current phase is below the threshold.
constexpr uint32_t kBeforeBelow = 4u;
constexpr uint32_t kWrapped = 2u;
constexpr uint32_t kNowBelow = 1u;

uint32_t first_code(uint32_t phase, uint32_t increment, uint32_t threshold)
{
    const uint32_t previous = phase - increment;
    return (previous < threshold ? kBeforeBelow : 0u) | (phase < increment ? kWrapped : 0u) |
           (phase < threshold ? kNowBelow : 0u);
}

// The next sample's code: this sample's "now below" becomes "before below",
// the carry of the phase addition is the wrap.
uint32_t next_code(uint32_t code, uint32_t next_phase, uint32_t increment, uint32_t threshold)
{
    return ((code & kNowBelow) << 2) | (next_phase < increment ? kWrapped : 0u) |
           (next_phase < threshold ? kNowBelow : 0u);
}

template <bool kRing>
inline float combine(float sample, float v)
{
    return kRing ? sample * v : sample + v;
}

// The loop shared by ramp and pulse: each sample is the mean of the ideal wave
// over the phase swept since the previous sample, which wave(code, phi)
// gives in closed form for the sample's 3-bit case code.
template <bool kRing, typename Wave>
void render_box_averaged(OscillatorState& osc, float* buffer, int32_t n, Wave wave)
{
    const uint32_t increment = static_cast<uint32_t>(osc.increment);
    const uint32_t threshold = osc.threshold;
    uint32_t phase = osc.phase;
    uint32_t code = first_code(phase, increment, threshold);
    for (int32_t i = 0; i < n; ++i) {
        buffer[i] = combine<kRing>(buffer[i], wave(code, unit_from_bits(phase)));
        const uint32_t next = phase + increment;
        code = next_code(code, next, increment, threshold);
        phase = next;
    }
    osc.phase = phase;
}

// Ramp rising from -g at phase 0 to +g at the peak k and falling back to -g at
// the cycle end.
template <bool kRing>
void render_ramp(OscillatorState& osc, float* buffer, int32_t n)
{
    const float g = osc.gain;
    const float k = unit_from_bits(osc.threshold);
    const float d = unit_from_bits(static_cast<uint32_t>(osc.increment));
    const float a = -g / (1.0f - k);  // half the falling slope
    // Half the rising slope. A peak closer to 0 than the 23-bit fraction can
    // show (threshold 1..511) reads as k = 0, where g/k is infinite and would
    // turn the crossing rows into inf or NaN; the rising part is then narrower
    // than the resolution and contributes nothing.
    const float b = k != 0.0f ? g / k : 0.0f;
    const float r = 1.0f / d;
    render_box_averaged<kRing>(osc, buffer, n, [=](uint32_t code, float phi) {
        const float x = phi - k;
        switch (code) {
        case 0u:                       // inside the falling part
        case kBeforeBelow | kWrapped:  // cannot occur with a step below one cycle
            return g + (a * ((2 * x) - d));
        case kNowBelow:
        case kBeforeBelow | kNowBelow:  // inside the rising part
            return g + (b * ((2 * x) - d));
        case kBeforeBelow:  // across the peak
            return g + (r * ((a * (x * x)) - (b * ((x - d) * (x - d)))));
        case kWrapped | kNowBelow: {  // across the cycle end
            const float e = (1.0f + x) - d;
            return g - (r * ((g + (a * (e * e))) - (b * (x * x))));
        }
        case kWrapped:  // across the cycle end and the whole rising part
            return g - (r * (g + ((a * (1.0f - d)) * (((2 * x) + 1.0f) - d))));
        default:  // across the peak and the cycle end
            return g - (r * (g + ((b * (1.0f - d)) * (((2 * x) + 1.0f) - d))));
        }
    });
}

// Pulse: +g while the phase is below the threshold, -g after it.
template <bool kRing>
void render_pulse(OscillatorState& osc, float* buffer, int32_t n)
{
    const float g = osc.gain;
    const float k = unit_from_bits(osc.threshold);
    const float d = unit_from_bits(static_cast<uint32_t>(osc.increment));
    const float big_g = g / d;
    render_box_averaged<kRing>(osc, buffer, n, [=](uint32_t code, float phi) {
        switch (code) {
        case kNowBelow:
        case kBeforeBelow | kNowBelow:
            return g;
        case kBeforeBelow:  // across the falling edge
            return g + ((2 * (k - phi)) * big_g);
        case kWrapped | kNowBelow:  // across the cycle end (rising edge)
            return ((2 * phi) * big_g) - g;
        case kWrapped:  // across the cycle end and the whole high part
            return ((2 * k) * big_g) - g;
        case kBeforeBelow | kWrapped | kNowBelow:  // across both edges
            return g - ((2 * (1.0f - k)) * big_g);
        default:
            return -g;
        }
    });
}

// Sine from a folded phase: the triangle t in [1, 2) maps to x in [-pi/2, pi/2).
template <bool kRing>
void render_sine(OscillatorState& osc, float* buffer, int32_t n)
{
    const uint32_t increment = static_cast<uint32_t>(osc.increment);
    const float g = osc.gain;
    uint32_t phase = osc.phase;
    for (int32_t i = 0; i < n; ++i) {
        int32_t t = static_cast<int32_t>(phase + 0x40000000u);
        if (t < 0) t = ~t;
        const float y = float_from_bits(0x3F800000u | (static_cast<uint32_t>(t) >> 8));
        const float x = (y * kPi) - kThreePiOver2;
        const float v = static_cast<float>(static_cast<double>(g * x) * sine_polynomial_factor(x));
        buffer[i] = combine<kRing>(buffer[i], v);
        phase += increment;
    }
    osc.phase = phase;
}

// White noise through a state-variable filter; the phase stays where it is.
template <bool kRing>
void render_noise(OscillatorState& osc, float* buffer, int32_t n)
{
    const float g = osc.gain;
    const float f = osc.noise_cutoff;
    const float q = osc.noise_damping;
    uint32_t seed = osc.noise_seed;
    float low = osc.noise_low;
    float band = osc.noise_band;
    for (int32_t i = 0; i < n; ++i) {
        seed = random_step(seed);
        const float s = signed_from_bits(seed);
        low = low + (f * band);
        const float high = (s - (q * band)) - low;
        band = band + (f * high);
        const float v = g * ((q * (high + low)) + band);
        buffer[i] = combine<kRing>(buffer[i], v);
    }
    osc.noise_seed = seed;
    osc.noise_low = low;
    osc.noise_band = band;
}

// Sine whose phase is pushed by the buffer; replaces the buffer (ring:
// multiplies the sine by the modulator instead).
template <bool kRing>
void render_phase_mod(OscillatorState& osc, float* buffer, int32_t n)
{
    const uint32_t increment = static_cast<uint32_t>(osc.increment);
    const float g = osc.gain;
    uint32_t phase = osc.phase;
    for (int32_t i = 0; i < n; ++i) {
        const float m = buffer[i];
        const float phi1 = one_plus_unit_from_bits(phase);
        const float v = g * fast_sine(kTwoPi * ((2 * m) + phi1));
        buffer[i] = kRing ? v * m : v;
        phase += increment;
    }
    osc.phase = phase;
}

template <bool kRing>
void render_mode(OscillatorState& osc, float* buffer, int32_t n)
{
    switch (osc.mode & 7) {
    case kOscillatorRamp:
        render_ramp<kRing>(osc, buffer, n);
        break;
    case kOscillatorPulse:
        render_pulse<kRing>(osc, buffer, n);
        break;
    case kOscillatorSine:
        render_sine<kRing>(osc, buffer, n);
        break;
    case kOscillatorNoise:
        render_noise<kRing>(osc, buffer, n);
        break;
    case kOscillatorPhaseMod:
        render_phase_mod<kRing>(osc, buffer, n);
        break;
    default:  // silent: buffer and phase untouched
        break;
    }
}

}  // namespace

void oscillator_reset(OscillatorState& osc, uint32_t noise_seed)
{
    osc.phase = 0;
    osc.noise_low = 0.0f;
    osc.noise_band = 0.0f;
    osc.noise_seed = noise_seed;
}

void oscillator_setup(OscillatorState& osc, const float* p, const RateConstants& rates)
{
    oscillator_setup_slice(osc, p, (1u << OscillatorParam::kCount) - 1u);
    oscillator_update_pitch(osc, rates);
}

void oscillator_setup_slice(OscillatorState& osc, const float* p, uint32_t changes)
{
    const auto changed = [changes](int32_t param) { return ((changes >> param) & 1u) != 0; };
    if (changed(OscillatorParam::kMode)) osc.mode = nearest(p[OscillatorParam::kMode]);
    if (changed(OscillatorParam::kRing)) osc.ring = nearest(p[OscillatorParam::kRing]);
    if (changed(OscillatorParam::kTranspose) || changed(OscillatorParam::kDetune)) {
        const float transpose = clamp_parameter(p[OscillatorParam::kTranspose]);
        const float detune = clamp_parameter(p[OscillatorParam::kDetune]);
        osc.pitch_offset = (transpose - 64.0f) + ((detune - 64.0f) / 128.0f);
    }
    if (changed(OscillatorParam::kColour)) {
        const float k = clamp_parameter(p[OscillatorParam::kColour]) / 128.0f;
        // Doubling in unsigned arithmetic: k = 1 gives 2^31 read unsigned, doubled to 0.
        osc.threshold = 2u * static_cast<uint32_t>(nearest(k * kPhaseScale));
        osc.noise_damping = 1.0f - static_cast<float>(std::sqrt(static_cast<double>(k)));
    }
    if (changed(OscillatorParam::kGain)) osc.gain = clamp_parameter(p[OscillatorParam::kGain]) / 128.0f;
}

void oscillator_update_pitch(OscillatorState& osc, const RateConstants& rates)
{
    const float offset = osc.pitch_offset;
    osc.noise_cutoff = rate_scaled_coefficient(pow2_span10((offset + 64.0f) / 128.0f), rates.rate_ratio);
    const float semitones = (osc.note + offset) - 60.0f;
    osc.increment = nearest(pow2(semitones / 12.0f) * rates.reference_increment);
}

void oscillator_render(OscillatorState& osc, float* buffer, int32_t n)
{
    if (osc.ring & 1) {
        render_mode<true>(osc, buffer, n);
    } else {
        render_mode<false>(osc, buffer, n);
    }
}
