// The sound device behind the streaming output. The output keeps the looping
// 16-bit stereo stream buffer (the ring) itself; a device only plays it: it
// copies frames from the play cursor and moves the cursor on. Two devices
// exist: PortAudio (portaudio_device.h) and, for the tests, a fake one
// (tests/audio/fake_device.h) whose cursor the test moves by hand.
#pragma once

#include <semaphore.h>

#include <atomic>
#include <cstdint>

constexpr uint32_t kRingBytes = 65536;  // about 371.5 ms of 44100 Hz 16-bit stereo
constexpr uint32_t kRingFrames = kRingBytes / 4;
constexpr uint32_t kRingByteMask = kRingBytes - 1;
constexpr uint32_t kDeviceSampleRate = 44100;

struct AudioRing {
    // One 16-bit stereo frame a word: left in the low half, right in the
    // high half. Word-sized atomics, so the device may read a stretch that a
    // late worker is still writing without undefined behaviour (it hears a
    // glitch, as a looping hardware buffer would).
    std::atomic<uint32_t> frames[kRingFrames];
    // Byte offset (a multiple of 4) of the next frame the device takes;
    // written by the device only, with release order after its reads.
    std::atomic<uint32_t> play_cursor;
    // Bytes the device has taken but not yet played out, as of its last
    // callback; subtracted from the stream position to report what is heard.
    std::atomic<uint32_t> latency_bytes;
    // Frames taken since the ring was reset (wrapping): while it moves, the
    // device is alive.
    std::atomic<uint32_t> frames_taken;
    // Posted every time the device takes frames: the refill worker waits on
    // it. A semaphore post neither locks nor waits.
    sem_t taken;
};

// Device side: copies count frames from the play cursor into out
// (interleaved left, right), advances the cursor, wrapping at the end, and
// posts the taken semaphore. Never blocks and takes no lock.
void ring_play(AudioRing& ring, int16_t* out, uint32_t count);

// Clears the ring to silence and puts the cursor at 0 (the semaphore is the
// output's to create and destroy).
void ring_reset(AudioRing& ring);

// A device's calls may take any time (a sound server that is frozen or does
// not answer holds them up): only the output's worker makes them, never
// while it holds the output lock.
struct SoundDevice {
    void* context;
    // Starts a stream that plays the ring from its current play cursor.
    // False when no stream could be started.
    bool (*open)(void* context, AudioRing* ring);
    // Stops and releases the stream, if any.
    void (*close)(void* context);
    // True while the stream plays; false once it has failed or its device went away.
    bool (*playing)(void* context);
    // Why the last open failed, in words ("" when it did not).
    const char* (*error)(void* context);
    // What a call in progress is doing ("opening the default sound output
    // device"), or null between calls; any thread may ask, to say what hangs.
    const char* (*step)(void* context);
};
