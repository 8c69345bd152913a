// Voices in lanes and channels on threads change nothing that is heard: every
// lane width this machine runs and every thread count render the scalar
// path's bits, whatever mix of modes shares a lane group.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "synth/units/numeric.h"
#include "synth/voice_lanes_kernel.h"
#include "synth/workers.h"
#include "tests/synth/engine_harness.h"

namespace {

struct Mode {
    int32_t width;
    int threads;
};

// The widths to compare with the scalar path: those this machine runs.
std::vector<int32_t> machine_widths()
{
    std::vector<int32_t> out;
    for (int32_t width : {4, 8, 16}) {
        if (voice_lanes_renderer(width) != nullptr) out.push_back(width);
    }
    return out;
}

struct Pool {
    SynthWorkers* workers;
    explicit Pool(int threads) : workers(synth_workers_create(threads)) {}
    ~Pool() { synth_workers_destroy(workers); }
};

// Notes on channels 0..count-1 (program c on channel c), held and released,
// then a second wave that steals voices; n blocks in all.
std::vector<float> render(const BankBuilder& bank, const GlobalsBuilder& globals, int channels, Mode mode)
{
    EngineHarness h(bank, globals);
    EXPECT_TRUE(synth_set_lane_width(*h.engine, mode.width));
    Pool pool(mode.threads);
    synth_attach_workers(*h.engine, pool.workers);
    StreamBuilder start;
    for (int c = 0; c < channels; ++c) start.program(c, static_cast<uint8_t>(c));
    for (int k = 0; k < 24; ++k) start.note_on(k % channels, static_cast<uint8_t>(30 + 3 * k), 60 + k);
    h.play(start);
    std::vector<float> out = h.render(7 * kBlockSize + 50);  // a partial block, then whole ones
    StreamBuilder release;
    for (int k = 0; k < 24; k += 2) release.note_off(k % channels, static_cast<uint8_t>(30 + 3 * k));
    for (int k = 0; k < 16; ++k) release.note_on(k % channels, static_cast<uint8_t>(70 + k), 127);
    h.play(release);
    const std::vector<float> rest = h.render(9 * kBlockSize);
    out.insert(out.end(), rest.begin(), rest.end());
    synth_attach_workers(*h.engine, nullptr);
    return out;
}

PatchBuilder with_oscillators(uint8_t mode1, uint8_t mode2, uint8_t mode3, uint8_t ring)
{
    return PatchBuilder()
        .oscillator(0, {.mode = mode1, .colour = 30, .gain = 70})
        .oscillator(1, {.mode = mode2, .ring = ring, .transpose = 71, .detune = 70, .colour = 90, .gain = 90})
        .oscillator(2, {.mode = mode3, .transpose = 52, .detune = 50, .colour = 127, .gain = 50})
        .envelope(0, {.attack = 6, .decay = 60, .sustain = 90, .release = 30})
        .envelope(1, {.attack = 10, .decay = 70, .sustain = 20, .release = 40, .gain = 100})
        .lfo(0, {.waveform = kLfoSampleHold, .rate = 100, .amount = 60})
        .modulate(kModSourceLfo1, 110, kVoiceOscillator1 + OscillatorParam::kColour)
        .modulate(kModSourceEnvelope2, 100, kVoiceFilter1 + FilterParam::kCutoff)
        .modulate(kModSourceEnvelope2, 30, kVoiceOscillator3 + OscillatorParam::kTranspose);
}

// Sixteen programs that differ in every mode the lanes branch on: each
// oscillator mode with and without ring, each filter response in each
// routing, each distortion mode, including values outside the named ones.

BankBuilder mixed_bank()
{
    const uint8_t oscillators[][4] = {{1, 2, 4, 0}, {2, 1, 3, 1}, {3, 5, 1, 0}, {4, 4, 5, 1},
                                      {5, 3, 2, 1}, {1, 1, 1, 1}, {2, 2, 2, 0}, {9, 6, 13, 0},
                                      {5, 5, 5, 0}, {3, 0, 4, 1}, {1, 3, 5, 0}, {4, 2, 1, 0},
                                      {2, 5, 3, 1}, {1, 4, 0, 1}, {3, 3, 3, 1}, {5, 1, 4, 0}};
    const uint8_t filters[][3] = {{1, 2, 0}, {2, 3, 1}, {3, 4, 2}, {4, 5, 0}, {5, 1, 1}, {0, 1, 2},
                                  {1, 0, 1}, {6, 7, 2}, {9, 3, 7}, {2, 2, 2}, {5, 5, 1}, {1, 1, 0},
                                  {3, 1, 2}, {4, 4, 1}, {1, 2, 2}, {2, 1, 1}};
    const uint8_t distortions[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 1, 2, 3, 200, 4};
    BankBuilder bank;
    for (int p = 0; p < 16; ++p) {
        PatchBuilder patch =
            with_oscillators(oscillators[p][0], oscillators[p][1], oscillators[p][2], oscillators[p][3]);
        patch.filter(0, {.mode = filters[p][0], .cutoff = static_cast<uint8_t>(50 + 4 * p), .resonance = 80})
            .filter(1, {.mode = filters[p][1], .cutoff = static_cast<uint8_t>(90 - 3 * p), .resonance = 40})
            .routing(filters[p][2])
            .balance(static_cast<uint8_t>(20 + 6 * p))
            .distortion({.mode = distortions[p], .drive = static_cast<uint8_t>(30 + 5 * p), .a = 70, .b = 50})
            .phase_reset(p % 2)
            .volume(90);
        bank.add(patch);
    }
    return bank;
}

TEST(Lanes, EveryWidthAndThreadCountRendersTheScalarPathsBits)
{
    const BankBuilder bank = mixed_bank();
    const GlobalsBuilder globals = GlobalsBuilder().reverb({.decay = 80, .damping = 40, .low_cut = 20, .input = 90});
    for (int channels : {1, 5, 16}) {
        const std::vector<float> scalar = render(bank, globals, channels, {1, 1});
        ASSERT_FALSE(all_zero(scalar));
        for (int32_t width : machine_widths()) {
            for (int threads : {1, 2, 3}) {
                EXPECT_EQ(render(bank, globals, channels, {width, threads}), scalar)
                    << channels << " channels, " << width << " lanes, " << threads << " threads";
            }
        }
        EXPECT_EQ(render(bank, globals, channels, {1, 2}), scalar) << channels << " channels, scalar, 2 threads";
    }
}

// A phase-modulated sine pushed by a loud saw reaches phases far beyond a
// cycle, where the lanes must reduce exactly as the scalar remainder does.
TEST(Lanes, PhaseModulationFarBeyondOneCycleKeepsTheScalarBits)
{
    BankBuilder bank;
    bank.add(PatchBuilder()
                 .oscillator(0, {.mode = kOscillatorRamp, .gain = 128})
                 .oscillator(1, {.mode = kOscillatorPhaseMod, .gain = 128})
                 .oscillator(2, {.mode = kOscillatorPhaseMod, .ring = 1, .transpose = 40, .gain = 128})
                 .distortion({.mode = kDistortionOverdrive, .drive = 128, .a = 128, .b = 0}));
    const std::vector<float> scalar = render(bank, GlobalsBuilder(), 1, {1, 1});
    for (int32_t width : machine_widths()) EXPECT_EQ(render(bank, GlobalsBuilder(), 1, {width, 1}), scalar) << width;
}

// The lanes' sine of a phase-modulated phase against the scalar one where the
// remainder by 2 pi is delicate: quotients whole or a unit away from whole,
// zeros of either sign, the edge of the double-precision range and beyond it.
TEST(Lanes, ThePhaseModulatedSineReducesItsPhaseAsTheScalarOneDoes)
{
    std::vector<float> phases = {0.0f, 268435456.0f, std::nextafter(268435456.0f, 0.0f), 3.0e38f, INFINITY, NAN};
    const auto near_whole = [&](int64_t k) {
        const float whole = static_cast<float>(static_cast<double>(k) * kTwoPi);
        phases.insert(phases.end(), {whole, std::nextafter(whole, 0.0f), std::nextafter(whole, INFINITY)});
    };
    for (int64_t k = 1; k < (int64_t{1} << 26); k += k < 4096 ? 1 : k / 61) near_whole(k);
    for (int j = 12; j < 26; ++j) near_whole(int64_t{1} << j);  // 2^j 2 pi is a float
    uint32_t bits = 1;
    for (int k = 0; k < 100000; ++k) {
        bits = random_step(bits);
        const uint32_t exponent = 100u + (bits >> 24) % 56u;  // 2^-27 to 2^28
        phases.push_back(float_from_bits((bits & 0x007FFFFFu) | (exponent << 23)));
    }
    const size_t count = phases.size();
    for (size_t k = 0; k < count; ++k) phases.push_back(-phases[k]);
    phases.resize(phases.size() / 4 * 4);
    using Kernel = VoiceKernel<4, false>;
    int wrong = 0;
    for (size_t k = 0; k < phases.size(); k += 4) {
        const Kernel::F lanes = Kernel::fast_sine(Kernel::L::load(&phases[k]));
        for (int l = 0; l < 4; ++l) {
            const float x = phases[k + l];
            if (bits_from_float(lanes[l]) != bits_from_float(fast_sine(x)) && wrong++ < 5) {
                ADD_FAILURE() << "sine of " << x << " (bits " << std::hex << bits_from_float(x) << ")";
            }
        }
    }
    EXPECT_EQ(wrong, 0);
}

// The player's compact 8-lane build runs the distortion's filters through the
// scalar unit; it too renders the scalar path's bits.
TEST(Lanes, TheCompactEightLaneBuildRendersTheScalarPathsBits)
{
    if (voice_lanes_renderer(8) == nullptr) GTEST_SKIP() << "no AVX2 here";
    EngineHarness scalar(mixed_bank());
    EngineHarness compact(mixed_bank());
    ASSERT_TRUE(synth_set_lane_width(*scalar.engine, 1));
    ASSERT_TRUE(synth_set_lane_width(*compact.engine, 8));
    compact.engine->voice_lanes[0] = nullptr;
    compact.engine->voice_lanes[1] = voice_lanes_render_8_compact;
    StreamBuilder start;
    for (int c = 0; c < kChannelCount; ++c)
        start.program(c, static_cast<uint8_t>(c)).note_on(c, static_cast<uint8_t>(40 + c), 100);
    scalar.play(start);
    compact.play(start);
    EXPECT_EQ(compact.render(12 * kBlockSize), scalar.render(12 * kBlockSize));
}

// An engine record that was not zero-initialised, or is set up again after
// use, may hold anything in the lanes' work memory: set-up clears it.
TEST(Lanes, SetUpAgainClearsWhateverTheLanesWorkMemoryHeld)
{
    EngineHarness clean(mixed_bank());
    EngineHarness dirty(mixed_bank());
    for (RenderScratch& scratch : dirty.engine->buffers.scratch) {
        std::fill(std::begin(scratch.lanes.work), std::end(scratch.lanes.work), 0.25f);
        scratch.lanes.zeroed = kMaxBlockSize * kMaxLanes;
    }
    StreamBuilder start;
    for (int c = 0; c < kChannelCount; ++c)
        start.program(c, static_cast<uint8_t>(c)).note_on(c, static_cast<uint8_t>(40 + c), 100);
    for (EngineHarness* h : {&clean, &dirty}) {
        seed_source_fix(h->engine->seeds, kHarnessSeed);
        ASSERT_TRUE(synth_init(*h->engine, h->bank.data(), kSampleRate));
        h->set_globals(GlobalsBuilder());
        h->play(start);
    }
    EXPECT_EQ(dirty.render(4 * kBlockSize), clean.render(4 * kBlockSize));
}

TEST(Lanes, AWidthTheMachineCannotRunIsRefusedAndTheScalarPathAlwaysRuns)
{
    EngineHarness h(sine_patch());
    const int32_t before = h.engine->lane_width;
    EXPECT_FALSE(synth_set_lane_width(*h.engine, 3));
    EXPECT_FALSE(synth_set_lane_width(*h.engine, 32));
    EXPECT_EQ(h.engine->lane_width, before);
    EXPECT_TRUE(synth_set_lane_width(*h.engine, 1));
    EXPECT_EQ(voice_lanes_widest() >= 4, voice_lanes_renderer(4) != nullptr);
}

TEST(Workers, APoolOfOneThreadIsNoPoolAndEveryJobRunsOnce)
{
    EXPECT_EQ(synth_workers_create(1), nullptr);
    Pool pool(4);
    ASSERT_NE(pool.workers, nullptr);
    EXPECT_EQ(synth_workers_threads(*pool.workers), 4);
    int runs[4] = {};
    for (int round = 0; round < 1000; ++round) {
        const int jobs = 1 + round % 4;
        synth_workers_run(
            *pool.workers, jobs, [](void* context, int job) { ++static_cast<int*>(context)[job]; }, runs);
    }
    EXPECT_EQ(runs[0], 1000);
    EXPECT_EQ(runs[1], 750);
    EXPECT_EQ(runs[2], 500);
    EXPECT_EQ(runs[3], 250);
}

}  // namespace
