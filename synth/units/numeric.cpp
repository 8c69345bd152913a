#include "synth/units/numeric.h"

#include <cmath>

float pow2(float x)
{
    if (x != x) return x;
    // Beyond +-200 the result is infinite or flushed to zero either way; the
    // clamp keeps the integer part inside int range.
    if (x > 200.0f) x = 200.0f;
    if (x < -200.0f) x = -200.0f;
    const int whole = static_cast<int>(x);  // truncated towards zero
    const float fraction = x - static_cast<float>(whole);
    float y = static_cast<float>(std::exp2(static_cast<double>(fraction)));
    // Scale by 2^whole in steps that stay inside the normal exponent range, so
    // the product is exact unless the final value is out of range.
    int e = whole;
    while (e > 126) {
        y *= float_from_bits(253u << 23);  // 2^126
        e -= 126;
    }
    while (e < -126) {
        y *= float_from_bits(1u << 23);  // 2^-126
        e += 126;
    }
    return y * float_from_bits(static_cast<uint32_t>(e + 127) << 23);
}

bool block_sanitize(float* x, int32_t count)
{
    // A sum of samples is finite unless one of them is not (or, rarely, the
    // sum overflows): sixteen at a time into four sums, each sample then
    // looked at only when a sum is not finite.
    typedef float Quad __attribute__((vector_size(16)));
    const auto load = [x](int32_t i) {
        Quad q;
        __builtin_memcpy(&q, x + i, sizeof q);
        return q;
    };
    Quad a = {};
    Quad b = {};
    Quad c = {};
    Quad d = {};
    int32_t i = 0;
    for (; i + 16 <= count; i += 16) {
        a = a + load(i);
        b = b + load(i + 4);
        c = c + load(i + 8);
        d = d + load(i + 12);
    }
    const Quad quad = (a + b) + (c + d);
    float sum = (quad[0] + quad[1]) + (quad[2] + quad[3]);
    for (; i < count; ++i) sum = sum + x[i];
    if ((bits_from_float(sum) & kExponentBits) != kExponentBits) return false;
    bool bad = false;
    for (i = 0; i < count; ++i) {
        if ((bits_from_float(x[i]) & kExponentBits) == kExponentBits) {
            x[i] = 0.0f;
            bad = true;
        }
    }
    return bad;
}

float pow2_span10(float x)
{
    return pow2(10.0f * (x - 1.0f));
}

float pow2_span11(float x)
{
    return pow2(11.0f * (x - 1.0f));
}

float power(float base, float exponent)
{
    const float log_base = static_cast<float>(std::log2(static_cast<double>(base)));
    return pow2(exponent * log_base);
}

float fast_sine(float x)
{
    // Inside one cycle the remainder is x itself, without the call.
    const float r = std::fabs(x) < kTwoPi ? x : std::fmod(x, kTwoPi);
    float z;
    if (r <= kPiOver2) {
        z = r;
    } else if (r <= kThreePiOver2) {
        z = kPi - r;
    } else {
        z = r - kTwoPi;
    }
    const double zd = z;
    return static_cast<float>(zd * sine_polynomial_factor(zd));
}

float atan_shaper(float v)
{
    const uint32_t bits = bits_from_float(v);
    // The reciprocal set covers 1 <= |v| < 2 only (biased exponent 127); the
    // exponent is compared as a signed byte, so larger values take the direct set.
    const int8_t exponent = static_cast<int8_t>((bits >> 23) & 0xFFu);
    const AtanCoefficients& k = exponent == kAtanReciprocalExponent ? kAtanReciprocal : kAtanDirect;
    const double a = std::fabs(static_cast<double>(v));
    const double a2 = a * a;
    const double y = a * (k.k0 + k.k1 * a2) / (a2 * (kAtanShared + k.k2 * a2) + k.k3) + k.k4;
    return static_cast<float>((bits & 0x80000000u) ? -y : y);
}
