#include "tests/plugin/plugin_test_support.h"

#include <lv2/atom/atom.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "plugin/plugin_uris.h"
#include "sequencer/scheduler.h"
#include "tools/author_common.h"
#include "tools/midi_file.h"
#include "tools/song_reader.h"

namespace plugin_test {

namespace {

constexpr uint64_t kSamplesPerSecondOver10000 = 441;  // tempo word x 441 = samples per quarter x 10000
constexpr uint64_t kTickDivisorScale = 10000;

fs::path binary_dir()
{
    const char* binary = std::getenv("CANTILENA_BINARY_DIR");
    return binary != nullptr ? fs::path(binary) : fs::current_path();
}

// Data bytes of a channel message by its status.
size_t data_bytes(uint8_t status)
{
    const uint8_t kind = status & 0xF0;
    return kind == kMidiProgram || kind == kMidiChannelPressure ? 1 : 2;
}

}  // namespace

fs::path source_dir()
{
    const char* source = std::getenv("CANTILENA_SOURCE_DIR");
    return source != nullptr ? fs::path(source) : fs::current_path();
}

ScratchDir::ScratchDir()
{
    path = fs::temp_directory_path() /
           ("cantilena-plugin-" + std::to_string(getpid()) + "-" + std::to_string(std::rand()));
    fs::create_directories(path);
}

ScratchDir::~ScratchDir()
{
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

int run_tool(const std::string& arguments)
{
    const std::string command = (binary_dir() / "tools" / "cantilena-tool").string() + " " + arguments;
    return std::system(command.c_str());
}

std::vector<float> tool_render(const std::string& image, double seconds, const fs::path& scratch)
{
    const fs::path wav = scratch / "render.wav";
    const std::string arguments = image + " -o " + wav.string() + " --seed " + std::to_string(kSeed) +
                                  " --format float --seconds " + std::to_string(seconds);
    if (run_tool("render " + arguments) != 0) return {};
    SF_INFO info{};
    SNDFILE* file = sf_open(wav.c_str(), SFM_READ, &info);
    if (file == nullptr) return {};
    std::vector<float> frames(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
    sf_readf_float(file, frames.data(), info.frames);
    sf_close(file);
    return frames;
}

std::vector<TimedMidi> tool_events(const std::string& image, const fs::path& scratch)
{
    const fs::path listing = scratch / "events.txt";
    if (run_tool("events " + image + " > " + listing.string()) != 0) return {};
    std::ifstream in(listing);
    std::vector<TimedMidi> events;
    std::string line;
    // "tick T frame F: C0 00 C1 01 FD"; running status inside a stream.
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string word;
        uint64_t frame = 0;
        words >> word >> word >> word >> frame >> word;
        std::vector<uint8_t> stream;
        while (words >> word) stream.push_back(static_cast<uint8_t>(std::stoul(word, nullptr, 16)));
        stream.push_back(kStreamEnd);
        append_stream_messages(events, frame, stream.data());
    }
    return events;
}

void append_stream_messages(std::vector<TimedMidi>& events, uint64_t frame, const uint8_t* stream)
{
    uint8_t status = 0;
    std::vector<uint8_t> message;
    for (; *stream != kStreamEnd; ++stream) {
        if (*stream >= 0x80) {
            status = *stream;
            continue;
        }
        if (message.empty()) message.push_back(status);
        message.push_back(*stream);
        if (message.size() == 1 + data_bytes(status)) {
            events.push_back({frame, message});
            message.clear();
        }
    }
}

std::vector<TimedMidi> midi_file_events(const fs::path& midi_file, const fs::path& image)
{
    Warnings warnings;
    const std::vector<uint8_t> midi_bytes = file_read_all(midi_file.string());
    const MidiFile midi = midi_read(midi_bytes.data(), midi_bytes.size(), midi_file.string(), warnings);
    const std::vector<uint8_t> image_bytes = file_read_all(image.string());
    const SongData song = song_read_image(image_bytes.data(), image_bytes.size(), image.string());

    // The transport carries every division remainder, so a tick's frame is
    // the whole of (ticks x tempo summed over the tempo map) / (Q x 10000).
    const auto frame_of = [&](uint64_t tick) {
        uint64_t product = 0;
        uint64_t at = 0;
        uint64_t tempo = static_cast<uint64_t>(kDefaultTempo);
        for (const GlobalEvent& global : song.globals) {
            if (global.tick >= tick) break;
            product += (global.tick - at) * tempo;
            at = global.tick;
            tempo = global.tempo * kSamplesPerSecondOver10000;
        }
        product += (tick - at) * tempo;
        return product / (static_cast<uint64_t>(song.ticks_per_quarter) * kTickDivisorScale);
    };

    struct Placed {
        uint64_t tick;
        TimedMidi event;
    };
    std::vector<Placed> placed;
    for (const MidiTrack& track : midi.tracks) {
        for (const MidiEvent& event : track.events) {
            if (event.status >= kMidiSysex) continue;
            std::vector<uint8_t> bytes{event.status, event.data[0]};
            if (data_bytes(event.status) == 2) bytes.push_back(event.data[1]);
            placed.push_back({event.tick, {frame_of(event.tick), bytes}});
        }
    }
    std::stable_sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) { return a.tick < b.tick; });
    std::vector<TimedMidi> events;
    for (Placed& p : placed) events.push_back(std::move(p.event));
    return events;
}

SavedState song_state(const std::string& path)
{
    SavedValue value{LV2_ATOM__Path, std::vector<uint8_t>(path.begin(), path.end())};
    value.bytes.push_back(0);
    return {{kSongParameterUri, value}};
}

std::string first_difference(const std::vector<float>& expected, const std::vector<float>& actual)
{
    if (expected.size() != actual.size())
        return "lengths differ: " + std::to_string(expected.size() / 2) + " and " + std::to_string(actual.size() / 2) +
               " frames";
    for (size_t i = 0; i < expected.size(); ++i) {
        if (std::memcmp(&expected[i], &actual[i], sizeof(float)) != 0) {
            char text[160];
            std::snprintf(text, sizeof text, "frame %zu (%s): expected %.9g, got %.9g", i / 2, i % 2 ? "right" : "left",
                          static_cast<double>(expected[i]), static_cast<double>(actual[i]));
            return text;
        }
    }
    return "";
}

}  // namespace plugin_test
