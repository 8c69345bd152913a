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
// Bit i set where p[i] and last[i] differ in any bit (8 <= count <= 64); last then
// holds p's values. A set-up reruns a unit only where its slice changed.
uint64_t params_take_changes(const float* p, float* last, int count);
// Whether any of the count parameters from first is among the changes.
inline bool params_changed(uint64_t changes, int first, int count)
{
    return ((changes >> first) & ((uint64_t{1} << count) - 1u)) != 0;
}
