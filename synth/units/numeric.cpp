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
    // The exponent fields, read as 16-bit halves (the low halves are zero),
    // reach their largest, all ones, only for NaN or infinity; eight samples
    // at a time.
    typedef uint32_t Quad __attribute__((vector_size(16)));
    typedef int16_t Halves __attribute__((vector_size(16)));
    constexpr int16_t kTop = static_cast<int16_t>(kExponentBits >> 16);
    Halves top = {};
    const auto exponents = [x](int32_t i) {
        Quad bits;
        __builtin_memcpy(&bits, x + i, sizeof bits);
        return __builtin_bit_cast(Halves, bits & kExponentBits);
    };
    int32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const Halves a = exponents(i);
        const Halves b = exponents(i + 4);
        top = top > a ? top : a;
        top = top > b ? top : b;
    }
    const Halves hit = top == kTop;
    uint64_t words[2];
    __builtin_memcpy(words, &hit, sizeof words);
    bool bad = (words[0] | words[1]) != 0;
    for (; i < count; ++i) bad |= (bits_from_float(x[i]) & kExponentBits) == kExponentBits;
    if (!bad) return false;
    for (int32_t i = 0; i < count; ++i) {
        if ((bits_from_float(x[i]) & kExponentBits) == kExponentBits) x[i] = 0.0f;
    }
    return true;
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
