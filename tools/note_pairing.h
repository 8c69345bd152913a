// The tidy reading's note pairing for one song channel, as a player hears
// the file: a note-off ends the oldest sounding note of its key, the sustain
// pedal holds released notes, all-notes-off releases them and all-sound-off
// ends them, stray note-offs are dropped, and what is never released is
// released at the end of the file; then a new note of a sounding key cuts the
// old one where it starts. Repairs are reported once a channel, as warnings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "tools/author_common.h"
#include "tools/song_data.h"

// Names places in the MIDI file being read: its name, a byte, a track and tick.
struct ImportContext {
    const std::string& name;
    Warnings& warnings;

    std::string where(const EventOrigin& origin) const;
    std::string place(const EventOrigin& origin, uint64_t tick) const;
    [[noreturn]] void fail(const EventOrigin& origin, uint64_t tick, const std::string& what) const;
};

struct OpenNote {
    uint64_t start;
    uint8_t velocity;
    bool key_released;  // released by its key while the pedal holds it
    size_t on_sequence;
    EventOrigin origin;
};

struct PairedNote {
    uint64_t start;
    uint64_t end;
    uint8_t key;
    uint8_t velocity;
    size_t on_sequence;
    size_t off_sequence;  // the event that ended it; ties broken by off_order
    size_t off_order;
    EventOrigin origin;
    EventOrigin off_origin;
};

// Counts of one kind of repair, reported once per channel with the first place.
struct NoteRepair {
    size_t count = 0;
    EventOrigin origin;
    uint64_t tick = 0;
    int key = 0;
};

struct NotePairing {
    const ImportContext& context;
    int song_channel;
    bool sustain;       // the sustain pedal holds released notes
    uint64_t end_tick;  // where notes never released end
    bool pedal_down = false;
    std::deque<OpenNote> open[128]{};  // sounding notes by key, oldest first
    std::vector<PairedNote> notes{};
    size_t close_order = 1;
    NoteRepair stray{};
};

// Events of the MIDI channel in file order; sequence is the event's place in
// that order, origin where it stands in the file.
void note_pairing_on(NotePairing& pairing, uint64_t tick, const EventOrigin& origin, size_t sequence, int key,
                     uint8_t velocity);
void note_pairing_off(NotePairing& pairing, uint64_t tick, const EventOrigin& origin, size_t sequence, int key);
void note_pairing_controller(NotePairing& pairing, uint64_t tick, const EventOrigin& origin, size_t sequence,
                             int number, int value);
// Releases what is left, cuts overlaps and returns the note track: per tick
// the offs of notes that began earlier (in the order they were ended), then
// the new notes in file order, a zero-length note's off right after its on.
std::vector<NoteEvent> note_pairing_finish(NotePairing& pairing);
