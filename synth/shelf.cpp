#include "synth/shelf.h"

#include <cmath>
#include <cstddef>
#include <cstring>

#include "synth/units/numeric.h"

namespace {

typedef float Quad __attribute__((vector_size(16)));  // two frames: left, right, left, right

// Direct form I over n interleaved frames, both sides side by side in two
// lanes: each side's operations are those of a side on its own. Two frames a
// step: their feed-forward sums side by side in four lanes, then the feedback
// frame by frame in the low two lanes (the high two carry what they may).
void shelf_run(ShelfEqState& eq, float* frames, int32_t n)
{
    static_assert(offsetof(ShelfEqState, x1_left) == offsetof(ShelfEqState, x2_left) + 2 * sizeof(float));
    static_assert(offsetof(ShelfEqState, y1_left) == offsetof(ShelfEqState, y2_left) + 2 * sizeof(float));
    const Quad b0 = Quad{} + eq.b0;
    const Quad b1 = Quad{} + eq.b1;
    const Quad b2 = Quad{} + eq.b2;
    const Quad a1 = Quad{} + eq.a1;
    const Quad a2 = Quad{} + eq.a2;
    Quad inputs;  // x2, x1
    Quad y2;      // y2, y1
    std::memcpy(&inputs, &eq.x2_left, sizeof inputs);
    std::memcpy(&y2, &eq.y2_left, sizeof y2);
    Quad y1 = __builtin_shufflevector(y2, y2, 2, 3, 2, 3);
    // The sums of two frames from x, their inputs, and inputs, the two before.
    const auto sums_of = [&](Quad x) {
        const Quad x1 = __builtin_shufflevector(inputs, x, 2, 3, 4, 5);
        return ((b0 * x) + (b1 * x1)) + (b2 * inputs);
    };
    int32_t i = 0;
    for (; i + 2 <= n; i += 2) {
        Quad x;
        std::memcpy(&x, frames + 2 * i, sizeof x);
        const Quad sums = sums_of(x);
        inputs = x;
        const Quad first = (sums - (a1 * y1)) - (a2 * y2);
        const Quad second = (__builtin_shufflevector(sums, sums, 2, 3, 2, 3) - (a1 * first)) - (a2 * y1);
        y2 = first;
        y1 = second;
        const Quad both = __builtin_shufflevector(first, second, 0, 1, 4, 5);
        std::memcpy(frames + 2 * i, &both, sizeof both);
    }
    if (i < n) {  // the last frame of an odd count
        const Quad x = {frames[2 * i], frames[2 * i + 1]};
        const Quad y = (sums_of(x) - (a1 * y1)) - (a2 * y2);
        inputs = __builtin_shufflevector(inputs, x, 2, 3, 4, 5);
        y2 = y1;
        y1 = y;
        std::memcpy(frames + 2 * i, &y, 2 * sizeof(float));
    }
    const Quad outputs = __builtin_shufflevector(y2, y1, 0, 1, 4, 5);
    std::memcpy(&eq.x2_left, &inputs, sizeof inputs);
    std::memcpy(&eq.y2_left, &outputs, sizeof outputs);
}

}  // namespace

void shelf_setup(ShelfEqState& eq, float level, const RateConstants& rates)
{
    const float p = clamp_parameter(level);
    eq.boost = nearest(p);
    if (eq.boost == 0) return;  // coefficients and memory keep their values

    // Shelf slope 1, corner 150 Hz: A from 1 to 2, shelf gain A^2 up to +12 dB.
    const float A = pow2(p / 128.0f);
    // The root in double rounds to the float root (double has more than twice
    // the precision), and its argument, about 2A, is positive: the float
    // root with no error path gives the same bits.
    const float square = ((A * A) + 1.0f) - ((A - 1.0f) * (A - 1.0f));
#if defined(__SSE__)
    const float root = _mm_cvtss_f32(_mm_sqrt_ss(_mm_set_ss(square)));
#else
    const float root = static_cast<float>(std::sqrt(static_cast<double>(square)));
#endif
    const float s = root * rates.shelf_sine;
    const float cosine = rates.shelf_cosine;
    const float a0 = ((A + 1.0f) + ((A - 1.0f) * cosine)) + s;
    eq.b0 = (A * (((A + 1.0f) - ((A - 1.0f) * cosine)) + s)) / a0;
    eq.b1 = ((2.0f * A) * ((A - 1.0f) - ((A + 1.0f) * cosine))) / a0;
    eq.b2 = (A * (((A + 1.0f) - ((A - 1.0f) * cosine)) - s)) / a0;
    eq.a1 = (-2.0f * ((A - 1.0f) + ((A + 1.0f) * cosine))) / a0;
    eq.a2 = (((A + 1.0f) + ((A - 1.0f) * cosine)) - s) / a0;
}

void shelf_clear(ShelfEqState& eq)
{
    eq.x1_left = eq.x1_right = eq.x2_left = eq.x2_right = 0.0f;
    eq.y1_left = eq.y1_right = eq.y2_left = eq.y2_right = 0.0f;
}

void shelf_render(ShelfEqState& eq, float* frames, int32_t n)
{
    if (eq.boost == 0) return;

    shelf_run(eq, frames, n);
}
