// Whole-engine cost per block: one fully loaded voice; 32 voices on 16
// channels with every channel effect and the master section (the worst case
// the engine allows); the same 32 voices after note-off while their tails
// decay (flushed denormals keep this no dearer than the held case).
//
// frames_per_s is the render speed; realtime_x the multiple of real time at
// 44100 Hz on one core.
#include <memory>

#include "bench/bench_support.h"
#include "synth/engine.h"
#include "synth/seed_source.h"
#include "tests/support/patch_builder.h"

namespace {

// Three oscillators, two filters in parallel, distortion, both envelopes
// (the first with the longest release) and both LFOs, five modulation entries.
PatchBuilder voice_heavy_patch()
{
    PatchBuilder p;
    p.oscillator(0, {.mode = kOscillatorRamp, .colour = 40, .gain = 90})
        .oscillator(1, {.mode = kOscillatorPulse, .detune = 70, .colour = 70, .gain = 80})
        .oscillator(2, {.mode = kOscillatorNoise, .transpose = 76, .colour = 60, .gain = 30})
        .filter(0, {.mode = kFilterLowPass, .cutoff = 80, .resonance = 60})
        .filter(1, {.mode = kFilterBandPass, .cutoff = 60, .resonance = 40})
        .routing(2)
        .distortion({.mode = kDistortionOverdrive, .drive = 48, .a = 100, .b = 70})
        .envelope(0, {.attack = 10, .decay = 60, .sustain = 100, .slope = 64, .release = 128})
        .envelope(1, {.attack = 20, .decay = 70, .sustain = 64, .slope = 60, .release = 90})
        .lfo(0, {.waveform = kLfoSine, .rate = 80, .polarity = 2, .amount = 30})
        .lfo(1, {.waveform = kLfoSampleHold, .key_sync = 1, .rate = 90, .amount = 20})
        .volume(100)
        .modulate(kModSourceVelocity, 96, kVoiceEnvelope1 + EnvelopeParam::kGain)
        .modulate(kModSourceLfo1, 100, kVoiceFilter1 + FilterParam::kCutoff)
        .modulate(kModSourceEnvelope2, 90, kVoiceFilter2 + FilterParam::kCutoff)
        .modulate(kModSourceLfo2, 70, kVoiceOscillator2 + OscillatorParam::kColour)
        .modulate(kModSourceController1 + 6, 127, kModDestChannelFirst);
    return p;
}

struct Rig {
    std::vector<uint8_t> bank;
    std::array<uint8_t, kGlobalParamCount> globals;
    std::unique_ptr<SynthEngine> engine = std::make_unique<SynthEngine>();
    std::vector<float> out = std::vector<float>(2 * kBlockSize);

    // With full_mix every channel effect and the master section are active.
    explicit Rig(bool full_mix)
    {
        PatchBuilder patch = voice_heavy_patch();
        GlobalsBuilder master;
        if (full_mix) {
            patch.reverb_send(60).delay_send(40).shelf(64)
                .channel_distortion({.mode = kDistortionLowPass, .drive = 32, .a = 90, .b = 30})
                .channel_delay({90, 70, 20, 25, 60, 40, 32})               // a chorus
                .channel_dynamics({1, 1, 0, 3, 40, 90, 20, 60, 64});       // peak, per side
            master.reverb({.decay = 90, .damping = 50, .low_cut = 30, .input = 100})
                .delay({90, 80, 40, 50, 20, 10, 40})
                .low_cut(5).high_cut(110)
                .dynamics({2, 0, 0, 5, 50, 80, 10, 70, 64});              // RMS, linked
        }
        bank = BankBuilder().add(patch).bytes();
        globals = master.bytes();
        restart();
    }

    void restart()
    {
        seed_source_fix(engine->seeds, 1);
        synth_init(*engine, bank.data(), kSampleRate);
        synth_set_globals(*engine, globals.data());
    }

    void play(const StreamBuilder& stream) { synth_process_stream(*engine, stream.bytes().data()); }

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
        StreamBuilder stream;
        for (int v = 0; v < kVoiceCount; ++v) stream.note_on(v % kChannelCount, static_cast<uint8_t>(36 + v), 100);
        play(stream);
        render_blocks(8);
    }
};

void BM_OneVoiceAllUnits(benchmark::State& state)
{
    Rig rig(false);
    rig.play(StreamBuilder().note_on(0, 48, 100));
    rig.render_blocks(8);
    time_blocks(state, [&] { rig.render_blocks(1); });
}
BENCHMARK(BM_OneVoiceAllUnits);

void BM_ThirtyTwoVoicesFullMix(benchmark::State& state)
{
    Rig rig(true);
    rig.start_all_voices();
    if (rig.busy_voices() != kVoiceCount) state.SkipWithError("voices ended early");
    time_blocks(state, [&] { rig.render_blocks(1); });
}
BENCHMARK(BM_ThirtyTwoVoicesFullMix);

// The release (parameter 128) keeps the voices busy for about 27700 blocks;
// a second of release is rendered first so the tails are well into their
// decay. When the voices end the rig starts them again off the clock.
void BM_ThirtyTwoVoicesDecayingTails(benchmark::State& state)
{
    Rig rig(true);
    const auto release_all = [&rig] {
        rig.start_all_voices();
        StreamBuilder stream;
        for (int c = 0; c < kChannelCount; ++c) stream.controller(c, 123, 0);
        rig.play(stream);
        rig.render_blocks(350);
    };
    release_all();
    time_blocks(state, [&] {
        rig.render_blocks(1);
        if (rig.busy_voices() != kVoiceCount) {
            state.PauseTiming();
            rig.restart();
            release_all();
            state.ResumeTiming();
        }
    });
}
BENCHMARK(BM_ThirtyTwoVoicesDecayingTails);

}  // namespace
