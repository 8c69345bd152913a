#include "audio/audio_output.h"

#include <chrono>
#include <system_error>

#include "synth/units/numeric.h"

namespace {

void audio_worker(AudioOutput* output)
{
    while (output->stop_request.load(std::memory_order_acquire) == 0) {
        {
            std::unique_lock<std::mutex> wait_lock(output->wake_mutex);
            output->wake_condition.wait_for(wait_lock, std::chrono::milliseconds(kWorkerTimeoutMs),
                                            [output] { return output->wake_signalled; });
            output->wake_signalled = false;  // auto-reset; a time-out counts as a wake-up
        }
        if (output->stop_request.load(std::memory_order_acquire) != 0) break;
        audio_fill(*output);
    }
}

uint32_t pack_frame(int16_t left, int16_t right)
{
    return static_cast<uint32_t>(static_cast<uint16_t>(left)) |
           (static_cast<uint32_t>(static_cast<uint16_t>(right)) << 16);
}

void convert_region(const float* samples, std::atomic<uint32_t>* region, uint32_t bytes, float scale)
{
    const uint32_t frames = bytes / 4;
    for (uint32_t i = 0; i < frames; ++i) {
        const int16_t left = convert_to_pcm16(samples[2 * i], scale);
        const int16_t right = convert_to_pcm16(samples[2 * i + 1], scale);
        region[i].store(pack_frame(left, right), std::memory_order_relaxed);
    }
}

// Makes sure the device is playing; a stream that failed or lost its device
// is closed and the default device reopened, resuming from the ring where
// the cursor stopped. Returns false when no device could be reopened; the
// next pass tries again.
bool audio_keep_playing(AudioOutput& output)
{
    const SoundDevice& device = *output.device;
    if (output.device_open != 0 && device.playing(device.context) != 0) return true;
    if (output.device_open != 0) {
        device.close(device.context);
        output.device_open = 0;
    }
    if (device.open(device.context, &output.ring) == 0) return false;
    output.device_open = 1;
    return true;
}

}  // namespace

int16_t convert_to_pcm16(float sample, float scale)
{
    int32_t value = nearest(sample * scale);
    if (value < -kPcmClamp) value = -kPcmClamp;
    if (value > kPcmClamp) value = kPcmClamp;
    return static_cast<int16_t>(value);
}

int32_t audio_open(AudioOutput& output, const SoundDevice& device, RenderCallback callback,
                   void* callback_context, AudioWorker worker)
{
    output.device = &device;
    output.device_open = 0;
    output.callback = callback;
    output.callback_context = callback_context;
    output.stop_request.store(0, std::memory_order_relaxed);
    output.region1 = nullptr;
    output.region1_bytes = 0;
    output.region2 = nullptr;
    output.region2_bytes = 0;
    output.worker_play_cursor = 0;
    output.write_offset = 0;
    output.wake_signalled = false;
    output.query_play_cursor = 0;
    output.bytes_written = -static_cast<int32_t>(kRingBytes);
    output.last_reported = -static_cast<int32_t>(kRingBytes);
    output.scale.store(kPcmFullScale, std::memory_order_relaxed);
    ring_reset(output.ring);

    if (device.open(device.context, &output.ring) == 0) {
        audio_close(output);
        return 0;
    }
    output.device_open = 1;
    if (worker == AudioWorker::thread) {
        try {
            output.worker = std::thread(audio_worker, &output);
        } catch (const std::system_error&) {
            audio_close(output);
            return 0;
        }
    }
    return -1;
}

void audio_close(AudioOutput& output)
{
    output.stop_request.store(1, std::memory_order_release);
    audio_wake(output);
    // The worker is joined however long it takes: releasing the device and
    // the ring while it may still be inside a fill would be unsafe.
    if (output.worker.joinable()) output.worker.join();
    if (output.device != nullptr && output.device_open != 0) {
        output.device->close(output.device->context);
        output.device_open = 0;
    }
}

void audio_wake(AudioOutput& output)
{
    {
        std::lock_guard<std::mutex> guard(output.wake_mutex);
        output.wake_signalled = true;
    }
    output.wake_condition.notify_one();
}

void audio_set_gain(AudioOutput& output, float gain)
{
    output.scale.store(gain * kPcmFullScale, std::memory_order_relaxed);
}

void audio_fill(AudioOutput& output)
{
    output.region1 = nullptr;
    output.region2 = nullptr;
    std::lock_guard<std::mutex> guard(output.lock);
    if (!audio_keep_playing(output)) return;

    const uint32_t cursor = output.ring.play_cursor.load(std::memory_order_acquire);
    output.worker_play_cursor = cursor;
    const uint32_t aligned = cursor & ~(kFillAlignBytes - 1);
    const uint32_t bytes = (aligned - output.write_offset) & kRingByteMask;
    if (bytes == 0) return;

    // Counted as written before the render: the byte at the new write
    // offset is the one being heard now.
    output.bytes_written = static_cast<int32_t>(static_cast<uint32_t>(output.bytes_written) + bytes);
    const uint32_t start = output.write_offset;
    output.write_offset = aligned;

    const uint32_t first_bytes = bytes < kRingBytes - start ? bytes : kRingBytes - start;
    output.region1 = &output.ring.frames[start / 4];
    output.region1_bytes = first_bytes;
    if (first_bytes < bytes) {
        output.region2 = &output.ring.frames[0];
        output.region2_bytes = bytes - first_bytes;
    }

    output.callback(output.callback_context, output.mix, bytes / 4);

    const float scale = output.scale.load(std::memory_order_relaxed);
    convert_region(output.mix, output.region1, output.region1_bytes, scale);
    if (output.region2 != nullptr) {
        convert_region(output.mix + output.region1_bytes / 2, output.region2, output.region2_bytes, scale);
    }
}

int32_t audio_played_bytes(AudioOutput& output)
{
    std::lock_guard<std::mutex> guard(output.lock);
    output.query_play_cursor = output.ring.play_cursor.load(std::memory_order_acquire);
    const uint32_t latency = output.ring.latency_bytes.load(std::memory_order_relaxed);
    const uint32_t distance = (output.query_play_cursor - output.write_offset) & kRingByteMask;
    int32_t position = output.last_reported;
    if (distance < kStaleCursorBytes) {
        position = static_cast<int32_t>(static_cast<uint32_t>(output.bytes_written) + distance - latency);
    }
    output.last_reported = position;
    return position;
}

namespace {

AudioOutput& bound_output(void* context)
{
    return *static_cast<AudioBinding*>(context)->output;
}

int32_t binding_open(void* context, RenderCallback callback, void* callback_context)
{
    auto* binding = static_cast<AudioBinding*>(context);
    return audio_open(*binding->output, *binding->device, callback, callback_context);
}

void binding_close(void* context) { audio_close(bound_output(context)); }
void binding_wake(void* context) { audio_wake(bound_output(context)); }
void binding_set_gain(void* context, float gain) { audio_set_gain(bound_output(context), gain); }
int32_t binding_played_bytes(void* context) { return audio_played_bytes(bound_output(context)); }
void binding_lock(void* context) { bound_output(context).lock.lock(); }
void binding_unlock(void* context) { bound_output(context).lock.unlock(); }

}  // namespace

PlayerOutput audio_player_output(AudioBinding& binding)
{
    return PlayerOutput{&binding,       binding_open,          binding_close, binding_wake,
                        binding_set_gain, binding_played_bytes, binding_lock,  binding_unlock};
}
