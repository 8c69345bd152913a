#include "tests/audio/fake_device.h"

#include <chrono>
#include <thread>

namespace {

constexpr const char* kFakeOpenError = "the fake device refused to open";

void wait_while_hanging(FakeDevice& device, const char* step)
{
    device.step.store(step);
    while (device.hang.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    device.step.store(nullptr);
}

bool fake_open(void* context, AudioRing* ring)
{
    auto& device = *static_cast<FakeDevice*>(context);
    wait_while_hanging(device, "opening the fake device");
    if (device.failures_left > 0) {
        --device.failures_left;
        ++device.failed_opens;
        return false;
    }
    device.ring = ring;
    device.open = true;
    device.lost = false;
    ++device.opens;
    return true;
}

void fake_close(void* context)
{
    auto& device = *static_cast<FakeDevice*>(context);
    wait_while_hanging(device, "closing the fake device");
    if (device.open) ++device.closes;
    device.open = false;
}

bool fake_playing(void* context)
{
    const auto& device = *static_cast<FakeDevice*>(context);
    return device.open && !device.lost;
}

const char* fake_error(void* context)
{
    const auto& device = *static_cast<FakeDevice*>(context);
    return device.failed_opens > 0 && !device.open ? kFakeOpenError : "";
}

const char* fake_step(void* context)
{
    return static_cast<FakeDevice*>(context)->step.load();
}

}  // namespace

SoundDevice fake_device(FakeDevice& device)
{
    device.ring = nullptr;
    device.open = false;
    device.lost = false;
    device.opens = 0;
    device.failed_opens = 0;
    device.closes = 0;
    device.failures_left = 0;
    device.hang.store(false);
    device.step.store(nullptr);
    return SoundDevice{&device, fake_open, fake_close, fake_playing, fake_error, fake_step};
}

void fake_device_play(FakeDevice& device, uint32_t bytes, int16_t* heard)
{
    constexpr uint32_t kChunkFrames = 1024;
    int16_t scratch[kChunkFrames * 2];
    uint32_t frames = bytes / 4;
    while (frames > 0) {
        const uint32_t count = frames < kChunkFrames ? frames : kChunkFrames;
        int16_t* out = heard != nullptr ? heard : scratch;
        ring_play(*device.ring, out, count);
        if (heard != nullptr) heard += count * 2;
        frames -= count;
    }
}

void fake_device_set_latency(FakeDevice& device, uint32_t bytes)
{
    device.ring->latency_bytes.store(bytes, std::memory_order_relaxed);
}

void fake_device_lose(FakeDevice& device)
{
    device.lost = true;
}
