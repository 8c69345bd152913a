// The modulation pass that turns a channel's patch into the float parameters
// of its voices and of the channel itself.
//
// Patch bank: an offset table of uint32 (little-endian) per program number,
// then the patches, laid out as synth/param_layout.h describes.
#pragma once

#include <cstdint>

#include "synth/param_layout.h"

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
// Of the parameters in candidates (bit i for p[i]), those whose bits differ
// from last; last then holds their values. A set-up reruns a unit only where
// its slice changed.
uint64_t params_take_changes(const float* p, float* last, uint64_t candidates);
// Whether any of the count parameters from first is among the changes.
inline bool params_changed(uint64_t changes, int first, int count)
{
    return ((changes >> first) & ((uint64_t{1} << count) - 1u)) != 0;
}
