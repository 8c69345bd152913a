// The song image: one contiguous byte block holding the tracks (delta-coded,
// stored column by column), the global parameter block, the patch bank and
// the speech texts. song_load walks it once and fills SongTables with counts
// and pointers into it; nothing is copied.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sequencer/song_format.h"
#include "synth/constants.h"

struct TrackRef {
    uint32_t count;
    const uint8_t* data;  // first time column
};

struct ChannelTracks {
    TrackRef notes;                           // 5 bytes an event: time low, mid, high; note; velocity
    TrackRef programs;                        // 4: time; program
    TrackRef pitch_bends;                     // 5: time; first; second
    TrackRef controllers[kControllerTracks];  // 4: time; value (controllers 1..7)
};

struct SongTables {
    const uint8_t* patch_bank;
    const uint8_t* global_block;
    uint32_t ticks_per_quarter;  // Q
    uint32_t tick_divisor;       // Q x kTickDivisorScale
    uint32_t end_tick;
    const uint8_t* global_track;
    uint32_t global_count;  // G
    ChannelTracks channels[kChannelCount];
    const uint8_t* speech_block;
    const char* speech_texts[kSpeechTableSize];
};

// The text every speech slot holds when the song has no speech block.
extern const char kDefaultSpeechText[];

// Fills the tables from a trusted image. False when a block size is out of
// range (the tables then hold what was read before it).
bool song_load(const uint8_t* image, SongTables& tables);

// The number of programs in a patch bank of size bytes. The offset table has
// no count of its own: it runs from the bank's start up to the smallest patch
// offset it holds, so P = smallest offset / 4 (rounded down), the offsets
// being read from the start until the table's end is reached.
uint32_t song_bank_program_count(const uint8_t* bank, size_t size);

struct SongError {
    size_t offset;      // byte offset in the image where the fault was found
    char message[192];  // what is wrong, in words
};

// Checks an untrusted image of size bytes completely: counts against the
// length, block sizes, Q, tempos, patch offsets, programs the song selects,
// modulation entries and speech texts. Returns true when song_load and the
// player may use it; otherwise fills error.
bool song_validate(const uint8_t* image, size_t size, SongError& error);
