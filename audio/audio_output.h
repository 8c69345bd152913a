// The streaming output: a worker thread keeps the 65536-byte looping stream
// buffer (the ring) filled. Whenever it is woken, or after 21 ms on its own,
// it refills the stretch the play cursor has passed since the last fill:
// it asks the render callback for exactly that many frames, converts them to
// clamped 16-bit samples and writes them in. What is written at an offset is
// heard when the cursor comes round again, one buffer (about 371.5 ms) later.
// The output also counts the stream bytes heard, for the play position.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "audio/sound_device.h"
#include "sequencer/player.h"

constexpr uint32_t kFillAlignBytes = 32;            // fills are whole 8-frame steps
constexpr uint32_t kMixFrames = 16384;              // enough for the largest fill, 65504 bytes
constexpr uint32_t kStaleCursorBytes = 16384;       // a cursor this far past the write offset is not believed
constexpr int32_t kWorkerTimeoutMs = 21;            // the worker wakes by itself after this long
constexpr float kPcmFullScale = 32768.0f;
constexpr int32_t kPcmClamp = 32600;                // not 32767: the output stays a little below full scale

// Whether audio_open starts the worker thread, or the caller runs the fills
// itself with audio_fill (tests step the output by hand this way).
enum class AudioWorker { thread, manual };

struct AudioOutput {
    AudioRing ring;
    const SoundDevice* device;
    int32_t device_open;
    RenderCallback callback;
    void* callback_context;
    std::atomic<float> scale;              // gain * 32768
    std::atomic<uint32_t> stop_request;    // the worker ends when non-zero
    std::thread worker;
    // The regions of the ring a fill writes: the second one only when the
    // fill wraps past the end.
    std::atomic<uint32_t>* region1;
    uint32_t region1_bytes;
    std::atomic<uint32_t>* region2;
    uint32_t region2_bytes;
    uint32_t worker_play_cursor;
    uint32_t write_offset;                 // where the next fill starts, a multiple of 32
    // The wake event: auto-reset, one audio_wake releases at most one fill.
    std::mutex wake_mutex;
    std::condition_variable wake_condition;
    bool wake_signalled;
    // Held by the worker for a whole fill, render callback included.
    std::mutex lock;
    uint32_t query_play_cursor;
    int32_t bytes_written;                 // starts at -65536
    int32_t last_reported;                 // starts at -65536
    float mix[kMixFrames * 2];
};

// Starts the device and (with AudioWorker::thread) the worker, which renders
// from the first pass. Returns -1 on success; 0 on failure, with everything
// undone.
int32_t audio_open(AudioOutput& output, const SoundDevice& device, RenderCallback callback,
                   void* callback_context, AudioWorker worker = AudioWorker::thread);
// Ends the worker (waiting for it however long it takes) and the device.
void audio_close(AudioOutput& output);
void audio_wake(AudioOutput& output);
void audio_set_gain(AudioOutput& output, float gain);
// Stream bytes heard so far: negative for the first buffer's worth.
int32_t audio_played_bytes(AudioOutput& output);
// One pass of the worker: refills what the play cursor has passed.
void audio_fill(AudioOutput& output);

// One float sample to 16 bits: nearest integer of sample * scale, clamped
// to +-32600; NaN or a product outside the 32-bit range gives -32600.
int16_t convert_to_pcm16(float sample, float scale);

// The pairing a player's output needs; it must outlive the PlayerOutput.
struct AudioBinding {
    AudioOutput* output;
    const SoundDevice* device;
};
PlayerOutput audio_player_output(AudioBinding& binding);
