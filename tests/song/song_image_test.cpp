// The embedded song as data: it loads, it is small, it ends in time, it is
// compiled from the score and SONG.yaml in data/song, and its patches
// together use every part of the synthesizer.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "sequencer/song.h"
#include "synth/constants.h"
#include "synth/param_layout.h"
#include "synth/voice.h"
#include "tests/song/song_test_support.h"
#include "tools/song_compile.h"
#include "tools/song_reader.h"

using namespace song_test;

namespace {

constexpr size_t kImageLimit = 48 * 1024;

std::string binary_dir()
{
    const char* dir = std::getenv("CANTILENA_BINARY_DIR");
    return dir ? dir : "";
}

std::vector<uint8_t> read_file(const std::string& path)
{
    std::vector<uint8_t> bytes;
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        uint8_t buffer[4096];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.insert(bytes.end(), buffer, buffer + got);
        std::fclose(file);
    }
    return bytes;
}

// The patch bytes of every program the song selects.
std::vector<std::vector<uint8_t>> selected_patches(const SongData& song)
{
    const PatchBankContents bank = song_read_patch_bank(song.patch_bank, "patch bank");
    std::vector<std::vector<uint8_t>> patches;
    for (const ChannelEvents& channel : song.channels)
        for (const ValueEvent& program : channel.programs) {
            const uint32_t offset = bank.program_offsets.at(program.value);
            for (size_t i = 0; i < bank.patch_offsets.size(); ++i)
                if (bank.patch_offsets[i] == offset) patches.push_back(bank.patches[i]);
        }
    return patches;
}

}  // namespace

TEST(EmbeddedSong, PassesTheValidatingLoaderAndStaysWithinFortyEightKilobytes)
{
    const std::vector<uint8_t> image = embedded_image();
    SongError error{};
    EXPECT_TRUE(song_validate(image.data(), image.size(), error)) << error.message << " at byte " << error.offset;
    EXPECT_LE(image.size(), kImageLimit);
}

TEST(EmbeddedSong, ItsLastEventsFallBetween185And193SecondsBeforeThePlayerStopsAt198)
{
    const std::vector<uint8_t> image = embedded_image();
    const SongData song = song_read_image(image.data(), image.size(), "embedded song");
    const double last = tick_seconds(song, song_last_event_tick(song));
    EXPECT_GE(last, 185.0);
    EXPECT_LE(last, 193.0);
}

TEST(EmbeddedSong, PlaysAtLeastEightPatchesOnEightChannelsAndSingsOnChannelFifteen)
{
    const std::vector<uint8_t> image = embedded_image();
    const SongData song = song_read_image(image.data(), image.size(), "embedded song");
    int channels = 0;
    for (const ChannelEvents& channel : song.channels) channels += channel.notes.empty() ? 0 : 1;
    EXPECT_GE(channels, 8);
    std::set<std::vector<uint8_t>> distinct;
    for (const auto& patch : selected_patches(song)) distinct.insert(patch);
    EXPECT_GE(distinct.size(), 8u);

    const ChannelEvents& voice = song.channels[kSpeechChannel];
    EXPECT_FALSE(voice.notes.empty());
    const std::vector<std::string> texts = song_read_speech_texts(song.speech_block, "speech block");
    ASSERT_GE(texts.size(), 2u);
    for (const std::string& text : texts) {
        EXPECT_NE(text.find('!'), std::string::npos) << text;
        EXPECT_NE(text.find('_'), std::string::npos) << text;
    }
    // Controller 4 selects texts and sets the speed, controller 5 scales the formants.
    std::set<size_t> selected;
    bool speed = false;
    for (const ValueEvent& event : voice.controllers[3]) {
        if (event.value < 63) selected.insert(event.value);
        speed = speed || event.value >= 63;
    }
    for (size_t text = 1; text < texts.size(); ++text) EXPECT_EQ(selected.count(text), 1u) << "text " << text;
    EXPECT_TRUE(speed);
    EXPECT_GE(voice.controllers[4].size(), 2u);
}

TEST(EmbeddedSong, ItsPatchesUseEveryOscillatorModeFilterRoutingModulationSourceAndEffect)
{
    const std::vector<uint8_t> image = embedded_image();
    const SongData song = song_read_image(image.data(), image.size(), "embedded song");
    std::set<int> modes, routings, sources;
    bool ring = false, shelf = false, dynamics = false, distortion = false, chorus = false, delay = false;
    for (const std::vector<uint8_t>& patch : selected_patches(song)) {
        const uint8_t* voice = patch.data() + kPatchVoiceOffset;
        const uint8_t* channel = patch.data() + kPatchChannelOffset;
        for (int osc : {kVoiceOscillator1, kVoiceOscillator2, kVoiceOscillator3}) {
            const uint8_t mode = voice[osc + OscillatorParam::kMode];
            if (mode != kOscillatorSilent) modes.insert(mode);
            ring = ring || (mode != kOscillatorSilent && voice[osc + OscillatorParam::kRing] != 0);
        }
        if (voice[kVoiceFilter1] != kFilterBypass && voice[kVoiceFilter2] != kFilterBypass)
            routings.insert(voice[kVoiceRouting]);
        // Sources by kind: the first source of each kind stands for it.
        for (size_t e = kPatchModOffset; e + kModEntryBytes <= patch.size(); e += kModEntryBytes) {
            const int s = patch[e];
            sources.insert(s < kModSourceController1 ? kModSourceVelocity
                           : s < kModSourceEnvelope1 ? kModSourceController1
                           : s < kModSourceLfo1      ? kModSourceEnvelope1
                           : s < kModSourceKey       ? kModSourceLfo1
                                                     : kModSourceKey);
        }
        shelf = shelf || channel[kChannelShelf] != 0;
        distortion = distortion || channel[kChannelDistortion + DistortionParam::kMode] != kDistortionOff;
        dynamics = dynamics || channel[kChannelDynamics + DynamicsParam::kDetector] != 0;
        const uint8_t* delay_params = channel + kChannelDelay;
        if (delay_params[DelayParam::kMix] != 64) (delay_params[DelayParam::kDepth] != 0 ? chorus : delay) = true;
    }
    EXPECT_EQ(modes, (std::set<int>{kOscillatorRamp, kOscillatorPulse, kOscillatorSine, kOscillatorNoise,
                                    kOscillatorPhaseMod}));
    EXPECT_TRUE(ring);
    EXPECT_EQ(routings, (std::set<int>{kRoutingSerial, kRoutingParallel}))
        << "both filters, in series and side by side";
    for (int kind : {kModSourceVelocity, kModSourceController1, kModSourceEnvelope1, kModSourceLfo1})
        EXPECT_EQ(sources.count(kind), 1u) << "modulation source kind " << kind;
    EXPECT_TRUE(shelf);
    EXPECT_TRUE(distortion);
    EXPECT_TRUE(dynamics);
    EXPECT_TRUE(chorus) << "a modulated channel delay";
    EXPECT_TRUE(delay) << "a plain channel delay";

    const std::vector<uint8_t>& g = song.global_block;
    ASSERT_EQ(g.size(), static_cast<size_t>(kGlobalParamCount));
    EXPECT_GT(g[kGlobalReverb + ReverbParam::kInput], 0) << "reverb level";
    EXPECT_NE(g[kGlobalDelay + DelayParam::kMix], 64) << "global delay mix";
    EXPECT_GT(g[kGlobalLowCut], 0) << "master low cut";
    EXPECT_LT(g[kGlobalHighCut], 127) << "master high cut";
    EXPECT_NE(g[kGlobalDynamics + DynamicsParam::kDetector], 0) << "master dynamics";
}

TEST(SongScore, WritesTheSameMidiFileOnEveryRunAndTheEmbeddedImageIsCompiledFromIt)
{
    const std::string build = binary_dir();
    ASSERT_FALSE(build.empty()) << "CANTILENA_BINARY_DIR names the build tree";
    const std::string score = build + "/data/make_song_midi";
    char scratch[] = "/tmp/cantilena-score-XXXXXX";
    ASSERT_NE(mkdtemp(scratch), nullptr);
    const std::string first = std::string(scratch) + "/first.mid";
    const std::string second = std::string(scratch) + "/second.mid";
    ASSERT_EQ(std::system((score + " " + first).c_str()), 0);
    ASSERT_EQ(std::system((score + " " + second).c_str()), 0);
    const std::vector<uint8_t> bytes = read_file(first);
    EXPECT_GT(bytes.size(), 1000u);
    EXPECT_EQ(bytes, read_file(second));
    EXPECT_EQ(bytes, read_file(build + "/data/song/song.mid"));
    std::remove(first.c_str());
    std::remove(second.c_str());
    std::remove(scratch);

    Warnings warnings;
    const std::vector<uint8_t> image = song_compile(build + "/data/song/SONG.yaml", file_reader_disk(), warnings);
    EXPECT_EQ(image, embedded_image());
    for (const std::string& line : warnings.lines) ADD_FAILURE() << "compile warning: " << line;
}
