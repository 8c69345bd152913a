// Patch bank layout and the modulation pass that turns a channel's patch into
// the float parameters of its voices and of the channel itself.
//
// Patch bank: an offset table of uint32 (little-endian) per program number,
// then the patches. A patch: 59 voice bytes, 25 channel bytes, polyphony,
// N, then N modulation entries of (source, amount, destination).
#pragma once

#include <cstdint>

struct SynthEngine;

constexpr int kPatchVoiceOffset = 0;
constexpr int kPatchChannelOffset = 59;
constexpr int kPatchPolyphonyOffset = 84;
constexpr int kPatchModCountOffset = 85;
constexpr int kPatchModOffset = 86;
constexpr int kPatchHeaderBytes = 86;  // a patch is 86 + 3 N bytes
constexpr int kModEntryBytes = 3;

// Modulation sources.
constexpr int kModSourceVelocity = 0;
constexpr int kModSourceController1 = 1;  // 1..7
constexpr int kModSourceEnvelope1 = 8;
constexpr int kModSourceEnvelope2 = 9;
constexpr int kModSourceLfo1 = 10;
constexpr int kModSourceLfo2 = 11;
constexpr int kModSourceKey = 12;  // 12 and above: (note - 48) * 2

// Destinations 0..58 voice parameters, 59..83 channel parameters, 84+ none.
constexpr int kModDestChannelFirst = 59;
constexpr int kModDestLast = 83;

// The patch that channel c's current program selects.
const uint8_t* patch_of_channel(const SynthEngine& engine, int c);
// Rebuilds voice v's 59 parameters through the matrix and converts them.
void voice_update_params(SynthEngine& engine, int v);
// Rebuilds channel c's 25 parameters through the matrix and converts them.
void channel_update_params(SynthEngine& engine, int c);
