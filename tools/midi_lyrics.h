// The lyrics a MIDI file carries, with where each syllable stands.
//
// Sequencers write lyrics as lyric meta events, one syllable each at the
// time it is sung. Older karaoke files write them as text events instead and
// mark themselves with a text event that starts "@K"; their other "@" texts
// are headers (title, language, information), not lyrics. So: the lyric
// events when the file has any, otherwise the text events of a karaoke file;
// the text events of other files are comments and credits.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/midi_file.h"

struct MidiLyric {
    uint64_t tick;     // absolute
    int track;         // index of the track in the file
    uint64_t offset;   // byte offset of the event in the file
    std::string text;  // as stored: 8-bit text, with the file's own hyphens, spaces and line marks
};

// Every lyric of the file, in tick order (events of one tick in track order,
// then file order). Empty events are left out.
std::vector<MidiLyric> midi_lyrics(const MidiFile& file);

// The file carries lyrics (what midi_lyrics would return is not empty).
bool midi_has_lyrics(const MidiFile& file);
