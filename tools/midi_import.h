// Turns a standard MIDI file into the tracks of a song: the tempo and
// time-signature map, and per song channel its notes, program changes,
// pitch bends and the MIDI controllers mapped to controllers 1..7.
//
// Two ways of reading the notes:
// - tidy (the default), as a player hears the file: note-offs are paired with
//   the oldest sounding note of their key (so an off and an on of one key at
//   one tick end the old note and start the new one), a new note of a
//   sounding key ends the old one there, the sustain pedal holds released
//   notes, all-notes-off releases them, stray note-offs are dropped and notes
//   never released are released at the end of the file (with warnings). At
//   each tick a channel's note-offs come first, then its note-ons in file
//   order, a zero-length note's off right after its on. Tempo and
//   time-signature events at one tick make one global event, and the tempo
//   map always opens with one at tick 0: the transport plays the first due
//   tick at once, so without it a lead-in of silence would be lost.
// - as written: every note-on and note-off, tempo and time-signature event is
//   taken exactly as it stands, in file order (decompile writes such files).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "tools/author_common.h"
#include "tools/midi_file.h"
#include "tools/song_data.h"

struct ChannelRoute {
    int midi_channel = -1;  // 0..15 feeds this song channel; -1 nothing does
    int transpose = 0;      // semitones added to every key
    int program = -1;       // a program change at tick 0 before the file's own events; -1 none
    std::array<int, kSongControllers> controller_source{};  // MIDI controller feeding controllers 1..7, -1 none
    bool sustain = true;  // the sustain pedal holds released notes (tidy reading only)
};

struct ImportOptions {
    std::array<ChannelRoute, kSongChannels> channels;
    bool as_written = false;
    uint32_t ticks_per_quarter = 0;  // 0: the file's division; otherwise Q, with the file's ticks unchanged
};

// Song channel c fed by MIDI channel c (numbered 1..16 by musicians as c + 1),
// MIDI controllers 1..7 feeding controllers 1..7, no transpose.
ImportOptions midi_import_default_options();

// Fills ticks_per_quarter, end_tick, globals and channels of a SongData.
// Throws AuthorError naming the file, byte offset, track and tick.
SongData midi_import(const MidiFile& file, const ImportOptions& options, const std::string& name, Warnings& warnings);
