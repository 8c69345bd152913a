// Cost of the speech synthesizer: its render per frame, and its tick (once a
// block) spread over the block's frames.
#include <memory>

#include "bench/bench_support.h"
#include "speech/speech.h"
#include "synth/fp_mode.h"

namespace {

// A sung phrase with vowels, fricatives and plosives, so the tick meets every
// kind of segment and blend.
std::unique_ptr<SpeechSynth> make_singing_speech()
{
    static const char* texts[kSpeechTextCount] = {"kwIHk br4AHUHn fAAks jAHmps OWvER DHAX lEYzIY dAAg sil"};
    auto speech = std::make_unique<SpeechSynth>();
    speech_set_rate(*speech, 44100);
    speech_init(*speech);
    speech_set_texts(*speech, texts);
    return speech;
}

void BM_SpeechRender(benchmark::State& state)
{
    FpModeGuard mode;
    auto speech = make_singing_speech();
    for (int i = 0; i < 40; ++i) speech_tick(*speech);
    std::vector<float> frames(2 * kBlockSize);
    time_blocks(state, [&] {
        for (int32_t n = 0; n < kBlockSize; ++n) frames[2 * n] = (n & 32) != 0 ? 0.5f : -0.5f;  // a square carrier
        speech_render(*speech, frames.data(), kBlockSize);
    });
}
BENCHMARK(BM_SpeechRender);

// One tick walks the text and computes a target (7 resonator set-ups, 11 level conversions).
void BM_SpeechTick(benchmark::State& state)
{
    FpModeGuard mode;
    auto speech = make_singing_speech();
    time_blocks(state, [&] {
        speech_tick(*speech);
        benchmark::DoNotOptimize(speech->state.target);
    });
}
BENCHMARK(BM_SpeechTick);

}  // namespace
