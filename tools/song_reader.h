// Reads song images back into plain event lists (absolute ticks, absolute
// running values) and takes the patch bank and the speech block apart.
// Every read is checked against the image's length.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/song_data.h"

// Throws AuthorError naming the byte offset when the image is cut short or
// a block size is out of range.
SongData song_read_image(const uint8_t* image, size_t size, const std::string& name);

struct PatchBankContents {
    std::vector<uint32_t> program_offsets;      // one per program 0..P-1
    std::vector<uint32_t> patch_offsets;        // every distinct patch offset, ascending
    std::vector<std::vector<uint8_t>> patches;  // the bytes of each of those patches
};

// Throws AuthorError when an offset or a patch lies outside the bank.
PatchBankContents song_read_patch_bank(const std::vector<uint8_t>& bank, const std::string& where);

// The texts of a speech block (each up to its zero byte).
std::vector<std::string> song_read_speech_texts(const std::vector<uint8_t>& block, const std::string& where);
