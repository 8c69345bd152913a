// The starter bank's patches, checked by what they sound like: every patch
// stays off the clamp, answers velocity and the channel volume, and falls
// silent after its release; each family keeps the traits it is known by.
#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "synth/patch.h"
#include "tests/bank/bank_measure.h"
#include "tools/patch_yaml.h"
#include "tools/starter_bank.h"

using namespace bank_measure;
using sound_measure::Sound;

namespace {

constexpr double kNoClip = 0.9;        // largest sample allowed: 1 dB of headroom
constexpr double kAudibleDb = -40.0;   // a long note at the typical velocity and volume, RMS
constexpr double kSilenceDb = -100.0;  // the last second of every render
constexpr double kPlayedSeconds = kOnset + kShortNote + kTail;

double db(double level)
{
    return 20.0 * std::log10(std::max(level, 1e-15));
}
double hz_of(int key)
{
    return 440.0 * std::pow(2.0, (key - 69) / 12.0);
}

const Figures& figures(const std::string& name)
{
    static std::map<std::string, Figures> cache;
    auto found = cache.find(name);
    if (found == cache.end()) found = cache.emplace(name, measure(bank_patch(name), patch_use(name))).first;
    return found->second;
}

Sound hit(const std::string& name, uint8_t key, uint8_t velocity = 127, double length = kShortNote)
{
    return play_note(bank_patch(name), patch_use(name), key, velocity, length);
}

// Seconds from the note-on until the level stays 40 dB below its largest.
double ring_time(const Sound& sound)
{
    const std::vector<double> levels = sound_measure::block_levels(sound, kOnset, sound.left.size() / 44100.0);
    double largest = 0.0;
    for (double l : levels) largest = std::max(largest, l);
    size_t last = 0;
    for (size_t i = 0; i < levels.size(); ++i)
        if (levels[i] > largest * 0.01) last = i;
    return static_cast<double>(last + 1) * kBlockSize / 44100.0;
}

class EveryBankPatch : public ::testing::TestWithParam<PatchUse> {};

std::string patch_name(const ::testing::TestParamInfo<PatchUse>& info)
{
    std::string name;
    for (char c : info.param.name) name += c == '-' ? '_' : c;
    return name;
}

}  // namespace

TEST_P(EveryBankPatch, StaysOffTheClampWithItsWholePolyphonyHeldAtFullVelocity)
{
    const std::vector<uint8_t> patch = bank_patch(GetParam().name);
    ASSERT_EQ(GetParam().chord.size(), patch[kPatchPolyphonyOffset]) << "the chord holds every voice of the patch";
    const Figures& f = figures(GetParam().name);
    EXPECT_LT(f.chord_peak, kNoClip) << db(f.chord_peak) << " dBFS";
    for (double peak : f.short_peak) EXPECT_LT(peak, kNoClip);
}

TEST_P(EveryBankPatch, GetsLouderWithVelocityAndIsClearlyAudibleAtATypicalOne)
{
    const Figures& f = figures(GetParam().name);
    EXPECT_LT(f.short_peak[0], f.short_peak[1]);
    EXPECT_LT(f.short_peak[1], f.short_peak[2]);
    EXPECT_GT(f.rms_db, kAudibleDb);
}

TEST_P(EveryBankPatch, FallsSilentAfterEveryReleaseLongOrShort)
{
    const Figures& f = figures(GetParam().name);
    for (double end : f.short_end) {
        EXPECT_GE(end, 0.0) << "a voice of a short note is still busy " << kTail << " s after its release";
    }
    EXPECT_GE(f.voices_end, 0.0) << "the held note's voice is still busy " << kTail << " s after its release";
    const Sound sound = hit(GetParam().name, GetParam().key);
    EXPECT_LT(sound_measure::rms_db(sound, kPlayedSeconds - 1.0, kPlayedSeconds), kSilenceDb);
}

TEST_P(EveryBankPatch, FollowsTheCombinedChannelVolumeInProportion)
{
    const std::vector<uint8_t> patch = bank_patch(GetParam().name);
    const auto peak_at = [&](uint8_t volume) {
        const Sound s = play_note(patch, GetParam(), GetParam().key, 127, kShortNote, volume);
        return sound_measure::peak(s, 0.0, kPlayedSeconds);
    };
    const double full = peak_at(127);
    EXPECT_NEAR(peak_at(64) / full, 64.0 / 127.0, 0.02);
    EXPECT_EQ(peak_at(0), 0.0);
}

INSTANTIATE_TEST_SUITE_P(StarterBank, EveryBankPatch, ::testing::ValuesIn(patch_uses()), patch_name);

TEST(StarterBankFiles, EveryFileReadsWithoutAWarningAndEveryPatchIsPlayedHere)
{
    size_t patches = 0;
    for (const BankSourceText& source : starter_sources()) {
        Warnings warnings;
        const std::string text(source.text), name(source.name);
        if (name == std::string(kBankGlobals) + ".yaml") {
            EXPECT_EQ(globals_yaml_parse(text, name, warnings).size(), static_cast<size_t>(kGlobalParamCount));
        } else {
            patch_yaml_parse(text, name, warnings);
            EXPECT_NO_THROW(patch_use(name.substr(0, name.size() - 5))) << name << " is not measured";
            ++patches;
        }
        for (const std::string& line : warnings.lines) ADD_FAILURE() << line;
    }
    EXPECT_EQ(patches, patch_uses().size());
}

TEST(BankFamilies, ABassKeepsNearlyAllItsEnergyBelow500HzOverItsWholeRange)
{
    for (uint8_t key : {28, 36, 43, 50}) {
        const Sound note = hit("bass", key, kTypicalVelocity, 1.0);
        EXPECT_GT(sound_measure::spectrum(note, kOnset, kOnset + 1.0).below(500.0), 0.9) << "key " << int(key);
    }
}

TEST(BankFamilies, StruckAndPluckedSoundsSpeakAtOnceBowedAndBlownOnesTakeLongerAPadSwellsSlowest)
{
    for (const char* struck : {"piano", "chromatic-percussion", "guitar", "ethnic", "percussive", "organ"})
        EXPECT_LT(figures(struck).attack, 0.01) << struck;
    for (const char* bowed : {"strings", "ensemble", "brass"}) {
        EXPECT_GT(figures(bowed).attack, 0.015) << bowed;
        EXPECT_LT(figures(bowed).attack, figures("synth-pad").attack) << bowed;
    }
    EXPECT_GT(figures("synth-pad").attack, 0.2);
    EXPECT_GT(figures("synth-pad").attack, 20 * figures("piano").attack);
}

TEST(BankFamilies, StruckAndPluckedSoundsDieAwayWhileHeldSustainedOnesHoldTheirLevel)
{
    for (const char* struck : {"piano", "chromatic-percussion", "guitar", "ethnic", "percussive"})
        EXPECT_LT(figures(struck).held_change_db, -20.0) << struck;
    for (const char* held : {"organ", "strings", "ensemble", "brass", "reed", "pipe", "synth-lead", "synth-pad",
                             "synth-effects", "sound-effects", "voice"})
        EXPECT_GT(figures(held).held_change_db, -10.0) << held;
    EXPECT_GT(figures("organ").held_change_db, -1.5) << "an organ holds its level exactly";
}

TEST(BankFamilies, APianoOrOrganStopsSoonAfterTheKeyAPadOrEffectRingsOn)
{
    for (const char* damped : {"piano", "organ", "bass", "synth-lead"})
        EXPECT_LT(figures(damped).release, 0.3) << damped;
    for (const char* ringing : {"synth-pad", "synth-effects", "sound-effects"})
        EXPECT_GT(figures(ringing).release, 1.0) << ringing;
}

TEST(BankFamilies, AFluteIsNearlyAPureToneAnOrganItsDrawbarsALeadBuzzesBrightly)
{
    const uint8_t key = patch_use("pipe").key;
    const double f0 = hz_of(key);
    const sound_measure::Spectrum pipe = sound_measure::spectrum(hit("pipe", key, kTypicalVelocity, 1.0), kOnset, 1.0);
    EXPECT_NEAR(sound_measure::strongest(pipe, 20.0, 10000.0), f0, 2 * pipe.bin_hz);
    EXPECT_GT(pipe.between(f0 / 1.1, f0 * 1.1), 0.7) << "power near the fundamental";

    const uint8_t organ_key = patch_use("organ").key;
    const double organ_f0 = hz_of(organ_key);
    const sound_measure::Spectrum organ =
        sound_measure::spectrum(hit("organ", organ_key, kTypicalVelocity, 1.0), kOnset, 1.0);
    double drawbars = 0.0;
    for (double partial : {1.0, 2.0, 3.0})
        drawbars += organ.between(organ_f0 * partial / 1.05, organ_f0 * partial * 1.05);
    EXPECT_GT(drawbars, 0.95) << "power at the first three partials";

    const sound_measure::Spectrum lead =
        sound_measure::spectrum(hit("synth-lead", key, kTypicalVelocity, 1.0), kOnset, 1.0);
    EXPECT_GT(lead.centroid, 1.8 * pipe.centroid);
}

TEST(BankFamilies, MalletsAndBrassChangeTheirColourAsTheyShouldStrikeBrightPlayLouderBrighter)
{
    EXPECT_GT(figures("chromatic-percussion").early_centroid, 1.5 * figures("chromatic-percussion").late_centroid);
    const auto brass_overtones = [](uint8_t velocity) {  // share of the power from the eighth harmonic up
        const sound_measure::Spectrum s =
            sound_measure::spectrum(hit("brass", 60, velocity, 1.0), kOnset + 0.2, kOnset + 1.0);
        return 1.0 - s.below(7.5 * hz_of(60));
    };
    EXPECT_GT(brass_overtones(127), 4.0 * brass_overtones(40));
}

TEST(BankFamilies, SoundEffectsAreNoiseWhereTheTunedFamiliesHaveSteadyPartials)
{
    const auto tonal = [](const char* name) {
        const PatchUse& use = patch_use(name);
        return sound_measure::spectrum(hit(name, use.key, kTypicalVelocity, 1.0), kOnset + 0.2, kOnset + 1.0)
            .tonal_share();
    };
    EXPECT_LT(tonal("sound-effects"), 0.3);
    for (const char* tuned : {"pipe", "organ", "strings", "synth-lead"}) EXPECT_GT(tonal(tuned), 0.8) << tuned;
}

TEST(BankDrums, TheKickIsLowAndItsTwoKeysDifferInPitchAndLength)
{
    const Sound deep = hit("drum-kick", 35), kick = hit("drum-kick", 36);
    EXPECT_GT(sound_measure::spectrum(kick, kOnset, kOnset + 0.5).below(200.0), 0.8);
    const auto pitch = [](const Sound& s) {
        return sound_measure::strongest(sound_measure::spectrum(s, kOnset + 0.05, kOnset + 0.4), 20.0, 500.0);
    };
    EXPECT_LT(pitch(deep), pitch(kick));
    EXPECT_GT(ring_time(deep), ring_time(kick));
}

TEST(BankDrums, FromSideStickToElectricSnareTheKeyAddsWiresAndLength)
{
    double centroid = 0.0, ring = 0.0;
    for (uint8_t key : {37, 38, 39, 40}) {
        const Sound s = hit("drum-snare", key);
        const double c = sound_measure::spectrum(s, kOnset, kOnset + 0.3).centroid;
        EXPECT_GT(c, centroid) << "key " << int(key);
        EXPECT_GT(ring_time(s), ring) << "key " << int(key);
        centroid = c;
        ring = ring_time(s);
    }
}

TEST(BankDrums, ClosedPedalAndOpenHatsThenCymbalsRingLongerAndLongerAllHighAndAllEnding)
{
    double ring = 0.0;
    for (uint8_t key : {42, 44, 46, 49}) {
        const Sound s = hit("drum-cymbals", key);
        EXPECT_GT(ring_time(s), 1.5 * ring) << "key " << int(key);
        ring = ring_time(s);
        EXPECT_LT(sound_measure::spectrum(s, kOnset, kOnset + 0.3).below(2000.0), 0.05) << "key " << int(key);
    }
    for (uint8_t key : {51, 52, 53, 55, 57, 59}) EXPECT_GE(hit("drum-cymbals", key).voices_end, 0.0) << int(key);
}

TEST(BankDrums, TheTomsRiseInPitchOverMoreThanAnOctaveFromAFloorTomNear80Hz)
{
    std::vector<double> pitches;
    for (uint8_t key : {41, 43, 45, 47, 48, 50}) {
        const Sound s = hit("drum-toms", key);
        pitches.push_back(
            sound_measure::strongest(sound_measure::spectrum(s, kOnset + 0.05, kOnset + 0.4), 20.0, 2000.0));
        if (pitches.size() > 1) {
            EXPECT_GT(pitches.back(), pitches[pitches.size() - 2]) << "key " << int(key);
        }
    }
    EXPECT_NEAR(pitches.front(), 80.0, 15.0);
    EXPECT_GT(pitches.back() / pitches.front(), 2.0);
}

TEST(BankVoice, SingsTheTextOnTheSpeechChannelAndHoldsTheVowel)
{
    const Figures& f = figures("voice");
    EXPECT_GT(f.rms_db, -40.0);
    EXPECT_GT(f.held_change_db, -10.0);
}
