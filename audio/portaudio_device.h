// The real sound device: a PortAudio output stream in callback mode,
// 44100 Hz 16-bit stereo, on the default output device. Its callback copies
// from the ring at the play cursor and advances it; it never blocks and takes
// no lock.
#pragma once

#include <atomic>
#include <cstdint>

#include "audio/sound_device.h"

// The device's own buffer and the frames it takes from the ring a call. 50 ms
// underran through PulseAudio's ALSA plugin on a busy two-core machine, and
// PortAudio then stalls for about 2 s while it recovers; 100 ms did not
// underrun there. The buffer must stay well below the ring: at the start,
// and after a stall, the device takes a whole buffer at once, and a worker
// that is not back before the cursor comes round leaves a stretch unwritten
// (400 ms lost the song's first notes on a busy machine). Calls of a fixed
// 2048 frames (46 ms) wake PortAudio's thread and the sound server client's
// thread about half as often as the 2205 that PortAudio picks for 200 ms by
// itself: 0.21% of a core for the two instead of 0.48%.
constexpr uint32_t kDeviceCallFrames = 2048;
constexpr double kSuggestedLatencySeconds = 0.200;
// A stream whose callback has not run for this long is treated as lost.
constexpr int32_t kStalledStreamMs = 2000;
// After a failed open, further attempts fail at once for this long, so a
// worker that keeps finding the device gone does not rescan it every pass.
constexpr int32_t kReopenPauseMs = 500;

struct PortAudioDevice {
    void* stream;  // PaStream
    AudioRing* ring;
    bool initialised;  // Pa_Initialize succeeded and is not yet undone
    bool ever_failed;
    std::atomic<uint32_t> callbacks;
    std::atomic<uint32_t> finished;  // the stream stopped by itself
    uint32_t seen_callbacks;
    int64_t seen_at_ms;  // on the monotonic clock
    int64_t failed_at_ms;
    uint32_t fallback_latency_bytes;  // the stream's own latency estimate
    char error[256];                  // why the last open failed
    std::atomic<const char*> step;    // the PortAudio call in progress, in words
};

// Library chatter (ALSA's probing and underrun lines, PortAudio's assertion
// lines) goes to standard error: callers that have a terminal to keep clean
// point standard error elsewhere while the device is in use.
SoundDevice portaudio_device(PortAudioDevice& device);
