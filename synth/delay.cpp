#include "synth/delay.h"

#include <cmath>
#include <cstring>

#include "synth/lanes.h"
#include "synth/units/numeric.h"

namespace {

constexpr float kModulationStepScale = 1973915.5f;  // phase step per frame at p = 128, 44100 Hz
constexpr float kDepthScale = 1023.0f;              // frames of modulation at p = 128
constexpr float kHalfCycle = 2147483648.0f;         // 2^31 phase units
constexpr float kFractionScale = 8388608.0f;        // 2^23

// Frames whose read positions are worked out ahead of the loop that reads.
constexpr int32_t kTapRun = 64;

// The four 64-bit products triangle * depth, as low and high words.
inline void delay_products(Lanes<4>::U triangle, uint32_t depth, Lanes<4>::U& low, Lanes<4>::U& high)
{
    using U = Lanes<4>::U;
#if defined(__SSE2__)
    const __m128i d = _mm_set1_epi32(static_cast<int32_t>(depth));
    const __m128i even = _mm_mul_epu32(__builtin_bit_cast(__m128i, triangle), d);                     // lanes 0, 2
    const __m128i odd = _mm_mul_epu32(_mm_srli_epi64(__builtin_bit_cast(__m128i, triangle), 32), d);  // lanes 1, 3
    const U e = __builtin_bit_cast(U, even);
    const U o = __builtin_bit_cast(U, odd);
    low = __builtin_shufflevector(e, o, 0, 4, 2, 6);
    high = __builtin_shufflevector(e, o, 1, 5, 3, 7);
#else
    for (int l = 0; l < 4; ++l) {
        const uint64_t m = static_cast<uint64_t>(triangle[l]) * depth;
        low[l] = static_cast<uint32_t>(m);
        high[l] = static_cast<uint32_t>(m >> 32);
    }
#endif
}

// The modulated read positions of count frames from phase on (the right
// side's offset ahead), two frames of both sides side by side; frames and
// weights hold left, right for each frame. The phase drives a triangle
// (0 -> 2^32 - 1 -> 0 over a cycle); triangle * depth / 2^32 gives the whole
// frames of extra delay, added to each side's base, and the top 23 bits of
// the product's low word the fraction f between the two frames read; the
// weight is 1 - f, the share of the second.
__attribute__((noinline)) void delay_taps(uint32_t phase, uint32_t offset, uint32_t step, uint32_t depth,
                                          uint32_t base_left, uint32_t base_right, int32_t count, uint32_t* frames,
                                          float* weights)
{
    using L = Lanes<4>;
    const L::U base = {base_left, base_right, base_left, base_right};
    L::U q = phase + L::U{0, offset, step, offset + step};
    const L::U run_step = L::splat_u(2u * step);
    for (int32_t i = 0; i < 2 * count; i += 4) {
        const L::U t = q << 1;  // the second half of the cycle falls
        const L::U triangle = L::select(L::as_signed(q) < 0, ~t, t);
        L::U low;
        L::U high;
        delay_products(triangle, depth, low, high);
        const L::U whole = high + base;
        __builtin_memcpy(frames + i, &whole, sizeof whole);
        L::store(weights + i, 1.0f - (__builtin_convertvector(L::as_signed(low >> 9), L::F) / kFractionScale));
        q += run_step;
    }
}

// Shared by both forms: frame i's input is in[stride i] (left) and
// in[stride i + stride - 1] (right), so stride 1 feeds a mono send to both
// sides; its output replaces or is added to out[2 i], out[2 i + 1]. Indices
// are unsigned and masked, so no delay setting (however far out of range)
// can reach outside the rings.
void delay_run(DelayState& delay, const float* in, int32_t stride, float* out, bool add, int32_t n, float dry)
{
    float* const ring_left = delay.ring_left;
    float* const ring_right = delay.ring_right;
    const uint32_t mask = static_cast<uint32_t>(delay.mask);
    uint32_t w = static_cast<uint32_t>(delay.write_index) & mask;
    const uint32_t delay_left = static_cast<uint32_t>(delay.delay_left);
    const uint32_t delay_right = static_cast<uint32_t>(delay.delay_right);
    uint32_t phase = delay.modulation_phase;
    const uint32_t step = delay.modulation_step;
    const uint32_t offset = delay.right_phase_offset;
    const uint32_t depth = static_cast<uint32_t>(delay.modulation_depth);
    const float feedback = delay.feedback;
    const float wet = delay.wet;

    typedef float Pair __attribute__((vector_size(8)));  // left, right
    float added[2 * kTapRun];  // a run's output before it is added to out
    uint32_t taps[2 * kTapRun];
    float weights[2 * kTapRun];
    for (int32_t done = 0; done < n;) {
        const int32_t count = n - done < kTapRun ? n - done : kTapRun;
        // The left side reads D frames back and the frame after it, the right
        // the frame before D frames back and D frames back.
        delay_taps(phase, offset, step, depth, delay_left, delay_right + 1u, count, taps, weights);
        float* const to = add ? added : out + 2 * done;
        for (int32_t k = 0; k < count; ++k) {
            const int32_t i = done + k;
            const uint32_t left = w - taps[2 * k];
            const uint32_t right = w - taps[2 * k + 1];
            const Pair a = {ring_left[left & mask], ring_right[right & mask]};
            const Pair b = {ring_left[(left + 1u) & mask], ring_right[(right + 1u) & mask]};
            Pair weight;
            std::memcpy(&weight, weights + 2 * k, sizeof weight);
            const Pair y = a + (weight * (b - a));
            const Pair x = {in[stride * i], in[stride * i + stride - 1]};
            const Pair o = (y * wet) + (x * dry);
            const Pair r = x + (y * feedback);
            ring_left[w] = r[0];
            ring_right[w] = r[1];
            std::memcpy(to + 2 * k, &o, sizeof o);
            w = (w + 1u) & mask;
        }
        if (add) {
            float* const sum = out + 2 * done;
            int32_t k = 0;
            for (; k + 4 <= 2 * count; k += 4) Lanes<4>::store(sum + k, Lanes<4>::load(sum + k) + Lanes<4>::load(added + k));
            for (; k < 2 * count; ++k) sum[k] += added[k];
        }
        phase += static_cast<uint32_t>(count) * step;
        done += count;
    }

    delay.write_index = static_cast<int32_t>(w);
    delay.modulation_phase = phase;
}

// Wet exactly +0.0 (bit pattern zero) bypasses the unit; -0.0 does not.
inline bool delay_bypassed(const DelayState& delay)
{
    return bits_from_float(delay.wet) == 0u;
}

}  // namespace

void delay_reset(DelayState& delay)
{
    delay.write_index = 0;
    delay.modulation_phase = 0;
    const size_t floats = static_cast<size_t>(static_cast<uint32_t>(delay.mask)) + 1u;
    std::memset(delay.ring_left, 0, floats * sizeof(float));
    std::memset(delay.ring_right, 0, floats * sizeof(float));
}

void delay_setup(DelayState& delay, const float* slice, const RateConstants& rates)
{
    float p[DelayParam::kCount];
    for (int i = 0; i < DelayParam::kCount; ++i) p[i] = clamp_parameter(slice[i]);
    delay.wet = (p[DelayParam::kMix] - 64.0f) / 64.0f;
    delay.dry = 1.0f - std::fabs(delay.wet);
    delay.feedback = (p[DelayParam::kFeedback] - 64.0f) / 64.0f;

    // Frames per parameter step: 8 on the channel rings, 248 on the global rings.
    const float frames_per_step = static_cast<float>((delay.mask - 1023) / 128);
    delay.delay_left = nearest(p[DelayParam::kLeft] * frames_per_step);
    delay.delay_right = nearest(p[DelayParam::kRight] * frames_per_step);

    delay.modulation_step = static_cast<uint32_t>(
        nearest((pow2_span10(p[DelayParam::kRate] / 128.0f) * kModulationStepScale) * rates.rate_ratio));
    delay.modulation_depth = nearest((p[DelayParam::kDepth] / 128.0f) * kDepthScale);
    delay.right_phase_offset =
        2u * static_cast<uint32_t>(nearest(((p[DelayParam::kStereoPhase] - 64.0f) / 128.0f) * kHalfCycle));
}

void delay_render_insert(DelayState& delay, float* frames, int32_t n)
{
    if (delay_bypassed(delay)) return;
    delay_run(delay, frames, 2, frames, false, n, delay.dry);
}

void delay_render_send(DelayState& delay, const float* send, float* master, int32_t n)
{
    if (delay_bypassed(delay)) return;
    delay_run(delay, send, 1, master, true, n, 0.0f);
}
