// Builds song images: the header, the global track, the channel sections
// with their tracks stored column by column and delta coded (24-bit time
// deltas, 8-bit value deltas), the global block, the patch bank and the
// speech text block.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/song_data.h"

// Throws AuthorError when a track is out of tick order, a gap needs more than
// 24 bits, a tick is past the last usable one, or a channel has events but no
// notes (the format cannot hold such a channel).
std::vector<uint8_t> song_write_image(const SongData& song);

// An offset table with one entry per program 0..P-1 (P = program_patch.size()),
// then the patches back to back in the order given. program_patch[p] is the
// index of program p's patch, or -1 for a program without one, which gets the
// first patch's offset so that every entry points at a patch.
std::vector<uint8_t> song_build_patch_bank(const std::vector<std::vector<uint8_t>>& patches,
                                           const std::vector<int>& program_patch);

// Text count, one offset per text, the zero-terminated texts in order.
std::vector<uint8_t> song_build_speech_block(const std::vector<std::string>& texts);

void song_append_word(std::vector<uint8_t>& out, uint32_t value);
