// Where a song ends for a listener. The player's own song plays to the
// player's fixed stop point. Any other song ends once its last event has
// passed and its sound has then stayed below -90 dBFS for a whole second,
// and at the latest 30 seconds after that event (a drone that never fades
// still ends). The end is found offline, by rendering the song.
#pragma once

#include <cstdint>

#include "synth/constants.h"

struct SynthEngine;

// The player's own song stops once this much has been heard.
constexpr uint32_t kPlayerStopSeconds = 198;
// -90 dBFS: 10^(-90/20) of full scale; a frame is quiet when both sides are below it.
constexpr float kSongEndQuietLevel = 3.16227766e-5f;
constexpr uint32_t kSongEndQuietFrames = kSampleRate;         // one second
constexpr uint32_t kSongEndMaxTailFrames = 30 * kSampleRate;  // after the last event
// The measurement renders with this fixed seed, so a song's end comes out
// the same every time.
constexpr uint32_t kSongEndSeed = 0;

struct SongLastEvent {
    uint32_t tick;   // 0 for a song without events
    uint64_t frame;  // frames from player_start to the last events handed to the engine
};

// The heard milliseconds at which playback that ends at end_frames stops
// (rounded up; at most INT32_MAX).
int32_t song_end_ms(uint64_t end_frames);
// The player's own song ends at its stop point.
constexpr int32_t kPlayerStopMs = kPlayerStopSeconds * 1000;

// Walks a validated image without rendering. Returns false when it does not load.
bool song_find_last_event(const uint8_t* image, SongLastEvent& last);

struct SongEnd {
    uint64_t last_event_frame;
    uint64_t end_frame;  // frames from player_start at which playback ends
};

// Told now and then how far a measurement has come: frames rendered, and
// the most it can render.
using SongEndProgress = void (*)(void* context, uint64_t done, uint64_t most);

// Renders a validated image from its start on engine (which it re-initialises)
// until the song's end, and leaves the engine's seed source as it found it.
// Returns false when the image does not load.
bool song_measure_end(const uint8_t* image, SynthEngine& engine, SongEnd& end, SongEndProgress progress = nullptr,
                      void* progress_context = nullptr);
