#include "synth/dynamics.h"

#include <cmath>
#include <cstring>

#include "synth/constants.h"
#include "synth/lanes.h"
#include "synth/units/numeric.h"

namespace {

typedef float Pair __attribute__((vector_size(8)));  // left, right

constexpr float kPeakDecay = 0.9998000264167786f;   // per frame
constexpr float kRmsScale = 0.011048543266952038f;  // 1/sqrt(8192): a full window of x reads |x|
constexpr float kFramesPerMillisecond = 44.099998474121094f;
constexpr uint32_t kRmsIndexMask = kRmsWindowFrames - 1;

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

void dynamics_detect(DynamicsState& dyn, const float* frames, int32_t n, float* detector)
{
    const float input_gain = dyn.input_gain;
    float* const history = dyn.rms_history;

    switch (dyn.mode & (kDynamicsRms | kDynamicsPerSide)) {
    case 0: {
        float peak = dyn.peak_left;
        for (int32_t i = 0; i < n; ++i) {
            const float v = std::fabs((frames[2 * i] + frames[2 * i + 1]) * 0.5f);
            peak = peak_follow(v, peak);
            const float level = peak * input_gain;
            detector[2 * i] = level;
            detector[2 * i + 1] = level;
        }
        dyn.peak_left = peak;
        break;
    }
    case kDynamicsPerSide: {
        // Both sides side by side in two lanes.
        constexpr uint64_t kMagnitude = 0x7FFFFFFF7FFFFFFFu;  // both sides without their sign bits
        Pair peak = {dyn.peak_left, dyn.peak_right};
        for (int32_t i = 0; i < n; ++i) {
            Pair x;
            std::memcpy(&x, frames + 2 * i, sizeof x);
            const Pair v = __builtin_bit_cast(Pair, __builtin_bit_cast(uint64_t, x) & kMagnitude);
            const Pair decayed = peak * kPeakDecay;
            peak = v > decayed ? v : decayed;
            const Pair level = peak * input_gain;
            std::memcpy(detector + 2 * i, &level, sizeof level);
        }
        dyn.peak_left = peak[0];
        dyn.peak_right = peak[1];
        break;
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
        break;
    }
    default: {
        // Per side: squares interleaved left, right.
        uint32_t j = static_cast<uint32_t>(dyn.rms_index) & kRmsIndexMask;
        float sum_left = dyn.rms_sum_left;
        float sum_right = dyn.rms_sum_right;
        for (int32_t i = 0; i < n; ++i) {
            const float left = frames[2 * i];
            const float right = frames[2 * i + 1];
            const float s_left = left * left;
            sum_left = (sum_left - history[2 * j]) + s_left;
            history[2 * j] = s_left;
            detector[2 * i] = rms_level(sum_left) * input_gain;
            const float s_right = right * right;
            sum_right = (sum_right - history[2 * j + 1]) + s_right;
            history[2 * j + 1] = s_right;
            detector[2 * i + 1] = rms_level(sum_right) * input_gain;
            j = (j + 1u) & kRmsIndexMask;
        }
        dyn.rms_index = static_cast<int32_t>(j);
        dyn.rms_sum_left = sum_left;
        dyn.rms_sum_right = sum_right;
        break;
    }
    }
}

// The gain each side's level asks for: 1 below the threshold, else
// 1 / (1 + (level - 1) ratio); four samples at a time, so an odd frame count
// also reads one pair beyond the block, whose target goes unused.
void dynamics_targets(const float* levels, float* targets, int32_t samples, float ratio)
{
    using L = Lanes<4>;
    const L::F one = L::splat(1.0f);
    int32_t i = 0;
    for (; i < samples; i += 4) {
        const L::F level = L::load(levels + i);
        L::store(targets + i, L::select(level < 1.0f, one, 1.0f / (1.0f + ((level - 1.0f) * ratio))));
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
        for (; k < 2 * count; ++k) {
            const float d = line[k];
            line[k] = x[k] * input_gain;
            x[k] = d * output_gain;
        }
        w += count;
        if (w > look_ahead) w = 0;
        done += count;
    }
    return w;
}

// Both sides' gains follow their targets, side by side in two lanes (left,
// right), and scale the delayed frames. With kOneFrameLine the frames are not
// delayed yet: a line of one frame (look-ahead 0, index 0) runs here, each
// frame coming out as the next goes in.
template <bool kOneFrameLine>
void dynamics_gain(DynamicsState& dyn, float* frames, int32_t n, const float* targets)
{
    typedef uint32_t PairBits __attribute__((vector_size(8)));
    const auto load = [](const float* p) {
        Pair v;
        std::memcpy(&v, p, sizeof v);
        return v;
    };
    // The coefficient is picked bit by bit: release, with the bits in which
    // attack differs flipped where the gain falls.
    const PairBits release = __builtin_bit_cast(PairBits, Pair{} + dyn.release);
    const PairBits flip = __builtin_bit_cast(PairBits, Pair{} + dyn.attack) ^ release;
    const float input_gain = dyn.input_gain;
    const float output_gain = dyn.output_gain;
    Pair held = load(dyn.delay_line);
    Pair g = {dyn.gain_left, dyn.gain_right};
    for (int32_t i = 0; i < n; ++i) {
        const Pair target = load(targets + 2 * i);
        const PairBits falls = __builtin_bit_cast(PairBits, target < g);
        const Pair coef = __builtin_bit_cast(Pair, release ^ (falls & flip));
        g = g + ((target - g) * coef);
        Pair delayed = load(frames + 2 * i);
        if constexpr (kOneFrameLine) {
            const Pair x = delayed;
            delayed = held * output_gain;
            held = x * input_gain;
        }
        const Pair out = delayed * g;
        std::memcpy(frames + 2 * i, &out, sizeof out);
    }
    if constexpr (kOneFrameLine) std::memcpy(dyn.delay_line, &held, sizeof held);
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

    // The line holds L + 1 frames: 128 ms fits it.
    const int32_t look_ahead = nearest(clamp_parameter(p[DynamicsParam::kLookAhead]) * kFramesPerMillisecond);
    static_assert(128.0f * kFramesPerMillisecond < kDynamicsMaxLookAhead);
    dyn.look_ahead = look_ahead;

    const float threshold = 8.0f * pow2_span10(clamp_parameter(p[DynamicsParam::kThreshold]) / 128.0f);
    dyn.input_gain = 1.0f / threshold;
    dyn.ratio = clamp_parameter(p[DynamicsParam::kRatio]) / 128.0f;
    dyn.attack = pow2((-12.0f * clamp_parameter(p[DynamicsParam::kAttack])) / 128.0f);
    dyn.release = pow2((-16.0f * clamp_parameter(p[DynamicsParam::kRelease])) / 128.0f);
    const float compensation = nearest(p[DynamicsParam::kCompensationOff]) != 0 ? 1.0f : threshold;
    dyn.output_gain = compensation * pow2((clamp_parameter(p[DynamicsParam::kOutput]) - 64.0f) / 16.0f);
}

void dynamics_render(DynamicsState& dyn, float* frames, int32_t n, float* detector)
{
    if (dyn.mode & kDynamicsOff) return;

    dynamics_detect(dyn, frames, n, detector);

    // Both sides start at the stored index. An index beyond a shrunken L is
    // still inside the line; it is read once and then wraps to 0.
    int32_t start = dyn.write_index;
    if (start < 0 || start > kDynamicsMaxLookAhead) start = 0;
    float targets[2 * kMaxBlockSize];
    dynamics_targets(detector, targets, 2 * n, dyn.ratio);
    if (dyn.look_ahead == 0 && start == 0) {
        dynamics_gain<true>(dyn, frames, n, targets);
        dyn.write_index = 0;
    } else {
        dyn.write_index = dynamics_delay(dyn, frames, n, start);
        dynamics_gain<false>(dyn, frames, n, targets);
    }
}
