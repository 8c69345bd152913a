// A song appended to a program: the player built without a song of its own,
// then a song image packed (sequencer/song_pack.h), then a trailer that closes
// the file and says what lies before it (words little-endian):
//
//   title     64 bytes  printable UTF-8 text, zero-filled (at most 63 bytes)
//   size       4        the packed image's size in bytes; it ends where the trailer begins
//   end        4        frames from the start at which playback ends
//   image      4        the image's size in bytes once unpacked
//   checksum   4        CRC-32 of the packed image and of the trailer's bytes before this word
//   mark      16        "Cantilena song 2"
//
// The player finds where its own bytes end from its ELF headers; anything
// after them must be exactly a packed image and its trailer. `strip` drops
// the appended bytes, leaving the player without a song.
//
// Everything appended is untrusted: song_appended_check tests the trailer,
// unpacks the image, then validates it exactly as an image file is validated.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sequencer/song.h"

constexpr size_t kTrailerTitleBytes = 64;
constexpr size_t kTrailerSizeAt = kTrailerTitleBytes;
constexpr size_t kTrailerEndAt = kTrailerSizeAt + 4;
constexpr size_t kTrailerImageSizeAt = kTrailerEndAt + 4;
constexpr size_t kTrailerChecksumAt = kTrailerImageSizeAt + 4;
constexpr size_t kTrailerMarkAt = kTrailerChecksumAt + 4;
constexpr size_t kTrailerMarkBytes = 16;
constexpr size_t kTrailerBytes = kTrailerMarkAt + kTrailerMarkBytes;
extern const char kTrailerMark[kTrailerMarkBytes + 1];
// Larger images, packed or unpacked, are refused before anything is read.
constexpr size_t kMaxAppendedImageBytes = size_t{64} << 20;
// A program's ELF file header and program headers must lie within its first
// this many bytes.
constexpr size_t kProgramHeadBytes = 4096;

struct AppendedSong {
    uint8_t* image;  // unpacked, from malloc: song_appended_release frees it
    uint32_t image_size;
    uint32_t end_frames;
    char title[kTrailerTitleBytes];  // zero-terminated
};

// CRC-32 (the polynomial of zip and PNG) of size bytes, continuing from crc
// (0 to start).
uint32_t song_checksum(const uint8_t* bytes, size_t size, uint32_t crc = 0);

// True when title (length bytes) may stand in a trailer: at most 63 bytes
// of well-formed UTF-8 without control characters.
bool song_title_valid(const char* title, size_t length);

// The most bytes song_appended_write writes for an image of image_size bytes.
size_t song_appended_bound(size_t image_size);

// Writes what export appends to a program for an image: the image packed,
// then its trailer. The title must be valid. Returns the count written to out
// (song_appended_bound(image_size) bytes).
size_t song_appended_write(uint8_t* out, const uint8_t* image, uint32_t image_size, const char* title,
                           size_t title_length, uint32_t end_frames);

// Where a 64-bit little-endian ELF program's own bytes end: past its headers,
// its program headers, its segments and its section headers. head holds the
// file's first bytes (kProgramHeadBytes or the whole file if shorter).
// Returns false when head is not such a program's start.
bool program_extent(const uint8_t* head, size_t head_size, uint64_t& extent);

// Checks the bytes after a program's extent: a packed image and its trailer,
// the image valid once unpacked. Returns true and fills song (its image is
// allocated), or false and fills error: its message says what is wrong, its
// offset counts from the first appended byte, or within the unpacked image
// when the image fails validation.
bool song_appended_check(const uint8_t* appended, size_t size, AppendedSong& song, SongError& error);

// Frees the image of a song song_appended_check accepted.
void song_appended_release(AppendedSong& song);
