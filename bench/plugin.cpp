// The plugin's cost per frame beside the engine's: the embedded song's first
// 30 seconds through the transport (as render plays it) and through the
// plugin in the tests' headless host, fed the same streams as MIDI, in host
// blocks of 64, 512 and 4096 frames. The plugin's figure includes the host's
// own share (building the event sequences, copying the output), a few
// percent at most.
//
// Run from the build directory (the host finds the bundle through
// CANTILENA_BINARY_DIR, else ./plugin/cantilena.lv2).
#include <memory>

#include "bench/bench_support.h"
#include "data/embedded_song.h"
#include "sequencer/player.h"
#include "sequencer/song_walk.h"
#include "synth/engine.h"
#include "synth/seed_source.h"
#include "tests/plugin/plugin_test_support.h"

namespace {

constexpr uint64_t kFrames = 30 * 44100;
constexpr uint32_t kRenderChunk = 16384;  // the render tool's chunk

std::vector<TimedMidi> embedded_events()
{
    std::vector<TimedMidi> events;
    song_walk(
        kEmbeddedSong,
        [](void* context, uint32_t, uint64_t frame, const uint8_t* stream, size_t) {
            if (frame < kFrames)
                plugin_test::append_stream_messages(*static_cast<std::vector<TimedMidi>*>(context), frame, stream);
        },
        &events);
    return events;
}

void BM_EngineSong(benchmark::State& state)
{
    std::vector<float> frames(2 * static_cast<size_t>(kRenderChunk));
    for (auto _ : state) {
        state.PauseTiming();
        auto engine = std::make_unique<SynthEngine>();
        auto player = std::make_unique<Player>();
        seed_source_fix(engine->seeds, 1);
        player_init(*player, *engine, kEmbeddedSong, nullptr);
        player_start(*player);
        state.ResumeTiming();
        for (uint64_t done = 0; done < kFrames; done += kRenderChunk)
            player_render(player.get(), frames.data(),
                          static_cast<uint32_t>(std::min<uint64_t>(kRenderChunk, kFrames - done)));
    }
    report_frames(state, static_cast<int64_t>(kFrames));
}
BENCHMARK(BM_EngineSong)->Unit(benchmark::kMillisecond)->Iterations(3);

// Argument: the host's block size.
void BM_PluginSong(benchmark::State& state)
{
    const std::vector<TimedMidi> events = embedded_events();
    const std::vector<uint32_t> blocks = {static_cast<uint32_t>(state.range(0))};
    for (auto _ : state) {
        state.PauseTiming();
        auto host = std::make_unique<Lv2Host>(44100.0, "1");
        if (!host->instantiated()) {
            state.SkipWithError("the plugin bundle was not found (run from the build directory)");
            return;
        }
        host->activate();
        state.ResumeTiming();
        benchmark::DoNotOptimize(host->play(kFrames, blocks, events).data());
    }
    report_frames(state, static_cast<int64_t>(kFrames));
}
BENCHMARK(BM_PluginSong)->Arg(64)->Arg(512)->Arg(4096)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
