// Lanes: W single-precision values side by side (GCC vector extensions), with
// the few operations the engine needs that the extensions do not spell. Each
// lane performs exactly the scalar code's IEEE operations in the scalar order:
// no fused multiply-add, no reassociation, no approximate reciprocals.
//
// Everything here has internal linkage: a source built for one instruction
// set includes it and keeps its own copy, so no code built for a wider set
// can stand in for code that runs everywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "synth/units/numeric_constants.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

// The vector types of a width (a vector size cannot depend on a template
// parameter, so each width is spelled out).
template <int W>
struct LaneTypes;

#define CANTILENA_LANE_TYPES(width)                                          \
    template <>                                                              \
    struct LaneTypes<width> {                                                \
        typedef float F __attribute__((vector_size(4 * (width))));           \
        typedef int32_t I __attribute__((vector_size(4 * (width))));         \
        typedef uint32_t U __attribute__((vector_size(4 * (width))));        \
        typedef double D __attribute__((vector_size(8 * (width))));          \
        typedef int64_t WideMask __attribute__((vector_size(8 * (width))));  \
        typedef uint64_t WideBits __attribute__((vector_size(8 * (width)))); \
    };
CANTILENA_LANE_TYPES(2)
CANTILENA_LANE_TYPES(4)
CANTILENA_LANE_TYPES(8)
CANTILENA_LANE_TYPES(16)
#undef CANTILENA_LANE_TYPES

template <int W>
struct Lanes {
    using F = typename LaneTypes<W>::F;
    using I = typename LaneTypes<W>::I;
    using U = typename LaneTypes<W>::U;
    using D = typename LaneTypes<W>::D;
    using WideBits = typename LaneTypes<W>::WideBits;

    static F load(const float* p)
    {
        F v;
        __builtin_memcpy(&v, p, sizeof v);
        return v;
    }
    static void store(float* p, F v) { __builtin_memcpy(p, &v, sizeof v); }
    static F splat(float x) { return F{} + x; }
    static U splat_u(uint32_t x) { return U{} + x; }

    // Bit patterns, not values.
    static F as_float(U u) { return __builtin_bit_cast(F, u); }
    static U as_bits(F f) { return __builtin_bit_cast(U, f); }
    static I as_signed(U u) { return __builtin_bit_cast(I, u); }
    static U as_unsigned(I i) { return __builtin_bit_cast(U, i); }

    // m is all ones or all zeros per lane, as comparisons give it.
    static F select(I m, F a, F b) { return m ? a : b; }
    static U select(I m, U a, U b) { return m ? a : b; }
    static I select(I m, I a, I b) { return m ? a : b; }
    // Doubles are selected bit by bit: a vector ternary on vectors wider than
    // the machine's registers would be taken apart lane by lane.
    using WideMask = typename LaneTypes<W>::WideMask;
    static D blend(WideMask m, D a, D b)
    {
        const WideBits bits = __builtin_bit_cast(WideBits, m);
        return __builtin_bit_cast(D,
                                  (__builtin_bit_cast(WideBits, a) & bits) | (__builtin_bit_cast(WideBits, b) & ~bits));
    }
    static D select_d(I m, D a, D b) { return blend(__builtin_convertvector(m, WideMask), a, b); }

    static D widen(F x) { return __builtin_convertvector(x, D); }
    // Rounds under the current mode (nearest), as a scalar conversion does.
    static F narrow(D x) { return __builtin_convertvector(x, F); }

    static bool any(I m)
    {
#if defined(__AVX512F__)
        if constexpr (W == 16) {
            const __m512i v = __builtin_bit_cast(__m512i, m);
            return _mm512_test_epi32_mask(v, v) != 0;
        }
#endif
#if defined(__AVX__)
        if constexpr (W == 8) return _mm256_movemask_ps(__builtin_bit_cast(__m256, m)) != 0;
#endif
#if defined(__SSE2__)
        if constexpr (W == 4) return _mm_movemask_ps(__builtin_bit_cast(__m128, m)) != 0;
#endif
        int32_t bits = 0;
        for (int l = 0; l < W; ++l) bits |= m[l];
        return bits != 0;
    }

    // W x W values, v[i] lane l to v[l] lane i. Within each 128-bit block of
    // four lanes, interleaving single values and then pairs gathers one lane
    // of four rows; then the blocks change places. Each shuffle is one
    // instruction on every width.
    static void transpose(F* v)
    {
#pragma GCC unroll 4
        for (int q = 0; q < W; q += 4) {
            const F t0 = shuffle<kSingles, 0>(v[q], v[q + 1]);
            const F t1 = shuffle<kSingles, 1>(v[q], v[q + 1]);
            const F t2 = shuffle<kSingles, 0>(v[q + 2], v[q + 3]);
            const F t3 = shuffle<kSingles, 1>(v[q + 2], v[q + 3]);
            v[q] = shuffle<kPairs, 0>(t0, t2);
            v[q + 1] = shuffle<kPairs, 1>(t0, t2);
            v[q + 2] = shuffle<kPairs, 0>(t1, t3);
            v[q + 3] = shuffle<kPairs, 1>(t1, t3);
        }
        // Now block m of v[4 q + c] holds lane 4 m + c of rows 4 q to 4 q + 3.
        if constexpr (W > 4) transpose_blocks(v);
    }
    static void transpose_blocks(F* v)
    {
        constexpr int kHalf = W / 8;
#pragma GCC unroll 2
        for (int round = W / 4; round > 1; round /= 2) {
            F next[W];
#pragma GCC unroll 16
            for (int k = 0; k < W / 2; ++k) {
                const int c = k % 4;
                const int q = k / 4;
                next[4 * q + c] = shuffle<kBlocks, 0>(v[8 * q + c], v[8 * q + 4 + c]);
                next[4 * (kHalf + q) + c] = shuffle<kBlocks, 1>(v[8 * q + c], v[8 * q + 4 + c]);
            }
#pragma GCC unroll 16
            for (int k = 0; k < W; ++k) v[k] = next[k];
        }
    }

    // The shuffles of transpose; high picks the second half of what each
    // gathers. Singles: a0 b0 a1 b1 per block; pairs: a0 a1 b0 b1 per block;
    // blocks: the even blocks of a, then of b.
    enum Shuffle { kSingles, kPairs, kBlocks };
    static constexpr int shuffle_source(Shuffle kind, int high, int j)
    {
        const int k = j % 4;
        const int block = j - k;
        if (kind == kSingles) return (k % 2) * W + block + k / 2 + 2 * high;
        if (kind == kPairs) return (k / 2) * W + block + k % 2 + 2 * high;
        const int p = j / 4;
        const int half = W / 8;
        return (p < half ? 0 : W) + 4 * (2 * (p % half) + high) + k;
    }
    template <Shuffle kKind, int kHigh, size_t... J>
    static F shuffle(F a, F b, std::index_sequence<J...>)
    {
        return __builtin_shufflevector(a, b, shuffle_source(kKind, kHigh, J)...);
    }
    template <Shuffle kKind, int kHigh>
    static F shuffle(F a, F b)
    {
        return shuffle<kKind, kHigh>(a, b, std::make_index_sequence<W>{});
    }

    // A mask of all ones or zeros per lane, each lane doubled to 64 bits:
    // sign-extended where the instruction set does that in one step, else
    // (SSE2) by a shuffle, which it does in one step where the extension takes several.
    template <size_t... J>
    static WideBits widen_mask(I m, std::index_sequence<J...>)
    {
#if defined(__SSE4_1__)
        return __builtin_bit_cast(WideBits, __builtin_convertvector(m, WideMask));
#else
        return __builtin_bit_cast(WideBits, __builtin_shufflevector(m, m, (J / 2)...));
#endif
    }

    // atan_shaper's rational curve, lane by lane in double as the scalar
    // computes it: the reciprocal set of coefficients for 1 <= |v| < 2 (biased
    // exponent 127), the curve of |v|, its sign then flipped for a negative v.
    // Coefficients are picked and the sign put back with bit operations.
    static F atan_shaper(F v)
    {
        constexpr uint64_t kSignBit = 0x8000000000000000ull;
        const I reciprocal = as_signed(as_bits(v) & kExponentBits) == (kAtanReciprocalExponent << 23);
        const WideBits recip = widen_mask(reciprocal, std::make_index_sequence<2 * W>{});
        const auto pick = [recip](const double& direct, const double& inverse) {
            const WideBits d = WideBits{} + __builtin_bit_cast(uint64_t, direct);
            const WideBits flip =
                WideBits{} + (__builtin_bit_cast(uint64_t, direct) ^ __builtin_bit_cast(uint64_t, inverse));
            return __builtin_bit_cast(D, d ^ (recip & flip));
        };
        const WideBits bits = __builtin_bit_cast(WideBits, widen(v));
        const WideBits sign = bits & kSignBit;
        const D a = __builtin_bit_cast(D, bits ^ sign);
        const D a2 = a * a;
        const D numerator =
            a * (pick(kAtanDirect.k0, kAtanReciprocal.k0) + (pick(kAtanDirect.k1, kAtanReciprocal.k1) * a2));
        const D denominator = (a2 * (kAtanShared + (pick(kAtanDirect.k2, kAtanReciprocal.k2) * a2))) +
                              pick(kAtanDirect.k3, kAtanReciprocal.k3);
        const D y = (numerator / denominator) + pick(kAtanDirect.k4, kAtanReciprocal.k4);
        return narrow(__builtin_bit_cast(D, __builtin_bit_cast(WideBits, y) ^ sign));
    }

    // [0, 1), [1, 2), [2, 4) and [-1, 1) from the top 23 bits of u.
    static F unit_from_bits(U u)
    {
        return as_float((u >> kRandomMantissaShift) | kExponentOfOne) - 1.0f;
    }
    static F one_plus_unit_from_bits(U u)
    {
        return as_float((u >> kRandomMantissaShift) | kExponentOfOne);
    }
    static F twice_one_plus_unit_from_bits(U u)
    {
        return as_float((u >> kRandomMantissaShift) | kExponentOfTwo);
    }
    static F signed_from_bits(U u)
    {
        return as_float((u >> kRandomMantissaShift) | kExponentOfTwo) - 3.0f;
    }
};

}  // namespace
