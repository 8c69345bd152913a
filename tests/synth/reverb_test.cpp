#include "synth/reverb.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <memory>
#include <vector>

#include "synth/fp_mode.h"
#include "tests/support/param_slices.h"

namespace {

std::unique_ptr<ReverbState> make_reverb(float decay, float damping, float lowcut, float input)
{
    auto reverb = std::make_unique<ReverbState>();
    reverb_reset(*reverb);
    const auto p = values(ReverbParams<float>{.decay = decay, .damping = damping, .low_cut = lowcut, .input = input});
    reverb_setup(*reverb, p.data(), 1.0f);
    return reverb;
}

// One block of n frames added to a zeroed master; returns the master.
std::vector<float> render_block(ReverbState& reverb, const std::vector<float>& send)
{
    std::vector<float> master(2 * send.size(), 0.0f);
    reverb_render(reverb, send.data(), master.data(), static_cast<int32_t>(send.size()));
    return master;
}

bool memory_is_clear(const ReverbState& r)
{
    const auto zero = [](auto v) { return v == 0; };
    return std::all_of(std::begin(r.indices), std::end(r.indices), zero) &&
           std::all_of(std::begin(r.comb_states), std::end(r.comb_states), zero) &&
           std::all_of(std::begin(r.output_states), std::end(r.output_states), zero) &&
           std::all_of(std::begin(r.lines), std::end(r.lines), zero);
}

float peak(const std::vector<float>& frames)
{
    float m = 0.0f;
    for (float v : frames) m = std::max(m, std::fabs(v));
    return m;
}

TEST(Reverb, AfterResetItAddsNothingAndAnImpulseIsHeardFirstAfterTheShortestCombOfEachSide)
{
    FpModeGuard mode;
    auto silent = std::make_unique<ReverbState>();
    reverb_reset(*silent);
    std::vector<float> master(256, 0.125f);
    reverb_render(*silent, std::vector<float>(128, 0.75f).data(), master.data(), 128);
    EXPECT_EQ(master, std::vector<float>(256, 0.125f));

    auto reverb = make_reverb(64.0f, 128.0f, 0.0f, 128.0f);  // damping 1: the combs are plain delays
    std::vector<float> send(1400, 0.0f);
    send[0] = 1.0f;
    master = render_block(*reverb, send);
    // The combs take the input with alternating signs, so it cancels in their
    // sum until the first echo returns.
    for (int32_t i = 0; i < 1309; ++i) ASSERT_EQ(master[2 * i], 0.0f) << "left frame " << i;
    for (int32_t i = 0; i < 1327; ++i) ASSERT_EQ(master[2 * i + 1], 0.0f) << "right frame " << i;
    EXPECT_NE(master[2 * 1309], 0.0f);
    EXPECT_NE(master[2 * 1327 + 1], 0.0f);
    EXPECT_FALSE(memory_is_clear(*reverb));
}

TEST(Reverb, InputGainZeroIsSilentToTheSendButKeepsTheTailCirculating)
{
    FpModeGuard mode;
    auto fed = make_reverb(0.0f, 128.0f, 16.0f, 128.0f);
    std::vector<float> burst(128);
    for (int32_t i = 0; i < 128; ++i) burst[i] = std::sin(0.3f * static_cast<float>(i));
    render_block(*fed, burst);

    auto quiet = std::make_unique<ReverbState>(*fed);
    const auto p = values(ReverbParams<float>{.decay = 0, .damping = 128, .low_cut = 16, .input = 0});
    reverb_setup(*fed, p.data(), 1.0f);
    reverb_setup(*quiet, p.data(), 1.0f);
    // The first echoes come back a comb length (about ten blocks) later.
    float heard = 0.0f;
    for (int block = 0; block < 40; ++block) {
        const std::vector<float> with_send = render_block(*fed, std::vector<float>(128, 0.9f));
        const std::vector<float> without = render_block(*quiet, std::vector<float>(128, 0.0f));
        ASSERT_EQ(with_send, without) << "block " << block;
        heard = std::max(heard, peak(with_send));
    }
    EXPECT_GT(heard, 0.01f);
}

TEST(Reverb, TailIsClearedOnceItUnderflows)
{
    FpModeGuard mode;
    auto reverb = make_reverb(127.0f, 128.0f, 8.0f, 128.0f);  // shortest tail
    std::vector<float> burst(128, 0.0f);
    burst[0] = 1.0f;
    render_block(*reverb, burst);
    const std::vector<float> silence(128, 0.0f);

    int32_t blocks_heard = 0;
    int32_t block = 0;
    for (; block < 200000 && !memory_is_clear(*reverb); ++block) {
        if (peak(render_block(*reverb, silence)) > 0.0f) ++blocks_heard;
    }
    EXPECT_LT(block, 200000) << "the tail never drained";
    EXPECT_GT(blocks_heard, 100);
    // Once clear, it stays silent, and the gains and coefficients are kept.
    EXPECT_EQ(peak(render_block(*reverb, silence)), 0.0f);
    EXPECT_GT(reverb->gains[0], 0.8f);
    EXPECT_EQ(reverb->damping, 1.0f);
}

TEST(Reverb, OneFlushedResultClearsTheWholeMemoryAfterTheBlock)
{
    FpModeGuard mode;
    for (const float tiny : {1.2e-38f, 1e-30f}) {
        auto reverb = make_reverb(127.0f, 128.0f, 0.0f, 128.0f);
        reverb->lines[0] = tiny;  // left comb 1, read in the first frame
        reverb->lines[5000] = 0.5f;
        render_block(*reverb, std::vector<float>(128, 0.0f));
        // 1.2e-38 times the comb gain falls below the smallest normal float.
        EXPECT_EQ(memory_is_clear(*reverb), tiny < 1e-37f) << tiny;
    }
}

TEST(Reverb, EachAllPassFeedsOnlyItsOwnSideAndAFlushedResultInAnyOfThemClearsTheMemory)
{
    FpModeGuard mode;
    // Where each all-pass line starts in ReverbState::lines: a side's four
    // combs, then its two all-passes.
    int32_t side_start[2] = {0, 0};
    for (int32_t length : kReverbCombLeft) side_start[1] += length;
    for (int32_t length : kReverbAllPassLeft) side_start[1] += length;
    struct AllPass {
        int side;
        int32_t start;
    };
    const AllPass all_passes[] = {
        {0, side_start[1] - kReverbAllPassLeft[0] - kReverbAllPassLeft[1]},
        {0, side_start[1] - kReverbAllPassLeft[1]},
        {1, kReverbLineFloats - kReverbAllPassRight[0] - kReverbAllPassRight[1]},
        {1, kReverbLineFloats - kReverbAllPassRight[1]},
    };
    for (const AllPass& a : all_passes) {
        auto reverb = make_reverb(127.0f, 128.0f, 0.0f, 128.0f);
        reverb->lines[a.start] = 0.5f;  // read in the first frame
        // Long enough for every all-pass line to come round again.
        const std::vector<float> master = render_block(*reverb, std::vector<float>(300, 0.0f));
        EXPECT_NE(master[a.side], 0.0f) << "line at " << a.start;
        int32_t frames_heard = 0;
        for (size_t i = 0; i < master.size(); i += 2) {
            if (master[i + a.side] != 0.0f) ++frames_heard;
            ASSERT_EQ(master[i + 1 - a.side], 0.0f) << "line at " << a.start << " frame " << i / 2;
        }
        EXPECT_GT(frames_heard, 1) << "line at " << a.start << ": what it wrote back was lost";

        auto flushed = make_reverb(127.0f, 128.0f, 0.0f, 128.0f);
        flushed->lines[a.start] = 1.2e-38f;  // times the all-pass gain, below the smallest normal float
        flushed->lines[100] = 0.5f;
        render_block(*flushed, std::vector<float>(16, 0.0f));
        EXPECT_TRUE(memory_is_clear(*flushed)) << "line at " << a.start;
    }
}

TEST(Reverb, HowTheFramesAreCutIntoBlocksChangesNoBitAcrossEveryLineEnd)
{
    FpModeGuard mode;
    // A memory already full of tail, every line a few frames before its end,
    // so single frames, odd sizes and whole blocks all cross line ends.
    auto whole = make_reverb(20.0f, 70.0f, 12.0f, 100.0f);
    uint32_t seed = 12345u;
    const auto noise = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<float>(static_cast<int32_t>(seed >> 8) - (1 << 23)) / static_cast<float>(1 << 23);
    };
    for (float& v : whole->lines) v = 0.25f * noise();
    for (int line = 0; line < 12; ++line) whole->indices[line] = 60 - 5 * line;  // 74-long lines wrap first
    for (float& v : whole->comb_states) v = 0.1f * noise();
    auto cut = std::make_unique<ReverbState>(*whole);

    std::vector<float> send(3000);
    for (float& v : send) v = noise();
    const std::vector<float> at_once = render_block(*whole, send);

    std::vector<float> in_blocks;
    const int32_t sizes[] = {1, 7, 280, 73, 128, 3, 1, 200};
    for (size_t done = 0, k = 0; done < send.size(); ++k) {
        const size_t size = std::min<size_t>(sizes[k % std::size(sizes)], send.size() - done);
        const std::vector<float> block(send.begin() + done, send.begin() + done + size);
        const std::vector<float> out = render_block(*cut, block);
        in_blocks.insert(in_blocks.end(), out.begin(), out.end());
        done += size;
    }

    ASSERT_EQ(in_blocks, at_once);
    EXPECT_TRUE(std::equal(std::begin(cut->indices), std::end(cut->indices), std::begin(whole->indices)));
    EXPECT_TRUE(std::equal(std::begin(cut->comb_states), std::end(cut->comb_states), std::begin(whole->comb_states)));
    EXPECT_TRUE(std::equal(std::begin(cut->lines), std::end(cut->lines), std::begin(whole->lines)));
    EXPECT_GT(peak(at_once), 0.01f);
}

}  // namespace
