// The player's second rendering thread joins only while the song needs it.
#include <gtest/gtest.h>

#include <memory>

#include "app/render_load.h"
#include "synth/engine.h"
#include "synth/workers.h"

namespace {

constexpr int64_t kMs = 1000000;  // nanoseconds
// A window's frames last about 92.9 ms at 44100 Hz.
constexpr int64_t kWindowMs = static_cast<int64_t>(kLoadWindowFrames) * 1000 / kSampleRate;

struct Fixture {
    std::unique_ptr<SynthEngine> engine = std::make_unique<SynthEngine>();
    SynthWorkers* pool = synth_workers_create(2);
    RenderLoad load{};
    Fixture()
    {
        engine->sample_rate = kSampleRate;
        engine->workers = pool;  // left over from whoever set the engine up
        render_load_setup(load, *engine, pool);
    }
    ~Fixture() { synth_workers_destroy(pool); }
    // One window's renders, in quarters, taking ms in all.
    bool window(int64_t ms)
    {
        bool engaged = false;
        for (int k = 0; k < 4; ++k) engaged = render_load_note(load, kLoadWindowFrames / 4, ms * kMs / 4);
        return engaged;
    }
};

TEST(RenderLoad, ALightSongRendersOnTheRefillThreadAlone)
{
    Fixture f;
    EXPECT_EQ(f.engine->workers, nullptr);
    for (int k = 0; k < 10; ++k) EXPECT_FALSE(f.window(2));
    EXPECT_FALSE(f.window(kWindowMs / 2 - 1));
    EXPECT_EQ(f.engine->workers, nullptr);
}

TEST(RenderLoad, ThePoolJoinsAboveHalfTheFramesTimeAndLeavesBelowAQuarter)
{
    Fixture f;
    // A slow render inside a window decides nothing until the window closes.
    EXPECT_FALSE(render_load_note(f.load, kLoadWindowFrames / 2, kWindowMs * kMs));
    EXPECT_EQ(f.engine->workers, nullptr);
    EXPECT_TRUE(render_load_note(f.load, kLoadWindowFrames / 2, 0));
    EXPECT_EQ(f.engine->workers, f.pool);
    // Between a quarter and a half it stays, so it does not come and go.
    EXPECT_TRUE(f.window(kWindowMs / 3));
    EXPECT_TRUE(f.window(kWindowMs / 4 + 1));
    EXPECT_EQ(f.engine->workers, f.pool);
    EXPECT_FALSE(f.window(kWindowMs / 4 - 2));
    EXPECT_EQ(f.engine->workers, nullptr);
}

TEST(RenderLoad, WithoutAPoolNothingIsEverAttached)
{
    Fixture f;
    render_load_setup(f.load, *f.engine, nullptr);
    for (int k = 0; k < 3; ++k) EXPECT_FALSE(f.window(10 * kWindowMs));
    EXPECT_EQ(f.engine->workers, nullptr);
}

// The wrapped output starts with a render that calls the transport's and
// counts its frames.
struct FakeOutput {
    RenderCallback callback = nullptr;
    void* callback_context = nullptr;
    void* context_seen = nullptr;
};
FakeOutput g_fake;
uint32_t g_transport_frames = 0;

TEST(RenderLoad, TheWrappedOutputRendersThroughTheTransportAndCountsItsFrames)
{
    Fixture f;
    PlayerOutput output{};
    int device = 0;
    output.context = &device;
    output.open = [](void* context, RenderCallback callback, void* callback_context) {
        g_fake = {callback, callback_context, context};
        return true;
    };
    render_load_wrap(f.load, output);
    int transport = 0;
    const RenderCallback transport_render = [](void* context, float*, uint32_t count) {
        g_transport_frames += count * static_cast<uint32_t>(*static_cast<int*>(context) == 7);
        return int32_t{0};
    };
    transport = 7;
    ASSERT_TRUE(output.open(output.context, transport_render, &transport));
    EXPECT_EQ(g_fake.context_seen, &device);
    ASSERT_NE(g_fake.callback, nullptr);
    float frames[2 * 64];
    EXPECT_EQ(g_fake.callback(g_fake.callback_context, frames, 64), 0);
    EXPECT_EQ(g_transport_frames, 64u);
    EXPECT_EQ(f.load.window_frames, 64u);
}

}  // namespace
