// The voice's text and its notes: lyrics a MIDI file carries made into the
// sung text, and the check that every note of the voice has a syllable.
#pragma once

#include <string>
#include <vector>

#include "tools/author_common.h"
#include "tools/midi_file.h"
#include "tools/song_data.h"
#include "tools/song_yaml.h"

// MIDI channel 16, which song channel 15 (the voice) plays unless SONG.yaml
// routes it otherwise; counted from 0.
constexpr int kVoiceMidiChannel = 15;

// The lyric events at the note-ons of MIDI channel 16 (in any track), one
// syllable a note, as one sung text; "" when the file has none there. A
// lyric between those notes is reported and left out; a note without a lyric
// holds the syllable before it (before the first lyric it is silent). Events
// ending in "-" continue a word (as sequencers write them), or, in files
// without such hyphens, events not parted by a space or a karaoke line mark
// ("/", "\"). A word's syllables take its events' notes; where the dictionary
// counts other syllables than events, a syllable a note, the last held over
// the notes left or, when notes run out, the syllables left sung after it.
// Throws AuthorError naming the event of a word the dictionary lacks.
std::string song_lyrics_from_midi(const MidiFile& file, const std::string& name, Warnings& warnings);

// Fits the texts SONG.yaml gives as sung words to their notes: where the
// first stretch of notes that sings a text (see below) is not as long as its
// syllables, the pronunciations that make it so are taken, where a choice
// does ("every" as ev-ery or ev-er-y).
void song_fit_lyrics(const SongData& song, SongDescription& desc);

// Warns where the voice's notes and its texts' syllables do not pair up: per
// stretch of song channel 15 between two text selections (controller 4),
// notes beyond the text's syllables, or syllables no note reaches. A text
// sung a whole number of times over is fine.
void song_check_sung_notes(const SongData& song, const std::vector<std::string>& texts, const std::string& where,
                           Warnings& warnings);
