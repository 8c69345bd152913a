#include "audio/audio_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "synth/units/numeric.h"

namespace {

constexpr long kNanosecondsPerMs = 1000000L;
constexpr long kNanosecondsPerSecond = 1000000000L;

timespec monotonic_after(int32_t ms)
{
    timespec at{};
    clock_gettime(CLOCK_MONOTONIC, &at);
    at.tv_nsec += static_cast<long>(ms) * kNanosecondsPerMs;
    at.tv_sec += at.tv_nsec / kNanosecondsPerSecond;
    at.tv_nsec %= kNanosecondsPerSecond;
    return at;
}

bool device_settled(const AudioOutput& output)
{
    return output.status != DeviceStatus::opening;
}

bool worker_finished(const AudioOutput& output)
{
    return output.worker_done;
}

// With status_mutex held: waits for status_changed until done holds or ms
// have passed (kWaitForever: no limit). Returns whether done holds.
bool wait_for_status(AudioOutput& output, bool (*done)(const AudioOutput&), int32_t ms)
{
    const timespec until = monotonic_after(ms < 0 ? 0 : ms);
    while (!done(output)) {
        const int result =
            ms < 0 ? pthread_cond_wait(&output.status_changed, &output.status_mutex)
                   : pthread_cond_clockwait(&output.status_changed, &output.status_mutex, CLOCK_MONOTONIC, &until);
        if (result == ETIMEDOUT) return done(output);
    }
    return true;
}

// Waits for the device to take frames (or a wake-up), at most the worker's
// time-out; posts that came meanwhile count as one.
void wait_for_frames_taken(AudioOutput& output)
{
    const timespec until = monotonic_after(kWorkerTimeoutMs);
    while (sem_clockwait(&output.ring.taken, CLOCK_MONOTONIC, &until) != 0 && errno == EINTR) {
    }
    while (sem_trywait(&output.ring.taken) == 0) {
    }
}

void set_status(AudioOutput& output, DeviceStatus status)
{
    {
        MutexHold hold(output.status_mutex);
        output.status = status;
    }
    pthread_cond_broadcast(&output.status_changed);
}

void note_device_error(AudioOutput& output)
{
    const SoundDevice& device = *output.device;
    MutexHold hold(output.status_mutex);
    std::snprintf(output.error, sizeof output.error, "%s", device.error(device.context));
}

bool open_device(AudioOutput& output)
{
    const SoundDevice& device = *output.device;
    const bool opened = device.open(device.context, &output.ring);
    note_device_error(output);
    output.device_open = opened ? 1 : 0;
    return opened;
}

void release_device(AudioOutput& output)
{
    if (output.device_open == 0) return;
    output.device->close(output.device->context);
    output.device_open = 0;
}

void* audio_worker(void* context)
{
    auto* output = static_cast<AudioOutput*>(context);
    const bool opened = open_device(*output);
    set_status(*output, opened ? DeviceStatus::playing : DeviceStatus::failed);
    while (opened && output->stop_request.load(std::memory_order_acquire) == 0) {
        wait_for_frames_taken(*output);
        if (output->stop_request.load(std::memory_order_acquire) != 0) break;
        audio_fill(*output);
    }
    release_device(*output);
    {
        MutexHold hold(output->status_mutex);
        output->worker_done = true;
    }
    pthread_cond_broadcast(&output->status_changed);
    return nullptr;
}

#ifdef CANTILENA_HAVE_SSE
constexpr uint32_t kConvertFrames = 4;  // one 16-bit vector
static_assert(kFillAlignBytes % (kConvertFrames * 4) == 0, "a region holds whole vectors");

// pcm16_from_float four frames at a time: the same product and rounding
// (cvtps2dq gives INT32_MIN where cvtss2si does); saturating to 16 bits
// before the clamp changes nothing the clamp leaves.
void convert_region(const float* samples, std::atomic<uint32_t>* region, uint32_t bytes, float scale)
{
    const __m128 scales = _mm_set1_ps(scale);
    const __m128i high = _mm_set1_epi16(kPcmClamp);
    const __m128i low = _mm_set1_epi16(-kPcmClamp);
    for (uint32_t i = 0; i < bytes / 4; i += kConvertFrames) {
        const __m128i first = _mm_cvtps_epi32(_mm_mul_ps(_mm_loadu_ps(samples + 2 * i), scales));
        const __m128i second = _mm_cvtps_epi32(_mm_mul_ps(_mm_loadu_ps(samples + 2 * i + 4), scales));
        const __m128i pcm = _mm_max_epi16(_mm_min_epi16(_mm_packs_epi32(first, second), high), low);
        uint32_t words[kConvertFrames];
        _mm_storeu_si128(reinterpret_cast<__m128i*>(words), pcm);
        for (uint32_t k = 0; k < kConvertFrames; ++k) region[i + k].store(words[k], std::memory_order_relaxed);
    }
}
#else
uint32_t pack_frame(int16_t left, int16_t right)
{
    return static_cast<uint32_t>(static_cast<uint16_t>(left)) |
           (static_cast<uint32_t>(static_cast<uint16_t>(right)) << 16);
}

void convert_region(const float* samples, std::atomic<uint32_t>* region, uint32_t bytes, float scale)
{
    const uint32_t frames = bytes / 4;
    for (uint32_t i = 0; i < frames; ++i) {
        const int16_t left = pcm16_from_float(samples[2 * i], scale);
        const int16_t right = pcm16_from_float(samples[2 * i + 1], scale);
        region[i].store(pack_frame(left, right), std::memory_order_relaxed);
    }
}
#endif

// Makes sure the device is playing; a stream that failed or lost its device
// is closed and the default device reopened, resuming from the ring where
// the cursor stopped. Returns false when no device could be reopened; the
// next pass tries again.
bool audio_keep_playing(AudioOutput& output)
{
    const SoundDevice& device = *output.device;
    if (output.device_open != 0 && device.playing(device.context)) return true;
    release_device(output);
    return open_device(output);
}

}  // namespace

bool audio_open(AudioOutput& output, const SoundDevice& device, RenderCallback callback, void* callback_context,
                AudioWorker worker)
{
    output.device = &device;
    output.device_open = 0;
    output.callback = callback;
    output.callback_context = callback_context;
    output.stop_request.store(0, std::memory_order_relaxed);
    output.abandoned = false;
    output.worker_joinable = false;
    output.status = DeviceStatus::opening;
    output.worker_done = false;
    output.error[0] = '\0';
    output.region1 = nullptr;
    output.region1_bytes = 0;
    output.region2 = nullptr;
    output.region2_bytes = 0;
    output.worker_play_cursor = 0;
    output.write_offset = 0;
    output.query_play_cursor = 0;
    output.bytes_written = -static_cast<int32_t>(kRingBytes);
    output.last_reported = -static_cast<int32_t>(kRingBytes);
    output.scale.store(kPcmFullScale, std::memory_order_relaxed);
    ring_reset(output.ring);
    output.semaphore_ready = sem_init(&output.ring.taken, 0, 0) == 0;
    if (!output.semaphore_ready) {
        std::snprintf(output.error, sizeof output.error, "cannot create a semaphore: %s", std::strerror(errno));
        output.status = DeviceStatus::failed;
        return false;
    }

    if (worker == AudioWorker::manual) {
        const bool opened = open_device(output);
        output.status = opened ? DeviceStatus::playing : DeviceStatus::failed;
        if (!opened) {
            audio_close(output);
            return false;
        }
        return true;
    }
    const int started = pthread_create(&output.worker, nullptr, audio_worker, &output);
    if (started != 0) {
        std::snprintf(output.error, sizeof output.error, "cannot start the output thread: %s", std::strerror(started));
        output.status = DeviceStatus::failed;
        audio_close(output);
        return false;
    }
    output.worker_joinable = true;
    return true;
}

DeviceStatus audio_wait_device(AudioOutput& output, int32_t ms)
{
    MutexHold hold(output.status_mutex);
    wait_for_status(output, device_settled, ms);
    return output.status;
}

void audio_device_error(AudioOutput& output, char* text, size_t bytes)
{
    MutexHold hold(output.status_mutex);
    std::snprintf(text, bytes, "%s", output.error);
}

const char* audio_device_step(const AudioOutput& output)
{
    return output.device != nullptr ? output.device->step(output.device->context) : nullptr;
}

uint32_t audio_frames_taken(const AudioOutput& output)
{
    return output.ring.frames_taken.load(std::memory_order_relaxed);
}

bool audio_close(AudioOutput& output, int32_t wait_ms)
{
    if (output.abandoned) return false;
    output.stop_request.store(1, std::memory_order_release);
    if (output.worker_joinable) {
        audio_wake(output);
        pthread_mutex_lock(&output.status_mutex);
        const bool finished = wait_for_status(output, worker_finished, wait_ms);
        pthread_mutex_unlock(&output.status_mutex);
        output.worker_joinable = false;
        if (!finished) {
            // Stuck in the device: freeing what it uses would be unsafe.
            pthread_detach(output.worker);
            output.abandoned = true;
            return false;
        }
        pthread_join(output.worker, nullptr);
    }
    if (output.device != nullptr) release_device(output);
    if (output.semaphore_ready) {
        sem_destroy(&output.ring.taken);
        output.semaphore_ready = false;
    }
    return true;
}

void audio_wake(AudioOutput& output)
{
    if (output.semaphore_ready) sem_post(&output.ring.taken);
}

void audio_set_gain(AudioOutput& output, float gain)
{
    output.scale.store(gain * kPcmFullScale, std::memory_order_relaxed);
}

void audio_fill(AudioOutput& output)
{
    output.region1 = nullptr;
    output.region2 = nullptr;
    if (!audio_keep_playing(output)) return;
    MutexHold hold(output.lock);

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
    MutexHold hold(output.lock);
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

bool binding_open(void* context, RenderCallback callback, void* callback_context)
{
    auto* binding = static_cast<AudioBinding*>(context);
    return audio_open(*binding->output, *binding->device, callback, callback_context);
}

void binding_close(void* context)
{
    audio_close(bound_output(context));
}
void binding_wake(void* context)
{
    audio_wake(bound_output(context));
}
void binding_set_gain(void* context, float gain)
{
    audio_set_gain(bound_output(context), gain);
}
int32_t binding_played_bytes(void* context)
{
    return audio_played_bytes(bound_output(context));
}
void binding_lock(void* context)
{
    pthread_mutex_lock(&bound_output(context).lock);
}
void binding_unlock(void* context)
{
    pthread_mutex_unlock(&bound_output(context).lock);
}

}  // namespace

PlayerOutput audio_player_output(AudioBinding& binding)
{
    return PlayerOutput{&binding,         binding_open,         binding_close, binding_wake,
                        binding_set_gain, binding_played_bytes, binding_lock,  binding_unlock};
}
