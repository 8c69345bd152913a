// What the player and `cantilena-tool play` share around the sound output:
// the keyboard and the stop signals, library chatter kept off the terminal,
// a device open that gives up after 5 s saying what hung, and an end that
// waits on the device at most kCloseWaitMs whatever the device does.
#pragma once

#include <cstdint>

#include "app/keyboard.h"
#include "audio/audio_output.h"
#include "audio/portaudio_device.h"

constexpr int32_t kDeviceOpenWaitMs = 5000;
constexpr int32_t kDeviceOpenPollMs = 20;  // how often Esc is tested while the device opens
constexpr int32_t kCloseWaitMs = 30;       // a stream closes in about 2 ms when the device answers

struct Playback {
    const char* program;  // the start of every message: "cantilena", "cantilena-tool play"
    Keyboard keyboard;
    AudioOutput* output;
    SoundDevice device;
    AudioBinding binding;
    PlayerOutput player_output;  // for player_init
};

enum class DeviceOpen { ready, failed, stopped };

// Silences library chatter, catches the stop signals and takes the keyboard
// (so that Esc works while the device opens).
void playback_begin(Playback& playback, const char* program, AudioOutput& output, PortAudioDevice& device);
// The stop signals wait while the output's threads are made, so that they
// inherit a mask with them blocked and only the main thread takes them.
void playback_block_signals();
void playback_unblock_signals();
// Waits for the output's worker to open the device: ready; failed (said in
// one line ending in hint, after 5 s at most); or stopped by Esc or a signal.
DeviceOpen playback_wait_device(Playback& playback, const char* hint);
// A monotonic clock in milliseconds.
int64_t playback_clock_ms();
// Says in one line why the sound output was given up.
void playback_report_lost(Playback& playback);
// Closes the output, puts the terminal and standard error back and returns
// status; when the device holds the worker fast, ends the process at once
// with status instead (nothing it uses may be released under it).
int playback_end(Playback& playback, int status);
