// Live MIDI for the engine, tidied the way compile tidies a file: each
// message is routed to the song channels its MIDI channel feeds (transposed,
// controllers mapped), note-offs pair with the oldest sounding note of their
// key, a new note of a sounding key ends the old one, the sustain pedal holds
// released notes, stray note-offs are dropped. The messages of one frame are
// gathered and handed to the engine together in the order the transport
// uses for the events of one tick: per round, channel by channel, a program
// change, controllers 1..7 and a pitch bend; in the first round also every
// note, the releases before the new notes. Fixed capacities, no allocation.
#pragma once

#include <cstdint>

#include "sequencer/scheduler.h"
#include "tools/midi_import.h"

struct SynthEngine;

constexpr int kLiveKeys = 128;
constexpr int kLiveNotesPerKey = 8;      // open notes of one key (held by the pedal or cut short)
constexpr int kLiveValuesPerFrame = 32;  // program changes, each controller's values, pitch bends
constexpr int kLiveOnsPerFrame = 128;    // new notes of one channel at one frame; more are dropped

struct LiveNote {
    uint8_t key_released;  // its key went up while the pedal held it
    uint8_t ended;         // the engine has had its release (cut short by a new note of its key)
    int16_t on_index;      // its note-on in this frame's list; -1 when it began earlier
};

struct LiveKey {
    int32_t count;
    LiveNote notes[kLiveNotesPerKey];  // oldest first
};

struct LiveOn {
    uint8_t key;
    uint8_t velocity;
    uint8_t zero_length;  // ended at the frame it began: its release follows it
};

struct LiveChannel {
    ChannelRoute route;
    bool pedal_down;
    LiveKey keys[kLiveKeys];
    // The frame being gathered.
    int32_t program_count;
    uint8_t programs[kLiveValuesPerFrame];
    int32_t controller_count[kSongControllers];
    uint8_t controllers[kSongControllers][kLiveValuesPerFrame];
    int32_t bend_count;
    uint8_t bends[kLiveValuesPerFrame][2];
    int32_t release_count;
    uint8_t releases[kLiveKeys];  // keys of notes that began earlier (one sounds per key)
    int32_t on_count;
    LiveOn ons[kLiveOnsPerFrame];
};

struct LiveMidi {
    LiveChannel channels[kSongChannels];
    bool pending;  // something gathered for the frame
    uint8_t stream[kStreamBufferBytes];
};

// Nothing sounding, nothing gathered, the pedal up; routes kept.
void live_midi_reset(LiveMidi& live);
// Takes a song's routes. The notes of a channel whose MIDI channel or
// transpose changes are released (in the frame being gathered), since the
// releases of its keys would no longer reach them; a channel whose route
// gives it another program gets that program.
void live_midi_set_routes(LiveMidi& live, const ChannelRoute* routes);
// Queues the program change that a route gives its channel at the start.
void live_midi_route_programs(LiveMidi& live);
// Gathers one MIDI message (status byte first). Messages the song does not
// use, unknown and malformed ones are ignored.
void live_midi_message(LiveMidi& live, const uint8_t* message, uint32_t size);
// Hands what was gathered to the engine and starts a new frame.
void live_midi_flush(LiveMidi& live, SynthEngine& engine);
