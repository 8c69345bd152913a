#include "synth/units/filter.h"

#include <cstring>

#include "synth/units/numeric.h"

namespace {

// Two passes of the state-variable loop per sample with the same input; the
// response is read after the second pass.
template <int32_t kMode>
void render_response(FilterState& filter, const float* in, float* out, int32_t n)
{
    const float f = filter.cutoff;
    const float q = filter.damping;
    const int32_t stride = filter.stride;
    float low = filter.low;
    float band = filter.band;
    for (int32_t i = 0; i < n; ++i) {
        const float s = *in;
        low = low + (f * band);
        float high = (s - (q * band)) - low;
        band = band + (f * high);
        low = low + (f * band);
        high = (s - (q * band)) - low;
        band = band + (f * high);
        float v;
        if constexpr (kMode == kFilterLowPass) {
            v = low;
        } else if constexpr (kMode == kFilterBandPass) {
            v = band;
        } else if constexpr (kMode == kFilterHighPass) {
            v = high;
        } else if constexpr (kMode == kFilterNotch) {
            v = high + low;
        } else {
            v = (high + band) + low;
        }
        *out = v;
        in += stride;
        out += stride;
    }
    filter.low = low;
    filter.band = band;
}

}  // namespace

void filter_reset(FilterState& filter)
{
    filter.low = 0.0f;
    filter.band = 0.0f;
    filter.stride = 1;
}

void filter_setup(FilterState& filter, const float* p, const RateConstants& rates)
{
    filter.mode = nearest(p[FilterParam::kMode]);
    // 2^-10 at 0 to 1 at 128 (at 44100 Hz).
    const float cutoff = clamp_parameter(p[FilterParam::kCutoff]);
    filter.cutoff = rate_scaled_coefficient(pow2_span10(cutoff / 128.0f), rates.rate_ratio);
    filter.damping = 1.0f - (clamp_parameter(p[FilterParam::kResonance]) / 128.0f);
}

void filter_render(FilterState& filter, const float* in, float* out, int32_t n)
{
    switch (filter.mode & 7) {
        case kFilterLowPass:
            render_response<kFilterLowPass>(filter, in, out, n);
            break;
        case kFilterBandPass:
            render_response<kFilterBandPass>(filter, in, out, n);
            break;
        case kFilterHighPass:
            render_response<kFilterHighPass>(filter, in, out, n);
            break;
        case kFilterNotch:
            render_response<kFilterNotch>(filter, in, out, n);
            break;
        case kFilterAll:
            render_response<kFilterAll>(filter, in, out, n);
            break;
        default:  // pass-through, only used on consecutive (mono) samples
            if (in != out && n > 0) std::memmove(out, in, static_cast<size_t>(n) * sizeof(float));
            break;
    }
}
