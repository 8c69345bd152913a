// The modulation pass that turns a channel's patch into the float parameters
// of its voices and of the channel itself.
//
// Patch bank: an offset table of uint32 (little-endian) per program number,
// then the patches, laid out as synth/param_layout.h describes.
#pragma once

#include <cstdint>
#include <cstring>

#include "synth/param_layout.h"
#include "synth/units/numeric.h"

struct SynthEngine;

// The patch that channel c's current program selects.
const uint8_t* patch_of_channel(const SynthEngine& engine, int c);
// Rebuilds voice v's parameters through the matrix and converts them.
void voice_update_params(SynthEngine& engine, int v);
// Rebuilds channel c's parameters through the matrix and converts them.
void channel_update_params(SynthEngine& engine, int c);
// Bit i set where bytes[i] and last[i] differ (16 <= count <= 64); last then
// holds the bytes.
uint64_t bytes_take_changes(const uint8_t* bytes, uint8_t* last, int count);
// Whether any of the kCount bytes differ from last: the quick test before
// bytes_take_changes, as mostly none do. Sixteen at a time (the last sixteen
// overlapping those before), gathered into one compare.
template <int kCount>
bool bytes_differ(const uint8_t* bytes, const uint8_t* last)
{
    static_assert(kCount >= 16 && kCount <= 64);
#ifdef CANTILENA_HAVE_SSE
    const auto differ = [&](int k) {
        return _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + k)),
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(last + k)));
    };
    __m128i any = differ(kCount - 16);
    for (int i = 0; i + 16 < kCount; i += 16) any = _mm_or_si128(any, differ(i));
    return _mm_movemask_epi8(_mm_cmpeq_epi8(any, _mm_setzero_si128())) != 0xFFFF;
#else
    return std::memcmp(bytes, last, kCount) != 0;
#endif
}
// Of the parameters in candidates (bit i for p[i]), those whose bits differ
// from last; last then holds their values. A set-up reruns a unit only where
// its slice changed.
uint64_t params_take_changes(const float* p, float* last, uint64_t candidates);
// Whether any of the count parameters from first is among the changes.
inline bool params_changed(uint64_t changes, int first, int count)
{
    return ((changes >> first) & ((uint64_t{1} << count) - 1u)) != 0;
}
