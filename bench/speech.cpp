// Cost of the speech synthesizer: the per-frame render and the per-block tick.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>

#include "speech/speech.h"
#include "synth/fp_mode.h"

namespace {

constexpr uint32_t kBlockFrames = 128;
// Sung phrase with vowels, fricatives and plosives, so the tick meets every
// kind of segment and blend.
constexpr const char* kPhrase = "kwIHk br4AHUHn fAAks jAHmps OWvER DHAX lEYzIY dAAg sil";

std::unique_ptr<SpeechSynth> make_singing_speech()
{
    static const char* texts[kSpeechTextCount] = {kPhrase};
    auto speech = std::make_unique<SpeechSynth>();
    speech_set_rate(*speech, 44100);
    speech_init(*speech);
    speech_set_texts(*speech, texts);
    return speech;
}

// One block: a tick and a render of 128 frames of a sawtooth carrier.
void BM_SpeechRenderBlock(benchmark::State& bench)
{
    FpModeGuard mode;
    auto speech = make_singing_speech();
    float carrier[2 * kBlockFrames];
    float frames[2 * kBlockFrames];
    for (uint32_t n = 0; n < kBlockFrames; ++n) {
        carrier[2 * n] = carrier[2 * n + 1] = 2.0f * (static_cast<float>(n % 100) / 100.0f) - 1.0f;
    }
    for (auto _ : bench) {
        for (uint32_t i = 0; i < 2 * kBlockFrames; ++i) frames[i] = carrier[i];
        speech_tick(*speech);
        speech_render(*speech, frames, kBlockFrames);
        benchmark::DoNotOptimize(frames);
    }
    bench.SetItemsProcessed(bench.iterations() * kBlockFrames);
    bench.SetLabel("items = frames");
}
BENCHMARK(BM_SpeechRenderBlock);

// The render alone (no tick), per frame.
void BM_SpeechRenderOnly(benchmark::State& bench)
{
    FpModeGuard mode;
    auto speech = make_singing_speech();
    for (int i = 0; i < 40; ++i) speech_tick(*speech);
    float frames[2 * kBlockFrames] = {};
    for (auto _ : bench) {
        for (uint32_t n = 0; n < kBlockFrames; ++n) frames[2 * n] = (n & 32) != 0 ? 0.5f : -0.5f;
        speech_render(*speech, frames, kBlockFrames);
        benchmark::DoNotOptimize(frames);
    }
    bench.SetItemsProcessed(bench.iterations() * kBlockFrames);
    bench.SetLabel("items = frames");
}
BENCHMARK(BM_SpeechRenderOnly);

// One tick: walks the text and computes a target (7 resonator set-ups, 11 level conversions).
void BM_SpeechTick(benchmark::State& bench)
{
    FpModeGuard mode;
    auto speech = make_singing_speech();
    for (auto _ : bench) {
        speech_tick(*speech);
        benchmark::DoNotOptimize(speech->state.target);
    }
}
BENCHMARK(BM_SpeechTick);

}  // namespace
