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

// Frames from a phase on in which its triangle keeps going one way: the top
// bit of the phase stays.
inline uint32_t delay_straight_frames(uint32_t phase, uint32_t step)
{
    if (step == 0u) return UINT32_MAX;
    const uint32_t to_turn = 0x80000000u - (phase & 0x7fffffffu);  // 1 .. 2^31 phase units
    return (to_turn - 1u) / step + 1u;
}

// A run's ring slots and weights, left and right for each frame.
struct DelayTaps {
    uint32_t first[2 * kTapRun];  // the earlier of the two slots read; the other is the slot after it
    float weights[2 * kTapRun];   // the share of the second
    bool ring_end_read;           // some frame reads the last slot and the first
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
    L::I last_slot = {};
    for (int32_t i = 0; i < 2 * count; i += 4) {
        const L::U e = __builtin_bit_cast(L::U, even);
        const L::U o = __builtin_bit_cast(L::U, odd);
        const L::U low = __builtin_shufflevector(e, o, 0, 2, 4, 6);
        const L::U high = __builtin_shufflevector(e, o, 1, 3, 5, 7);
        const L::U first = (at - high) & mask;
        __builtin_memcpy(taps.first + i, &first, sizeof first);
        last_slot |= first == mask;
        L::store(taps.weights + i, 1.0f - (__builtin_convertvector(L::as_signed(low >> 9), L::F) / kFractionScale));
        even += pair_slope;
        odd += pair_slope;
        at += 2u;
    }
    taps.ring_end_read = L::any(last_slot);
}

// Whether two frames may be read before either is written: no read reaches
// the slot written one frame earlier. Each side reads back - 1 + D and
// back + D frames back, and D stays below the depth, so these lie between 2
// frames and a whole ring back.
inline bool delay_pairs_independent(const DelayState& delay)
{
    const uint64_t ring = static_cast<uint64_t>(static_cast<uint32_t>(delay.mask)) + 1u;
    const uint64_t depth = static_cast<uint32_t>(delay.modulation_depth);
    const uint64_t left = static_cast<uint32_t>(delay.delay_left);
    const uint64_t right = static_cast<uint64_t>(static_cast<uint32_t>(delay.delay_right)) + 1u;
    return left >= 3u && right >= 3u && left + depth <= ring && right + depth <= ring;
}

// Shared by both forms: frame i's input is in[2 i] (left) and in[2 i + 1]
// (right) and its output replaces them; or, for the send, in[i] feeds both
// sides, with no dry signal, and the output is added to out[2 i],
// out[2 i + 1]. Indices are unsigned and masked, so no delay setting
// (however far out of range) can reach outside the rings.
void delay_run(DelayState& delay, const float* in, float* out, bool send, int32_t n)
{
    using L = Lanes<4>;
    const float* const ring_left = delay.ring_left;
    const float* const ring_right = delay.ring_right;
    const uint32_t mask = static_cast<uint32_t>(delay.mask);
    uint32_t w = static_cast<uint32_t>(delay.write_index) & mask;
    uint32_t phase = delay.modulation_phase;
    const uint32_t step = delay.modulation_step;
    const uint32_t right_phase_offset = delay.right_phase_offset;
    const float feedback = delay.feedback;
    const float wet = delay.wet;
    const float dry = send ? 0.0f : delay.dry;
    const uint32_t in_step = send ? 1u : 2u;  // input floats per frame
    const bool pairs_independent = delay_pairs_independent(delay);

    typedef float Pair __attribute__((vector_size(8)));  // left, right (or a slot and the one after it)
    DelayTaps taps;
    for (int32_t done = 0; done < n;) {
        // A run ends at the end of the rings and where either triangle turns.
        uint32_t count = std::min(static_cast<uint32_t>(n - done), static_cast<uint32_t>(kTapRun));
        count = std::min(count, mask + 1u - w);
        count = std::min(count, delay_straight_frames(phase, step));
        count = std::min(count, delay_straight_frames(phase + right_phase_offset, step));
        delay_taps(delay, phase, w, static_cast<int32_t>(count), taps);
        const uint32_t paired = pairs_independent && !taps.ring_end_read ? count & ~1u : 0u;
        const float* const run_in = in + in_step * static_cast<uint32_t>(done);
        float* const run_out = out + 2 * done;
        float* const write_left = delay.ring_left + w;
        float* const write_right = delay.ring_right + w;
        // Two frames at a time, both sides side by side, unless a read
        // crosses the end of the rings: each read's two slots are neighbours
        // in memory. The rest one frame at a time.
        for (uint32_t k = 0; k < paired; k += 2) {
            const uint32_t* const slot = taps.first + 2 * k;
            Pair left0, right0, left1, right1;
            std::memcpy(&left0, ring_left + slot[0], sizeof left0);
            std::memcpy(&right0, ring_right + slot[1], sizeof right0);
            std::memcpy(&left1, ring_left + slot[2], sizeof left1);
            std::memcpy(&right1, ring_right + slot[3], sizeof right1);
            const L::F zero_one = __builtin_shufflevector(left0, right0, 0, 2, 1, 3);
            const L::F two_three = __builtin_shufflevector(left1, right1, 0, 2, 1, 3);
            const L::F a = __builtin_shufflevector(zero_one, two_three, 0, 1, 4, 5);
            const L::F b = __builtin_shufflevector(zero_one, two_three, 2, 3, 6, 7);
            const L::F y = a + (L::load(taps.weights + 2 * k) * (b - a));
            L::F x;
            if (send) {
                Pair mono;
                std::memcpy(&mono, run_in + k, sizeof mono);
                x = __builtin_shufflevector(mono, mono, 0, 0, 1, 1);
            } else {
                x = L::load(run_in + 2 * k);
            }
            L::F o = (y * wet) + (x * dry);
            const L::F r = x + (y * feedback);
            const Pair r_left = __builtin_shufflevector(r, r, 0, 2);
            const Pair r_right = __builtin_shufflevector(r, r, 1, 3);
            std::memcpy(write_left + k, &r_left, sizeof r_left);
            std::memcpy(write_right + k, &r_right, sizeof r_right);
            if (send) o = L::load(run_out + 2 * k) + o;
            L::store(run_out + 2 * k, o);
        }
        for (uint32_t k = paired; k < count; ++k) {
            const uint32_t first_left = taps.first[2 * k];
            const uint32_t first_right = taps.first[2 * k + 1];
            const Pair a = {ring_left[first_left], ring_right[first_right]};
            const Pair b = {ring_left[(first_left + 1u) & mask], ring_right[(first_right + 1u) & mask]};
            Pair weight;
            std::memcpy(&weight, taps.weights + 2 * k, sizeof weight);
            const Pair y = a + (weight * (b - a));
            const float* const x_at = run_in + in_step * k;
            const Pair x = {x_at[0], x_at[in_step - 1u]};
            const Pair o = (y * wet) + (x * dry);
            const Pair r = x + (y * feedback);
            write_left[k] = r[0];
            write_right[k] = r[1];
            Pair sum;
            std::memcpy(&sum, run_out + 2 * k, sizeof sum);
            const Pair result = send ? sum + o : o;
            std::memcpy(run_out + 2 * k, &result, sizeof result);
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
    delay_run(delay, frames, frames, false, n);
}

void delay_render_send(DelayState& delay, const float* send, float* master, int32_t n)
{
    if (delay_bypassed(delay)) return;
    delay_run(delay, send, master, true, n);
}
