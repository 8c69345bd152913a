#include "audio/portaudio_device.h"

#include <portaudio.h>

#include <cmath>
#include <cstdio>
#include <ctime>

#include "audio/audio_output.h"

static_assert(kDeviceCallFrames * 4 < kStaleCursorBytes, "a device call would leave the play position stale");

namespace {

int64_t monotonic_ms()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

constexpr int kChannels = 2;

int stream_callback(const void*, void* output, unsigned long frames, const PaStreamCallbackTimeInfo* time,
                    PaStreamCallbackFlags, void* user)
{
    auto* device = static_cast<PortAudioDevice*>(user);
    AudioRing& ring = *device->ring;
    const uint32_t count = static_cast<uint32_t>(frames);
    // What is heard now lags the cursor by this buffer plus everything queued
    // before it (from now until the buffer's first frame reaches the DAC).
    uint32_t queued_bytes = device->fallback_latency_bytes;
    if (time != nullptr) {
        const double ahead = time->outputBufferDacTime - time->currentTime;
        if (ahead > 0.0 && ahead < 2.0) {
            queued_bytes = static_cast<uint32_t>(std::lrint(ahead * kDeviceSampleRate)) * 4;
        }
    }
    ring.latency_bytes.store(queued_bytes + count * 4, std::memory_order_relaxed);
    ring_play(ring, static_cast<int16_t*>(output), count);
    device->callbacks.fetch_add(1, std::memory_order_relaxed);
    return paContinue;
}

void stream_finished(void* user)
{
    static_cast<PortAudioDevice*>(user)->finished.store(1, std::memory_order_relaxed);
}

void set_error(PortAudioDevice& device, const char* what, PaError error)
{
    const char* text = Pa_GetErrorText(error);
    if (error == paUnanticipatedHostError) {
        const PaHostErrorInfo* host = Pa_GetLastHostErrorInfo();
        if (host != nullptr && host->errorText != nullptr && host->errorText[0] != '\0') text = host->errorText;
    }
    std::snprintf(device.error, sizeof device.error, "%s: %s", what, text);
}

// Names the call in progress for the time it takes.
class Step {
public:
    Step(PortAudioDevice& device, const char* what) : device_(device) { device_.step.store(what); }
    ~Step() { device_.step.store(nullptr); }
    Step(const Step&) = delete;
    Step& operator=(const Step&) = delete;

private:
    PortAudioDevice& device_;
};

void device_close(void* context)
{
    auto& device = *static_cast<PortAudioDevice*>(context);
    if (device.stream != nullptr) {
        Step step(device, "stopping the sound output stream");
        Pa_AbortStream(device.stream);
        Pa_CloseStream(device.stream);
        device.stream = nullptr;
    }
    if (device.initialised) {
        Step step(device, "closing PortAudio");
        Pa_Terminate();
        device.initialised = false;
    }
}

bool fail(PortAudioDevice& device)
{
    device_close(&device);
    device.ever_failed = true;
    device.failed_at_ms = monotonic_ms();
    return false;
}

bool device_open(void* context, AudioRing* ring)
{
    auto& device = *static_cast<PortAudioDevice*>(context);
    device_close(&device);
    if (device.ever_failed && monotonic_ms() - device.failed_at_ms < kReopenPauseMs) return false;
    device.ring = ring;
    device.error[0] = '\0';
    device.callbacks.store(0, std::memory_order_relaxed);
    device.finished.store(0, std::memory_order_relaxed);

    // Initialised afresh on every open: after the device went away, the
    // default device may be a different one.
    PaError result;
    {
        Step step(device, "initialising PortAudio (it asks every sound device and server)");
        result = Pa_Initialize();
    }
    if (result != paNoError) {
        set_error(device, "cannot initialise PortAudio", result);
        return fail(device);
    }
    device.initialised = true;
    PaStreamParameters parameters{};
    parameters.device = Pa_GetDefaultOutputDevice();
    if (parameters.device == paNoDevice) {
        std::snprintf(device.error, sizeof device.error, "no default sound output device");
        return fail(device);
    }
    parameters.channelCount = kChannels;
    parameters.sampleFormat = paInt16;
    parameters.suggestedLatency = kSuggestedLatencySeconds;
    parameters.hostApiSpecificStreamInfo = nullptr;
    PaStream* stream = nullptr;
    {
        Step step(device, "opening the default sound output device");
        result = Pa_OpenStream(&stream, nullptr, &parameters, kDeviceSampleRate, kDeviceCallFrames,
                               paClipOff | paDitherOff, stream_callback, &device);
    }
    if (result != paNoError || stream == nullptr) {
        set_error(device, "cannot open the default sound output device", result);
        return fail(device);
    }
    device.stream = stream;

    const PaStreamInfo* info = Pa_GetStreamInfo(stream);
    device.fallback_latency_bytes = info != nullptr && info->outputLatency > 0.0 && info->outputLatency < 2.0
                                        ? static_cast<uint32_t>(std::lrint(info->outputLatency * kDeviceSampleRate)) * 4
                                        : 0;
    ring->latency_bytes.store(device.fallback_latency_bytes, std::memory_order_relaxed);
    // PortAudio's thread keeps the normal priority, as the refill worker
    // does: the callback only copies from the ring, a device buffer ahead of
    // what is heard. At real-time priority its wake-ups and the sound server
    // client's cost a third as much again (0.23% of a core for the two, against
    // 0.17%), and at normal priority the stream plays without a gap beside
    // eight busy threads on two cores.
    Pa_SetStreamFinishedCallback(stream, stream_finished);
    device.seen_callbacks = 0;
    device.seen_at_ms = monotonic_ms();
    {
        Step step(device, "starting the sound output stream");
        result = Pa_StartStream(stream);
    }
    if (result != paNoError) {
        set_error(device, "cannot start the sound output stream", result);
        return fail(device);
    }
    return true;
}

bool device_playing(void* context)
{
    auto& device = *static_cast<PortAudioDevice*>(context);
    if (device.stream == nullptr) return false;
    if (device.finished.load(std::memory_order_relaxed) != 0) return false;
    if (Pa_IsStreamActive(device.stream) != 1) return false;
    const uint32_t callbacks = device.callbacks.load(std::memory_order_relaxed);
    const int64_t now = monotonic_ms();
    if (callbacks != device.seen_callbacks) {
        device.seen_callbacks = callbacks;
        device.seen_at_ms = now;
        return true;
    }
    return now - device.seen_at_ms < kStalledStreamMs ? 1 : 0;
}

const char* device_error(void* context)
{
    return static_cast<PortAudioDevice*>(context)->error;
}

const char* device_step(void* context)
{
    return static_cast<PortAudioDevice*>(context)->step.load();
}

}  // namespace

SoundDevice portaudio_device(PortAudioDevice& device)
{
    device.stream = nullptr;
    device.ring = nullptr;
    device.initialised = false;
    device.ever_failed = false;
    device.callbacks.store(0, std::memory_order_relaxed);
    device.finished.store(0, std::memory_order_relaxed);
    device.seen_callbacks = 0;
    device.fallback_latency_bytes = 0;
    device.error[0] = '\0';
    device.step.store(nullptr);
    return SoundDevice{&device, device_open, device_close, device_playing, device_error, device_step};
}
