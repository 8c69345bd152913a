#include "synth/reverb.h"

#include <cfenv>
#include <cstring>

#include "synth/constants.h"
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

// The per-block working copy: coefficients, indices and states in locals so
// the loop keeps them in registers; stored back after the block.
struct ReverbRun {
    float gains[6];
    float damping;
    float output_lowcut;
    int32_t indices[2 * kLinesPerSide];
    float comb_states[2 * kCombCount];
    float output_states[2];
    float* lines;
};

// One side of one frame: four damped combs summed, two all-passes in series,
// then the output low-cut. Returns the sample to add to the master frame.
inline float reverb_side(ReverbRun& r, int side, float x)
{
    const int base = side * kLinesPerSide;
    float* const states = r.comb_states + side * kCombCount;

    float sum = 0.0f;
#pragma GCC unroll 4
    for (int k = 0; k < kCombCount; ++k) {
        const int line = base + k;
        float* const slot = r.lines + kLayout.start[line] + r.indices[line];
        const float g = r.gains[k];
        // Combs 2 and 4 take the input inverted.
        const float v = (k & 1) ? (*slot * g) - x : (*slot * g) + x;
        const float state = states[k] + ((v - states[k]) * r.damping);
        states[k] = state;
        *slot = state;
        sum = sum + state;
        if (++r.indices[line] == kLayout.length[line]) r.indices[line] = 0;
    }

    float a = sum;
#pragma GCC unroll 2
    for (int k = 0; k < kAllPassCount; ++k) {
        const int line = base + kCombCount + k;
        float* const slot = r.lines + kLayout.start[line] + r.indices[line];
        const float g = r.gains[kCombCount + k];
        const float d = *slot;
        const float w = a + (d * g);
        *slot = w;
        a = d - (w * g);
        if (++r.indices[line] == kLayout.length[line]) r.indices[line] = 0;
    }

    float& o = r.output_states[side];
    o = o + ((a - o) * r.output_lowcut);
    return a - o;
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

    ReverbRun r;
    std::memcpy(r.gains, reverb.gains, sizeof r.gains);
    r.damping = reverb.damping;
    r.output_lowcut = reverb.output_lowcut;
    std::memcpy(r.comb_states, reverb.comb_states, sizeof r.comb_states);
    std::memcpy(r.output_states, reverb.output_states, sizeof r.output_states);
    r.lines = reverb.lines;
    // Indices are always kept inside their lines; a stray value restarts its line.
    for (int line = 0; line < 2 * kLinesPerSide; ++line) {
        const int32_t index = reverb.indices[line];
        const bool inside = static_cast<uint32_t>(index) < static_cast<uint32_t>(kLayout.length[line]);
        r.indices[line] = inside ? index : 0;
    }

    const float input_gain = reverb.input_gain;
    for (int32_t i = 0; i < n; ++i) {
        const float x = send[i] * input_gain;
        master[2 * i] += reverb_side(r, 0, x);
        master[2 * i + 1] += reverb_side(r, 1, x);
    }

    std::memcpy(reverb.indices, r.indices, sizeof r.indices);
    std::memcpy(reverb.comb_states, r.comb_states, sizeof r.comb_states);
    std::memcpy(reverb.output_states, r.output_states, sizeof r.output_states);

    // A result flushed to zero anywhere in the block drains the whole memory.
    reverb_fence();
    if (std::fetestexcept(FE_UNDERFLOW)) reverb_clear(reverb);
}
