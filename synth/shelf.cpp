#include "synth/shelf.h"

#include <cmath>
#include <cstring>

#include "synth/units/numeric.h"

namespace {

typedef float Pair __attribute__((vector_size(8)));  // left, right

// Direct form I over n interleaved frames, both sides side by side in two
// lanes: each side's operations are those of a side on its own.
void shelf_run(ShelfEqState& eq, float* frames, int32_t n)
{
    const float b0 = eq.b0;
    const float b1 = eq.b1;
    const float b2 = eq.b2;
    const float a1 = eq.a1;
    const float a2 = eq.a2;
    Pair x1 = {eq.x1_left, eq.x1_right};
    Pair x2 = {eq.x2_left, eq.x2_right};
    Pair y1 = {eq.y1_left, eq.y1_right};
    Pair y2 = {eq.y2_left, eq.y2_right};
    for (int32_t i = 0; i < n; ++i) {
        Pair x;
        std::memcpy(&x, frames + 2 * i, sizeof x);
        const Pair y = ((((b0 * x) + (b1 * x1)) + (b2 * x2)) - (a1 * y1)) - (a2 * y2);
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        std::memcpy(frames + 2 * i, &y, sizeof y);
    }
    eq.x1_left = x1[0];
    eq.x1_right = x1[1];
    eq.x2_left = x2[0];
    eq.x2_right = x2[1];
    eq.y1_left = y1[0];
    eq.y1_right = y1[1];
    eq.y2_left = y2[0];
    eq.y2_right = y2[1];
}

}  // namespace

void shelf_setup(ShelfEqState& eq, float level, const RateConstants& rates)
{
    const float p = clamp_parameter(level);
    eq.boost = nearest(p);
    if (eq.boost == 0) return;  // coefficients and memory keep their values

    // Shelf slope 1, corner 150 Hz: A from 1 to 2, shelf gain A^2 up to +12 dB.
    const float A = pow2(p / 128.0f);
    const float root = static_cast<float>(std::sqrt(static_cast<double>(((A * A) + 1.0f) - ((A - 1.0f) * (A - 1.0f)))));
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
