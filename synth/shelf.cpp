#include "synth/shelf.h"

#include <cmath>

#include "synth/units/numeric.h"

namespace {

struct ShelfSide {
    float x1, x2, y1, y2;
};

// Direct form I over one side of n interleaved frames (side 0 left, 1 right).
ShelfSide shelf_run(const ShelfEqState& eq, ShelfSide m, float* frames, int32_t n, int side)
{
    const float b0 = eq.b0;
    const float b1 = eq.b1;
    const float b2 = eq.b2;
    const float a1 = eq.a1;
    const float a2 = eq.a2;
    for (int32_t i = 0; i < n; ++i) {
        float& sample = frames[2 * i + side];
        const float x = sample;
        const float y = ((((b0 * x) + (b1 * m.x1)) + (b2 * m.x2)) - (a1 * m.y1)) - (a2 * m.y2);
        m.x2 = m.x1;
        m.x1 = x;
        m.y2 = m.y1;
        m.y1 = y;
        sample = y;
    }
    return m;
}

}  // namespace

void shelf_setup(ShelfEqState& eq, float level, const RateConstants& rates)
{
    const float p = clamp_parameter(level);
    eq.boost = nearest(p);
    if (eq.boost == 0) return;  // coefficients and memory keep their values

    // Shelf slope 1, corner 150 Hz: A from 1 to 2, shelf gain A^2 up to +12 dB.
    const float A = pow2(p / 128.0f);
    const float root =
        static_cast<float>(std::sqrt(static_cast<double>(((A * A) + 1.0f) - ((A - 1.0f) * (A - 1.0f)))));
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

    const ShelfSide left = shelf_run(eq, {eq.x1_left, eq.x2_left, eq.y1_left, eq.y2_left}, frames, n, 0);
    eq.x1_left = left.x1;
    eq.x2_left = left.x2;
    eq.y1_left = left.y1;
    eq.y2_left = left.y2;

    const ShelfSide right = shelf_run(eq, {eq.x1_right, eq.x2_right, eq.y1_right, eq.y2_right}, frames, n, 1);
    eq.x1_right = right.x1;
    eq.x2_right = right.x2;
    eq.y1_right = right.y1;
    eq.y2_right = right.y2;
}
