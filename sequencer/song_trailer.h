// A song appended to a program: the player built without a song of its own,
// then a song image, then a trailer that closes the file and says what lies
// before it (words little-endian):
//
//   title     64 bytes  printable UTF-8 text, zero-filled (at most 63 bytes)
//   size       4        the image's size in bytes; the image ends where the trailer begins
//   end        4        frames from the start at which playback ends
//   checksum   4        CRC-32 of the image and of the trailer's bytes before this word
//   mark      16        "Cantilena song 1"
//
// The player finds where its own bytes end from its ELF headers; anything
// after them must be exactly an image and its trailer. `strip` drops the
// appended bytes, leaving the player without a song.
//
// Everything appended is untrusted: song_appended_check tests the trailer,
// then validates the image exactly as an image file is validated.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sequencer/song.h"

constexpr size_t kTrailerTitleBytes = 64;
constexpr size_t kTrailerSizeAt = kTrailerTitleBytes;
constexpr size_t kTrailerEndAt = kTrailerSizeAt + 4;
constexpr size_t kTrailerChecksumAt = kTrailerEndAt + 4;
constexpr size_t kTrailerMarkAt = kTrailerChecksumAt + 4;
constexpr size_t kTrailerMarkBytes = 16;
constexpr size_t kTrailerBytes = kTrailerMarkAt + kTrailerMarkBytes;
extern const char kTrailerMark[kTrailerMarkBytes + 1];
// Larger images are refused before anything is read.
constexpr size_t kMaxAppendedImageBytes = size_t{64} << 20;
// A program's ELF file header and program headers must lie within its first
// this many bytes.
constexpr size_t kProgramHeadBytes = 4096;

struct AppendedSong {
    const uint8_t* image;  // points into the appended bytes
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

// Writes the kTrailerBytes trailer for an image; the title must be valid.
void song_trailer_write(uint8_t* trailer, const uint8_t* image, uint32_t image_size, const char* title,
                        size_t title_length, uint32_t end_frames);

// Where a 64-bit little-endian ELF program's own bytes end: past its headers,
// its program headers, its segments and its section headers. head holds the
// file's first bytes (kProgramHeadBytes or the whole file if shorter).
// Returns false when head is not such a program's start.
bool program_extent(const uint8_t* head, size_t head_size, uint64_t& extent);

// Checks the bytes after a program's extent: an image and its trailer, the
// image valid. Returns true and fills song, or false and fills error (its
// message says what is wrong, its offset counts from the first appended byte).
bool song_appended_check(const uint8_t* appended, size_t size, AppendedSong& song, SongError& error);
