// The real sound device: a PortAudio output stream in callback mode,
// 44100 Hz 16-bit stereo, on the default output device. Its callback copies
// from the ring at the play cursor and advances it; it never blocks and takes
// no lock.
#pragma once

#include <atomic>
#include <cstdint>

#include "audio/sound_device.h"

// The device's own buffer. 50 ms underran through PulseAudio's ALSA plugin on
// a busy two-core machine, and PortAudio then stalls for about 2 s while it
// recovers; 100 ms did not underrun there. 200 ms halves the device's
// callbacks again (PortAudio takes a quarter of it a call), and with them
// the CPU that PortAudio and the sound server's client library spend, from
// 0.5% of a core to 0.23%. The 65536-byte ring in front of it is what rides
// out a late worker; this only has to cover the device callback's own
// scheduling delays.
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
