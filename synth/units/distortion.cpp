#include "synth/units/distortion.h"

#include <cmath>
#include <cstring>

#include "synth/lanes.h"
#include "synth/units/numeric.h"

namespace {

constexpr float kPhaseScale = 2147483648.0f;  // 2^31
constexpr int32_t kCrushLimit = 32767;        // 16-bit range, symmetric
constexpr float kCrushUnit = 0x1p-15f;        // 1 / 32768

void copy_unless_in_place(const float* in, float* out, int32_t count)
{
    if (in != out && count > 0) std::memmove(out, in, static_cast<size_t>(count) * sizeof(float));
}

void render_overdrive(const DistortionUnit& unit, const float* in, float* out, int32_t count)
{
    // Two samples at a time, the doubles in one register; an odd last one is
    // paired with a zero.
    using L = Lanes<2>;
    const float drive = unit.drive;
    const float bias = unit.bias;
    const float gain = unit.output_gain;
    for (int32_t i = 0; i < count; i += 2) {
        const bool last = i + 1 == count;
        const L::F x = last ? L::F{in[i], 0.0f} : L::load(in + i);
        const L::F y = L::atan_shaper((x * drive) + bias) * gain;
        if (last) {
            out[i] = y[0];
        } else {
            L::store(out + i, y);
        }
    }
}

void render_clip(const DistortionUnit& unit, const float* in, float* out, int32_t count)
{
    const float drive = unit.drive;
    const float bias = unit.bias;
    const float gain = unit.output_gain;
    for (int32_t i = 0; i < count; ++i) {
        float v = (in[i] * drive) + bias;
        if (v < -1.0f) v = -1.0f;
        if (v > 1.0f) v = 1.0f;
        out[i] = v * gain;
    }
}

void render_crusher(const DistortionUnit& unit, const float* in, float* out, int32_t count)
{
    const float scale = unit.crush_scale;
    const uint32_t step = static_cast<uint32_t>(unit.crush_step);
    const int32_t mask = unit.crush_mask;
    for (int32_t i = 0; i < count; ++i) {
        // The product wraps at 32 bits like the signed multiply it stands for.
        int32_t q = static_cast<int32_t>(static_cast<uint32_t>(nearest(in[i] * scale)) * step);
        if (q < -kCrushLimit) q = -kCrushLimit;
        if (q > kCrushLimit) q = kCrushLimit;
        q ^= mask;
        out[i] = static_cast<float>(q) * kCrushUnit;
    }
}

// Overdrive, clip and bit crusher keep no per-sample state, so the stereo form
// runs them over the samples of both sides in one pass. False for the other modes.
bool render_shaper(const DistortionUnit& unit, const float* in, float* out, int32_t samples)
{
    switch (unit.mode) {
    case kDistortionOverdrive:
        render_overdrive(unit, in, out, samples);
        return true;
    case kDistortionClip:
        render_clip(unit, in, out, samples);
        return true;
    case kDistortionBitCrusher:
        render_crusher(unit, in, out, samples);
        return true;
    default:
        return false;
    }
}

}  // namespace

void distortion_reset(DistortionUnit& unit)
{
    unit.hold_counter = 0;
    unit.held_left = 0;
    unit.held_right = 0;
    filter_reset(unit.filter_a);
    filter_reset(unit.filter_b);
}

void distortion_setup(DistortionUnit& unit, const float* p, const RateConstants& rates)
{
    unit.mode = nearest(p[DistortionParam::kMode]);
    // 0.25 at 0, 1 at 32, 64 at 128.
    unit.drive = pow2((clamp_parameter(p[DistortionParam::kDrive]) - 32.0f) * 0.0625f);
    const float drive = unit.drive;
    const float a = clamp_parameter(p[DistortionParam::kA]);
    // The crusher reads B as a bit mask over the whole byte; elsewhere it is a level.
    const float b =
        unit.mode == kDistortionBitCrusher ? p[DistortionParam::kB] : clamp_parameter(p[DistortionParam::kB]);
    switch (unit.mode) {
    case kDistortionOverdrive:
        unit.output_gain = (a / 128.0f) / static_cast<float>(std::atan(static_cast<double>(drive)));
        unit.bias = (drive * (b - 64.0f)) / 64.0f;
        break;
    case kDistortionClip:
        unit.output_gain = a / 128.0f;
        unit.bias = (drive * (b - 64.0f)) / 64.0f;
        break;
    case kDistortionBitCrusher:
        unit.crush_step = nearest((256.0f * a) + 1.0f);
        unit.crush_scale = (drive * 32768.0f) / ((256.0f * a) + 1.0f);
        // Shifted as unsigned: a wild parameter cannot overflow.
        unit.crush_mask = static_cast<int32_t>(static_cast<uint32_t>(nearest(b)) << 9);
        break;
    case kDistortionRateReducer:
        // Doubled as unsigned: 128 gives 2^31 read unsigned, doubled to 0 (hold forever).
        unit.hold_step = 2u * static_cast<uint32_t>(nearest(pow2_span10(a / 128.0f) * kPhaseScale));
        break;
    case kDistortionLowPass:
    case kDistortionBandPass:
    case kDistortionHighPass:
    case kDistortionNotch:
    case kDistortionAllPass: {
        // The filter modes run the filter unit, its responses in the same order.
        float slice[FilterParam::kCount];
        slice[FilterParam::kMode] = static_cast<float>((unit.mode - kDistortionLowPass) + kFilterLowPass);
        slice[FilterParam::kCutoff] = a;
        slice[FilterParam::kResonance] = b;
        filter_setup(unit.filter_a, slice, rates);
        filter_setup(unit.filter_b, slice, rates);
        break;
    }
    default:  // off, and every value outside 1..9
        break;
    }
}

void distortion_render_mono(DistortionUnit& unit, const float* in, float* out, int32_t n)
{
    if (render_shaper(unit, in, out, n)) return;
    switch (unit.mode) {
    case kDistortionRateReducer: {
        const uint32_t step = unit.hold_step;
        uint32_t counter = unit.hold_counter;
        uint32_t held = unit.held_left;
        for (int32_t i = 0; i < n; ++i) {
            counter += step;
            if (counter < step) held = bits_from_float(in[i]);  // raw word, not arithmetic
            out[i] = float_from_bits(held);
        }
        unit.hold_counter = counter;
        unit.held_left = held;
        break;
    }
    case kDistortionLowPass:
    case kDistortionBandPass:
    case kDistortionHighPass:
    case kDistortionNotch:
    case kDistortionAllPass:
        filter_render(unit.filter_a, in, out, n);
        break;
    default:
        copy_unless_in_place(in, out, n);
        break;
    }
}

void distortion_render_stereo(DistortionUnit& unit, const float* in, float* out, int32_t frames)
{
    const int32_t samples = 2 * frames;
    if (render_shaper(unit, in, out, samples)) return;
    switch (unit.mode) {
    case kDistortionRateReducer: {
        const uint32_t step = unit.hold_step;
        uint32_t counter = unit.hold_counter;
        uint32_t left = unit.held_left;
        uint32_t right = unit.held_right;
        for (int32_t i = 0; i < frames; ++i) {
            counter += step;
            if (counter < step) {
                left = bits_from_float(in[2 * i]);
                right = bits_from_float(in[2 * i + 1]);
            }
            out[2 * i] = float_from_bits(left);
            out[2 * i + 1] = float_from_bits(right);
        }
        unit.hold_counter = counter;
        unit.held_left = left;
        unit.held_right = right;
        break;
    }
    case kDistortionLowPass:
    case kDistortionBandPass:
    case kDistortionHighPass:
    case kDistortionNotch:
    case kDistortionAllPass:
        filter_render_stereo(unit.filter_a, unit.filter_b, in, out, frames);
        break;
    default:
        copy_unless_in_place(in, out, samples);
        break;
    }
}
