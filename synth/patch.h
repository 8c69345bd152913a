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
