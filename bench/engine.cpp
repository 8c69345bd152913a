// Whole-engine cost per block: one fully loaded voice; 32 voices on 16
// channels with every channel effect and the master section; the same 32
// voices after note-off while their tails decay (flushed denormals keep this
// no dearer than the held case).
//
// frames_per_s is the render speed; realtime_x the multiple of real time at
// 44100 Hz on one core.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <memory>
#include <vector>

#include "synth/engine.h"
#include "synth/seed_source.h"

namespace {

// Patch bytes written out here so the benchmark needs no test code.
std::vector<uint8_t> voice_heavy_patch(bool channel_effects)
{
    std::vector<uint8_t> p(kPatchHeaderBytes, 0);
    const uint8_t voice[kVoiceParamCount] = {
        64, 64,                         // pan, transpose
        1, 0, 64, 64, 40, 90,           // oscillator 1: ramp
        2, 0, 64, 70, 70, 80,           // oscillator 2: pulse, detuned
        4, 0, 76, 64, 60, 30,           // oscillator 3: noise
        1, 80, 60,                      // filter 1: low-pass
        2, 60, 40,                      // filter 2: band-pass
        2, 64,                          // parallel routing, balance
        1, 48, 100, 70,                 // distortion: overdrive
        10, 60, 100, 64, 128, 128,      // envelope 1, release as long as it gets
        20, 70, 64, 60, 90, 128,        // envelope 2
        3, 0, 0, 80, 0, 2, 30,          // LFO 1: sine, bipolar
        4, 1, 0, 90, 0, 0, 20,          // LFO 2: sample and hold
        0,                              // phase reset
    };
    for (int i = 0; i < kVoiceParamCount; ++i) p[i] = voice[i];
    const uint8_t channel[kChannelParamCount] = {
        100, 60, 40, 0, 64,                 // volume, sends, order, shelf
        5, 32, 90, 30,                      // distortion: low-pass filter
        90, 70, 20, 25, 60, 40, 32,         // delay: chorus
        1, 1, 0, 3, 40, 90, 20, 60, 64,     // dynamics: peak, per side
    };
    const uint8_t neutral[kChannelParamCount] = {
        100, 0, 0, 0, 0, 0, 32, 128, 64, 64, 64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64, 0, 0, 0, 64,
    };
    for (int i = 0; i < kChannelParamCount; ++i) {
        p[kPatchChannelOffset + i] = channel_effects ? channel[i] : neutral[i];
    }
    p[kPatchPolyphonyOffset] = 16;
    const uint8_t modulation[][3] = {
        {kModSourceVelocity, 96, kVoiceEnvelope1 + 5},
        {kModSourceLfo1, 100, kVoiceFilter1 + 1},
        {kModSourceEnvelope2, 90, kVoiceFilter2 + 1},
        {kModSourceLfo2, 70, kVoiceOscillator2 + 4},
        {kModSourceController1 + 6, 127, kModDestChannelFirst},
    };
    p[kPatchModCountOffset] = static_cast<uint8_t>(std::size(modulation));
    for (const auto& entry : modulation) p.insert(p.end(), entry, entry + 3);

    // One program: its table entry points just past the table.
    std::vector<uint8_t> bank(4 + p.size(), 0);
    bank[0] = 4;
    std::copy(p.begin(), p.end(), bank.begin() + 4);
    return bank;
}

const uint8_t kMasterActive[kGlobalParamCount] = {
    90, 50, 30, 100,              // reverb
    90, 80, 40, 50, 20, 10, 40,   // global delay
    5, 110,                       // low cut, high cut
    2, 0, 0, 5, 50, 80, 10, 70, 64,  // dynamics: RMS, linked
};

const uint8_t kMasterNeutral[kGlobalParamCount] = {
    0, 0, 0, 0, 64, 64, 0, 0, 0, 0, 64, 0, 127, 0, 0, 0, 0, 64, 0, 0, 0, 64,
};

struct Rig {
    std::vector<uint8_t> bank;
    std::unique_ptr<SynthEngine> engine = std::make_unique<SynthEngine>();
    std::vector<float> out = std::vector<float>(2 * kBlockSize);

    Rig(bool full_mix) : bank(voice_heavy_patch(full_mix))
    {
        seed_source_fix(1);
        synth_init(*engine, bank.data(), kSampleRate);
        synth_set_globals(*engine, full_mix ? kMasterActive : kMasterNeutral);
    }

    void play(std::vector<uint8_t> stream)
    {
        stream.push_back(0xFD);
        synth_process_stream(*engine, stream.data());
    }

    void render_blocks(int count)
    {
        for (int i = 0; i < count; ++i) synth_render(*engine, out.data(), kBlockSize, nullptr, 0);
    }

    int busy_voices() const
    {
        int32_t counts[kChannelCount + 1];
        synth_voice_usage(*engine, counts);
        return counts[kChannelCount];
    }

    // Two voices on each of the 16 channels.
    void start_all_voices()
    {
        std::vector<uint8_t> stream;
        for (int v = 0; v < kVoiceCount; ++v) {
            const int c = v % kChannelCount;
            stream.insert(stream.end(), {static_cast<uint8_t>(0x90 | c), static_cast<uint8_t>(36 + v), 100});
        }
        play(stream);
    }

    void release_all_voices()
    {
        std::vector<uint8_t> stream;
        for (int c = 0; c < kChannelCount; ++c) stream.insert(stream.end(), {static_cast<uint8_t>(0xB0 | c), 123, 0});
        play(stream);
    }
};

void report(benchmark::State& state)
{
    const double frames = static_cast<double>(state.iterations()) * kBlockSize;
    state.counters["frames_per_s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
    state.counters["realtime_x"] = benchmark::Counter(frames / kSampleRate, benchmark::Counter::kIsRate);
}

void BM_OneVoiceAllUnits(benchmark::State& state)
{
    Rig rig(false);
    rig.play({0x90, 48, 100});
    rig.render_blocks(8);
    for (auto _ : state) {
        synth_render(*rig.engine, rig.out.data(), kBlockSize, nullptr, 0);
        benchmark::DoNotOptimize(rig.out.data());
    }
    report(state);
}

void BM_ThirtyTwoVoicesFullMix(benchmark::State& state)
{
    Rig rig(true);
    rig.start_all_voices();
    rig.render_blocks(8);
    if (rig.busy_voices() != kVoiceCount) state.SkipWithError("voices ended early");
    for (auto _ : state) {
        synth_render(*rig.engine, rig.out.data(), kBlockSize, nullptr, 0);
        benchmark::DoNotOptimize(rig.out.data());
    }
    report(state);
}

// The release (parameter 128) keeps the voices busy for about 27700 blocks;
// a second of audio of release is rendered first so the tails are well into
// their decay. When the voices end the rig starts them again off the clock.
void BM_ThirtyTwoVoicesDecayingTails(benchmark::State& state)
{
    Rig rig(true);
    const auto restart = [&rig] {
        synth_init(*rig.engine, rig.bank.data(), kSampleRate);
        synth_set_globals(*rig.engine, kMasterActive);
        rig.start_all_voices();
        rig.render_blocks(8);
        rig.release_all_voices();
        rig.render_blocks(350);
    };
    restart();
    for (auto _ : state) {
        synth_render(*rig.engine, rig.out.data(), kBlockSize, nullptr, 0);
        benchmark::DoNotOptimize(rig.out.data());
        if (rig.busy_voices() != kVoiceCount) {
            state.PauseTiming();
            restart();
            state.ResumeTiming();
        }
    }
    report(state);
}

}  // namespace

BENCHMARK(BM_OneVoiceAllUnits);
BENCHMARK(BM_ThirtyTwoVoicesFullMix);
BENCHMARK(BM_ThirtyTwoVoicesDecayingTails);
