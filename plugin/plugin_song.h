// What the plugin plays: the sounds of a song (patch bank for programs 0..127,
// global block, speech texts) as an image without events, loaded into the
// tables the engine reads, and the routes that turn live MIDI into the song's
// channels. Built off the audio thread and never changed afterwards, so the
// audio thread can read it while another is made.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sequencer/song.h"
#include "tools/author_common.h"
#include "tools/file_stamp.h"
#include "tools/midi_import.h"

struct PluginSong {
    std::string path;  // SONG.yaml; empty for the embedded song
    std::vector<uint8_t> image;
    SongTables tables;  // points into image
    std::array<ChannelRoute, kSongChannels> routes;
    PluginSong* next_retired = nullptr;  // the audio thread's list of songs it no longer reads
};

// The outcome of reading a SONG.yaml: the song, or the error (file, line,
// what is wrong); either way the files it read, to watch for changes.
struct SongAttempt {
    std::unique_ptr<PluginSong> song;
    std::string error;
    Warnings warnings;
    std::vector<FileStamp> files;
};

// The embedded song's sounds with plain routing: MIDI channel n feeds song
// channel n - 1, controllers 1..7 as they are, no transpose.
std::unique_ptr<PluginSong> plugin_song_embedded();
// Reads SONG.yaml and its patch files (the MIDI file it names is not needed).
SongAttempt plugin_song_load(const std::string& song_yaml);
