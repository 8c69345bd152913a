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

typedef float Pair __attribute__((vector_size(8)));  // left, right

// Two filters of the same response (1..5) on the two sides of interleaved
// frames, side by side in two lanes: each performs its own operations
// unchanged. One loop for every response keeps the code small; the choice
// is the same branch every sample.
void render_response_pair(int32_t mode, FilterState& left, FilterState& right, const float* in, float* out,
                          int32_t frames)
{
    const Pair f = {left.cutoff, right.cutoff};
    const Pair q = {left.damping, right.damping};
    Pair low = {left.low, right.low};
    Pair band = {left.band, right.band};
    for (int32_t i = 0; i < frames; ++i) {
        Pair s;
        std::memcpy(&s, in + 2 * i, sizeof s);
        low = low + (f * band);
        Pair high = (s - (q * band)) - low;
        band = band + (f * high);
        low = low + (f * band);
        high = (s - (q * band)) - low;
        band = band + (f * high);
        Pair v;
        switch (mode) {
        case kFilterLowPass:
            v = low;
            break;
        case kFilterBandPass:
            v = band;
            break;
        case kFilterHighPass:
            v = high;
            break;
        case kFilterNotch:
            v = high + low;
            break;
        default:
            v = (high + band) + low;
            break;
        }
        std::memcpy(out + 2 * i, &v, sizeof v);
    }
    left.low = low[0];
    right.low = low[1];
    left.band = band[0];
    right.band = band[1];
}

}  // namespace

void filter_render_stereo(FilterState& left, FilterState& right, const float* in, float* out, int32_t frames)
{
    if ((left.mode & 7) != (right.mode & 7)) {
        left.stride = 2;
        right.stride = 2;
        filter_render(left, in, out, frames);
        filter_render(right, in + 1, out + 1, frames);
        return;
    }
    const int32_t mode = left.mode & 7;
    switch (mode) {
    case kFilterLowPass:
    case kFilterBandPass:
    case kFilterHighPass:
    case kFilterNotch:
    case kFilterAll:
        render_response_pair(mode, left, right, in, out, frames);
        break;
    default:  // pass-through
        if (in != out && frames > 0) std::memmove(out, in, 2 * static_cast<size_t>(frames) * sizeof(float));
        break;
    }
}

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
