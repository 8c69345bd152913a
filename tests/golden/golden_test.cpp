// Golden renders: small fixed-seed scenes, one per unit mode and effect, the
// embedded song's whole render and the embedded image's bytes, each reduced
// to a hash of its float output (every bit) and compared with the committed
// values in golden_renders.txt. A change that is meant to change the sound
// rewrites that file (CANTILENA_GOLDEN_UPDATE=1) in a commit that says why.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "data/embedded_song.h"
#include "sequencer/player.h"
#include "synth/engine.h"
#include "synth/seed_source.h"
#include "synth/workers.h"
#include "tests/support/image_builder.h"

namespace {

using image_builder::ChannelPlan;
using image_builder::NoteEvent;
using image_builder::SongPlan;
using image_builder::TempoEvent;
using image_builder::ValueEvent;

constexpr uint32_t kSeed = 1;
constexpr uint32_t kFrameRate = 44100;
constexpr uint32_t kSceneWindow = 4096;  // frames a window hash covers
constexpr uint32_t kSongWindow = 44100;
constexpr uint32_t kQuarter = 128;        // ticks; 120 quarters a minute unless a scene says otherwise
constexpr uint32_t kChunkFrames = 16384;  // what the render tool asks of the transport at a time

struct Scene {
    std::string name;
    double seconds;
    SongPlan plan;
};

struct Hashes {
    uint64_t frames = 0;
    uint32_t window = 0;
    uint64_t whole = 0;
    std::vector<uint32_t> windows;
    float peak = 0.0f;  // largest magnitude; NaN when any sample is not finite
};

constexpr uint64_t kFnvBasis = 0xcbf29ce484222325ull;
constexpr uint64_t kFnvPrime = 0x100000001b3ull;

uint64_t fnv_add(uint64_t hash, uint32_t word)
{
    for (int i = 0; i < 4; ++i) hash = (hash ^ ((word >> (8 * i)) & 0xFFu)) * kFnvPrime;
    return hash;
}

// How the engine renders: voices in lanes of this width (1: the scalar path),
// channels on this many threads. Every mode must give the committed bits.
struct RenderMode {
    int32_t width;
    int threads;
};

std::ostream& operator<<(std::ostream& out, const RenderMode& mode)
{
    return out << mode.width << " lanes, " << mode.threads << " threads";
}

// Every width this machine runs, each on one thread and on two.
std::vector<RenderMode> render_modes()
{
    std::vector<RenderMode> modes;
    for (int32_t width : {1, 4, 8, 16}) {
        if (width > 1 && voice_lanes_renderer(width) == nullptr) continue;
        for (int threads : {1, 2}) modes.push_back({width, threads});
    }
    return modes;
}

struct WorkersDeleter {
    void operator()(SynthWorkers* workers) const { synth_workers_destroy(workers); }
};

// Renders through the transport exactly as the render tool does, seed fixed.
Hashes render_hashes(const std::vector<uint8_t>& image, double seconds, uint32_t window, RenderMode mode)
{
    auto engine = std::make_unique<SynthEngine>();
    seed_source_fix(engine->seeds, kSeed);
    EXPECT_TRUE(synth_set_lane_width(*engine, mode.width)) << mode;
    const std::unique_ptr<SynthWorkers, WorkersDeleter> workers(synth_workers_create(mode.threads));
    synth_attach_workers(*engine, workers.get());
    auto player = std::make_unique<Player>();
    Hashes out;
    out.window = window;
    if (!player_init(*player, *engine, image.data(), nullptr)) return out;
    player_start(*player);

    const uint64_t total = static_cast<uint64_t>(seconds * kFrameRate + 0.5);
    std::vector<float> frames(2 * kChunkFrames);
    uint64_t whole = kFnvBasis;
    uint64_t current = kFnvBasis;
    uint64_t done = 0;
    while (done < total) {
        const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(kChunkFrames, total - done));
        player_render(player.get(), frames.data(), count);
        for (uint32_t i = 0; i < count; ++i) {
            for (int side = 0; side < 2; ++side) {
                const float x = frames[2 * i + side];
                out.peak = std::isfinite(x) ? std::max(out.peak, std::fabs(x)) : NAN;
                uint32_t bits;
                std::memcpy(&bits, &x, sizeof bits);
                whole = fnv_add(whole, bits);
                current = fnv_add(current, bits);
            }
            if ((done + i + 1) % window == 0) {
                out.windows.push_back(static_cast<uint32_t>(current ^ (current >> 32)));
                current = kFnvBasis;
            }
        }
        done += count;
    }
    if (total % window != 0) out.windows.push_back(static_cast<uint32_t>(current ^ (current >> 32)));
    out.frames = total;
    out.whole = whole;
    return out;
}

// Scenes play one channel of notes, or several, on patches made here.

std::vector<NoteEvent> held(std::initializer_list<uint8_t> keys, uint32_t on, uint32_t off, uint8_t velocity = 100)
{
    std::vector<NoteEvent> notes;
    for (uint8_t key : keys) notes.push_back({on, key, velocity});
    for (uint8_t key : keys) notes.push_back({off, key, 0});
    return notes;
}

// A short phrase: each key a quarter long, then a quarter's rest before the next.
std::vector<NoteEvent> phrase(std::initializer_list<uint8_t> keys, uint8_t velocity = 100)
{
    std::vector<NoteEvent> notes;
    uint32_t tick = 0;
    for (uint8_t key : keys) {
        notes.push_back({tick, key, velocity});
        notes.push_back({tick + kQuarter, key, 0});
        tick += kQuarter + kQuarter / 2;
    }
    return notes;
}

SongPlan one_channel(const PatchBuilder& patch, std::vector<NoteEvent> notes,
                     const GlobalsBuilder& globals = GlobalsBuilder())
{
    SongPlan plan;
    plan.patch_bank = BankBuilder().add(patch).bytes();
    const auto block = globals.bytes();
    plan.global_block.assign(block.begin(), block.end());
    plan.channels[0].notes = std::move(notes);
    return plan;
}

PatchBuilder voice_with(const OscillatorSlice& first)
{
    return PatchBuilder().oscillator(0, first).envelope(0, {.attack = 4, .decay = 60, .sustain = 90, .release = 30});
}

const std::initializer_list<uint8_t> kMelody = {45, 57, 64, 72, 81};

void add_oscillator_scenes(std::vector<Scene>& scenes)
{
    const std::pair<const char*, uint8_t> modes[] = {{"ramp", kOscillatorRamp},
                                                     {"pulse", kOscillatorPulse},
                                                     {"sine", kOscillatorSine},
                                                     {"noise", kOscillatorNoise},
                                                     {"phase_mod", kOscillatorPhaseMod}};
    for (const auto& [name, mode] : modes) {
        // Three of a kind at different colours, transposes and detunes.
        PatchBuilder plain = voice_with({.mode = mode, .colour = 0, .gain = 60});
        plain.oscillator(1, {.mode = mode, .transpose = 76, .detune = 70, .colour = 64, .gain = 40})
            .oscillator(2, {.mode = mode, .transpose = 52, .detune = 50, .colour = 127, .gain = 40});
        scenes.push_back({std::string("oscillator_") + name, 2.0, one_channel(plain, phrase(kMelody))});

        // Multiplied into a saw (ring), then pushing a phase-modulated sine.
        PatchBuilder ring = voice_with({.mode = kOscillatorRamp, .colour = 20, .gain = 90});
        ring.oscillator(1, {.mode = mode, .ring = 1, .transpose = 71, .colour = 90, .gain = 128})
            .oscillator(2, {.mode = kOscillatorPhaseMod, .transpose = 64, .detune = 66, .colour = 30, .gain = 100});
        scenes.push_back(
            {std::string("oscillator_") + name + "_ring_into_phase_mod", 2.0, one_channel(ring, phrase(kMelody))});
    }
}

// A bright saw and noise with filter 1's cut-off swept by envelope 2.
PatchBuilder filter_source()
{
    return voice_with({.mode = kOscillatorRamp, .colour = 10, .gain = 70})
        .oscillator(1, {.mode = kOscillatorNoise, .colour = 40, .gain = 20})
        .envelope(1, {.attack = 10, .decay = 70, .sustain = 20, .release = 40, .gain = 100})
        .modulate(kModSourceEnvelope2, 100, kVoiceFilter1 + FilterParam::kCutoff);
}

void add_filter_scenes(std::vector<Scene>& scenes)
{
    const std::pair<const char*, uint8_t> responses[] = {{"lowpass", kFilterLowPass},
                                                         {"bandpass", kFilterBandPass},
                                                         {"highpass", kFilterHighPass},
                                                         {"notch", kFilterNotch},
                                                         {"peak", kFilterAll}};
    for (const auto& [name, mode] : responses) {
        PatchBuilder patch = filter_source().filter(0, {.mode = mode, .cutoff = 60, .resonance = 90});
        scenes.push_back({std::string("filter_") + name, 2.0, one_channel(patch, phrase(kMelody))});
    }
    PatchBuilder serial = filter_source()
                              .filter(0, {.mode = kFilterLowPass, .cutoff = 90, .resonance = 60})
                              .filter(1, {.mode = kFilterHighPass, .cutoff = 50, .resonance = 40})
                              .routing(kRoutingSerial);
    scenes.push_back({"filter_routing_serial", 2.0, one_channel(serial, phrase(kMelody))});
    for (uint8_t balance : {20, 64, 110}) {
        PatchBuilder parallel = filter_source()
                                    .filter(0, {.mode = kFilterBandPass, .cutoff = 70, .resonance = 100})
                                    .filter(1, {.mode = kFilterNotch, .cutoff = 85, .resonance = 30})
                                    .routing(kRoutingParallel)
                                    .balance(balance);
        scenes.push_back({"filter_routing_parallel_balance_" + std::to_string(balance), 2.0,
                          one_channel(parallel, phrase(kMelody))});
    }
}

void add_distortion_scenes(std::vector<Scene>& scenes)
{
    const std::pair<const char*, DistortionSlice> modes[] = {
        {"overdrive", {.mode = kDistortionOverdrive, .drive = 70, .a = 100, .b = 80}},
        {"clip", {.mode = kDistortionClip, .drive = 80, .a = 90, .b = 50}},
        {"crush", {.mode = kDistortionBitCrusher, .drive = 40, .a = 70, .b = 3}},
        {"reduce", {.mode = kDistortionRateReducer, .drive = 32, .a = 60, .b = 64}},
        {"lowpass", {.mode = kDistortionLowPass, .drive = 40, .a = 70, .b = 90}},
        {"bandpass", {.mode = kDistortionBandPass, .drive = 40, .a = 80, .b = 100}},
        {"highpass", {.mode = kDistortionHighPass, .drive = 40, .a = 90, .b = 60}},
        {"notch", {.mode = kDistortionNotch, .drive = 40, .a = 75, .b = 80}},
        {"peak", {.mode = kDistortionAllPass, .drive = 40, .a = 85, .b = 70}},
    };
    for (const auto& [name, slice] : modes) {
        PatchBuilder mono = voice_with({.mode = kOscillatorRamp, .colour = 30, .gain = 90}).distortion(slice);
        scenes.push_back({std::string("distortion_mono_") + name, 1.5, one_channel(mono, phrase({48, 60, 67}))});
        // Stereo: a voice panned left and a voice panned right share the channel's unit.
        PatchBuilder stereo = voice_with({.mode = kOscillatorPulse, .colour = 40, .gain = 90})
                                  .channel_distortion(slice)
                                  .modulate(kModSourceKey, 100, kVoicePan);
        scenes.push_back(
            {std::string("distortion_stereo_") + name, 1.5, one_channel(stereo, held({36, 79}, 0, 2 * kQuarter))});
    }
}

void add_envelope_scenes(std::vector<Scene>& scenes)
{
    // Slow attack, sinking sustain, long release; envelope 2 on the pitch and
    // the level of oscillator 2; notes that re-use voices mid-release.
    PatchBuilder patch =
        PatchBuilder()
            .oscillator(0, {.mode = kOscillatorPulse, .colour = 50, .gain = 70})
            .oscillator(1, {.mode = kOscillatorSine, .transpose = 76, .gain = 60})
            .envelope(0, {.attack = 40, .decay = 50, .sustain = 80, .slope = 40, .release = 60, .gain = 110})
            .envelope(1, {.attack = 0, .decay = 30, .sustain = 40, .slope = 90, .release = 20, .gain = 128})
            .modulate(kModSourceEnvelope2, 90, kVoiceOscillator2 + OscillatorParam::kDetune)
            .modulate(kModSourceEnvelope2, 110, kVoiceOscillator2 + OscillatorParam::kGain)
            .polyphony(2);
    std::vector<NoteEvent> notes = {{0, 60, 120}, {200, 60, 0},  {230, 64, 60}, {260, 67, 127}, {300, 64, 0},
                                    {420, 67, 0}, {440, 72, 90}, {445, 72, 0},  {460, 55, 100}, {700, 55, 0}};
    scenes.push_back({"envelopes", 3.5, one_channel(patch, notes)});
}

void add_lfo_scenes(std::vector<Scene>& scenes)
{
    const std::pair<const char*, uint8_t> waves[] = {{"saw", kLfoSaw},
                                                     {"triangle", kLfoTriangle},
                                                     {"square", kLfoSquare},
                                                     {"sine", kLfoSine},
                                                     {"sample_hold", kLfoSampleHold}};
    const std::pair<const char*, uint8_t> polarities[] = {{"positive", 0}, {"negative", 1}, {"bipolar", 2}};
    for (const auto& [wave_name, wave] : waves) {
        for (const auto& [polarity_name, polarity] : polarities) {
            // LFO 1 free-running on the pitch; LFO 2 key-synced, one-shot on the cut-off.
            PatchBuilder patch = voice_with({.mode = kOscillatorRamp, .colour = 10, .gain = 90})
                                     .filter(0, {.mode = kFilterLowPass, .cutoff = 70, .resonance = 50})
                                     .lfo(0, {.waveform = wave, .rate = 100, .polarity = polarity, .amount = 40})
                                     .lfo(1, {.waveform = wave,
                                              .key_sync = 1,
                                              .one_shot = 1,
                                              .rate = 90,
                                              .start_phase = 32,
                                              .polarity = polarity,
                                              .amount = 90})
                                     .modulate(kModSourceLfo1, 127, kVoiceOscillator1 + OscillatorParam::kDetune)
                                     .modulate(kModSourceLfo2, 120, kVoiceFilter1 + FilterParam::kCutoff);
            scenes.push_back(
                {std::string("lfo_") + wave_name + "_" + polarity_name, 1.5, one_channel(patch, phrase({52, 64, 71}))});
        }
    }
}

void add_modulation_scene(std::vector<Scene>& scenes)
{
    // Every source onto voice and channel destinations, controllers moving.
    PatchBuilder patch = voice_with({.mode = kOscillatorPulse, .colour = 64, .gain = 80})
                             .oscillator(1, {.mode = kOscillatorRamp, .transpose = 64, .detune = 64, .gain = 50})
                             .filter(0, {.mode = kFilterLowPass, .cutoff = 60, .resonance = 40})
                             .envelope(1, {.attack = 20, .decay = 40, .sustain = 60, .release = 30})
                             .lfo(0, {.waveform = kLfoTriangle, .rate = 70, .polarity = 2, .amount = 60})
                             .lfo(1, {.waveform = kLfoSampleHold, .rate = 110, .polarity = 0, .amount = 50})
                             .volume(40)
                             .reverb_send(0)
                             .modulate(kModSourceVelocity, 100, kVoiceEnvelope1 + EnvelopeParam::kGain)
                             .modulate(kModSourceController1, 90, kVoiceLfo1 + LfoParam::kAmount)
                             .modulate(kModSourceController1 + 1, 40, kVoiceFilter1 + FilterParam::kCutoff)
                             .modulate(kModSourceController1 + 2, 100, kVoicePan)
                             .modulate(kModSourceController1 + 3, 80, kVoiceOscillator1 + OscillatorParam::kColour)
                             .modulate(kModSourceController1 + 4, 70, kModDestChannelFirst + kChannelShelf)
                             .modulate(kModSourceController1 + 5, 90, kModDestChannelFirst + kChannelReverbSend)
                             .modulate(kModSourceController1 + 6, 127, kModDestChannelFirst + kChannelVolume)
                             .modulate(kModSourceVelocity, 127, kModDestChannelFirst + kChannelDelaySend)
                             .modulate(kModSourceEnvelope1, 80, kVoiceOscillator2 + OscillatorParam::kGain)
                             .modulate(kModSourceEnvelope2, 30, kVoiceFilter1 + FilterParam::kCutoff)
                             .modulate(kModSourceLfo1, 110, kVoiceOscillator2 + OscillatorParam::kDetune)
                             .modulate(kModSourceLfo2, 90, kVoiceFilter1 + FilterParam::kResonance)
                             .modulate(kModSourceKey, 80, kVoiceFilter1 + FilterParam::kCutoff)
                             .modulate(kModSourceKey + 5, 60, kVoiceOscillator1 + OscillatorParam::kColour)
                             .modulate(kModSourceLfo1, 70, kModDestinationCount)  // changes nothing
                             .modulate(kModSourceEnvelope1, 100, kModDestChannelFirst + kChannelVolume);
    SongPlan plan = one_channel(patch, phrase({40, 52, 59, 64, 76, 83}, 90),
                                GlobalsBuilder().reverb({.decay = 60, .damping = 30, .low_cut = 10, .input = 90}));
    ChannelPlan& channel = plan.channels[0];
    for (int k = 0; k < 7; ++k) {
        for (uint32_t step = 0; step < 6; ++step)
            channel.controllers[k].push_back({step * 90 + 7 * k, static_cast<uint8_t>((step * 37 + k * 19) % 128)});
    }
    scenes.push_back({"modulation_matrix", 3.0, plan});
}

PatchBuilder chain_patch(uint8_t order)
{
    return voice_with({.mode = kOscillatorRamp, .colour = 0, .gain = 80})
        .pan(30)
        .shelf(90)
        .effect_order(order)
        .channel_distortion({.mode = kDistortionOverdrive, .drive = 60, .a = 90, .b = 70})
        .channel_delay(
            {.mix = 96, .feedback = 90, .left = 20, .right = 31, .rate = 40, .depth = 30, .stereo_phase = 100});
}

void add_channel_scenes(std::vector<Scene>& scenes)
{
    scenes.push_back({"channel_chain_distortion_first", 2.5, one_channel(chain_patch(0), phrase({50, 62, 69}))});
    scenes.push_back({"channel_chain_delay_first", 2.5, one_channel(chain_patch(1), phrase({50, 62, 69}))});

    const std::pair<const char*, DynamicsSlice> settings[] = {
        {"peak_linked", {.detector = 1, .threshold = 30, .ratio = 100, .attack = 10, .release = 40}},
        {"peak_per_side",
         {.detector = 1,
          .stereo = 1,
          .look_ahead = 3,
          .threshold = 40,
          .ratio = 128,
          .attack = 20,
          .release = 60,
          .output = 70}},
        {"rms_linked",
         {.detector = 2,
          .compensation_off = 1,
          .threshold = 100,
          .ratio = 80,
          .attack = 5,
          .release = 30,
          .output = 60}},
        {"rms_per_side",
         {.detector = 2, .stereo = 1, .look_ahead = 10, .threshold = 50, .ratio = 64, .attack = 30, .release = 80}},
    };
    for (const auto& [name, slice] : settings) {
        PatchBuilder channel = voice_with({.mode = kOscillatorPulse, .colour = 30, .gain = 128})
                                   .modulate(kModSourceKey, 120, kVoicePan)
                                   .channel_dynamics(slice);
        scenes.push_back(
            {std::string("channel_dynamics_") + name, 2.0, one_channel(channel, phrase({36, 84, 60, 48}, 127))});
        PatchBuilder loud =
            voice_with({.mode = kOscillatorRamp, .colour = 60, .gain = 128}).modulate(kModSourceKey, 120, kVoicePan);
        scenes.push_back({std::string("master_dynamics_") + name, 2.0,
                          one_channel(loud, phrase({36, 84, 60, 48}, 127), GlobalsBuilder().dynamics(slice))});
    }
}

void add_master_scenes(std::vector<Scene>& scenes)
{
    PatchBuilder sent = voice_with({.mode = kOscillatorPulse, .colour = 50, .gain = 80})
                            .envelope(0, {.decay = 40, .sustain = 0, .release = 10})
                            .reverb_send(110)
                            .delay_send(100);
    scenes.push_back({"reverb", 3.0,
                      one_channel(sent.delay_send(0), phrase({60, 67, 72}),
                                  GlobalsBuilder().reverb({.decay = 40, .damping = 60, .low_cut = 30, .input = 110}))});
    scenes.push_back({"reverb_long_tail", 4.0,
                      one_channel(sent.delay_send(0), phrase({48}),
                                  GlobalsBuilder().reverb({.decay = 0, .damping = 10, .low_cut = 0, .input = 128}))});
    scenes.push_back(
        {"global_delay", 3.0,
         one_channel(
             sent.reverb_send(0).delay_send(110), phrase({60, 67, 72}),
             GlobalsBuilder().delay(
                 {.mix = 110, .feedback = 100, .left = 12, .right = 19, .rate = 30, .depth = 20, .stereo_phase = 0}))});
    for (uint8_t low : {0, 40}) {
        for (uint8_t high : {127, 60}) {
            scenes.push_back({"master_cut_low_" + std::to_string(low) + "_high_" + std::to_string(high), 1.5,
                              one_channel(voice_with({.mode = kOscillatorRamp, .colour = 0, .gain = 100}),
                                          phrase({36, 72}), GlobalsBuilder().low_cut(low).high_cut(high))});
        }
    }
}

void add_speech_scene(std::vector<Scene>& scenes)
{
    // Text 0: holds, names in either case, longest match first, digits, a
    // marker after digits, unmatched characters, a trailing pause. Text 1 is
    // spoken without holds; controller 4 picks texts and the speed,
    // controller 5 the formant scale.
    SongPlan plan = one_channel(voice_with({.mode = kOscillatorRamp, .colour = 20, .gain = 100}), {});
    plan.texts = {"!hEH_ !lOW_ !th2ng_ w3ER-LD 4!x_ !DHzhCH IAeaUA_ 3", "sil sh ay oy aw ow 12s ll wh el rx q j 2"};
    std::vector<NoteEvent>& notes = plan.channels[kSpeechChannel].notes;
    uint32_t tick = 0;
    for (uint8_t key : {60, 62, 64, 65, 67, 69}) {
        notes.push_back({tick, key, 100});
        notes.push_back({tick + 100, key, 0});
        tick += 140;
    }
    notes.push_back({1000, 57, 90});
    notes.push_back({1600, 57, 0});
    ChannelPlan& speech = plan.channels[kSpeechChannel];
    speech.controllers[3] = {{0, 0}, {1000, 1}, {1300, 66}};
    speech.controllers[4] = {{0, 64}, {1100, 100}, {1400, 20}};
    scenes.push_back({"speech", 8.0, plan});
}

void add_sequencing_scenes(std::vector<Scene>& scenes)
{
    // Tempo changes, a program change between two patches, and a note off
    // after a tempo change.
    SongPlan tempos = one_channel(voice_with({.mode = kOscillatorPulse, .colour = 64, .gain = 80}), {});
    tempos.patch_bank = BankBuilder()
                            .add(voice_with({.mode = kOscillatorPulse, .colour = 64, .gain = 80}))
                            .add(voice_with({.mode = kOscillatorSine, .gain = 110}))
                            .bytes();
    tempos.tempos = {{0, 500000}, {256, 300000, 3, 4, 8}, {512, 900000, 6, 8, 4}, {640, 250000}};
    for (uint32_t tick = 0; tick < 1024; tick += 64) {
        tempos.channels[0].notes.push_back({tick, static_cast<uint8_t>(60 + (tick / 64) % 12), 100});
        tempos.channels[0].notes.push_back({tick + 40, static_cast<uint8_t>(60 + (tick / 64) % 12), 0});
    }
    tempos.channels[0].programs = {{0, 0}, {384, 1}, {700, 0}};
    scenes.push_back({"tempo_changes", 5.0, tempos});

    // Forty notes over eight channels at once: more than the 32 voices, so
    // voices are stolen under the polyphony limits.
    SongPlan crowd;
    crowd.patch_bank = BankBuilder()
                           .add(voice_with({.mode = kOscillatorRamp, .colour = 40, .gain = 40}).polyphony(6))
                           .add(voice_with({.mode = kOscillatorSine, .gain = 50}).polyphony(16))
                           .bytes();
    const auto quiet = GlobalsBuilder().bytes();
    crowd.global_block.assign(quiet.begin(), quiet.end());
    for (int c = 0; c < 8; ++c) {
        std::vector<NoteEvent>& notes = crowd.channels[c].notes;
        for (int k = 0; k < 5; ++k)
            notes.push_back({static_cast<uint32_t>(3 * k), static_cast<uint8_t>(36 + 7 * c + k), 90});
        for (int k = 0; k < 5; ++k) notes.push_back({300, static_cast<uint8_t>(36 + 7 * c + k), 0});
        crowd.channels[c].programs = {{0, static_cast<uint8_t>(c % 2)}};
    }
    scenes.push_back({"more_than_32_voices", 3.0, crowd});

    // One tick whose events do not fit one 4096-byte stream.
    SongPlan flood = one_channel(voice_with({.mode = kOscillatorSine, .gain = 30}).polyphony(32), {});
    std::vector<NoteEvent>& notes = flood.channels[0].notes;
    for (int i = 0; i < 2600; ++i)
        notes.push_back({64, static_cast<uint8_t>(24 + i % 80), static_cast<uint8_t>(i % 3 ? 80 : 0)});
    notes.push_back({400, 24, 0});
    scenes.push_back({"stream_overflow", 2.0, flood});
}

std::vector<Scene> all_scenes()
{
    std::vector<Scene> scenes;
    add_oscillator_scenes(scenes);
    add_filter_scenes(scenes);
    add_distortion_scenes(scenes);
    add_envelope_scenes(scenes);
    add_lfo_scenes(scenes);
    add_modulation_scene(scenes);
    add_channel_scenes(scenes);
    add_master_scenes(scenes);
    add_speech_scene(scenes);
    add_sequencing_scenes(scenes);
    return scenes;
}

std::string golden_path()
{
    const char* dir = std::getenv("CANTILENA_SOURCE_DIR");
    return std::string(dir ? dir : ".") + "/tests/golden/golden_renders.txt";
}

bool updating()
{
    const char* update = std::getenv("CANTILENA_GOLDEN_UPDATE");
    return update != nullptr && std::strcmp(update, "1") == 0;
}

std::string hex(uint64_t value, int digits)
{
    std::ostringstream out;
    out << std::hex;
    out.width(digits);
    out.fill('0');
    out << value;
    return out.str();
}

std::string format_line(const std::string& name, const Hashes& hashes)
{
    std::string line =
        name + " " + std::to_string(hashes.frames) + " " + std::to_string(hashes.window) + " " + hex(hashes.whole, 16);
    for (uint32_t w : hashes.windows) line += " " + hex(w, 8);
    return line;
}

std::map<std::string, Hashes> read_golden()
{
    std::map<std::string, Hashes> table;
    std::ifstream in(golden_path());
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string name, whole;
        Hashes h;
        fields >> name >> h.frames >> h.window >> whole;
        h.whole = std::stoull(whole, nullptr, 16);
        std::string w;
        while (fields >> w) h.windows.push_back(static_cast<uint32_t>(std::stoul(w, nullptr, 16)));
        table[name] = h;
    }
    return table;
}

// Collects every actual line; in update mode the file is rewritten at the end.
class Golden : public ::testing::Test {
protected:
    static void TearDownTestSuite()
    {
        if (!updating()) return;
        std::map<std::string, std::string> lines;
        const auto old = read_golden();
        for (const auto& [name, h] : old) lines[name] = format_line(name, h);
        for (const auto& [name, line] : actual_) lines[name] = line;
        std::ofstream out(golden_path());
        out << "# name frames window whole-hash window-hashes (FNV-1a over the float bits of every frame)\n";
        for (const auto& [name, line] : lines) out << line << "\n";
    }

    static void check(const std::string& name, const Hashes& actual)
    {
        actual_[name] = format_line(name, actual);
        if (updating()) return;
        static const std::map<std::string, Hashes> golden = read_golden();
        const auto it = golden.find(name);
        ASSERT_NE(it, golden.end()) << name << ": no golden value (run with CANTILENA_GOLDEN_UPDATE=1)";
        const Hashes& expected = it->second;
        ASSERT_EQ(actual.frames, expected.frames) << name << ": length";
        if (actual.whole == expected.whole) return;
        for (size_t w = 0; w < expected.windows.size() && w < actual.windows.size(); ++w) {
            if (actual.windows[w] != expected.windows[w]) {
                const uint64_t first = w * expected.window;
                FAIL() << name << ": the render differs from its golden value from frame " << first << " on (frames "
                       << first << ".." << first + expected.window - 1 << " differ, " << first / double(kFrameRate)
                       << " s)";
            }
        }
        FAIL() << name << ": the whole render's hash differs";
    }

    static void every_scene(RenderMode mode);

    static std::map<std::string, std::string> actual_;
};

std::map<std::string, std::string> Golden::actual_;

TEST_F(Golden, EverySceneRendersItsCommittedBitsAtEveryLaneWidthAndThreadCount)
{
    for (const RenderMode& mode : render_modes()) {
        SCOPED_TRACE(::testing::Message() << mode);
        every_scene(mode);
    }
}

TEST_F(Golden, TheEmbeddedSongRendersItsCommittedBitsForItsWhole198Seconds)
{
    const std::vector<uint8_t> image(kEmbeddedSong, kEmbeddedSong + kEmbeddedSongSize);
    for (const RenderMode& mode : {RenderMode{1, 1}, RenderMode{voice_lanes_widest(), 2}}) {
        SCOPED_TRACE(::testing::Message() << mode);
        check("embedded_song", render_hashes(image, 198.0, kSongWindow, mode));
    }
}

void Golden::every_scene(RenderMode mode)
{
    for (const Scene& scene : all_scenes()) {
        const std::vector<uint8_t> image = image_builder::build_song_image(scene.plan);
        const Hashes hashes = render_hashes(image, scene.seconds, kSceneWindow, mode);
        // A scene that went silent or blew up would guard nothing.
        EXPECT_GT(hashes.peak, 0.01f) << scene.name;
        EXPECT_LT(hashes.peak, 4.0f) << scene.name;
        check(scene.name, hashes);
    }
}

TEST_F(Golden, TheEmbeddedSongImageKeepsItsBytes)
{
    Hashes bytes;
    bytes.frames = kEmbeddedSongSize;
    bytes.window = 1;
    bytes.whole = kFnvBasis;
    for (size_t i = 0; i < kEmbeddedSongSize; ++i) bytes.whole = (bytes.whole ^ kEmbeddedSong[i]) * kFnvPrime;
    check("embedded_song_image", bytes);
}

}  // namespace
