// The LV2 instrument in a headless host: the same events at the same frames
// give render's very samples at every host block size; songs reload as their
// files are saved; state keeps the song; bad input is logged, never fatal.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "plugin/plugin_uris.h"
#include "tests/plugin/plugin_test_support.h"
#include "tools/midi_file.h"

namespace {

using namespace plugin_test;

const std::vector<std::vector<uint32_t>> kBlockPatterns = {{1}, {64}, {1000}, {4096}, {1, 17, 300, 4096, 2, 999, 128}};

std::string pattern_name(const std::vector<uint32_t>& blocks)
{
    std::string name;
    for (uint32_t b : blocks) name += (name.empty() ? "" : ",") + std::to_string(b);
    return "blocks " + name;
}

// The plugin on SONG.yaml (chosen through state, as a host restores a
// project), fed events, against render of the compiled image.
void expect_song_plays_as_render(const fs::path& song_yaml, const fs::path& midi_file, double seconds)
{
    ScratchDir scratch;
    const fs::path image = scratch.path / "song.img";
    ASSERT_EQ(run_tool("compile -q " + song_yaml.string() + " -o " + image.string()), 0);
    const std::vector<float> expected = tool_render(image.string(), seconds, scratch.path);
    ASSERT_EQ(expected.size(), 2 * static_cast<size_t>(std::llround(seconds * kRate)));
    const std::vector<TimedMidi> events = midi_file_events(midi_file, image);
    for (const auto& blocks : kBlockPatterns) {
        Lv2Host host(kRate, std::to_string(kSeed));
        ASSERT_TRUE(host.instantiated());
        ASSERT_TRUE(host.restore(song_state(song_yaml.string())));
        host.activate();
        const std::vector<float> played = host.play(expected.size() / 2, blocks, events);
        EXPECT_EQ(first_difference(expected, played), "") << pattern_name(blocks);
        EXPECT_EQ(host.reported_song(), song_yaml.string());
    }
}

std::string read_text(const fs::path& path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_text(const fs::path& path, const std::string& text)
{
    // A new modification time even within the file system's clock step.
    const auto before = fs::exists(path) ? fs::last_write_time(path) : fs::file_time_type{};
    std::ofstream(path) << text;
    if (fs::last_write_time(path) == before) fs::last_write_time(path, before + std::chrono::seconds(1));
}

// A copy of the example song in a scratch directory, for editing.
fs::path copy_example(const fs::path& dir)
{
    fs::copy(source_dir() / "examples" / "first-song", dir / "song", fs::copy_options::recursive);
    return dir / "song" / "SONG.yaml";
}

TEST(PluginRender, TheExampleSongPlaysAsRenderDoesInEveryHostBlockSize)
{
    const fs::path song = source_dir() / "examples" / "first-song";
    expect_song_plays_as_render(song / "SONG.yaml", song / "song.mid", 20.0);
}

// MIDI channel 1 feeds two song channels (one an octave down, one a fifth up
// with the filter controller mapped), the pedal holds and a held key is
// struck again; MIDI channel 3 feeds a channel whose pedal is ignored.
TEST(PluginRender, TransposeControllerMappingAndTheSustainPedalApplyAsCompileAppliesThem)
{
    ScratchDir scratch;
    const fs::path patches = source_dir() / "examples" / "first-song" / "patches";
    MidiFile midi;
    midi.format = 1;
    midi.division = 96;
    MidiTrack meter;
    meter.events = {midi_tempo_event(0, 500000), midi_tempo_event(384, 410000)};
    MidiTrack keys;
    const auto on = [](uint64_t tick, uint8_t channel, uint8_t key, uint8_t velocity = 100) {
        return midi_channel_event(tick, static_cast<uint8_t>(kMidiNoteOn | channel), key, velocity);
    };
    const auto off = [](uint64_t tick, uint8_t channel, uint8_t key) {
        return midi_channel_event(tick, static_cast<uint8_t>(kMidiNoteOff | channel), key, 64);
    };
    const auto cc = [](uint64_t tick, uint8_t channel, uint8_t number, uint8_t value) {
        return midi_channel_event(tick, static_cast<uint8_t>(kMidiController | channel), number, value);
    };
    keys.events = {
        cc(0, 0, 74, 20),    on(0, 0, 60),
        cc(10, 0, 1, 90),    off(96, 0, 60),
        on(96, 0, 64),       cc(100, 0, 64, 127),
        off(120, 0, 64),     on(130, 0, 67),
        off(150, 0, 67),     on(180, 0, 67, 70),  // struck again while the pedal holds it
        off(190, 0, 70),                          // no such note: dropped
        cc(200, 0, 74, 110), midi_channel_event(210, kMidiPitchBend | 0, 0, 80),
        on(220, 0, 72),      on(220, 0, 72, 0),
        cc(240, 0, 64, 0),   off(250, 0, 67),
        on(260, 0, 62),      midi_channel_event(270, kMidiProgram | 0, 7),
        cc(300, 0, 123, 0),  cc(300, 0, 64, 100),
        on(310, 0, 65),      off(330, 0, 65),
        cc(400, 0, 64, 0),   on(0, 2, 48),
        cc(50, 2, 64, 127),  off(60, 2, 48),
        on(70, 2, 50),       off(120, 2, 50),
        cc(150, 2, 64, 0),   on(160, 2, 52),
        cc(200, 2, 120, 0),  on(210, 2, 53),
        off(500, 2, 53),
    };
    std::stable_sort(keys.events.begin(), keys.events.end(),
                     [](const MidiEvent& a, const MidiEvent& b) { return a.tick < b.tick; });
    midi.tracks = {meter, keys};
    const std::vector<uint8_t> bytes = midi_write(midi);
    std::ofstream(scratch.path / "song.mid", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    write_text(scratch.path / "SONG.yaml",
               "midi: song.mid\n"
               "patches:\n"
               "  0: " +
                   (patches / "bass.yaml").string() +
                   "\n"
                   "  5: " +
                   (patches / "lead.yaml").string() +
                   "\n"
                   "  7: " +
                   (patches / "pad.yaml").string() +
                   "\n"
                   "channels:\n"
                   "  0: {transpose: -12}\n"
                   "  1: {midi_channel: 1, transpose: 7, program: 5, controllers: {1: 74, 2: 1}}\n"
                   "  2: {midi_channel: 3, sustain: off, program: 7}\n");
    expect_song_plays_as_render(scratch.path / "SONG.yaml", scratch.path / "song.mid", 4.0);
}

TEST(PluginRender, WithNoSongChosenTheEmbeddedSongsStreamsPlayAsRenderDoes)
{
    constexpr double kSeconds = 70.0;  // intro, the first verse with the voice, the chorus
    ScratchDir scratch;
    const std::vector<float> expected = tool_render("", kSeconds, scratch.path);
    const std::vector<TimedMidi> events = tool_events("", scratch.path);
    ASSERT_FALSE(events.empty());
    for (const auto& blocks : {kBlockPatterns.front(), kBlockPatterns.back(), std::vector<uint32_t>{4096}}) {
        Lv2Host host(kRate, std::to_string(kSeed));
        ASSERT_TRUE(host.instantiated());
        host.activate();
        EXPECT_EQ(first_difference(expected, host.play(expected.size() / 2, blocks, events)), "")
            << pattern_name(blocks);
        EXPECT_EQ(host.reported_song(), "");
    }
}

TEST(PluginRender, InstancesInOneHostDoNotDisturbEachOthersSeeds)
{
    Lv2Host first(kRate, std::to_string(kSeed));
    Lv2Host second(kRate, std::to_string(kSeed));
    first.activate();
    second.activate();
    const std::vector<TimedMidi> chord = {{0, {0x99, 36, 100}}, {0, {0x99, 42, 90}}, {0, {0x90, 60, 100}}};
    const std::vector<float> a = first.play(20000, {256}, chord);
    Lv2Host third(kRate, std::to_string(kSeed));
    third.activate();  // between the first's and the second's blocks
    EXPECT_EQ(first_difference(a, second.play(20000, {256}, chord)), "");
    Lv2Host other_seed(kRate, std::to_string(kSeed + 1));
    other_seed.activate();
    EXPECT_NE(first_difference(a, other_seed.play(20000, {256}, chord)), "") << "the drums' noise takes the seed";
}

// A held pad note on the song's channel 3 and a held bass note on channel 1;
// the pad's patch file is saved over while they sound.
struct ReloadRig {
    static constexpr uint64_t kSaveFrame = 22050;  // the file changes half a second in
    static constexpr uint64_t kLength = 3 * 44100;
    ScratchDir scratch;
    fs::path song_yaml = copy_example(scratch.path);
    fs::path pad = song_yaml.parent_path() / "patches" / "pad.yaml";

    // What the plugin plays with the notes held, the pad file replaced by
    // new_pad (unless empty) at kSaveFrame.
    std::vector<float> play(const std::vector<TimedMidi>& notes, const std::string& new_pad, Lv2Host* keep = nullptr)
    {
        const std::string original = read_text(pad);
        Lv2Host local(kRate, std::to_string(kSeed));
        Lv2Host& host = keep ? *keep : local;
        EXPECT_TRUE(host.restore(song_state(song_yaml.string())));
        host.activate();
        std::vector<float> out = host.play(kSaveFrame, {512}, notes);
        if (!new_pad.empty()) write_text(pad, new_pad);
        const std::vector<float> rest = host.play(kLength - kSaveFrame, {512}, notes);
        out.insert(out.end(), rest.begin(), rest.end());
        write_text(pad, original);
        return out;
    }
};

uint64_t first_differing_frame(const std::vector<float>& a, const std::vector<float>& b)
{
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        if (a[i] != b[i]) return i / 2;
    return a.size() / 2;
}

double rms(const std::vector<float>& frames, uint64_t from, uint64_t to)
{
    double sum = 0.0;
    for (uint64_t i = 2 * from; i < 2 * to; ++i) sum += static_cast<double>(frames[i]) * frames[i];
    return std::sqrt(sum / static_cast<double>(2 * (to - from)));
}

// Notes held on the pad (program 89, MIDI channel 4) or the bass (program 33, MIDI channel 2).
const std::vector<TimedMidi> kPadNote = {{0, {0xC3, 89}}, {100, {0x93, 57, 100}}};
const std::vector<TimedMidi> kBassNote = {{0, {0xC1, 33}}, {100, {0x91, 45, 100}}};

TEST(PluginReload, ASavedPatchChangesHeldNotesWithinHalfASecondAndNothingElse)
{
    ReloadRig rig;
    std::string pad_text = read_text(rig.pad);
    const size_t at = pad_text.find("detune: 58");
    ASSERT_NE(at, std::string::npos);
    pad_text.insert(at, "transpose: 76, ");  // the first oscillator an octave up: a change anyone would hear

    const std::vector<float> unchanged = rig.play(kPadNote, "");
    Lv2Host host(kRate, std::to_string(kSeed));
    const std::vector<float> reloaded = rig.play(kPadNote, pad_text, &host);
    const uint64_t changed = first_differing_frame(unchanged, reloaded);
    EXPECT_GT(changed, ReloadRig::kSaveFrame);
    EXPECT_LT(changed, ReloadRig::kSaveFrame + 22050) << "the new sound comes within half a second of the save";
    EXPECT_GT(rms(reloaded, changed, changed + 8192), 0.2 * rms(unchanged, changed, changed + 8192))
        << "the held note sounds on with the new patch";
    EXPECT_TRUE(host.logged("note", rig.song_yaml.string()));

    // A channel playing another patch does not hear the reload at all.
    EXPECT_EQ(first_difference(rig.play(kBassNote, ""), rig.play(kBassNote, pad_text)), "");
}

TEST(PluginReload, AFileThatDoesNotCompileKeepsTheLastSoundAndLogsWhereItIsWrong)
{
    ReloadRig rig;
    const std::vector<float> unchanged = rig.play(kPadNote, "");
    Lv2Host host(kRate, std::to_string(kSeed));
    const std::vector<float> broken = rig.play(kPadNote, "osc1: [ {mode: sine\n", &host);
    EXPECT_EQ(first_difference(unchanged, broken), "");
    EXPECT_TRUE(host.logged("error", "pad.yaml:")) << "the error names the file and line";
}

TEST(PluginState, SaveAndRestoreBringBackTheSameSong)
{
    const fs::path song = source_dir() / "examples" / "first-song" / "SONG.yaml";
    Lv2Host first(kRate, std::to_string(kSeed));
    first.activate();
    first.choose_song(song.string());
    first.play(1024, {256});
    EXPECT_EQ(first.reported_song(), song.string());
    const SavedState saved = first.save();
    ASSERT_EQ(saved.count(kSongParameterUri), 1u);

    const std::vector<TimedMidi> note = {{0, {0x90, 57, 100}}};
    Lv2Host restored(kRate, std::to_string(kSeed));
    ASSERT_TRUE(restored.restore(saved));
    restored.activate();
    Lv2Host chosen(kRate, std::to_string(kSeed));
    ASSERT_TRUE(chosen.restore(song_state(song.string())));
    chosen.activate();
    EXPECT_EQ(first_difference(chosen.play(8192, {256}, note), restored.play(8192, {256}, note)), "");

    // An empty state brings back the embedded song.
    Lv2Host plain(kRate, std::to_string(kSeed));
    ASSERT_TRUE(plain.restore({}));
    plain.activate();
    plain.play(64, {64});
    EXPECT_EQ(plain.reported_song(), "");
    EXPECT_TRUE(plain.save().empty());
}

TEST(PluginBank, EveryProgramHasAPatchAndThoseTheSongLeavesOutPlayItsFirst)
{
    const fs::path song = source_dir() / "examples" / "first-song" / "SONG.yaml";
    const auto play_program = [&](uint8_t program) {
        Lv2Host host(kRate, std::to_string(kSeed));
        host.restore(song_state(song.string()));
        host.activate();
        return host.play(8192, {512}, {{0, {0xC4, program}}, {0, {0x94, 57, 100}}});
    };
    const std::vector<float> first_patch = play_program(0);  // drums.yaml, listed first
    for (const uint8_t unmapped : {1, 34, 127}) EXPECT_EQ(first_difference(first_patch, play_program(unmapped)), "");
    EXPECT_NE(first_difference(first_patch, play_program(33)), "");  // the bass
}

TEST(PluginBadInput, EachIsLoggedAndNothingCrashes)
{
    ScratchDir scratch;
    const fs::path song = copy_example(scratch.path);
    const std::vector<TimedMidi> note = {{0, {0x90, 57, 100}}};

    // A SONG.yaml that does not exist: logged, the embedded song plays on.
    Lv2Host missing(kRate, std::to_string(kSeed));
    missing.activate();
    missing.play(4096, {256}, note);
    missing.choose_song((scratch.path / "nowhere" / "SONG.yaml").string());
    missing.play(4096, {256});
    EXPECT_TRUE(missing.logged("error", "nowhere/SONG.yaml"));
    EXPECT_EQ(missing.reported_song(), "");

    // A patch file that is not YAML.
    write_text(song.parent_path() / "patches" / "lead.yaml", "\x01\x02 {[ not: yaml: at all\n");
    Lv2Host not_yaml(kRate, std::to_string(kSeed));
    not_yaml.restore(song_state(song.string()));
    not_yaml.activate();
    not_yaml.play(64, {64});
    EXPECT_EQ(not_yaml.reported_song(), "");
    EXPECT_TRUE(not_yaml.logged("error", "lead.yaml"));

    // Unknown, malformed and system messages among good ones.
    const std::vector<TimedMidi> noise = {
        {0, {0x90, 57, 100}},   {10, {0xFF}},
        {11, {0xFD}},           {12, {0xF0, 0x7E, 0xF7}},
        {13, {0x90, 0x80, 10}}, {14, {0x90}},
        {15, {0x45, 3}},        {16, {}},
        {17, {0xB0, 120}},      {18, {0xF8}},
        {19, {0xA0, 57, 3}},    {20, {0xC0, 127}},
        {21, {0xE0, 1, 2, 3}},  {22, {0xB0, 121, 0, 5}},
    };
    Lv2Host clean(kRate, std::to_string(kSeed));
    clean.activate();
    Lv2Host noisy(kRate, std::to_string(kSeed));
    noisy.activate();
    const std::vector<TimedMidi> good = {{0, {0x90, 57, 100}}, {20, {0xC0, 127}}};
    EXPECT_EQ(first_difference(clean.play(8192, {64}, good), noisy.play(8192, {64}, noise)), "");
    EXPECT_TRUE(noisy.log().empty()) << "nothing is logged from the audio thread";

    // Sample rates the engine cannot run at are refused with the reason.
    for (const double rate : {0.0, 1000000.0, 44100.5}) {
        Lv2Host refused(rate, "");
        EXPECT_FALSE(refused.instantiated()) << rate;
        EXPECT_TRUE(refused.logged("error", "Hz")) << rate;
    }
    for (const double rate : {48000.0, 88200.0}) {
        Lv2Host accepted(rate, "");
        ASSERT_TRUE(accepted.instantiated()) << rate;
        accepted.activate();
        const std::vector<float> out = accepted.play(4096, {100}, note);
        const auto wild = std::find_if(out.begin(), out.end(), [](float x) { return !(std::fabs(x) < 4); });
        EXPECT_TRUE(wild == out.end()) << rate << " Hz: frame " << (wild - out.begin()) / 2 << " holds " << *wild;
    }
}

}  // namespace
