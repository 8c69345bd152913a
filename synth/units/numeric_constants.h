// The numeric constants shared by the scalar units and their lane forms: the
// sine and arctangent polynomials, pi, and the 32-bit random generator. Only
// constants live here, so code built for any instruction set may include it.
#pragma once

#include <cstdint>

constexpr float kPiOver2 = 1.5707963705062866f;
constexpr float kPi = 3.1415927410125732f;
constexpr float kThreePiOver2 = 4.71238899230957f;
constexpr float kTwoPi = 6.2831854820251465f;

// Sine polynomial coefficients (doubles), shared with the oscillator's sine.
constexpr double kSineC3 = -0.16666;
constexpr double kSineC5 = 0.0083143;
constexpr double kSineC7 = -0.00018542;

// The arctangent shaper's rational curve: a direct set and, for 1 <= |v| < 2,
// a reciprocal set.
struct AtanCoefficients {
    double k0, k1, k2, k3, k4;
};

constexpr AtanCoefficients kAtanDirect{1.0, 0.43157974, 0.05831938, 1.0, 0.0};
constexpr AtanCoefficients kAtanReciprocal{-0.431597974, -1.0, 1.0, 0.05831938, 1.5707963267948966};
constexpr double kAtanShared = 0.76443945;
constexpr int32_t kAtanReciprocalExponent = 127;  // biased exponent of 1 <= |v| < 2

// The random generator: state * multiplier + increment, modulo 2^32.
constexpr uint32_t kRandomMultiplier = 196314165u;
constexpr uint32_t kRandomIncrement = 907633515u;

// A random word's top 23 bits become a float's mantissa: under the exponent
// of 1 they give [1, 2), under the exponent of 2 they give [2, 4).
constexpr int kRandomMantissaShift = 9;  // 32 - 23
constexpr uint32_t kExponentOfOne = 0x3F800000u;
constexpr uint32_t kExponentOfTwo = 0x40000000u;
// A float's exponent field: all ones is an infinity or a NaN.
constexpr uint32_t kExponentBits = 0x7F800000u;
