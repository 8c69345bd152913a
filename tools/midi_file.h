// Standard MIDI files: a lenient but careful reader and a plain writer.
//
// The reader takes what real files hold: running status (also continued after
// a meta or sysex event), every meta and sysex form, unknown chunks, tracks
// whose length word is wrong at the end of the file, missing end-of-track
// events and trailing bytes. Whatever it skips or repairs it reports as a
// warning that names the byte offset; what it cannot read safely is an error
// with the byte offset. Nothing is dropped silently.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/author_common.h"

constexpr uint8_t kMidiNoteOff = 0x80;
constexpr uint8_t kMidiNoteOn = 0x90;
constexpr uint8_t kMidiKeyPressure = 0xA0;
constexpr uint8_t kMidiController = 0xB0;
constexpr uint8_t kMidiProgram = 0xC0;
constexpr uint8_t kMidiChannelPressure = 0xD0;
constexpr uint8_t kMidiPitchBend = 0xE0;
constexpr uint8_t kMidiSysex = 0xF0;
constexpr uint8_t kMidiSysexEscape = 0xF7;
constexpr uint8_t kMidiMeta = 0xFF;

constexpr uint8_t kMetaText = 0x01;
constexpr uint8_t kMetaTrackName = 0x03;
constexpr uint8_t kMetaLyric = 0x05;  // one syllable or word of the lyrics, at the time it is sung
constexpr uint8_t kMetaEndOfTrack = 0x2F;
constexpr uint8_t kMetaTempo = 0x51;          // 3 bytes: microseconds per quarter note
constexpr uint8_t kMetaTimeSignature = 0x58;  // 4 bytes: numerator, log2 denominator, clocks, 32nds

// The controllers that release notes.
constexpr int kSustainPedal = 64;
constexpr int kAllSoundOff = 120;
constexpr int kResetControllers = 121;
constexpr int kAllNotesOff = 123;  // 123..127 all release every held note

constexpr uint32_t kMidiMaxDelta = 0x0FFFFFFF;  // four bytes of variable-length quantity

struct MidiEvent {
    uint64_t tick;      // absolute, from the start of the track
    uint64_t offset;    // byte offset in the file of the status byte (or first data byte under running status)
    uint8_t status;     // 0x80..0xEF channel message, 0xF0 / 0xF7 sysex, 0xFF meta
    uint8_t meta_type;  // for meta events
    uint8_t data[2];    // channel message data bytes (0..127)
    std::vector<uint8_t> payload;  // meta and sysex contents

    uint8_t kind() const { return status & 0xF0; }
    int channel() const { return status & 0x0F; }
};

struct MidiTrack {
    uint64_t offset = 0;            // byte offset of the chunk header
    uint64_t end_tick = 0;          // tick of the end-of-track event (or of the last event without one)
    bool has_end = false;           // an end-of-track event was read
    std::vector<MidiEvent> events;  // without the end-of-track event
};

struct MidiFile {
    uint16_t format = 1;
    uint16_t division = 480;  // ticks per quarter, or SMPTE when bit 15 is set
    std::vector<MidiTrack> tracks;
};

bool midi_division_is_smpte(uint16_t division);

// Reads a whole file. name is used in messages. Throws AuthorError.
MidiFile midi_read(const uint8_t* bytes, size_t size, const std::string& name, Warnings& warnings);

// Writes the file: running status within runs of channel messages, status
// bytes again after every meta or sysex event, an end-of-track event at the
// later of end_tick and the last event, gaps longer than one delta time
// bridged with empty text events. Events must be in tick order.
std::vector<uint8_t> midi_write(const MidiFile& file);

MidiEvent midi_channel_event(uint64_t tick, uint8_t status, uint8_t data1, uint8_t data2 = 0);
MidiEvent midi_meta_event(uint64_t tick, uint8_t type, std::vector<uint8_t> payload);
MidiEvent midi_tempo_event(uint64_t tick, uint32_t us_per_quarter);
// denominator_log2: 2 for quarter notes.
MidiEvent midi_time_signature_event(uint64_t tick, uint8_t numerator, uint8_t denominator_log2, uint8_t subdivision);
