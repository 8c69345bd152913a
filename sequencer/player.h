// The transport: initialise, start, stop, position, and the render callback
// that cuts every requested block into slices ending exactly at the frames
// where events are due. It runs the same offline (no output) and with a sound
// output behind the small PlayerOutput interface.
#pragma once

#include <cstdint>

#include "sequencer/scheduler.h"

struct SynthEngine;

// The render callback an output calls with the frames it needs; always 0.
using RenderCallback = int32_t (*)(void* context, float* frames, uint32_t count);

// What the transport needs from a sound output.
struct PlayerOutput {
    void* context;
    // Starts the output; it calls callback(callback_context, ...) from then
    // on. False when it could not start.
    bool (*open)(void* context, RenderCallback callback, void* callback_context);
    void (*close)(void* context);
    void (*wake)(void* context);
    void (*set_gain)(void* context, float gain);
    // Stream bytes heard so far (16-bit stereo, 4 bytes a frame).
    int32_t (*played_bytes)(void* context);
    // The output lock, held by the output around every callback.
    void (*lock)(void* context);
    void (*unlock)(void* context);
};

constexpr uint32_t kOutputBytesPerSecond = 176400;
constexpr float kPcmFullScale = 32768.0f;  // the 16-bit scale at gain 1
constexpr int32_t kPcmClamp = 32600;       // not 32767: the output stays a little below full scale

// One float sample to 16 bits, as the player's output and the file writers
// store it: the nearest integer of sample x scale, clamped to +-kPcmClamp;
// NaN or a product outside the 32-bit range gives -kPcmClamp.
int16_t pcm16_from_float(float sample, float scale = kPcmFullScale);

struct Player {
    SequencerState seq;
    const PlayerOutput* output;  // null offline
    bool song_loaded;            // false: the image did not load; the player stays silent
};

// Loads the image, resets the sequencer and engine, opens the output (if any)
// muted. True when the song loaded and the output opened.
bool player_init(Player& player, SynthEngine& engine, const uint8_t* image, const PlayerOutput* output);
// Offline and without an engine: the transport only schedules, streams go to
// the observer alone and player_render leaves the frame buffer untouched
// (inspection tools: event listings, song length). True when the song loaded.
bool player_init_dry(Player& player, const uint8_t* image);
// Restarts the song from its beginning; returns the start byte position.
uint32_t player_start(Player& player);
void player_stop(Player& player);
void player_close(Player& player);
void player_wake(Player& player);
// Milliseconds heard since player_start (negative until the first frame is heard).
int32_t player_position_ms(Player& player);
// The render callback: context is the Player.
int32_t player_render(void* context, float* frames, uint32_t count);
