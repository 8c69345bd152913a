#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>

#include "tests/synth/engine_harness.h"

namespace {

TEST(RenderEntry, TwoHundredFramesRenderTwoBlocksAndKeep56)
{
    const std::vector<float> expected =
        EngineHarness(sine_patch()).play(StreamBuilder().note_on(0, 69, 100)).render(256);

    EngineHarness split(sine_patch());
    split.play(StreamBuilder().note_on(0, 69, 100));
    std::vector<float> out = split.render(200);
    EXPECT_EQ(split.engine->state.frames_left, 56);

    // A message now takes effect at the next block, not in the kept frames.
    split.play(StreamBuilder().note_on(1, 40, 127));
    const std::vector<float> rest = split.render(56);
    EXPECT_EQ(split.engine->state.frames_left, 0);
    EXPECT_EQ(split.voice(1).amplitude, 0.0f);
    out.insert(out.end(), rest.begin(), rest.end());
    EXPECT_EQ(out, expected);

    // A count of zero or less does nothing.
    float sentinel[2] = {5.0f, 5.0f};
    synth_render(*split.engine, sentinel, 0, nullptr, 0);
    synth_render(*split.engine, sentinel, -3, nullptr, 0);
    EXPECT_EQ(split.engine->state.frames_left, 0);
    EXPECT_EQ(sentinel[0], 5.0f);

    // At 48000 frames a second the blocks are 140 frames.
    EngineHarness faster(BankBuilder().add(sine_patch()), GlobalsBuilder(), 48000);
    EXPECT_EQ(synth_block_size(*faster.engine), 140);
    faster.render(200);
    EXPECT_EQ(faster.engine->state.frames_left, 80);
}

TEST(RenderEntry, PlanarOutputIsCopiedOrAdded)
{
    const int32_t frames = 300;
    const std::vector<float> reference =
        EngineHarness(sine_patch().pan(20)).play(StreamBuilder().note_on(0, 60, 100)).render(frames);

    for (int32_t add : {0, 1}) {
        EngineHarness planar(sine_patch().pan(20));
        planar.play(StreamBuilder().note_on(0, 60, 100));
        std::vector<float> left(frames, 0.25f);
        std::vector<float> right(frames, 0.25f);
        synth_render(*planar.engine, left.data(), 100, right.data(), add);
        synth_render(*planar.engine, left.data() + 100, frames - 100, right.data() + 100, add);
        const float base = add ? 0.25f : 0.0f;
        for (int32_t i = 0; i < frames; ++i) {
            ASSERT_EQ(left[i], base + reference[2 * i]) << "add " << add << " frame " << i;
            ASSERT_EQ(right[i], base + reference[2 * i + 1]) << "add " << add << " frame " << i;
        }
    }
}

TEST(MasterCut, HighCut127IsBypassedAndLowCut0IsOneIn16384)
{
    EngineHarness h(sine_patch());
    EXPECT_EQ(h.engine->state.master_cut.low_coefficient, 1.0f / 16384.0f);
    EXPECT_EQ(h.engine->state.master_cut.high_coefficient, 1.0f);

    // Silence in, the low cut's remembered level comes out inverted, untouched.
    h.engine->state.master_cut.low_left = 0.5f;
    const std::vector<float> bypassed = h.render(1);
    EXPECT_EQ(bypassed[0], -0.5f);
    EXPECT_EQ(bypassed[1], 0.0f);
    EXPECT_EQ(h.engine->state.master_cut.high_left, 0.0f);

    EngineHarness smoothed(BankBuilder().add(sine_patch()), GlobalsBuilder().high_cut(126));
    smoothed.engine->state.master_cut.low_left = 0.5f;
    const std::vector<float> out = smoothed.render(1);
    // 126 gives (127/128)^2 = 16129/16384, and the high cut's first output
    // is that share of the low cut's -0.5: both exact in single precision.
    EXPECT_EQ(smoothed.engine->state.master_cut.high_coefficient, 16129.0f / 16384.0f);
    EXPECT_EQ(out[0], -16129.0f / 32768.0f);
    EXPECT_GT(out[0], bypassed[0]) << "the high cut smooths the step";
}

TEST(SynthInit, StartsWithFreeVoicesProgramZeroAndFullController7AndRefusesAnUnusableRate)
{
    EngineHarness h(sine_patch());
    EXPECT_EQ(h.busy_voices(), 0);
    int32_t programs[kChannelCount];
    synth_channel_programs(*h.engine, programs);
    for (int c = 0; c < kChannelCount; ++c) {
        EXPECT_EQ(programs[c], 0);
        EXPECT_EQ(h.controls(c), (std::vector<int>{0, 0, 0, 0, 0, 0, 0, 127}));
    }
    EXPECT_EQ(h.channels(kVoiceCount), std::vector<int>(kVoiceCount, -1));
    EXPECT_EQ(synth_block_size(*h.engine), kBlockSize);

    // A rate whose block would not fit the work buffers changes nothing.
    h.play(StreamBuilder().note_on(0, 60, 100));
    h.render(10);
    EXPECT_FALSE(synth_init(*h.engine, h.bank.data(), 200000));
    EXPECT_FALSE(synth_init(*h.engine, h.bank.data(), 0));
    EXPECT_EQ(h.busy_voices(), 1);
    EXPECT_EQ(h.engine->state.frames_left, kBlockSize - 10);
    EXPECT_EQ(h.engine->sample_rate, kSampleRate);
    EXPECT_EQ(synth_block_size(*h.engine), kBlockSize);
}

PatchBuilder busy_patch()
{
    return PatchBuilder()
        .oscillator(0, {.mode = kOscillatorPulse, .colour = 30})
        .oscillator(1, {.mode = kOscillatorNoise, .gain = 40})
        .volume(100)
        .reverb_send(128)
        .delay_send(128)
        .channel_delay({.mix = 100, .feedback = 100, .left = 30, .right = 40})
        .channel_dynamics({.detector = 1, .look_ahead = 2, .threshold = 20, .ratio = 100})
        .shelf(64);
}

GlobalsBuilder busy_globals()
{
    return GlobalsBuilder()
        .reverb({.decay = 100, .damping = 40, .low_cut = 20, .input = 128})
        .delay({.mix = 110, .feedback = 90, .left = 10, .right = 12})
        .low_cut(10)
        .high_cut(100)
        .dynamics({.detector = 2, .look_ahead = 1, .threshold = 30, .ratio = 64});
}

TEST(SynthInit, ASecondInitSilencesEveryMemory)
{
    EngineHarness h(BankBuilder().add(busy_patch()).add(busy_patch()), busy_globals());
    h.play(StreamBuilder().program(2, 1).controller(2, 1, 50).note_on(2, 48, 120).note_on(0, 55, 90));
    h.render(20 * kBlockSize);
    SynthBuffers& buffers = h.engine->buffers;
    ASSERT_FALSE(all_zero(buffers.channel_delay_rings[2], 2 * kChannelDelayFrames));
    ASSERT_FALSE(all_zero(buffers.global_delay_rings, 2 * kGlobalDelayFrames));
    ASSERT_FALSE(all_zero(h.engine->state.reverb.lines, kReverbLineFloats));

    ASSERT_TRUE(synth_init(*h.engine, h.bank.data(), kSampleRate));
    EXPECT_EQ(h.busy_voices(), 0);
    EXPECT_EQ(h.controls(2), (std::vector<int>{0, 0, 0, 0, 0, 0, 0, 127}));
    for (int c = 0; c < kChannelCount; ++c) {
        EXPECT_TRUE(all_zero(buffers.channel_delay_rings[c], 2 * kChannelDelayFrames)) << c;
        EXPECT_TRUE(all_zero(h.engine->state.channels[c].dynamics.delay_line, 2 * kDynamicsDelayFrames)) << c;
        EXPECT_EQ(h.engine->state.channels[c].delay.write_index, 0);
    }
    EXPECT_TRUE(all_zero(buffers.global_delay_rings, 2 * kGlobalDelayFrames));
    EXPECT_TRUE(all_zero(h.engine->state.reverb.lines, kReverbLineFloats));
    EXPECT_TRUE(all_zero(h.engine->state.master_dynamics.delay_line, 2 * kDynamicsDelayFrames));
    EXPECT_EQ(h.engine->state.master_cut.low_left, 0.0f);

    // Until the globals are set again the master is silent; after that it is
    // silent because nothing plays.
    h.play(StreamBuilder().note_on(0, 55, 90));
    EXPECT_TRUE(all_zero(h.render(4 * kBlockSize)));
    h.play(StreamBuilder().controller(0, 120, 0));
    h.set_globals(busy_globals());
    EXPECT_TRUE(all_zero(h.render(4 * kBlockSize)));
}

TEST(SampleRates, EveryRateTheEngineTakesRendersABusySceneFiniteAndBounded)
{
    // Wide-open filters, noise, the damped reverb and the delays: the
    // coefficients that rescale with the rate stay where their loops are stable.
    PatchBuilder bright = busy_patch();
    bright.filter(0, {.mode = kFilterLowPass, .cutoff = 128, .resonance = 120})
        .filter(1, {.mode = kFilterBandPass, .cutoff = 128, .resonance = 100})
        .routing(kRoutingSerial);
    GlobalsBuilder globals = busy_globals();
    globals.reverb({.decay = 120, .damping = 128, .low_cut = 128, .input = 128});
    for (int32_t rate : {8000, 22050, 32000, 48000, 88200, 96000}) {
        EngineHarness h(BankBuilder().add(bright), globals, rate);
        h.play(StreamBuilder().note_on(0, 36, 127).note_on(0, 60, 127).note_on(0, 96, 127));
        float peak = 0.0f;
        for (float x : h.render(2 * rate)) {
            ASSERT_TRUE(std::isfinite(x)) << rate << " Hz";
            peak = std::max(peak, std::fabs(x));
        }
        EXPECT_LT(peak, 8.0f) << rate << " Hz";
        EXPECT_GT(peak, 1e-3f) << rate << " Hz";
    }
}

TEST(SampleRates, TheAmplitudeReachesTheEnvelopesLevelOverOneBlockOfAnyLength)
{
    // At 96000 Hz a block is 279 frames: a ramp sized for 128 frames would
    // overshoot and swing wider every block.
    EngineHarness h(BankBuilder().add(sine_patch()), GlobalsBuilder(), 96000);
    h.play(StreamBuilder().note_on(0, 60, 100));
    for (int block = 0; block < 40; ++block) {
        h.render(synth_block_size(*h.engine));
        const VoiceState& voice = h.voice(0);
        EXPECT_NEAR(voice.amplitude, voice.envelopes[0].out / 128.0f, 1e-5f) << "block " << block;
    }
}

TEST(BlockMix, AChannelWithoutBusyVoicesContributesNothingNotEvenItsTail)
{
    PatchBuilder patch = busy_patch();
    patch.reverb_send(0).delay_send(0).channel_dynamics({});
    EngineHarness h(patch);
    h.play(StreamBuilder().note_on(14, 60, 100));
    h.render(4 * kBlockSize);
    h.play(StreamBuilder().note_off(14, 60));
    h.render(kBlockSize);  // the release tick frees the voice at this block start
    ASSERT_EQ(h.busy_voices(), 0);
    const DelayState& delay = h.engine->state.channels[14].delay;
    const int32_t write_index = delay.write_index;
    ASSERT_FALSE(all_zero(delay.ring_left, kChannelDelayFrames));

    // Clear what the master low cut remembers, so only new signal could show.
    h.engine->state.master_cut.low_left = h.engine->state.master_cut.low_right = 0.0f;
    h.engine->state.master_cut.high_left = h.engine->state.master_cut.high_right = 0.0f;
    EXPECT_TRUE(all_zero(h.render(8 * kBlockSize)));
    EXPECT_EQ(delay.write_index, write_index);
}

// An engine record with guard bytes before and after it: a write past either
// end of the record shows as a changed guard byte.
struct GuardedEngine {
    static constexpr size_t kGuardBytes = 4096;
    static constexpr uint8_t kGuardValue = 0xA5;
    std::vector<uint8_t> memory =
        std::vector<uint8_t>(sizeof(SynthEngine) + 2 * kGuardBytes + alignof(SynthEngine), kGuardValue);
    uint8_t* front =
        memory.data() + (alignof(SynthEngine) - reinterpret_cast<uintptr_t>(memory.data()) % alignof(SynthEngine)) %
                            alignof(SynthEngine);
    SynthEngine* engine = new (front + kGuardBytes) SynthEngine();

    bool guards_intact() const
    {
        const uint8_t* back = front + kGuardBytes + sizeof(SynthEngine);
        return std::all_of(front, front + kGuardBytes, [](uint8_t b) { return b == kGuardValue; }) &&
               std::all_of(back, back + kGuardBytes, [](uint8_t b) { return b == kGuardValue; });
    }
};

// Every ring and line position the engine keeps lies inside its buffer.
void expect_positions_inside(const SynthState& state)
{
    const auto delay_inside = [](const DelayState& delay) {
        return delay.write_index >= 0 && delay.write_index <= delay.mask;
    };
    const auto dynamics_inside = [](const DynamicsState& dyn) {
        return dyn.look_ahead >= 0 && dyn.look_ahead <= kDynamicsMaxLookAhead && dyn.write_index >= 0 &&
               dyn.write_index <= dyn.look_ahead && dyn.rms_index >= 0 && dyn.rms_index < kRmsWindowFrames;
    };
    for (int c = 0; c < kChannelCount; ++c) {
        EXPECT_TRUE(delay_inside(state.channels[c].delay)) << "channel " << c;
        EXPECT_TRUE(dynamics_inside(state.channels[c].dynamics)) << "channel " << c;
    }
    EXPECT_TRUE(delay_inside(state.global_delay));
    EXPECT_TRUE(dynamics_inside(state.master_dynamics));
    const int32_t lengths[12] = {kReverbCombLeft[0],  kReverbCombLeft[1],     kReverbCombLeft[2],
                                 kReverbCombLeft[3],  kReverbAllPassLeft[0],  kReverbAllPassLeft[1],
                                 kReverbCombRight[0], kReverbCombRight[1],    kReverbCombRight[2],
                                 kReverbCombRight[3], kReverbAllPassRight[0], kReverbAllPassRight[1]};
    for (int i = 0; i < 12; ++i)
        EXPECT_TRUE(state.reverb.indices[i] >= 0 && state.reverb.indices[i] < lengths[i]) << "reverb line " << i;
}

TEST(Robustness, BytesFarOutOfRangeStayInsideEveryBuffer)
{
    PatchBuilder patch;
    for (int i = 0; i < kPatchParamBytes; ++i) patch.byte(i, 255);
    patch.modulate(255, 255, 255).modulate(kModSourceKey, 255, 0).modulate(kModSourceController1, 0, 83);
    GlobalsBuilder globals;
    for (int i = 0; i < kGlobalParamCount; ++i) globals.byte(i, 255);
    const std::vector<uint8_t> bank = BankBuilder().add(patch).bytes();
    const auto block = globals.bytes();
    StreamBuilder notes;
    for (int n = 0; n < 40; ++n) notes.note_on(n % 16, static_cast<uint8_t>(n * 3), 127);

    GuardedEngine guarded;
    SynthEngine& engine = *guarded.engine;
    seed_source_fix(engine.seeds, kHarnessSeed);
    ASSERT_TRUE(synth_init(engine, bank.data(), kSampleRate));
    synth_set_globals(engine, block.data());
    std::vector<float> out(2 * 6 * kBlockSize);
    synth_process_stream(engine, notes.bytes().data());
    synth_render(engine, out.data(), 6 * kBlockSize, nullptr, 0);
    synth_process_stream(engine, StreamBuilder().controller(3, 123, 0).controller(4, 120, 0).bytes().data());
    synth_render(engine, out.data(), 3 * kBlockSize, nullptr, 0);
    EXPECT_TRUE(guarded.guards_intact());
    expect_positions_inside(engine.state);
    EXPECT_EQ(engine.state.frames_left, 0);
}

}  // namespace
