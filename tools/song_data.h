// A song image as plain lists: absolute ticks and absolute values for every
// track, and the three blocks (global parameters, patch bank, speech texts)
// as bytes. The writer turns it into an image, the reader turns an image
// back into it. Each event may remember where it came from (a MIDI track
// and byte offset) so that errors can name it.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "sequencer/song_format.h"

constexpr int kSongChannels = kChannelCount;
constexpr int kSongControllers = kControllerTracks;  // controllers 1..7

struct EventOrigin {
    int32_t track = -1;   // MIDI track, -1 when unknown
    uint64_t offset = 0;  // byte offset in the MIDI file
};

struct GlobalEvent {
    uint32_t tick;
    uint32_t tempo;  // microseconds per quarter note
    uint8_t numerator;
    uint8_t denominator;  // the note value itself (4 = quarter)
    uint8_t subdivision;
    EventOrigin origin;
};

struct NoteEvent {
    uint32_t tick;
    uint8_t note;
    uint8_t velocity;  // 0 = note off
    EventOrigin origin;
};

struct ValueEvent {
    uint32_t tick;
    uint8_t value;
    EventOrigin origin;
};

struct BendEvent {
    uint32_t tick;
    uint8_t first;   // least significant seven bits, as in MIDI
    uint8_t second;  // most significant seven bits
    EventOrigin origin;
};

struct ChannelEvents {
    std::vector<NoteEvent> notes;  // a channel without notes is absent from the image
    std::vector<ValueEvent> programs;
    std::vector<BendEvent> bends;
    std::array<std::vector<ValueEvent>, kSongControllers> controllers;
};

struct SongData {
    uint32_t ticks_per_quarter = 480;
    uint32_t end_tick = 0;
    std::vector<GlobalEvent> globals;
    std::array<ChannelEvents, kSongChannels> channels;
    std::vector<uint8_t> global_block;
    std::vector<uint8_t> patch_bank;
    uint32_t speech_size_word = 0;      // the block size word as stored (0: no block)
    std::vector<uint8_t> speech_block;  // the block's bytes when present
};

// The tick of the last event over all tracks (0 for a song without events).
uint32_t song_last_event_tick(const SongData& song);
