#include "app/playback.h"

#include <pthread.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <initializer_list>

#include "app/chatter.h"
#include "app/main_loop.h"

namespace {

void mask_stop_signals(int how)
{
    sigset_t set;
    sigemptyset(&set);
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP}) sigaddset(&set, signal_number);
    pthread_sigmask(how, &set, nullptr);
}

}  // namespace

void playback_begin(Playback& playback, const char* program, AudioOutput& output, PortAudioDevice& device)
{
    playback.program = program;
    playback.output = &output;
    playback.device = portaudio_device(device);
    playback.binding = AudioBinding{&output, &playback.device};
    playback.player_output = audio_player_output(playback.binding);
    chatter_silence();
    keyboard_catch_signals();
    keyboard_open(playback.keyboard, 0);
}

void playback_block_signals()
{
    mask_stop_signals(SIG_BLOCK);
}

void playback_unblock_signals()
{
    mask_stop_signals(SIG_UNBLOCK);
}

int64_t playback_clock_ms()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

DeviceOpen playback_wait_device(Playback& playback, const char* hint)
{
    const int64_t start = playback_clock_ms();
    for (;;) {
        const DeviceStatus status = audio_wait_device(*playback.output, kDeviceOpenPollMs);
        if (status == DeviceStatus::playing) return DeviceOpen::ready;
        if (status == DeviceStatus::failed) {
            char error[kAudioErrorBytes];
            audio_device_error(*playback.output, error, sizeof error);
            chatter_report("%s: no sound output (%s)%s\n", playback.program, error, hint);
            return DeviceOpen::failed;
        }
        if (keyboard_escape_state(playback.keyboard) < 0) return DeviceOpen::stopped;
        if (playback_clock_ms() - start >= kDeviceOpenWaitMs) {
            const char* step = audio_device_step(*playback.output);
            chatter_report("%s: no sound output (%s did not finish within %d s)%s\n", playback.program,
                           step != nullptr ? step : "opening the sound device", kDeviceOpenWaitMs / 1000, hint);
            return DeviceOpen::failed;
        }
    }
}

void playback_report_lost(Playback& playback)
{
    char error[kAudioErrorBytes];
    audio_device_error(*playback.output, error, sizeof error);
    if (error[0] != '\0') {
        chatter_report("%s: sound output lost: reopening it failed: %s\n", playback.program, error);
        return;
    }
    const char* step = audio_device_step(*playback.output);
    chatter_report("%s: sound output lost: the device has taken no sound for %d s%s%s%s\n", playback.program,
                   static_cast<int>(kDeviceGiveUpMs / 1000), step != nullptr ? " (still " : "",
                   step != nullptr ? step : "", step != nullptr ? ")" : "");
}

int playback_end(Playback& playback, int status)
{
    const bool released = audio_close(*playback.output, kCloseWaitMs);
    keyboard_close(playback.keyboard);
    std::fflush(stdout);
    if (!released) std::_Exit(status);
    chatter_restore();
    return status;
}
