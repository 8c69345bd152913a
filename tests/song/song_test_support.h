// Shared pieces of the song's tests: the embedded image, renders through the
// player exactly as it plays (offline, fixed seed, 16-bit output), copies of
// the image that keep a single channel, and level measurements.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/song_data.h"

struct SynthEngine;

namespace song_test {

constexpr double kFrameRate = 44100.0;
constexpr uint32_t kSeed = 1;

std::vector<uint8_t> embedded_image();

// Interleaved stereo 16-bit samples, converted as the sound output converts.
struct Render {
    std::vector<int16_t> samples;
    size_t frames() const { return samples.size() / 2; }
};

// Called with every stream just before the engine applies it.
using StreamWatch = std::function<void(uint32_t tick, const uint8_t* stream, size_t length, const SynthEngine& engine)>;
// Called after every engine block (128 frames) with the frames rendered so far.
using BlockWatch = std::function<void(const SynthEngine& engine, uint64_t frames)>;

Render render_song(const std::vector<uint8_t>& image, double seconds, const StreamWatch& on_stream = {},
                   const BlockWatch& on_block = {});

// The image with every channel but one removed.
std::vector<uint8_t> image_with_channel(const std::vector<uint8_t>& image, int channel);

// Seconds from the start of the song to a tick, through the tempo map.
double tick_seconds(const SongData& song, uint32_t tick);

struct NoteSpan {
    double start;  // seconds
    double end;
    int key;
};
// The channel's notes from their note-on to their note-off.
std::vector<NoteSpan> note_spans(const SongData& song, int channel);

// Levels in dB relative to full scale (32768), over [from, to) seconds.
double rms_dbfs(const Render& render, double from, double to);
// The larger of the two sides' mean values.
double dc_dbfs(const Render& render);
// Share of samples at the clamp (+-32600).
double clamp_share(const Render& render);
// Longest run of consecutive windows whose RMS lies below threshold_dbfs,
// within [from, to) seconds; in seconds.
double longest_quiet(const Render& render, double from, double to, double window, double threshold_dbfs);

}  // namespace song_test
