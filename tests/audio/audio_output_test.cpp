#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "audio/audio_output.h"
#include "tests/audio/fake_device.h"

namespace {

// A render callback that numbers its samples: sample k of the stream is
// (k mod 20000) / 32768, so a 16-bit sample tells where it came from.
struct Counter {
    uint32_t next = 0;
    std::vector<uint32_t> requests;  // frames asked for, one entry a call
};

float counted_sample(uint32_t k)
{
    return static_cast<float>(static_cast<int32_t>(k % 20000)) / 32768.0f;
}

int32_t count_samples(void* context, float* frames, uint32_t count)
{
    auto& counter = *static_cast<Counter*>(context);
    counter.requests.push_back(count);
    for (uint32_t i = 0; i < 2 * count; ++i) frames[i] = counted_sample(counter.next++);
    return 0;
}

class AudioOutputTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        output = std::make_unique<AudioOutput>();
        device = fake_device(fake);
    }
    void TearDown() override { audio_close(*output); }

    void open_manual() { ASSERT_TRUE(audio_open(*output, device, count_samples, &counter, AudioWorker::manual)); }

    // Plays bytes and refills after them, as the device and the worker would.
    void play_and_fill(uint32_t bytes, int16_t* heard = nullptr)
    {
        fake_device_play(fake, bytes, heard);
        audio_fill(*output);
    }

    // Plays a whole buffer or more in 4096-byte steps: a move of exactly
    // one buffer would leave the cursor where it was.
    void play_buffers(uint32_t bytes, int16_t* heard = nullptr)
    {
        for (uint32_t done = 0; done < bytes; done += 4096) {
            play_and_fill(4096, heard != nullptr ? heard + done / 2 : nullptr);
        }
    }

    std::unique_ptr<AudioOutput> output;
    FakeDevice fake{};
    SoundDevice device{};
    Counter counter;
};

TEST_F(AudioOutputTest, FillsAtAOneMillisecondCadenceAre160Or192BytesAndCoverThePlayTime)
{
    open_manual();
    uint32_t cursor = 0;
    uint32_t filled = 0;
    for (uint32_t ms = 1; ms <= 1000; ++ms) {
        const uint32_t target = (ms * 441 / 10) * 4;  // the frames 1 ms after another have played
        fake_device_play(fake, target - cursor);
        cursor = target;
        audio_fill(*output);
    }
    for (uint32_t frames : counter.requests) {
        EXPECT_TRUE(frames * 4 == 160 || frames * 4 == 192) << frames * 4 << " bytes";
        filled += frames * 4;
    }
    EXPECT_EQ(filled, cursor & ~31u);
    EXPECT_EQ(output->write_offset, (cursor & ~31u) % kRingBytes);
}

TEST_F(AudioOutputTest, ACursorThatHasNotPassedA32ByteStepAsksForNothing)
{
    open_manual();
    audio_fill(*output);
    EXPECT_TRUE(counter.requests.empty());
    play_and_fill(100);
    ASSERT_EQ(counter.requests.size(), 1u);
    EXPECT_EQ(counter.requests[0], 96u / 4);
    play_and_fill(24);  // cursor 124: still inside the step that starts at 96
    EXPECT_EQ(counter.requests.size(), 1u);
    EXPECT_EQ(output->region1, nullptr);
}

TEST_F(AudioOutputTest, AFillAcrossTheEndWritesTwoRegionsTheSecondContinuingTheMix)
{
    open_manual();
    play_and_fill(kRingBytes - 64);
    counter.next = 0;
    play_and_fill(128);  // the cursor wraps to 64
    ASSERT_EQ(counter.requests.back(), 128u / 4);
    EXPECT_EQ(output->region1, &output->ring.frames[(kRingBytes - 64) / 4]);
    EXPECT_EQ(output->region1_bytes, 64u);
    EXPECT_EQ(output->region2, &output->ring.frames[0]);
    EXPECT_EQ(output->region2_bytes, 64u);
    // Frame 16 of the fill, the first of the second region, is at offset 0.
    const uint32_t word = output->ring.frames[0].load();
    EXPECT_EQ(static_cast<int16_t>(word & 0xFFFF), 32);
    EXPECT_EQ(static_cast<int16_t>(word >> 16), 33);
    const uint32_t last = output->ring.frames[kRingFrames - 1].load();
    EXPECT_EQ(static_cast<int16_t>(last & 0xFFFF), 30);
}

TEST_F(AudioOutputTest, TheDeviceHearsTheRenderedStreamOneBufferLateWithoutAGap)
{
    open_manual();
    // Irregular device buffers, several times round the ring.
    const uint32_t steps[] = {4096, 176, 180, 2048, 12, 940, 7000, 4};
    std::vector<int16_t> heard;
    uint32_t total = 0;
    for (int pass = 0; total < 5 * kRingBytes; ++pass) {
        const uint32_t bytes = steps[pass % 8];
        std::vector<int16_t> chunk(bytes / 2);
        play_and_fill(bytes, chunk.data());
        heard.insert(heard.end(), chunk.begin(), chunk.end());
        total += bytes;
    }
    const size_t silent = kRingBytes / 2;  // samples of the first buffer
    for (size_t i = 0; i < silent; ++i) ASSERT_EQ(heard[i], 0) << "sample " << i;
    for (size_t i = silent; i < heard.size(); ++i) {
        ASSERT_EQ(heard[i], static_cast<int16_t>((i - silent) % 20000)) << "sample " << i;
    }
}

// Samples at the edges of the conversion: ties, the clamp, the 32-bit range,
// not-a-number, infinities, signed zeros and denormals.
const float kEdgeSamples[] = {0.0f, -0.0f, 0.5f / 32768, 1.5f / 32768, -0.5f / 32768, -2.5f / 32768,
                              32599.5f / 32768, 32600.5f / 32768, -32600.5f / 32768, 1.0f, -1.0f, 65536.0f,
                              -65536.0f, 3e9f, -3e9f, NAN, INFINITY, -INFINITY, 1e-40f, -1e-40f, 0.75f, -0.3f};
constexpr uint32_t kEdgeCount = sizeof kEdgeSamples / sizeof kEdgeSamples[0];

int32_t edge_samples(void*, float* frames, uint32_t count)
{
    for (uint32_t i = 0; i < 2 * count; ++i) frames[i] = kEdgeSamples[i % kEdgeCount];
    return 0;
}

TEST_F(AudioOutputTest, EveryFrameIsWrittenAsTheSampleConversionGivesItAtAnyGain)
{
    ASSERT_TRUE(audio_open(*output, device, edge_samples, nullptr, AudioWorker::manual));
    for (const float gain : {1.0f, 0.5f, 3.0f}) {
        audio_set_gain(*output, gain);
        play_and_fill(kRingBytes - 4096);  // wraps past the end from the second pass on
        for (uint32_t frame = 0; frame < (kRingBytes - 4096) / 4; ++frame) {
            const uint32_t at = (output->write_offset / 4 + kRingFrames - (kRingBytes - 4096) / 4 + frame) % kRingFrames;
            const uint32_t word = output->ring.frames[at].load();
            const float scale = gain * kPcmFullScale;
            ASSERT_EQ(static_cast<int16_t>(word & 0xFFFF), pcm16_from_float(kEdgeSamples[2 * frame % kEdgeCount], scale))
                << "frame " << frame << " at gain " << gain;
            ASSERT_EQ(static_cast<int16_t>(word >> 16), pcm16_from_float(kEdgeSamples[(2 * frame + 1) % kEdgeCount], scale))
                << "frame " << frame << " at gain " << gain;
        }
    }
}

TEST_F(AudioOutputTest, BeforeTheFirstFillThePositionIsOneBufferBelowZeroPlusTheCursorLessTheDeviceLatency)
{
    open_manual();
    EXPECT_EQ(audio_played_bytes(*output), -65536);
    fake_device_play(fake, 100);
    EXPECT_EQ(audio_played_bytes(*output), -65536 + 100);
    audio_fill(*output);
    EXPECT_EQ(output->bytes_written, -65536 + 96);
    EXPECT_EQ(audio_played_bytes(*output), -65536 + 100);
    play_buffers(65536);
    EXPECT_EQ(audio_played_bytes(*output), 100);
    fake_device_set_latency(fake, 2200);  // the device's own latency is taken off
    EXPECT_EQ(audio_played_bytes(*output), 100 - 2200);
}

TEST_F(AudioOutputTest, ACursor16384BytesOrMorePastTheLastFillRepeatsThePreviousPosition)
{
    open_manual();
    play_and_fill(1024);
    const int32_t before = audio_played_bytes(*output);
    fake_device_play(fake, 16380);
    EXPECT_EQ(audio_played_bytes(*output), before + 16380);
    fake_device_play(fake, 4);  // now 16384 past the write offset
    EXPECT_EQ(audio_played_bytes(*output), before + 16380);
    fake_device_play(fake, 30000);
    EXPECT_EQ(audio_played_bytes(*output), before + 16380);
    audio_fill(*output);  // the worker catches up and the count goes on
    EXPECT_EQ(audio_played_bytes(*output), before + 16384 + 30000);
}

TEST_F(AudioOutputTest, ALostStreamIsReopenedAndResumesFromTheRingWithoutAGap)
{
    open_manual();
    std::vector<int16_t> heard(kRingBytes / 2 + 500 + (kRingBytes - 4096) / 2);
    play_buffers(kRingBytes, heard.data());
    fake_device_play(fake, 1000, heard.data() + kRingBytes / 2);  // taken just before the stream fails
    const size_t requests = counter.requests.size();
    const int32_t played = audio_played_bytes(*output);

    fake_device_lose(fake);
    fake.failures_left = 2;  // the device stays away for two passes
    audio_fill(*output);
    audio_fill(*output);
    EXPECT_EQ(fake.failed_opens, 2u);
    EXPECT_EQ(counter.requests.size(), requests);
    EXPECT_EQ(audio_played_bytes(*output), played);

    audio_fill(*output);  // reopened: the stretch taken before the failure is refilled
    EXPECT_EQ(fake.opens, 2u);
    EXPECT_EQ(fake.closes, 1u);
    ASSERT_EQ(counter.requests.size(), requests + 1);
    EXPECT_EQ(counter.requests.back(), 992u / 4);
    EXPECT_EQ(audio_played_bytes(*output), played);
    play_buffers(kRingBytes - 4096, heard.data() + kRingBytes / 2 + 500);
    EXPECT_EQ(audio_played_bytes(*output), played + 65536 - 4096);
    for (size_t i = kRingBytes / 2; i < heard.size(); ++i) {
        ASSERT_EQ(heard[i], static_cast<int16_t>((i - kRingBytes / 2) % 20000)) << "sample " << i;
    }
}

TEST_F(AudioOutputTest, ADeviceThatCannotOpenFailsTheOpenSayingWhyAndLeavesNothingRunning)
{
    fake.failures_left = 1;
    EXPECT_FALSE(audio_open(*output, device, count_samples, &counter, AudioWorker::manual));
    EXPECT_FALSE(fake.open);

    fake.failures_left = 1;
    ASSERT_TRUE(audio_open(*output, device, count_samples, &counter)) << "the worker opens the device";
    EXPECT_EQ(audio_wait_device(*output, kWaitForever), DeviceStatus::failed);
    char error[kAudioErrorBytes];
    audio_device_error(*output, error, sizeof error);
    EXPECT_STREQ(error, "the fake device refused to open");
    EXPECT_TRUE(audio_close(*output, 1000));
    EXPECT_FALSE(output->worker_joinable);
    EXPECT_FALSE(fake.open);
}

TEST_F(AudioOutputTest, AFailedReopenIsReportedUntilAGoodOneAndTheFramesTakenCountOn)
{
    open_manual();
    play_and_fill(4096);
    EXPECT_EQ(audio_frames_taken(*output), 1024u);
    fake_device_lose(fake);
    fake.failures_left = 1;
    audio_fill(*output);
    char error[kAudioErrorBytes];
    audio_device_error(*output, error, sizeof error);
    EXPECT_STREQ(error, "the fake device refused to open");
    audio_fill(*output);
    audio_device_error(*output, error, sizeof error);
    EXPECT_STREQ(error, "");
    play_and_fill(400);
    EXPECT_EQ(audio_frames_taken(*output), 1124u);
}

bool wait_until(const std::function<bool()>& done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The worker thread: the callback records into an atomic so the test can
// watch it from outside.
struct Watched {
    std::atomic<uint32_t> frames{0};
};

int32_t watch_frames(void* context, float* frames, uint32_t count)
{
    static_cast<Watched*>(context)->frames.fetch_add(count);
    for (uint32_t i = 0; i < 2 * count; ++i) frames[i] = 0.0f;
    return 0;
}

TEST(AudioWorkerThread, FillsWhenTheDeviceTakesFramesOrAfterItsTimeOutKeepsOutWhileThePlayerHoldsTheLockAndEndsOnClose)
{
    auto output = std::make_unique<AudioOutput>();
    FakeDevice fake{};
    const SoundDevice device = fake_device(fake);
    AudioBinding binding{output.get(), &device};
    const PlayerOutput player_output = audio_player_output(binding);
    Watched watched;
    ASSERT_TRUE(player_output.open(player_output.context, watch_frames, &watched));
    ASSERT_EQ(audio_wait_device(*output, kWaitForever), DeviceStatus::playing);

    player_output.lock(player_output.context);  // the device moves while the worker is kept out
    fake_device_play(fake, 640);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(watched.frames.load(), 0u);
    player_output.unlock(player_output.context);
    EXPECT_TRUE(wait_until([&] { return watched.frames.load() == 160; }));
    EXPECT_EQ(player_output.played_bytes(player_output.context), -65536 + 640);
    // Frames taken without the semaphore: the worker's own time-out finds them.
    pthread_mutex_lock(&output->lock);
    fake_device_play(fake, 320);
    while (sem_trywait(&output->ring.taken) == 0) {
    }
    pthread_mutex_unlock(&output->lock);
    EXPECT_TRUE(wait_until([&] { return watched.frames.load() == 240; }));
    player_output.close(player_output.context);
    EXPECT_FALSE(output->worker_joinable);
    EXPECT_FALSE(fake.open);
}

// Waits for a worker that a close left running to end, so that the output
// it uses may be freed.
void release_hung_worker(AudioOutput& output, FakeDevice& fake)
{
    fake.hang.store(false);
    pthread_mutex_lock(&output.status_mutex);
    while (!output.worker_done) pthread_cond_wait(&output.status_changed, &output.status_mutex);
    pthread_mutex_unlock(&output.status_mutex);
}

TEST(AudioWorkerThread, ADeviceThatHangsWhileOpeningHoldsUpOnlyTheWorkerAndACloseGivesUpOnIt)
{
    auto output = std::make_unique<AudioOutput>();
    FakeDevice fake{};
    const SoundDevice device = fake_device(fake);
    fake.hang.store(true);
    Watched watched;
    ASSERT_TRUE(audio_open(*output, device, watch_frames, &watched));
    EXPECT_EQ(audio_wait_device(*output, 50), DeviceStatus::opening);
    ASSERT_TRUE(wait_until([&] { return audio_device_step(*output) != nullptr; }));
    EXPECT_STREQ(audio_device_step(*output), "opening the fake device");

    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(audio_close(*output, 30)) << "the worker is stuck: left running";
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_FALSE(audio_close(*output, 30)) << "and left alone by a second close";
    release_hung_worker(*output, fake);
}

TEST(AudioWorkerThread, ADeviceThatHangsWhileClosingALostStreamNeverHoldsUpThePositionOrTheLock)
{
    auto output = std::make_unique<AudioOutput>();
    FakeDevice fake{};
    const SoundDevice device = fake_device(fake);
    Watched watched;
    ASSERT_TRUE(audio_open(*output, device, watch_frames, &watched));
    ASSERT_EQ(audio_wait_device(*output, kWaitForever), DeviceStatus::playing);
    fake_device_play(fake, 640);
    ASSERT_TRUE(wait_until([&] { return watched.frames.load() == 160; }));

    fake.hang.store(true);
    fake_device_lose(fake);
    ASSERT_TRUE(wait_until([&] { return audio_device_step(*output) != nullptr; }));
    EXPECT_STREQ(audio_device_step(*output), "closing the fake device");
    EXPECT_EQ(audio_played_bytes(*output), -65536 + 640);
    EXPECT_EQ(pthread_mutex_trylock(&output->lock), 0);
    pthread_mutex_unlock(&output->lock);
    EXPECT_FALSE(audio_close(*output, 30));
    release_hung_worker(*output, fake);
}

}  // namespace
