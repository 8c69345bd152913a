// Whole-engine cost per block: one fully loaded voice; 32 voices on 16
// channels with every channel effect and the master section (the worst case
// the engine allows), at each lane width this machine runs and on one and
// two threads; the same 32 voices after note-off while their tails decay
// (flushed denormals keep this no dearer than the held case); and whole
// songs through the transport: a stress song of the same kind and the
// embedded song.
//
// frames_per_s is the render speed; realtime_x the multiple of real time at
// 44100 Hz. Rows with threads use wall-clock time (UseRealTime), so on a
// busy machine take the best of several repetitions.
#include <algorithm>
#include <memory>

#include "bench/bench_support.h"
#include "data/embedded_song.h"
#include "sequencer/player.h"
#include "sequencer/song_end.h"
#include "synth/engine.h"
#include "synth/seed_source.h"
#include "synth/workers.h"
#include "tests/support/image_builder.h"
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

// Every channel effect on a patch.
PatchBuilder& with_channel_effects(PatchBuilder& patch)
{
    return patch.reverb_send(60)
        .delay_send(40)
        .shelf(64)
        .channel_distortion({.mode = kDistortionLowPass, .drive = 32, .a = 90, .b = 30})
        .channel_delay({90, 70, 20, 25, 60, 40, 32})          // a chorus
        .channel_dynamics({1, 1, 0, 3, 40, 90, 20, 60, 64});  // peak, per side
}

GlobalsBuilder full_master()
{
    return GlobalsBuilder()
        .reverb({.decay = 90, .damping = 50, .low_cut = 30, .input = 100})
        .delay({90, 80, 40, 50, 20, 10, 40})
        .low_cut(5)
        .high_cut(110)
        .dynamics({2, 0, 0, 5, 50, 80, 10, 70, 64});  // RMS, linked
}

// Lanes of a width (1: the scalar path) and a pool of threads for an engine;
// false where the machine cannot run the width.
struct RenderSetup {
    std::unique_ptr<SynthWorkers, void (*)(SynthWorkers*)> workers{nullptr, synth_workers_destroy};

    bool apply(benchmark::State& state, SynthEngine& engine, int64_t width, int64_t threads)
    {
        if (!synth_set_lane_width(engine, static_cast<int32_t>(width))) {
            state.SkipWithError("this machine does not run that lane width");
            return false;
        }
        workers.reset(synth_workers_create(static_cast<int>(threads)));
        synth_attach_workers(engine, workers.get());
        return true;
    }
};

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
            with_channel_effects(patch);
            master = full_master();
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

// Lane widths (1: the scalar path) by thread counts.
void lanes_and_threads(benchmark::internal::Benchmark* b)
{
    b->ArgNames({"lanes", "threads"})->ArgsProduct({{1, 4, 8, 16}, {1, 2}})->UseRealTime();
}

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
    RenderSetup setup;
    if (!setup.apply(state, *rig.engine, state.range(0), state.range(1))) return;
    rig.start_all_voices();
    if (rig.busy_voices() != kVoiceCount) state.SkipWithError("voices ended early");
    time_blocks(state, [&] { rig.render_blocks(1); });
}
BENCHMARK(BM_ThirtyTwoVoicesFullMix)->Apply(lanes_and_threads);

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

// A stress song of the same kind: sixteen channels, each on a heavy patch of
// its own (the oscillator, filter and distortion modes vary from channel to
// channel), every channel effect and the master section; each channel plays
// a two-note chord every eighth that rings on into the next, so all 32 voices
// stay busy and are stolen all the time.
constexpr double kStressSeconds = 10.0;

std::vector<uint8_t> stress_song_image()
{
    using image_builder::NoteEvent;
    constexpr uint8_t kOscillatorModes[] = {kOscillatorRamp, kOscillatorPulse, kOscillatorNoise, kOscillatorSine};
    constexpr uint8_t kResponses[] = {kFilterLowPass, kFilterBandPass, kFilterHighPass, kFilterNotch};
    constexpr uint8_t kDistortions[] = {kDistortionOverdrive, kDistortionClip, kDistortionLowPass, kDistortionOff};
    constexpr uint32_t kEighth = 64;  // ticks, a quarter being 128 at 120 a minute
    image_builder::SongPlan plan;
    BankBuilder bank;
    for (int c = 0; c < kChannelCount; ++c) {
        PatchBuilder patch = voice_heavy_patch();
        patch.oscillator(0, {.mode = kOscillatorModes[c % 4], .colour = 40, .gain = 90})
            .filter(1, {.mode = kResponses[(c / 4) % 4], .cutoff = 60, .resonance = 40})
            .distortion({.mode = kDistortions[(c / 2) % 4], .drive = 48, .a = 100, .b = 70})
            .envelope(0, {.attack = 10, .decay = 60, .sustain = 100, .slope = 64, .release = 70})
            .polyphony(4);
        with_channel_effects(patch);
        bank.add(patch);
        std::vector<NoteEvent>& notes = plan.channels[c].notes;
        plan.channels[c].programs.push_back({0, static_cast<uint8_t>(c)});
        const uint32_t eighths = static_cast<uint32_t>(kStressSeconds * 4.0);
        for (uint32_t e = 0; e < eighths; ++e) {
            const uint8_t root = static_cast<uint8_t>(36 + (c * 5 + e * 7) % 36);
            notes.push_back({e * kEighth, root, 100});
            notes.push_back({e * kEighth, static_cast<uint8_t>(root + 7), 90});
        }
        // Each chord ends halfway through the next one.
        for (uint32_t e = 0; e < eighths; ++e) {
            const uint8_t root = static_cast<uint8_t>(36 + (c * 5 + e * 7) % 36);
            notes.push_back({e * kEighth + kEighth + kEighth / 2, root, 0});
            notes.push_back({e * kEighth + kEighth + kEighth / 2, static_cast<uint8_t>(root + 7), 0});
        }
        std::stable_sort(notes.begin(), notes.end(),
                         [](const NoteEvent& a, const NoteEvent& b) { return a.tick < b.tick; });
    }
    plan.patch_bank = bank.bytes();
    const auto master = full_master().bytes();
    plan.global_block.assign(master.begin(), master.end());
    return image_builder::build_song_image(plan);
}

// Renders a song image through the transport as the render tool does; each
// iteration plays `seconds` of it from the start (the start-up off the clock).
void time_song(benchmark::State& state, const std::vector<uint8_t>& image, double seconds, int64_t width,
               int64_t threads)
{
    constexpr uint32_t kChunkFrames = 16384;
    auto engine = std::make_unique<SynthEngine>();
    auto player = std::make_unique<Player>();
    RenderSetup setup;
    if (!setup.apply(state, *engine, width, threads)) return;
    std::vector<float> frames(2 * kChunkFrames);
    const uint64_t total = static_cast<uint64_t>(seconds * kSampleRate);
    for (auto _ : state) {
        state.PauseTiming();
        seed_source_fix(engine->seeds, 1);
        if (!player_init(*player, *engine, image.data(), nullptr)) {
            state.SkipWithError("the song does not load");
            return;
        }
        player_start(*player);
        state.ResumeTiming();
        for (uint64_t done = 0; done < total; done += kChunkFrames) {
            const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(kChunkFrames, total - done));
            player_render(player.get(), frames.data(), count);
        }
        benchmark::ClobberMemory();
    }
    report_frames(state, static_cast<int64_t>(total));
}

void BM_StressSong(benchmark::State& state)
{
    time_song(state, stress_song_image(), kStressSeconds, state.range(0), state.range(1));
}
BENCHMARK(BM_StressSong)->Apply(lanes_and_threads)->Unit(benchmark::kMillisecond);

void BM_EmbeddedSong(benchmark::State& state)
{
    const std::vector<uint8_t> image(kEmbeddedSong, kEmbeddedSong + kEmbeddedSongSize);
    time_song(state, image, kPlayerStopSeconds, state.range(0), state.range(1));
}
BENCHMARK(BM_EmbeddedSong)->Apply(lanes_and_threads)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
