#include "audio/sound_device.h"

#include <bit>
#include <cstring>

static_assert(std::endian::native == std::endian::little, "a ring word is copied out as its two samples");

void ring_play(AudioRing& ring, int16_t* out, uint32_t count)
{
    const uint32_t cursor = ring.play_cursor.load(std::memory_order_relaxed);
    uint32_t frame = cursor / 4;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t word = ring.frames[frame].load(std::memory_order_relaxed);
        std::memcpy(out + 2 * i, &word, sizeof word);  // left in the low half comes first
        frame = (frame + 1) & (kRingFrames - 1);
    }
    ring.play_cursor.store((cursor + count * 4) & kRingByteMask, std::memory_order_release);
    ring.frames_taken.fetch_add(count, std::memory_order_relaxed);
    sem_post(&ring.taken);
}

void ring_reset(AudioRing& ring)
{
    for (auto& frame : ring.frames) frame.store(0, std::memory_order_relaxed);
    ring.play_cursor.store(0, std::memory_order_release);
    ring.latency_bytes.store(0, std::memory_order_relaxed);
    ring.frames_taken.store(0, std::memory_order_relaxed);
}
