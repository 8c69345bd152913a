#include "synth/delay.h"

#include <algorithm>
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

// The triangle of a modulation phase: 0 -> 2^32 - 1 over the first half of
// the cycle, back to 0 over the second.
inline uint32_t delay_triangle(uint32_t phase)
{
    const uint32_t t = phase << 1;
    return static_cast<int32_t>(phase) < 0 ? ~t : t;
}

// Frames from a phase on in which its triangle keeps going one way, at most
// a run: the top bit of the phase stays.
inline uint32_t delay_straight_frames(uint32_t phase, uint32_t step)
{
    if (step == 0u) return static_cast<uint32_t>(kTapRun);
    const uint32_t to_turn = 0x80000000u - (phase & 0x7fffffffu);  // 1 .. 2^31 phase units
    const uint32_t frames = (to_turn - 1u) / step + 1u;
    return std::min(frames, static_cast<uint32_t>(kTapRun));
}

// A run's ring slots and weights, left and right for each frame.
struct DelayTaps {
    uint32_t first[2 * kTapRun];   // the earlier of the two slots read
    uint32_t second[2 * kTapRun];  // the slot after it
    float weights[2 * kTapRun];    // the share of the second
};

// The slots count frames from write index w and phase on read, two frames of
// both sides side by side (the right side's phase offset ahead). The phase
// drives a triangle (0 -> 2^32 - 1 -> 0 over a cycle); triangle * depth / 2^32
// gives the whole frames of extra delay D, and the top 23 bits of the
// product's low word the fraction f between the two slots; the weight is
// 1 - f. The left side reads D frames back and the slot after it, the right
// the slot before D frames back and D frames back. Neither triangle may turn
// within the count frames: each product then moves by the same whole number,
// 2 step depth, every frame, and is added up exactly in 64 bits.
__attribute__((noinline)) void delay_taps(const DelayState& delay, uint32_t phase, uint32_t w, int32_t count,
                                          DelayTaps& taps)
{
    using L = Lanes<4>;
    typedef uint64_t Products __attribute__((vector_size(16)));  // left, right
    const uint64_t depth = static_cast<uint32_t>(delay.modulation_depth);
    const uint32_t right_phase = phase + delay.right_phase_offset;
    const uint64_t move = 2u * static_cast<uint64_t>(delay.modulation_step) * depth;
    const Products slope = {static_cast<int32_t>(phase) < 0 ? 0u - move : move,
                            static_cast<int32_t>(right_phase) < 0 ? 0u - move : move};
    Products even = {delay_triangle(phase) * depth, delay_triangle(right_phase) * depth};
    Products odd = even + slope;
    const Products pair_slope = slope + slope;
    const L::U mask = L::splat_u(static_cast<uint32_t>(delay.mask));
    // Write index less base delay: indices wrap as unsigned, then are masked.
    L::U at = w - L::U{static_cast<uint32_t>(delay.delay_left), static_cast<uint32_t>(delay.delay_right) + 1u,
                       static_cast<uint32_t>(delay.delay_left) - 1u, static_cast<uint32_t>(delay.delay_right)};
    for (int32_t i = 0; i < 2 * count; i += 4) {
        const L::U e = __builtin_bit_cast(L::U, even);
        const L::U o = __builtin_bit_cast(L::U, odd);
        const L::U low = __builtin_shufflevector(e, o, 0, 2, 4, 6);
        const L::U high = __builtin_shufflevector(e, o, 1, 3, 5, 7);
        const L::U first = (at - high) & mask;
        __builtin_memcpy(taps.first + i, &first, sizeof first);
        const L::U second = (first + 1u) & mask;
        __builtin_memcpy(taps.second + i, &second, sizeof second);
        L::store(taps.weights + i, 1.0f - (__builtin_convertvector(L::as_signed(low >> 9), L::F) / kFractionScale));
        even += pair_slope;
        odd += pair_slope;
        at += 2u;
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
    uint32_t phase = delay.modulation_phase;
    const uint32_t step = delay.modulation_step;
    const uint32_t right_phase_offset = delay.right_phase_offset;
    const float feedback = delay.feedback;
    const float wet = delay.wet;

    typedef float Pair __attribute__((vector_size(8)));  // left, right
    float added[2 * kTapRun];  // a run's output before it is added to out
    DelayTaps taps;
    for (int32_t done = 0; done < n;) {
        // A run ends at the end of the rings and where either triangle turns.
        uint32_t count = static_cast<uint32_t>(n - done);
        count = std::min(count, mask + 1u - w);
        count = std::min(count, delay_straight_frames(phase, step));
        count = std::min(count, delay_straight_frames(phase + right_phase_offset, step));
        delay_taps(delay, phase, w, static_cast<int32_t>(count), taps);
        float* const to = add ? added : out + 2 * done;
        for (uint32_t k = 0; k < count; ++k) {
            const int32_t i = done + static_cast<int32_t>(k);
            const Pair a = {ring_left[taps.first[2 * k]], ring_right[taps.first[2 * k + 1]]};
            const Pair b = {ring_left[taps.second[2 * k]], ring_right[taps.second[2 * k + 1]]};
            Pair weight;
            std::memcpy(&weight, taps.weights + 2 * k, sizeof weight);
            const Pair y = a + (weight * (b - a));
            const Pair x = {in[stride * i], in[stride * i + stride - 1]};
            const Pair o = (y * wet) + (x * dry);
            const Pair r = x + (y * feedback);
            ring_left[w + k] = r[0];
            ring_right[w + k] = r[1];
            std::memcpy(to + 2 * k, &o, sizeof o);
        }
        if (add) {
            float* const sum = out + 2 * done;
            uint32_t k = 0;
            for (; k + 4 <= 2 * count; k += 4) Lanes<4>::store(sum + k, Lanes<4>::load(sum + k) + Lanes<4>::load(added + k));
            for (; k < 2 * count; ++k) sum[k] += added[k];
        }
        w = (w + count) & mask;
        phase += count * step;
        done += static_cast<int32_t>(count);
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
