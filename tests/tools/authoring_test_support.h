// Shared pieces of the authoring tests: MIDI files built byte by byte (so
// that the reader is tested against files it did not write), sources held
// in memory, error and warning texts, and a dry run of the scheduler that
// lists what a compiled image plays and when.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tools/author_common.h"

namespace authoring_test {

// One event of a track: its absolute tick and its bytes as they stand in the
// file (status included or left out for running status).
struct TimedBytes {
    uint64_t tick;
    std::vector<uint8_t> bytes;
};

// An "MTrk" chunk; events must be in tick order. The end-of-track event is
// added at the last event's tick unless end_of_track is false.
std::vector<uint8_t> track_chunk(const std::vector<TimedBytes>& events, bool end_of_track = true);
std::vector<uint8_t> track_chunk_raw(const std::vector<uint8_t>& body);
std::vector<uint8_t> midi_bytes(uint16_t format, uint16_t division, const std::vector<std::vector<uint8_t>>& tracks);

std::vector<uint8_t> tempo_bytes(uint32_t us_per_quarter);
// A meta event of a short text (a lyric is type 5, a text event type 1).
std::vector<uint8_t> meta_text_bytes(uint8_t type, const std::string& text);
std::vector<uint8_t> time_signature_bytes(uint8_t numerator, uint8_t log2_denominator);

struct MemoryFiles {
    std::map<std::string, std::vector<uint8_t>> files;
    void add(const std::string& name, const std::string& text) { files[name].assign(text.begin(), text.end()); }
    void add(const std::string& name, const std::vector<uint8_t>& bytes) { files[name] = bytes; }
    FileReader reader() const;
};

// The message of the AuthorError that action throws, or "no error".
template <typename Action>
std::string error_of(Action&& action)
{
    try {
        action();
    } catch (const AuthorError& e) {
        return e.what();
    }
    return "no error";
}

// Every warning, one line each.
std::string joined(const Warnings& warnings);

// What the scheduler hands to the engine, one message at a time.
struct PlayedMessage {
    uint32_t tick;
    uint32_t frame;  // frames since the start of the song
    uint8_t status;
    uint8_t data1;
    uint8_t data2;
};

// Plays an image through the transport without an engine and decodes every
// stream (running status included).
std::vector<PlayedMessage> play_dry(const std::vector<uint8_t>& image);

// A small patch file in YAML that sounds.
std::string simple_patch_yaml();

}  // namespace authoring_test
