// Small numeric routines shared by every synthesizer unit: exponential curves,
// a polynomial sine, a rational arctangent, the 32-bit random generator and
// floats built straight from the bit pattern of a phase or random word.
//
// Everything works on single-precision floats. Expressions that involve a
// double constant are evaluated in double and rounded once to float.
#pragma once

#include <cstdint>

#include "synth/units/numeric_constants.h"

#if defined(__x86_64__) || defined(_M_X64) || defined(__i386__)
#include <immintrin.h>
#define CANTILENA_HAVE_SSE 1
#endif

// Float to integer: nearest, ties to even, under the engine's rounding mode.
// NaN and values outside the int32 range give INT32_MIN, as cvtss2si does, so a
// product k * 2^31 that reaches 2^31 reads back as 2^31 when taken unsigned.
inline int32_t nearest(float x)
{
#ifdef CANTILENA_HAVE_SSE
    return _mm_cvtss_si32(_mm_set_ss(x));
#else
    if (!(x >= -2147483648.0f && x < 2147483648.0f)) return INT32_MIN;
    return static_cast<int32_t>(__builtin_nearbyintf(x));
#endif
}

inline int32_t nearest(double x)
{
#ifdef CANTILENA_HAVE_SSE
    return _mm_cvtsd_si32(_mm_set_sd(x));
#else
    if (!(x > -2147483649.0 && x < 2147483648.0)) return INT32_MIN;
    return static_cast<int32_t>(__builtin_nearbyint(x));
#endif
}

// A continuous parameter held to its 0..128 scale when it is converted: NaN
// reads as the top, and a negative zero becomes +0 so later bit-pattern tests
// see "off". Values inside the scale pass unchanged.
inline float clamp_parameter(float x)
{
    if (!(x <= 128.0f)) return 128.0f;
    if (x <= 0.0f) return 0.0f;
    return x;
}

inline float float_from_bits(uint32_t u)
{
    return __builtin_bit_cast(float, u);
}

inline uint32_t bits_from_float(float x)
{
    return __builtin_bit_cast(uint32_t, x);
}

// Replaces every NaN or infinite sample of x[0..count-1] with 0 and tells
// whether there was one; finite samples keep their bits.
bool block_sanitize(float* x, int32_t count);

// 2^x to single precision: 2 raised to the fraction, scaled by the integer part.
float pow2(float x);
// 2^(10 (x - 1)): ten octaves, 2^-10 at 0 and 1 at 1.
float pow2_span10(float x);
// 2^(11 (x - 1)).
float pow2_span11(float x);
// base^exponent as 2^(exponent * log2(base)); base > 0.
float power(float base, float exponent);

// Polynomial sine of x radians; accurate for x >= 0 (a negative remainder below
// -pi/2 is not folded and leaves the polynomial's range).
float fast_sine(float x);

// Rational arctangent curve; does not saturate above 2 but folds back to 0.
float atan_shaper(float v);

// The little-endian 32-bit word at p, the form of every word in a patch bank
// and a song image.
inline uint32_t word_from_bytes(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

inline uint32_t random_step(uint32_t state)
{
    return state * kRandomMultiplier + kRandomIncrement;
}

// [0, 1) from the top 23 bits of u.
inline float unit_from_bits(uint32_t u)
{
    return float_from_bits((u >> kRandomMantissaShift) | kExponentOfOne) - 1.0f;
}

// [1, 2) from the top 23 bits of u: the unit value with the 1 kept.
inline float one_plus_unit_from_bits(uint32_t u)
{
    return float_from_bits((u >> kRandomMantissaShift) | kExponentOfOne);
}

// [-1, 1) from the top 23 bits of u.
inline float signed_from_bits(uint32_t u)
{
    return float_from_bits((u >> kRandomMantissaShift) | kExponentOfTwo) - 3.0f;
}

// z (1 + z^2 (c3 + z^2 (c5 + z^2 c7))) in double.
inline double sine_polynomial_factor(double z)
{
    const double z2 = z * z;
    return 1.0 + z2 * (kSineC3 + z2 * (kSineC5 + z2 * kSineC7));
}
