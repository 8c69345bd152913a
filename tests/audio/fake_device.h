// A sound device for tests: nothing plays by itself; the test moves the
// play cursor (taking the frames it passes, as a device would), sets the
// reported latency, loses the stream, makes reopening fail, and can make the
// device's calls hang as a frozen sound server does.
#pragma once

#include <atomic>
#include <cstdint>

#include "audio/sound_device.h"

struct FakeDevice {
    AudioRing* ring;
    bool open;
    bool lost;
    uint32_t opens;  // successful opens
    uint32_t failed_opens;
    uint32_t closes;
    uint32_t failures_left;  // the next this many opens fail
    std::atomic<bool> hang;  // open and close wait while this is set
    std::atomic<const char*> step;
};

SoundDevice fake_device(FakeDevice& device);
// Plays bytes (a multiple of 4) from the play cursor: copies them to heard,
// if given (count / 2 samples), and advances the cursor, wrapping.
void fake_device_play(FakeDevice& device, uint32_t bytes, int16_t* heard = nullptr);
void fake_device_set_latency(FakeDevice& device, uint32_t bytes);
// The stream fails: playing() reports 0 until the device is reopened.
void fake_device_lose(FakeDevice& device);
