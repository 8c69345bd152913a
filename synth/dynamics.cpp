#include "synth/dynamics.h"

#include <cmath>
#include <cstring>

#include "synth/constants.h"
#include "synth/lanes.h"
#include "synth/units/numeric.h"

namespace {

typedef float Pair __attribute__((vector_size(8)));  // left, right

Pair pair_load(const float* p)
{
    Pair v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
void pair_store(float* p, Pair v)
{
    std::memcpy(p, &v, sizeof v);
}

constexpr float kPeakDecay = 0.9998000264167786f;   // per frame
constexpr float kRmsScale = 0.011048543266952038f;  // 1/sqrt(8192): a full window of x reads |x|
constexpr float kFramesPerMillisecond = 44.099998474121094f;
constexpr uint32_t kRmsIndexMask = kRmsWindowFrames - 1;
constexpr float kInfinity = __builtin_inff();

inline float peak_follow(float v, float peak)
{
    const float decayed = peak * kPeakDecay;
    return v > decayed ? v : decayed;
}

// The running sum can drift a little below zero after silence; the level
// reads it as zero, the stored sum stays as computed.
inline float rms_level(float sum)
{
    const float x = sum > 0.0f ? sum : 0.0f;
#if defined(__SSE__)
    // The root of a value never negative nor NaN: no error path to carry.
    return _mm_cvtss_f32(_mm_sqrt_ss(_mm_set_ss(x))) * kRmsScale;
#else
    return std::sqrt(x) * kRmsScale;
#endif
}

// rms_level of both sides side by side.
inline Pair rms_levels(Pair sum)
{
    const Pair x = sum > 0.0f ? sum : Pair{};
#if defined(__SSE__)
    const __m128 root = _mm_sqrt_ps(__builtin_shufflevector(x, x, 0, 1, 0, 1));
    return __builtin_shufflevector(root, root, 0, 1) * kRmsScale;
#else
    return Pair{std::sqrt(x[0]), std::sqrt(x[1])} * kRmsScale;
#endif
}

// Fills the detector with the sides' levels and returns the loudest peak of
// the block, either side: a level rounds up from its peak, so every level is
// below the threshold (under 1) when the loudest peak's is. A peak is never
// NaN (a NaN input loses to the decayed peak). The RMS detectors return
// infinity.
float dynamics_detect(DynamicsState& dyn, const float* frames, int32_t n, float* detector)
{
    const float input_gain = dyn.input_gain;
    float* const history = dyn.rms_history;

    switch (dyn.mode & (kDynamicsRms | kDynamicsPerSide)) {
    case 0: {
        float peak = dyn.peak_left;
        float loudest = 0.0f;
        for (int32_t i = 0; i < n; ++i) {
            const float v = std::fabs((frames[2 * i] + frames[2 * i + 1]) * 0.5f);
            peak = peak_follow(v, peak);
            loudest = loudest > peak ? loudest : peak;
            const float level = peak * input_gain;
            detector[2 * i] = level;
            detector[2 * i + 1] = level;
        }
        dyn.peak_left = peak;
        return loudest;
    }
    case kDynamicsPerSide: {
        // Both sides side by side in two lanes.
        typedef uint32_t PairBits __attribute__((vector_size(8)));
        constexpr PairBits kMagnitude = {0x7FFFFFFFu, 0x7FFFFFFFu};  // both sides without their sign bits
        Pair peak = {dyn.peak_left, dyn.peak_right};
        Pair loudest = {};
        for (int32_t i = 0; i < n; ++i) {
            const Pair v = __builtin_bit_cast(Pair, __builtin_bit_cast(PairBits, pair_load(frames + 2 * i)) & kMagnitude);
            const Pair decayed = peak * kPeakDecay;
            peak = v > decayed ? v : decayed;
            loudest = loudest > peak ? loudest : peak;
            const Pair level = peak * input_gain;
            pair_store(detector + 2 * i, level);
        }
        dyn.peak_left = peak[0];
        dyn.peak_right = peak[1];
        return loudest[0] > loudest[1] ? loudest[0] : loudest[1];
    }
    case kDynamicsRms: {
        // Linked: 8192 single squares at the start of the history.
        uint32_t j = static_cast<uint32_t>(dyn.rms_index) & kRmsIndexMask;
        float sum = dyn.rms_sum_left;
        for (int32_t i = 0; i < n; ++i) {
            const float mean = (frames[2 * i] + frames[2 * i + 1]) * 0.5f;
            const float s = mean * mean;
            sum = (sum - history[j]) + s;
            history[j] = s;
            j = (j + 1u) & kRmsIndexMask;
            const float level = rms_level(sum) * input_gain;
            detector[2 * i] = level;
            detector[2 * i + 1] = level;
        }
        dyn.rms_index = static_cast<int32_t>(j);
        dyn.rms_sum_left = sum;
        return kInfinity;
    }
    default: {
        // Per side: squares interleaved left, right; both sides side by side
        // in two lanes.
        uint32_t j = static_cast<uint32_t>(dyn.rms_index) & kRmsIndexMask;
        Pair sum = {dyn.rms_sum_left, dyn.rms_sum_right};
        for (int32_t i = 0; i < n; ++i) {
            const Pair x = pair_load(frames + 2 * i);
            const Pair s = x * x;
            sum = (sum - pair_load(history + 2 * j)) + s;
            pair_store(history + 2 * j, s);
            pair_store(detector + 2 * i, rms_levels(sum) * input_gain);
            j = (j + 1u) & kRmsIndexMask;
        }
        dyn.rms_index = static_cast<int32_t>(j);
        dyn.rms_sum_left = sum[0];
        dyn.rms_sum_right = sum[1];
        return kInfinity;
    }
    }
}

// The gain each side's level asks for: 1 below the threshold, else
// 1 / (1 + (level - 1) ratio); four samples at a time, so an odd frame count
// also reads one pair beyond the block, whose target goes unused. A level is
// never negative nor NaN and the ratio lies in [0, 1], so below the threshold
// the quotient is at least 1 (or +inf), above it at most 1 (or NaN, kept):
// the lesser of 1 and the quotient is the target.
void dynamics_targets(const float* levels, float* targets, int32_t samples, float ratio)
{
    using L = Lanes<4>;
    const L::F one = L::splat(1.0f);
    for (int32_t i = 0; i < samples; i += 4) {
        const L::F asked = 1.0f / (1.0f + ((L::load(levels + i) - 1.0f) * ratio));
#if defined(__SSE__)
        L::store(targets + i, _mm_min_ps(one, asked));  // the second where unordered
#else
        L::store(targets + i, one < asked ? one : asked);
#endif
    }
}

// Swaps n frames through the look-ahead line from write index w on: each
// frame goes in scaled by the input gain, and the frame it replaces comes
// out scaled by the output gain. Returns the index reached.
int32_t dynamics_delay(DynamicsState& dyn, float* frames, int32_t n, int32_t w)
{
    using L = Lanes<4>;
    const float input_gain = dyn.input_gain;
    const float output_gain = dyn.output_gain;
    const int32_t look_ahead = dyn.look_ahead;
    if (look_ahead == 0 && w == 0 && n > 0) {
        // A line of one frame: each frame comes out one frame late, so the
        // block moves up by a frame, from its end down to keep what it reads.
        const Pair last = pair_load(frames + 2 * n - 2) * input_gain;
        int32_t k = 2 * n - 4;
        for (; k >= 2; k -= 4) L::store(frames + k, (L::load(frames + k - 2) * input_gain) * output_gain);
        if (k == 0) pair_store(frames + 2, (pair_load(frames) * input_gain) * output_gain);
        pair_store(frames, pair_load(dyn.delay_line) * output_gain);
        pair_store(dyn.delay_line, last);
        return 0;
    }
    for (int32_t done = 0; done < n;) {
        // Up to the line's end; an index beyond a shrunken L reads one frame.
        int32_t count = look_ahead - w + 1;
        if (count < 1) count = 1;
        if (count > n - done) count = n - done;
        float* const line = dyn.delay_line + 2 * w;
        float* const x = frames + 2 * done;
        int32_t k = 0;
        for (; k + 4 <= 2 * count; k += 4) {
            const L::F d = L::load(line + k);
            L::store(line + k, L::load(x + k) * input_gain);
            L::store(x + k, d * output_gain);
        }
        if (k < 2 * count) {
            const Pair d = pair_load(line + k);
            pair_store(line + k, pair_load(x + k) * input_gain);
            pair_store(x + k, d * output_gain);
        }
        w += count;
        if (w > look_ahead) w = 0;
        done += count;
    }
    return w;
}

// Both sides' gains follow their targets, side by side in two lanes (left,
// right), and scale the delayed frames. With kUnityTargets every target is 1
// and both gains lie in [0, 1]: they stay there, no target is below its gain,
// and the coefficient is always release (targets is not read).
template <bool kUnityTargets>
void dynamics_gain(DynamicsState& dyn, float* frames, int32_t n, const float* targets)
{
    typedef uint32_t PairBits __attribute__((vector_size(8)));
    // The coefficient is picked bit by bit: release, with the bits in which
    // attack differs flipped where the gain falls.
    const PairBits release = __builtin_bit_cast(PairBits, Pair{} + dyn.release);
    const PairBits flip = __builtin_bit_cast(PairBits, Pair{} + dyn.attack) ^ release;
    Pair g = {dyn.gain_left, dyn.gain_right};
    for (int32_t i = 0; i < n; ++i) {
        if constexpr (kUnityTargets) {
            g = g + ((Pair{1.0f, 1.0f} - g) * __builtin_bit_cast(Pair, release));
        } else {
            const Pair target = pair_load(targets + 2 * i);
            const PairBits falls = __builtin_bit_cast(PairBits, target < g);
            const Pair coef = __builtin_bit_cast(Pair, release ^ (falls & flip));
            g = g + ((target - g) * coef);
        }
        pair_store(frames + 2 * i, pair_load(frames + 2 * i) * g);
    }
    dyn.gain_left = g[0];
    dyn.gain_right = g[1];
}

}  // namespace

void dynamics_init(DynamicsState& dyn)
{
    // Peak per side as a placeholder until the first set-up; the previous
    // mode stays 0, so a first set-up to mode 0 keeps the zeroed gains.
    dyn.mode = 2;
}

void dynamics_clear(DynamicsState& dyn)
{
    dyn.write_index = 0;
    dyn.gain_left = 1.0f;
    dyn.gain_right = 1.0f;
    dyn.peak_left = 0.0f;
    dyn.peak_right = 0.0f;
    dyn.rms_index = 0;
    dyn.rms_sum_left = 0.0f;
    dyn.rms_sum_right = 0.0f;
    std::memset(dyn.delay_line, 0, sizeof dyn.delay_line);
    std::memset(dyn.rms_history, 0, sizeof dyn.rms_history);
}

void dynamics_setup(DynamicsState& dyn, const float* p)
{
    // Two's complement throughout: detector 0 gives (-1 AND 5) = 5, off.
    const uint32_t detector_type = (static_cast<uint32_t>(nearest(p[DynamicsParam::kDetector])) - 1u) & 5u;
    const uint32_t stereo = 2u * static_cast<uint32_t>(nearest(p[DynamicsParam::kStereo]));
    const int32_t mode = static_cast<int32_t>(detector_type + stereo);
    dyn.mode = mode;
    if (mode != dyn.previous_mode) {
        dyn.previous_mode = mode;
        dyn.peak_left = 0.0f;
        dyn.peak_right = 0.0f;
        dyn.rms_sum_left = 0.0f;
        dyn.rms_sum_right = 0.0f;
        std::memset(dyn.rms_history, 0, sizeof dyn.rms_history);
        dyn.gain_left = 1.0f;
        dyn.gain_right = 1.0f;
    }

    // The levels and times on the 0..128 scale; the switches above take
    // their raw values.
    float c[DynamicsParam::kCount];
    for (int32_t i = DynamicsParam::kLookAhead; i < DynamicsParam::kCount; ++i) c[i] = clamp_parameter(p[i]);

    // The line holds L + 1 frames: 128 ms fits it.
    const int32_t look_ahead = nearest(c[DynamicsParam::kLookAhead] * kFramesPerMillisecond);
    static_assert(128.0f * kFramesPerMillisecond < kDynamicsMaxLookAhead);
    dyn.look_ahead = look_ahead;

    const float threshold = 8.0f * pow2_span10(c[DynamicsParam::kThreshold] / 128.0f);
    dyn.input_gain = 1.0f / threshold;
    dyn.ratio = c[DynamicsParam::kRatio] / 128.0f;
    dyn.attack = pow2((-12.0f * c[DynamicsParam::kAttack]) / 128.0f);
    dyn.release = pow2((-16.0f * c[DynamicsParam::kRelease]) / 128.0f);
    const float compensation = nearest(p[DynamicsParam::kCompensationOff]) != 0 ? 1.0f : threshold;
    dyn.output_gain = compensation * pow2((c[DynamicsParam::kOutput] - 64.0f) / 16.0f);
}

void dynamics_render(DynamicsState& dyn, float* frames, int32_t n, float* detector)
{
    if (dyn.mode & kDynamicsOff) return;

    const bool below = dynamics_detect(dyn, frames, n, detector) * dyn.input_gain < 1.0f;
    // Bits at most those of 1: a gain from +0 to 1, not NaN.
    const uint32_t left = bits_from_float(dyn.gain_left);
    const uint32_t right = bits_from_float(dyn.gain_right);
    const bool unity = below && (left > right ? left : right) <= kExponentOfOne;

    // Both sides start at the stored index. An index beyond a shrunken L is
    // still inside the line; it is read once and then wraps to 0.
    int32_t start = dyn.write_index;
    if (start < 0 || start > kDynamicsMaxLookAhead) start = 0;
    dyn.write_index = dynamics_delay(dyn, frames, n, start);
    if (unity) {
        // Gains of exactly 1 stay 1, and the delayed frames, products
        // already, come through a multiply by 1 unchanged.
        if ((left & right) != kExponentOfOne) dynamics_gain<true>(dyn, frames, n, nullptr);
        return;
    }
    float targets[2 * kMaxBlockSize];
    dynamics_targets(detector, targets, 2 * n, dyn.ratio);
    dynamics_gain<false>(dyn, frames, n, targets);
}
