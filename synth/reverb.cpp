#include "synth/reverb.h"

#include <algorithm>
#include <cfenv>
#include <cstring>

#include "synth/constants.h"
#include "synth/lanes.h"
#include "synth/units/numeric.h"

namespace {

// Feedback of combs 1..4 and gain of all-passes 1..2 at e = 1.
constexpr float kReverbBases[6] = {0.9663845896720886f, 0.9581863880157471f, 0.9537839293479919f,
                                   0.9509331583976746f, 0.9942600727081299f, 0.9980447292327881f};

constexpr int kCombCount = 4;
constexpr int kAllPassCount = 2;
constexpr int kLinesPerSide = kCombCount + kAllPassCount;

// Start of each line in ReverbState::lines, in the order of the indices.
struct ReverbLayout {
    int32_t length[2 * kLinesPerSide];
    int32_t start[2 * kLinesPerSide];
};

constexpr ReverbLayout reverb_layout()
{
    ReverbLayout layout{};
    int32_t at = 0;
    for (int side = 0; side < 2; ++side) {
        const int32_t* combs = side == 0 ? kReverbCombLeft : kReverbCombRight;
        const int32_t* all_passes = side == 0 ? kReverbAllPassLeft : kReverbAllPassRight;
        for (int k = 0; k < kLinesPerSide; ++k) {
            const int line = side * kLinesPerSide + k;
            layout.length[line] = k < kCombCount ? combs[k] : all_passes[k - kCombCount];
            layout.start[line] = at;
            at += layout.length[line];
        }
    }
    return layout;
}

constexpr ReverbLayout kLayout = reverb_layout();
static_assert(kLayout.start[2 * kLinesPerSide - 1] + kLayout.length[2 * kLinesPerSide - 1] == kReverbLineFloats);

// Keeps the compiler from moving memory accesses, and so the arithmetic that
// feeds on them and is stored by them, across the underflow flag's clear and test.
inline void reverb_fence()
{
    asm volatile("" ::: "memory");
}

// The eight combs run side by side in two groups of four lanes: combs 1 and 3
// of each side take the input as it is, combs 2 and 4 inverted. In each group
// the lanes are left, right, left, right. No comb feeds another within a
// frame, so side by side each performs its own operations unchanged.
using CombQuad = Lanes<4>;
constexpr int kCombLanes = 2 * kCombCount;

// The comb (0..3 within its side) and side of a lane.
constexpr int comb_lane_comb(int lane)
{
    return 2 * ((lane % 4) / 2) + lane / 4;
}
constexpr int comb_lane_side(int lane)
{
    return lane % 2;
}
// Its line in ReverbState::lines.
constexpr int comb_lane_line(int lane)
{
    return comb_lane_side(lane) * kLinesPerSide + comb_lane_comb(lane);
}
// Its entry in ReverbState::comb_states.
constexpr int comb_lane_state(int lane)
{
    return comb_lane_side(lane) * kCombCount + comb_lane_comb(lane);
}

// The left and right tails after the combs run side by side too, in lanes 0
// and 1 (left, right); lanes 2 and 3 hold zeros, which raise no flag.
using SidePair = Lanes<4>;

// Lanes 0 and 1 of v, then 2 and 3, above two zero lanes.
inline SidePair::F pair_low(SidePair::F v)
{
    return __builtin_shufflevector(v, SidePair::F{}, 0, 1, 4, 5);
}
inline SidePair::F pair_high(SidePair::F v)
{
    return __builtin_shufflevector(v, SidePair::F{}, 2, 3, 4, 5);
}

// The per-run working copy: coefficients, line positions and states in locals
// so the loop keeps them in registers; stored back after the run.
struct ReverbRun {
    CombQuad::F comb_gains[2];  // as is, inverted
    CombQuad::F comb_states[2];
    float damping;
    SidePair::F all_pass_gains[kAllPassCount];
    SidePair::F output_lowcut;
    SidePair::F output_states;
    float* lines[2 * kLinesPerSide];  // each line's next slot
};

// Both sides of one frame after their combs: the four comb outputs summed in
// comb order, two all-passes in series, then the output low-cut. Returns the
// samples to add to the master frame.
inline SidePair::F reverb_sides(ReverbRun& r, int32_t i, CombQuad::F as_is, CombQuad::F inverted)
{
    using F = SidePair::F;
    F a = (((F{} + pair_low(as_is)) + pair_low(inverted)) + pair_high(as_is)) + pair_high(inverted);
#pragma GCC unroll 2
    for (int k = 0; k < kAllPassCount; ++k) {
        float* const left = r.lines[kCombCount + k] + i;
        float* const right = r.lines[kLinesPerSide + kCombCount + k] + i;
        const F g = r.all_pass_gains[k];
        const F d = {*left, *right, 0.0f, 0.0f};
        const F w = a + (d * g);
        *left = w[0];
        *right = w[1];
        a = d - (w * g);
    }

    F& o = r.output_states;
    o = o + ((a - o) * r.output_lowcut);
    return a - o;
}

// n frames in which no line wraps.
void reverb_run(ReverbRun& r, float input_gain, const float* send, float* master, int32_t n)
{
    using F = CombQuad::F;
    F as_is = r.comb_states[0];
    F inverted = r.comb_states[1];
    for (int32_t i = 0; i < n; ++i) {
        const float x = send[i] * input_gain;
        const auto c = [&r](int lane) { return r.lines[comb_lane_line(lane)]; };
        const F taps_as_is = {c(0)[i], c(1)[i], c(2)[i], c(3)[i]};
        const F taps_inverted = {c(4)[i], c(5)[i], c(6)[i], c(7)[i]};
        const F v_as_is = (taps_as_is * r.comb_gains[0]) + x;
        const F v_inverted = (taps_inverted * r.comb_gains[1]) - x;
        as_is = as_is + ((v_as_is - as_is) * r.damping);
        inverted = inverted + ((v_inverted - inverted) * r.damping);
#pragma GCC unroll 4
        for (int lane = 0; lane < 4; ++lane) {
            c(lane)[i] = as_is[lane];
            c(lane + 4)[i] = inverted[lane];
        }
        const SidePair::F out = reverb_sides(r, i, as_is, inverted);
        master[2 * i] += out[0];
        master[2 * i + 1] += out[1];
    }
    r.comb_states[0] = as_is;
    r.comb_states[1] = inverted;
}

}  // namespace

void reverb_clear(ReverbState& reverb)
{
    std::memset(reverb.indices, 0, sizeof reverb.indices);
    std::memset(reverb.comb_states, 0, sizeof reverb.comb_states);
    std::memset(reverb.output_states, 0, sizeof reverb.output_states);
    std::memset(reverb.lines, 0, sizeof reverb.lines);
}

void reverb_reset(ReverbState& reverb)
{
    std::memset(&reverb, 0, sizeof reverb);
}

void reverb_setup(ReverbState& reverb, const float* slice, float rate_ratio)
{
    float p[ReverbParam::kCount];
    for (int i = 0; i < ReverbParam::kCount; ++i) p[i] = clamp_parameter(slice[i]);
    const float decay = (p[ReverbParam::kDecay] + 1.0f) / 64.0f;
    const float e = (decay * decay) * rate_ratio;
    for (int i = 0; i < 6; ++i) reverb.gains[i] = power(kReverbBases[i], e);
    reverb.damping = rate_scaled_coefficient(p[ReverbParam::kDamping] / 128.0f, rate_ratio);
    const float t = p[ReverbParam::kLowCut] / 128.0f;
    reverb.output_lowcut = rate_scaled_coefficient(((t * t) * t) * t, rate_ratio);
    reverb.input_gain = p[ReverbParam::kInput] / 128.0f;
}

void reverb_render(ReverbState& reverb, const float* send, float* master, int32_t n)
{
    std::feclearexcept(FE_UNDERFLOW);
    reverb_fence();

    // Indices are always kept inside their lines; a stray value restarts its line.
    int32_t indices[2 * kLinesPerSide];
    for (int line = 0; line < 2 * kLinesPerSide; ++line) {
        const int32_t index = reverb.indices[line];
        const bool inside = static_cast<uint32_t>(index) < static_cast<uint32_t>(kLayout.length[line]);
        indices[line] = inside ? index : 0;
    }

    ReverbRun r;
#pragma GCC unroll 8
    for (int lane = 0; lane < kCombLanes; ++lane) {
        r.comb_gains[lane / 4][lane % 4] = reverb.gains[comb_lane_comb(lane)];
        r.comb_states[lane / 4][lane % 4] = reverb.comb_states[comb_lane_state(lane)];
    }
    r.damping = reverb.damping;
    for (int k = 0; k < kAllPassCount; ++k) {
        const float g = reverb.gains[kCombCount + k];
        r.all_pass_gains[k] = SidePair::F{g, g, 0.0f, 0.0f};
    }
    r.output_lowcut = SidePair::F{reverb.output_lowcut, reverb.output_lowcut, 0.0f, 0.0f};
    r.output_states = SidePair::F{reverb.output_states[0], reverb.output_states[1], 0.0f, 0.0f};

    // In runs up to the next line end, so the loop keeps its slots by pointer.
    for (int32_t done = 0; done < n;) {
        int32_t count = n - done;
        for (int line = 0; line < 2 * kLinesPerSide; ++line) {
            count = std::min(count, kLayout.length[line] - indices[line]);
        }
        for (int line = 0; line < 2 * kLinesPerSide; ++line) {
            r.lines[line] = reverb.lines + kLayout.start[line] + indices[line];
        }
        reverb_run(r, reverb.input_gain, send + done, master + 2 * done, count);
        for (int line = 0; line < 2 * kLinesPerSide; ++line) {
            indices[line] += count;
            if (indices[line] == kLayout.length[line]) indices[line] = 0;
        }
        done += count;
    }

    std::memcpy(reverb.indices, indices, sizeof indices);
#pragma GCC unroll 8
    for (int lane = 0; lane < kCombLanes; ++lane) {
        reverb.comb_states[comb_lane_state(lane)] = r.comb_states[lane / 4][lane % 4];
    }
    reverb.output_states[0] = r.output_states[0];
    reverb.output_states[1] = r.output_states[1];

    // A result flushed to zero anywhere in the block drains the whole memory.
    reverb_fence();
    if (std::fetestexcept(FE_UNDERFLOW)) reverb_clear(reverb);
}
