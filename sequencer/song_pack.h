// A song image packed for appending to a program: runs of literal bytes and
// back-references, which a player undoes in a few hundred bytes of code.
// Song images repeat themselves (patch banks, event columns), so the
// embedded song packs to about a tenth of its size.
//
// The packed bytes are a sequence of runs, each:
//   token      1 byte   high nibble: literal count, low nibble: match length - kPackMinMatch
//   [count]    when a nibble is 15: more bytes added to it, each 255 meaning another follows
//   literals   that many bytes, copied as they are
//   offset     2 bytes  little-endian, 1..65535: how far back the match starts
//                       (absent, and the match with it, when the packed bytes end after the literals)
// A match may overlap the bytes it produces (offset 1 repeats one byte).
#pragma once

#include <cstddef>
#include <cstdint>

#include "sequencer/song.h"

constexpr size_t kPackMinMatch = 4;
constexpr size_t kPackWindow = 65535;  // the farthest a match reaches back, in bytes

// The most bytes song_pack writes for an image of size bytes.
constexpr size_t song_pack_bound(size_t size)
{
    return size + size / 255 + 16;
}

// Packs size bytes into out (song_pack_bound(size) bytes); returns how many it wrote.
size_t song_pack(const uint8_t* image, size_t size, uint8_t* out);

// Unpacks untrusted packed bytes into image, which must come out exactly
// image_size bytes long. Returns false and fills error (the offset counts
// from the first packed byte) when the bytes are not such a packing.
bool song_unpack(const uint8_t* packed, size_t packed_size, uint8_t* image, size_t image_size, SongError& error);
