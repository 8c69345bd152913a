// SONG.yaml, the readable description of a song: the MIDI file, the patch of
// each program (files read with patch_yaml), the global effects, the speech
// texts and the channel options; read with yaml-cpp and written back by
// decompile. Every error names the file, line and column.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/author_common.h"
#include "tools/general_midi.h"
#include "tools/lyrics.h"
#include "tools/midi_import.h"

struct ProgramPatch {
    int program;        // 0..127
    int patch;          // index into SongDescription::patches
    std::string where;  // "SONG.yaml:12:3", for messages
};

// A speech text written in SONG.yaml as words: {lyrics: "..."} (sung) or
// {spoken: "..."}.
struct SpeechWords {
    size_t text;  // its number in the speech list
    std::string words;
    LyricsStyle style;
    LyricsSource source;
};

struct SongDescription {
    std::string path;           // the SONG.yaml file
    std::string title;          // "" when SONG.yaml gives none; not part of the image
    std::string midi_file;      // resolved against SONG.yaml's directory
    std::string midi_where;     // where the MIDI file is named
    ImportOptions import;       // routing, controllers, transposes, reading
    bool has_end_tick = false;  // otherwise the tick of the last event
    uint32_t end_tick = 0;
    std::vector<uint8_t> global_block;          // kGlobalParamCount bytes
    std::vector<std::vector<uint8_t>> patches;  // distinct patches, in order of first mention
    std::vector<ProgramPatch> programs;         // in the order written
    bool has_speech = false;                    // a "speech:" list, even an empty one, makes a text block
    std::vector<std::string> texts;             // 8-bit texts
    std::string speech_where;
    std::vector<SpeechWords> speech_words;  // the texts written in words, for fitting them to their notes
    // patches: {bank: starter}: the starter bank plays every program SONG.yaml
    // maps no patch to, with the General MIDI rules (drums split by key, MIDI
    // channel 16 off the speech channel unless the song sings, volume times
    // expression) on the channels SONG.yaml leaves to them, and the bank's
    // song-wide effects unless globals: is given.
    bool starter_bank = false;
    GmRouting gm_routing;
};

// A MIDI file alone as a song: the starter bank and its rules on every channel.
SongDescription song_description_of_midi(const std::string& midi_file);

// Reads SONG.yaml and every patch file it names. Throws AuthorError.
SongDescription song_yaml_read(const std::string& path, const FileReader& read, Warnings& warnings);

// What decompile writes into SONG.yaml.
struct SongYamlOutput {
    std::string midi_file;
    bool as_written = false;
    uint32_t ticks_per_quarter = 0;  // 0: none written (the MIDI file's division holds Q)
    bool has_end_tick = false;
    uint32_t end_tick = 0;
    std::vector<uint8_t> global_block;
    std::vector<std::pair<int, std::string>> programs;  // program, patch file
    bool has_speech = false;
    std::vector<std::string> texts;
};

std::string song_yaml_write(const SongYamlOutput& song);
