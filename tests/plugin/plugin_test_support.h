// Shared pieces of the plugin tests and benchmark: a scratch directory, the
// command-line tool's renders and event listings, a MIDI file's events at
// the frames its compiled song plays them, and state holding a song.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/plugin/lv2_host.h"

namespace plugin_test {

namespace fs = std::filesystem;

constexpr uint32_t kSeed = 5;
constexpr double kRate = 44100.0;

fs::path source_dir();
// A fresh directory, removed with the object.
struct ScratchDir {
    fs::path path;
    ScratchDir();
    ~ScratchDir();
};

// Runs cantilena-tool with the arguments; returns its exit status.
int run_tool(const std::string& arguments);
// cantilena-tool render [IMAGE] --seed kSeed --format float --seconds S, read back.
std::vector<float> tool_render(const std::string& image, double seconds, const fs::path& scratch);
// The streams `cantilena-tool events` lists, as MIDI messages at their frames.
std::vector<TimedMidi> tool_events(const std::string& image, const fs::path& scratch);
// The messages of an engine stream (running status, end byte 0xFD) at a frame.
void append_stream_messages(std::vector<TimedMidi>& events, uint64_t frame, const uint8_t* stream);
// The channel messages of a MIDI file in the order compile reads them (by
// tick, tracks in file order), at the frames where the song compiled from
// it (image) plays their ticks.
std::vector<TimedMidi> midi_file_events(const fs::path& midi_file, const fs::path& image);

// State that chooses a song.
SavedState song_state(const std::string& path);

// "" when equal, else the first differing frame and its values.
std::string first_difference(const std::vector<float>& expected, const std::vector<float>& actual);

}  // namespace plugin_test
