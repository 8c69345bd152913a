#include "synth/delay.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "synth/constants.h"
#include "synth/fp_mode.h"
#include "tests/support/param_slices.h"

namespace {

constexpr float kGuard = 12345.0f;
constexpr int32_t kGuardFloats = 64;

// A delay on its own rings, with guard zones around each ring to catch
// writes outside it.
struct DelayRig {
    std::vector<float> memory;
    DelayState delay{};

    explicit DelayRig(int32_t frames) : memory(static_cast<size_t>(2 * (frames + 2 * kGuardFloats)), kGuard)
    {
        delay.ring_left = memory.data() + kGuardFloats;
        delay.ring_right = memory.data() + frames + 3 * kGuardFloats;
        delay.mask = frames - 1;
        delay_reset(delay);
    }

    DelayRig& setup(float mix, float feedback, float left, float right, float depth = 0, float phase = 64,
                    float rate = 64)
    {
        const auto p = values(DelayParams<float>{.mix = mix,
                                                 .feedback = feedback,
                                                 .left = left,
                                                 .right = right,
                                                 .rate = rate,
                                                 .depth = depth,
                                                 .stereo_phase = phase});
        delay_setup(delay, p.data(), RateConstants{});
        return *this;
    }

    bool guards_intact() const
    {
        const int32_t frames = delay.mask + 1;
        for (const float* guard : {delay.ring_left - kGuardFloats, delay.ring_left + frames,
                                   delay.ring_right - kGuardFloats, delay.ring_right + frames})
            if (std::any_of(guard, guard + kGuardFloats, [](float x) { return x != kGuard; })) return false;
        return true;
    }

    // The insert form over a whole signal in blocks of 128 frames.
    std::vector<float> insert(std::vector<float> frames)
    {
        const int32_t total = static_cast<int32_t>(frames.size() / 2);
        for (int32_t at = 0; at < total; at += 128)
            delay_render_insert(delay, frames.data() + 2 * at, std::min(128, total - at));
        return frames;
    }
};

std::vector<float> impulse(int32_t frames, float left, float right)
{
    std::vector<float> signal(static_cast<size_t>(2 * frames), 0.0f);
    signal[0] = left;
    signal[1] = right;
    return signal;
}

// Frames (as indices) where a side is non-zero.
std::vector<int32_t> nonzero_frames(const std::vector<float>& frames, int side)
{
    std::vector<int32_t> at;
    for (size_t i = side; i < frames.size(); i += 2)
        if (frames[i] != 0.0f) at.push_back(static_cast<int32_t>(i / 2));
    return at;
}

TEST(Delay, WetZeroLeavesFramesRingsAndPhaseUntouched)
{
    FpModeGuard mode;
    DelayRig rig(kChannelDelayFrames);
    rig.delay.ring_left[5] = 0.5f;
    rig.setup(64.0f, 100.0f, 0.0f, 0.0f, 50.0f, 30.0f, 128.0f);
    rig.delay.modulation_phase = 0x12345678u;
    const std::vector<float> signal = impulse(128, 1.0f, 1.0f);
    EXPECT_EQ(rig.insert(signal), signal);
    std::vector<float> master(256, 0.5f);
    delay_render_send(rig.delay, signal.data(), master.data(), 128);
    EXPECT_EQ(master, std::vector<float>(256, 0.5f));
    EXPECT_EQ(rig.delay.write_index, 0);
    EXPECT_EQ(rig.delay.modulation_phase, 0x12345678u);
    EXPECT_EQ(rig.delay.ring_left[0], 0.0f);
    EXPECT_EQ(rig.delay.ring_left[5], 0.5f);
}

TEST(Delay, FullWetGivesOnlyTheDelayedSignalWithTheLeftSideOneFrameShorter)
{
    FpModeGuard mode;
    // Mix 128 gives wet 1, mix 0 the inverted delayed signal. Delay 0 reads a
    // whole ring back on the right (the slot is read before it is written).
    const float cases[][4] = {{128.0f, 2.0f, 15.0f, 16.0f},
                              {0.0f, 2.0f, 15.0f, 16.0f},
                              {128.0f, 0.0f, 2047.0f, 2048.0f}};
    for (const auto& [mix, delay, left, right] : cases) {
        const std::vector<float> out =
            DelayRig(kChannelDelayFrames).setup(mix, 64.0f, delay, delay).insert(impulse(2200, 1.0f, 0.5f));
        const float sign = mix == 128.0f ? 1.0f : -1.0f;
        EXPECT_EQ(nonzero_frames(out, 0), std::vector<int32_t>{static_cast<int32_t>(left)});
        EXPECT_EQ(nonzero_frames(out, 1), std::vector<int32_t>{static_cast<int32_t>(right)});
        EXPECT_EQ(out[2 * static_cast<size_t>(left)], sign * 1.0f);
        EXPECT_EQ(out[2 * static_cast<size_t>(right) + 1], sign * 0.5f);
    }
}

TEST(Delay, FeedbackMinusOneRepeatsWithAlternatingSignAndNeutralFeedbackNotAtAll)
{
    FpModeGuard mode;
    const std::vector<float> out =
        DelayRig(kChannelDelayFrames).setup(128.0f, 0.0f, 2.0f, 2.0f).insert(impulse(1000, 0.0f, 1.0f));
    EXPECT_EQ(nonzero_frames(out, 1).size(), 62u);  // every 16 frames from frame 16
    for (int32_t k = 1; k * 16 < 1000; ++k) ASSERT_EQ(out[2 * (16 * k) + 1], (k % 2) ? 1.0f : -1.0f) << "repeat " << k;
    EXPECT_EQ(nonzero_frames(
                  DelayRig(kChannelDelayFrames).setup(128.0f, 64.0f, 2.0f, 2.0f).insert(impulse(1000, 0.0f, 1.0f)), 1),
              std::vector<int32_t>{16});
}

TEST(Delay, StereoPhaseCentreMatchesTheSidesAndTheEndsOpposeThem)
{
    FpModeGuard mode;
    // Full depth and delay 1024: at phase 0 the left side reads 1024 frames
    // back (one less than the base), the right side 1024 frames back at the
    // centre setting and about 2047 frames back in opposite phase.
    for (const float phase : {64.0f, 0.0f, 128.0f}) {
        DelayRig rig(kChannelDelayFrames);
        for (int32_t i = 0; i < kChannelDelayFrames; ++i)
            rig.delay.ring_left[i] = rig.delay.ring_right[i] = static_cast<float>(i);
        rig.setup(128.0f, 64.0f, 128.0f, 128.0f, 128.0f, phase);
        EXPECT_EQ(rig.delay.right_phase_offset, phase == 64.0f ? 0u : 0x80000000u);
        float frame[2] = {0.0f, 0.0f};
        delay_render_insert(rig.delay, frame, 1);
        EXPECT_EQ(frame[0], 1025.0f);
        EXPECT_EQ(frame[1], phase == 64.0f ? 1024.0f : 1.0f + 0x1p-22f);
    }
}

TEST(Delay, SendFormAddsOnlyTheDelayedSignalToTheMaster)
{
    FpModeGuard mode;
    DelayRig rig(kGlobalDelayFrames);
    rig.setup(96.0f, 64.0f, 1.0f, 1.0f);  // wet 0.5; 248 frames on the global rings
    std::vector<float> send(400, 0.0f), master(800, 0.25f);
    send[0] = 2.0f;
    for (int32_t at = 0; at < 400; at += 128)
        delay_render_send(rig.delay, send.data() + at, master.data() + 2 * at, std::min(128, 400 - at));
    for (int32_t i = 0; i < 400; ++i) {
        ASSERT_EQ(master[2 * i], i == 247 ? 1.25f : 0.25f) << "left frame " << i;
        ASSERT_EQ(master[2 * i + 1], i == 248 ? 1.25f : 0.25f) << "right frame " << i;
    }
}

TEST(Delay, HowAModulatedDelayIsCutIntoBlocksChangesNoBitAndBothSidesFollowTheirOwnPhase)
{
    FpModeGuard mode;
    // Fast, deep modulation with the sides a quarter cycle apart, over a ring
    // holding a ramp so every read position shows in the output.
    const auto rig_with_ramp = [] {
        auto rig = std::make_unique<DelayRig>(kChannelDelayFrames);
        for (int32_t i = 0; i < kChannelDelayFrames; ++i) {
            rig->delay.ring_left[i] = static_cast<float>(i);
            rig->delay.ring_right[i] = static_cast<float>(-i);
        }
        rig->setup(128.0f, 64.0f, 40.0f, 90.0f, 128.0f, 96.0f, 128.0f);
        return rig;
    };
    auto whole = rig_with_ramp();
    auto cut = rig_with_ramp();
    constexpr int32_t kFrames = 3000;
    std::vector<float> at_once(2 * kFrames, 0.0f);
    delay_render_insert(whole->delay, at_once.data(), kFrames);

    std::vector<float> in_blocks(2 * kFrames, 0.0f);
    const int32_t sizes[] = {1, 3, 63, 64, 65, 2, 130, 7};
    for (int32_t done = 0, k = 0; done < kFrames; ++k) {
        const int32_t size = std::min(sizes[k % 8], kFrames - done);
        delay_render_insert(cut->delay, in_blocks.data() + 2 * done, size);
        done += size;
    }
    ASSERT_EQ(in_blocks, at_once);
    EXPECT_EQ(cut->delay.modulation_phase, whole->delay.modulation_phase);

    // The read positions sweep: the left side reads many different frames,
    // and the right side is not the left one mirrored.
    std::vector<float> left, right;
    for (int32_t i = 0; i < 1024; ++i) {
        left.push_back(at_once[2 * i]);
        right.push_back(-at_once[2 * i + 1]);
    }
    EXPECT_NE(left, right);
    std::sort(left.begin(), left.end());
    EXPECT_GT(std::unique(left.begin(), left.end()) - left.begin(), 500);
}

// The delay as a plain frame-by-frame formula: each side's read position
// from its triangle * depth product, multiplied out every frame; each frame
// read, then written.
struct PlainDelay {
    DelayState delay;
    std::vector<float> left, right;

    explicit PlainDelay(const DelayState& from)
        : delay(from),
          left(from.ring_left, from.ring_left + from.mask + 1),
          right(from.ring_right, from.ring_right + from.mask + 1)
    {
    }

    float read(const std::vector<float>& ring, uint32_t back, uint32_t phase) const
    {
        const uint32_t mask = static_cast<uint32_t>(delay.mask);
        const uint32_t triangle = static_cast<int32_t>(phase) < 0 ? ~(phase << 1) : phase << 1;
        const uint64_t product = static_cast<uint64_t>(triangle) * static_cast<uint32_t>(delay.modulation_depth);
        const uint32_t first =
            (static_cast<uint32_t>(delay.write_index) - back - static_cast<uint32_t>(product >> 32)) & mask;
        const float weight = 1.0f - static_cast<float>(static_cast<uint32_t>(product) >> 9) / 8388608.0f;
        return ring[first] + weight * (ring[(first + 1u) & mask] - ring[first]);
    }

    // One frame: in_left, in_right in; the wet and dry sum out.
    void frame(float in_left, float in_right, float dry, float& out_left, float& out_right)
    {
        const uint32_t phase = delay.modulation_phase;
        const float y_left = read(left, static_cast<uint32_t>(delay.delay_left), phase);
        const float y_right =
            read(right, static_cast<uint32_t>(delay.delay_right) + 1u, phase + delay.right_phase_offset);
        out_left = y_left * delay.wet + in_left * dry;
        out_right = y_right * delay.wet + in_right * dry;
        left[static_cast<size_t>(delay.write_index)] = in_left + y_left * delay.feedback;
        right[static_cast<size_t>(delay.write_index)] = in_right + y_right * delay.feedback;
        delay.write_index = (delay.write_index + 1) & delay.mask;
        delay.modulation_phase += delay.modulation_step;
    }
};

TEST(Delay, BothFormsRenderAsThePlainFrameByFrameFormulaWhateverTheSettingsAndBlocks)
{
    FpModeGuard mode;
    // Mix, feedback, left, right, depth, stereo phase, rate; then a phase
    // step per frame (0 keeps the rate's) and base delays in frames (-1 keeps
    // the setting's). Short delays read what the frame before wrote; deep
    // ones read across the ends of the rings; fast steps turn the triangles
    // within a few frames.
    struct Case {
        float p[7];
        uint32_t step;
        int32_t left_frames = -1, right_frames = -1;
    };
    const Case cases[] = {
        {{128, 0, 0, 0, 128, 0, 128}, 0},           {{100, 30, 1, 0, 64, 96, 128}, 0},
        {{20, 110, 128, 128, 128, 128, 128}, 0},    {{96, 64, 40, 90, 0, 64, 0}, 0},
        {{70, 90, 3, 5, 30, 32, 100}, 0x2f000000u}, {{0, 127, 128, 127, 128, 90, 128}, 0x0b00000u},
        {{110, 20, 0, 2, 1, 64, 64}, 0x7fffffffu},  {{120, 100, 0, 0, 0, 64, 0}, 0, 2, 1},
        {{120, 100, 0, 0, 0, 64, 0}, 0, 3, 2},      {{30, 10, 0, 0, 0.2f, 70, 128}, 0x01000000u, 3, 2}};
    const int32_t sizes[] = {1, 3, 63, 64, 65, 2, 130, 7, 128};
    uint32_t noise = 12345u;
    const auto next = [&noise] {
        noise = noise * 1664525u + 1013904223u;
        return static_cast<float>(static_cast<int32_t>(noise >> 8) - (1 << 23)) / 8388608.0f;
    };
    for (const Case& c : cases) {
        for (const int32_t ring : {kChannelDelayFrames, kGlobalDelayFrames}) {
            for (const bool send : {false, true}) {
                DelayRig rig(ring);
                rig.setup(c.p[0], c.p[1], c.p[2], c.p[3], c.p[4], c.p[5], c.p[6]);
                if (c.step != 0u) rig.delay.modulation_step = c.step;
                if (c.left_frames >= 0) rig.delay.delay_left = c.left_frames;
                if (c.right_frames >= 0) rig.delay.delay_right = c.right_frames;
                rig.delay.modulation_phase = 0x7ff00000u;
                for (int32_t i = 0; i <= rig.delay.mask; ++i) {
                    rig.delay.ring_left[i] = next();
                    rig.delay.ring_right[i] = next();
                }
                PlainDelay plain(rig.delay);
                const int32_t frames = ring + 3000;
                std::vector<float> in(2 * static_cast<size_t>(frames)), out(in.size()), expected(in.size());
                for (float& x : in) x = next();
                for (size_t i = 0; i < out.size(); ++i) out[i] = expected[i] = next();
                for (int32_t i = 0; i < frames; ++i) {
                    float l = 0.0f, r = 0.0f;
                    const size_t at = 2 * static_cast<size_t>(i);
                    if (send) {
                        plain.frame(in[static_cast<size_t>(i)], in[static_cast<size_t>(i)], 0.0f, l, r);
                        expected[at] += l;
                        expected[at + 1] += r;
                    } else {
                        plain.frame(in[at], in[at + 1], plain.delay.dry, expected[at], expected[at + 1]);
                    }
                }
                if (!send) out = in;
                for (int32_t done = 0, k = 0; done < frames; ++k) {
                    const int32_t size = std::min(sizes[k % 9], frames - done);
                    if (send)
                        delay_render_send(rig.delay, in.data() + done, out.data() + 2 * done, size);
                    else
                        delay_render_insert(rig.delay, out.data() + 2 * done, size);
                    done += size;
                }
                const auto label = ::testing::Message()
                                   << "case " << (&c - cases) << ", ring " << ring << (send ? ", send" : ", insert");
                ASSERT_EQ(std::memcmp(out.data(), expected.data(), out.size() * sizeof(float)), 0) << label;
                ASSERT_EQ(std::memcmp(rig.delay.ring_left, plain.left.data(), plain.left.size() * sizeof(float)), 0)
                    << label;
                ASSERT_EQ(std::memcmp(rig.delay.ring_right, plain.right.data(), plain.right.size() * sizeof(float)), 0)
                    << label;
                EXPECT_EQ(rig.delay.modulation_phase, plain.delay.modulation_phase) << label;
                EXPECT_TRUE(rig.guards_intact()) << label;
            }
        }
    }
}

TEST(Delay, SettingsFarOutOfRangeStayInsideTheRings)
{
    FpModeGuard mode;
    const float nan = std::nanf("");
    const float kAll255[DelayParam::kCount] = {255, 255, 255, 255, 255, 255, 255};
    const float kAllNan[DelayParam::kCount] = {nan, nan, nan, nan, nan, nan, nan};
    const auto huge = values(DelayParams<float>{.mix = 128,
                                                .feedback = 64,
                                                .left = 1e10f,
                                                .right = -1e10f,
                                                .rate = 1e10f,
                                                .depth = 1e10f,
                                                .stereo_phase = 1e10f});
    for (const float* p : {kAll255, kAllNan, huge.data()}) {
        for (const int32_t frames : {kChannelDelayFrames, kGlobalDelayFrames}) {
            DelayRig rig(frames);
            delay_setup(rig.delay, p, RateConstants{});
            const std::vector<float> signal = rig.insert(std::vector<float>(2 * 4096, 0.5f));
            std::vector<float> master(2 * 4096, 0.0f);
            delay_render_send(rig.delay, signal.data(), master.data(), 4096);
            EXPECT_TRUE(rig.guards_intact());
            EXPECT_GE(rig.delay.write_index, 0);
            EXPECT_LE(rig.delay.write_index, rig.delay.mask);
        }
    }
}

}  // namespace
