// The streaming output: a worker thread keeps the 65536-byte looping stream
// buffer (the ring) filled. Whenever the device has taken frames (it posts
// the ring's semaphore), or after kWorkerTimeoutMs on its own, it refills
// the stretch the play cursor has passed since the last fill: it asks the
// render callback for exactly that many frames, converts them to clamped
// 16-bit samples and writes them in. What is written at an offset is heard when the
// cursor comes round again, one buffer (about 371.5 ms) later. The output
// also counts the stream bytes heard, for the play position.
//
// The worker alone calls the device, which may hang (a frozen sound server),
// and never while it holds the output lock: whoever asks for the position or
// takes the lock waits at most for one render, never for the device.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>

#include "audio/sound_device.h"
#include "sequencer/player.h"

constexpr uint32_t kFillAlignBytes = 32;       // fills are whole 8-frame steps
constexpr uint32_t kMixFrames = 16384;         // enough for the largest fill, 65504 bytes
constexpr uint32_t kStaleCursorBytes = 16384;  // a cursor this far past the write offset is not believed
// The device's calls wake the worker; waking by itself only notices a stream
// that stopped or stalled, or retries the open of a lost one.
constexpr int32_t kWorkerTimeoutMs = 250;
constexpr int32_t kWaitForever = -1;
constexpr size_t kAudioErrorBytes = 256;

// Holds a mutex for a scope (the output's lock, for one).
struct MutexHold {
    pthread_mutex_t& mutex;
    explicit MutexHold(pthread_mutex_t& held) : mutex(held) { pthread_mutex_lock(&mutex); }
    ~MutexHold() { pthread_mutex_unlock(&mutex); }
    MutexHold(const MutexHold&) = delete;
    MutexHold& operator=(const MutexHold&) = delete;
};

// Whether audio_open starts the worker thread, or the caller runs the fills
// itself with audio_fill (tests step the output by hand this way).
enum class AudioWorker { thread, manual };

// The device as the worker last left it: opening until its first open
// returned, then playing (it may since have been lost and reopened) or
// failed (the first open failed; the worker has ended).
enum class DeviceStatus : int32_t { opening, playing, failed };

struct AudioOutput {
    AudioRing ring;
    const SoundDevice* device;
    int32_t device_open;  // the worker's own view
    RenderCallback callback;
    void* callback_context;
    std::atomic<float> scale;            // gain * 32768
    std::atomic<uint32_t> stop_request;  // the worker ends when non-zero
    // POSIX threads rather than the C++ library's: the player links no C++
    // runtime and raises no exceptions.
    pthread_t worker;
    bool worker_joinable;  // worker runs and has been neither joined nor left to itself
    bool semaphore_ready;  // ring.taken exists
    bool abandoned;        // a close gave up waiting for the worker
    // What the other threads may learn of the device, under status_mutex.
    pthread_mutex_t status_mutex = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t status_changed = PTHREAD_COND_INITIALIZER;  // waited on with the monotonic clock
    DeviceStatus status;
    bool worker_done;              // the worker has released the device and returns
    char error[kAudioErrorBytes];  // why the device last failed to open ("" after a good open)
    // The regions of the ring a fill writes: the second one only when the
    // fill wraps past the end.
    std::atomic<uint32_t>* region1;
    uint32_t region1_bytes;
    std::atomic<uint32_t>* region2;
    uint32_t region2_bytes;
    uint32_t worker_play_cursor;
    uint32_t write_offset;  // where the next fill starts, a multiple of 32
    // Held by the worker for a whole fill, render callback included.
    pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
    uint32_t query_play_cursor;
    int32_t bytes_written;  // starts at -65536
    int32_t last_reported;  // starts at -65536
    float mix[kMixFrames * 2];
};

// Prepares the output and opens the device. With AudioWorker::manual the
// device opens at once: true when it did, false (everything undone) when
// not. With AudioWorker::thread the worker opens it, so that a device that
// hangs holds up no one else: true once the worker runs (then
// audio_wait_device tells how the open went), false when no thread could start.
bool audio_open(AudioOutput& output, const SoundDevice& device, RenderCallback callback, void* callback_context,
                AudioWorker worker = AudioWorker::thread);
// Waits up to ms (kWaitForever: as long as it takes) while the device is
// still opening; returns the status then.
DeviceStatus audio_wait_device(AudioOutput& output, int32_t ms);
// The device's last failure in words into text (at most bytes with the
// terminator); "" when there is none.
void audio_device_error(AudioOutput& output, char* text, size_t bytes);
// What the device is busy with right now (for a message), or null.
const char* audio_device_step(const AudioOutput& output);
// Frames the device has taken so far (wrapping): it is alive while this moves.
uint32_t audio_frames_taken(const AudioOutput& output);
// Ends the worker and releases the device, waiting up to wait_ms
// (kWaitForever: however long it takes). True when everything was released;
// false when the worker is stuck in a device call: it is left running and
// the output must not be touched again (the process should end at once,
// without running destructors). Safe to call twice.
bool audio_close(AudioOutput& output, int32_t wait_ms = kWaitForever);
void audio_wake(AudioOutput& output);
void audio_set_gain(AudioOutput& output, float gain);
// Stream bytes heard so far: negative for the first buffer's worth.
int32_t audio_played_bytes(AudioOutput& output);
// One pass of the worker: makes sure the device plays (reopening it after a
// loss), then refills what the play cursor has passed.
void audio_fill(AudioOutput& output);

// The pairing a player's output needs; it must outlive the PlayerOutput.
struct AudioBinding {
    AudioOutput* output;
    const SoundDevice* device;
};
PlayerOutput audio_player_output(AudioBinding& binding);
