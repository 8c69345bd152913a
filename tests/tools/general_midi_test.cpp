// A MIDI file compiled alone, with the starter bank: drums split by key,
// MIDI channel 16 off the speech channel unless the file sings, volume and
// expression combined, programs renumbered, and every note and the length
// of the file kept.
#include <gtest/gtest.h>

#include <unistd.h>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <set>

#include "tests/tools/authoring_test_support.h"
#include "tools/general_midi.h"
#include "tools/midi_file.h"
#include "tools/midi_song.h"
#include "tools/patch_yaml.h"
#include "tools/song_compile.h"
#include "tools/song_reader.h"
#include "tools/song_yaml.h"
#include "tools/starter_bank.h"

using namespace authoring_test;

namespace {

constexpr uint16_t kQuarter = 96;  // ticks

// A format 1 file built event by event: one track per MIDI channel (1..16)
// after a tempo track.
class GmFile {
public:
    GmFile& note(int channel, uint32_t tick, uint8_t key, uint32_t length = kQuarter / 2, uint8_t velocity = 100)
    {
        put(channel, tick, {status(0x90, channel), key, velocity});
        put(channel, tick + length, {status(0x80, channel), key, 0});
        ++notes_;
        return *this;
    }
    GmFile& program(int channel, uint32_t tick, uint8_t program)
    {
        return put(channel, tick, {status(0xC0, channel), program});
    }
    GmFile& controller(int channel, uint32_t tick, uint8_t number, uint8_t value)
    {
        return put(channel, tick, {status(0xB0, channel), number, value});
    }
    GmFile& bend(int channel, uint32_t tick) { return put(channel, tick, {status(0xE0, channel), 0, 80}); }
    GmFile& tempo(uint32_t tick, uint32_t us_per_quarter) { return put(0, tick, tempo_bytes(us_per_quarter)); }
    GmFile& lyric(uint32_t tick, const std::string& text)
    {
        std::vector<uint8_t> bytes = {0xFF, 0x05, static_cast<uint8_t>(text.size())};
        bytes.insert(bytes.end(), text.begin(), text.end());
        return put(0, tick, bytes);
    }

    size_t notes() const { return notes_; }

    std::vector<uint8_t> bytes() const
    {
        std::vector<std::vector<uint8_t>> tracks;
        for (const auto& [channel, events] : tracks_) {
            std::vector<TimedBytes> sorted = events;
            std::stable_sort(sorted.begin(), sorted.end(),
                             [](const TimedBytes& a, const TimedBytes& b) { return a.tick < b.tick; });
            tracks.push_back(track_chunk(sorted));
        }
        return midi_bytes(1, kQuarter, tracks);
    }

private:
    static uint8_t status(uint8_t kind, int channel) { return static_cast<uint8_t>(kind | (channel - 1)); }
    GmFile& put(int channel, uint32_t tick, std::vector<uint8_t> bytes)
    {
        tracks_[channel].push_back({tick, std::move(bytes)});
        return *this;
    }

    std::map<int, std::vector<TimedBytes>> tracks_ = {{0, {}}};  // 0: the tempo track
    size_t notes_ = 0;
};

struct Compiled {
    SongData song;
    PatchBankContents bank;
    Warnings warnings;
    std::vector<uint8_t> image;

    // The patch a song channel starts with.
    const std::vector<uint8_t>& patch(int channel) const
    {
        const uint32_t offset = bank.program_offsets.at(song.channels[channel].programs.at(0).value);
        const auto at = std::find(bank.patch_offsets.begin(), bank.patch_offsets.end(), offset);
        return bank.patches.at(static_cast<size_t>(at - bank.patch_offsets.begin()));
    }
    std::set<uint8_t> keys(int channel) const
    {
        std::set<uint8_t> keys;
        for (const NoteEvent& e : song.channels[channel].notes) keys.insert(e.note);
        return keys;
    }
    size_t note_ons() const
    {
        size_t count = 0;
        for (const ChannelEvents& channel : song.channels)
            for (const NoteEvent& e : channel.notes) count += e.velocity != 0;
        return count;
    }
    int channel_with_key(uint8_t key) const
    {
        for (int c = 0; c < kSongChannels; ++c)
            if (keys(c).count(key)) return c;
        return -1;
    }
};

Compiled compile(const std::vector<uint8_t>& midi)
{
    MemoryFiles files;
    files.add("song.mid", midi);
    Compiled out;
    out.image = song_compile_midi("song.mid", files.reader(), out.warnings);
    out.song = song_read_image(out.image.data(), out.image.size(), "song.img");
    out.bank = song_read_patch_bank(out.song.patch_bank, "song.img");
    return out;
}

const std::vector<uint8_t>& family_patch(uint8_t program)
{
    return starter_patch(bank_families()[program / kFamilyPrograms].patch);
}

// Seconds from tick 0 to a tick, through a tempo map of (tick, us a quarter).
double seconds_at(const std::vector<std::pair<uint32_t, uint32_t>>& tempos, uint32_t tick)
{
    double seconds = 0.0;
    uint32_t at = 0, us = 500000;
    for (const auto& [change, tempo] : tempos) {
        if (change > tick) break;
        seconds += (change - at) * us / 1e6 / kQuarter;
        at = change;
        us = tempo;
    }
    return seconds + (tick - at) * us / 1e6 / kQuarter;
}

using Track = std::vector<std::pair<uint32_t, int>>;

Track values_of(const std::vector<ValueEvent>& events)
{
    Track out;
    for (const ValueEvent& e : events) out.emplace_back(e.tick, e.value);
    return out;
}

double song_seconds(const SongData& song)
{
    std::vector<std::pair<uint32_t, uint32_t>> tempos;
    for (const GlobalEvent& g : song.globals) tempos.emplace_back(g.tick, g.tempo);
    return seconds_at(tempos, song.end_tick);
}

}  // namespace

TEST(GeneralMidi, ADrumPatternLandsOnTheSongChannelsOfItsGroupsEachWithItsDrumPatch)
{
    GmFile file;
    file.program(1, 0, 33);
    for (uint32_t bar = 0; bar < 2; ++bar) {
        const uint32_t t = bar * 4 * kQuarter;
        file.note(1, t, 40, kQuarter);
        for (uint32_t beat = 0; beat < 4; ++beat) file.note(10, t + beat * kQuarter, beat % 2 ? 38 : 36);
        for (uint32_t eighth = 0; eighth < 8; ++eighth) file.note(10, t + eighth * kQuarter / 2, eighth == 7 ? 46 : 42);
        file.note(10, t + 3 * kQuarter, 45).note(10, t + 3 * kQuarter + kQuarter / 2, 48).note(10, t, 49);
    }
    const Compiled c = compile(file.bytes());
    EXPECT_EQ(joined(c.warnings), "");
    EXPECT_EQ(c.note_ons(), file.notes());

    EXPECT_EQ(c.keys(9), (std::set<uint8_t>{36})) << "the kick keeps the drum channel's own song channel";
    EXPECT_EQ(c.patch(9), starter_patch(drum_group_info(kDrumKick).patch));
    const struct {
        std::set<uint8_t> keys;
        DrumGroup group;
    } groups[] = {{{38}, kDrumSnare}, {{42, 46, 49}, kDrumCymbals}, {{45, 48}, kDrumToms}};
    std::set<int> used = {0, 9};
    for (const auto& group : groups) {
        const int channel = c.channel_with_key(*group.keys.begin());
        ASSERT_GE(channel, 0);
        EXPECT_EQ(c.keys(channel), group.keys) << drum_group_info(group.group).name;
        EXPECT_EQ(c.patch(channel), starter_patch(drum_group_info(group.group).patch))
            << drum_group_info(group.group).name;
        EXPECT_TRUE(used.insert(channel).second) << "two groups on song channel " << channel;
        EXPECT_NE(channel, 15) << "the speech channel is not free";
    }
    EXPECT_EQ(c.patch(0), family_patch(33));
}

TEST(GeneralMidi, AFileUsingFourteenChannelsStillCompilesWithItsDrumGroupsMergedAndSaysSo)
{
    GmFile file;
    for (int channel = 1; channel <= 14; ++channel) {
        if (channel == 10) continue;
        file.program(channel, 0, static_cast<uint8_t>(8 * channel)).note(channel, 0, 60);
    }
    for (uint8_t key : {35, 38, 42, 50}) file.note(10, kQuarter, key);
    const Compiled c = compile(file.bytes());
    EXPECT_EQ(c.note_ons(), file.notes());
    // Song channels 9 and 14 remain: kick with toms, snare with cymbals.
    EXPECT_NE(joined(c.warnings).find("share song channel"), std::string::npos) << joined(c.warnings);
    EXPECT_EQ(c.keys(9), (std::set<uint8_t>{35, 50}));
    EXPECT_EQ(c.patch(9), starter_patch(drum_group_info(kDrumToms).patch));
    EXPECT_EQ(c.keys(14), (std::set<uint8_t>{38, 42}));
    EXPECT_EQ(c.patch(14), starter_patch(kDrumKitPatch));
}

TEST(GeneralMidi, WithNoChannelLeftTheWholeKitPlaysOnTheDrumChannel)
{
    GmFile file;
    for (int channel = 1; channel <= 15; ++channel)
        if (channel != 10) file.note(channel, 0, 60);
    for (uint8_t key : {36, 38, 42}) file.note(10, 0, key);
    const Compiled c = compile(file.bytes());
    EXPECT_EQ(c.keys(9), (std::set<uint8_t>{36, 38, 42}));
    EXPECT_EQ(c.patch(9), starter_patch(kDrumKitPatch));
    EXPECT_NE(joined(c.warnings).find("kick / snares and claps / hi-hats and cymbals share song channel 9"),
              std::string::npos)
        << joined(c.warnings);
}

TEST(GeneralMidi, MidiChannel16PlaysAnOrdinaryInstrumentUnlessTheFileSings)
{
    GmFile plain;
    plain.program(1, 0, 0).note(1, 0, 60).program(16, 0, 73).note(16, 0, 72).note(16, kQuarter, 74);
    const Compiled moved = compile(plain.bytes());
    EXPECT_TRUE(moved.song.channels[15].notes.empty());
    EXPECT_EQ(moved.keys(1), (std::set<uint8_t>{72, 74}));
    EXPECT_EQ(moved.patch(1), family_patch(73));

    GmFile sung = plain;
    sung.lyric(0, "Hel").lyric(kQuarter, "lo");
    const Compiled kept = compile(sung.bytes());
    EXPECT_EQ(kept.keys(15), (std::set<uint8_t>{72, 74}));
    EXPECT_EQ(kept.patch(15), starter_patch(kVoicePatch));
}

TEST(GeneralMidi, WhenNoChannelIsFreeTheLeastBusyChannelsShareOneAndTheWarningNamesThem)
{
    GmFile file;
    for (int channel = 1; channel <= 16; ++channel) {
        const int notes = channel == 3 ? 1 : channel == 16 ? 2 : 4;
        file.program(channel, 0, static_cast<uint8_t>(channel));
        for (int n = 0; n < notes; ++n) file.note(channel, n * kQuarter, static_cast<uint8_t>(50 + channel));
    }
    const Compiled c = compile(file.bytes());
    EXPECT_EQ(c.note_ons(), file.notes());
    EXPECT_TRUE(c.song.channels[15].notes.empty());
    EXPECT_EQ(c.keys(2), (std::set<uint8_t>{53, 66}));
    EXPECT_NE(joined(c.warnings).find("MIDI channel 3 and MIDI channel 16, the least busy, share song channel 2"),
              std::string::npos)
        << joined(c.warnings);
}

TEST(GeneralMidi, VolumeAndExpressionCombineIntoTheirProductOneValueATickAndResetsRestoreExpression)
{
    const auto values = values_of;
    EXPECT_EQ(values(gm_combined_volume({}, {})), (Track{{0, 100}})) << "General MIDI's resting volume";
    EXPECT_EQ(values(gm_combined_volume({{0, 64, {}}}, {{100, 64, {}}})), (Track{{0, 64}, {100, 32}}));
    EXPECT_EQ(values(gm_combined_volume({{50, 127, {}}, {50, 90, {}}}, {{50, 127, {}}})), (Track{{0, 100}, {50, 90}}));
    EXPECT_EQ(values(gm_combined_volume({{10, 100, {}}}, {{20, 127, {}}})), (Track{{0, 100}})) << "no repeated value";
    EXPECT_EQ(values(gm_combined_volume({}, {{0, 0, {}}})), (Track{{0, 0}}));

    GmFile file;
    file.controller(1, 0, 7, 127).controller(1, 0, 11, 64).note(1, 0, 60).controller(1, kQuarter, 11, 127);
    file.controller(2, 0, 11, 64).controller(2, 0, 1, 90).note(2, 0, 60).controller(2, kQuarter, 121, 0);
    file.controller(2, 2 * kQuarter, 121, 0).controller(2, 2 * kQuarter, 11, 32).note(2, 2 * kQuarter, 62);
    const Compiled c = compile(file.bytes());
    EXPECT_EQ(values(c.song.channels[0].controllers[kVolumeController - 1]), (Track{{0, 64}, {kQuarter, 127}}));
    EXPECT_EQ(values(c.song.channels[1].controllers[kVolumeController - 1]),
              (Track{{0, 50}, {kQuarter, 100}, {2 * kQuarter, 25}}))
        << "reset-all-controllers brings expression back to 127, before what the file sends at its tick";
    EXPECT_EQ(values(c.song.channels[1].controllers[kModulationWheel - 1]),
              (Track{{0, 90}, {kQuarter, 0}, {2 * kQuarter, 0}}));
    for (const ChannelEvents& channel : c.song.channels)
        for (int slot : {kExpressionController, kResetController}) EXPECT_TRUE(channel.controllers[slot - 1].empty());
}

TEST(GeneralMidi, PitchBendsAreReportedOnceForEachChannel)
{
    GmFile file;
    file.note(1, 0, 60).bend(1, 10).bend(1, 20).bend(1, 30).note(2, 0, 64).bend(2, 40).note(3, 0, 67);
    const Compiled c = compile(file.bytes());
    const std::string text = joined(c.warnings);
    EXPECT_EQ(c.warnings.lines.size(), 2u) << text;
    EXPECT_NE(text.find("MIDI channel 1 bends the pitch (3 pitch-bend events, the first at tick 10)"),
              std::string::npos);
    EXPECT_NE(text.find("MIDI channel 2 bends the pitch (1 pitch-bend events, the first at tick 40)"),
              std::string::npos);
}

TEST(GeneralMidi, ProgramsAreRenumberedOneForEachPatchAndAChannelWithoutOneIsAPiano)
{
    GmFile file;
    file.program(1, 0, 33).note(1, 0, 40).program(1, kQuarter, 38).note(1, kQuarter, 40);
    file.program(2, 0, 81).note(2, 0, 72).note(3, 0, 60);
    const Compiled c = compile(file.bytes());
    EXPECT_EQ(c.bank.program_offsets.size(), 3u) << "bass, lead, piano";
    ASSERT_EQ(c.song.channels[0].programs.size(), 2u);
    EXPECT_EQ(c.song.channels[0].programs[0].value, c.song.channels[0].programs[1].value) << "one family, one patch";
    EXPECT_EQ(c.patch(0), family_patch(33));
    EXPECT_EQ(c.patch(1), family_patch(81));
    EXPECT_EQ(c.patch(2), family_patch(0));
}

TEST(GeneralMidi, AFileWithoutNotesStillMakesAValidSong)
{
    GmFile file;
    file.program(1, 0, 40).tempo(0, 400000);
    const Compiled c = compile(file.bytes());
    EXPECT_EQ(c.bank.program_offsets.size(), 1u) << "program 0, with which every channel starts";
    EXPECT_NE(joined(c.warnings).find("the song has no notes"), std::string::npos);
}

TEST(GeneralMidi, TheExampleSongsMidiFileCompilesAloneWithEveryNoteAndItsLength)
{
    const char* source = std::getenv("CANTILENA_SOURCE_DIR");
    if (!source) GTEST_SKIP() << "CANTILENA_SOURCE_DIR is not set";
    const std::string directory = std::string(source) + "/examples/first-song/";
    Warnings warnings;
    const std::vector<uint8_t> with_yaml = song_compile(directory + "SONG.yaml", file_reader_disk(), warnings);
    const std::vector<uint8_t> alone = song_compile_midi(directory + "song.mid", file_reader_disk(), warnings);
    const SongData a = song_read_image(with_yaml.data(), with_yaml.size(), "yaml");
    const SongData b = song_read_image(alone.data(), alone.size(), "midi");
    const auto notes = [](const SongData& song) {
        std::multiset<std::pair<uint32_t, int>> all;
        for (const ChannelEvents& channel : song.channels)
            for (const NoteEvent& e : channel.notes) all.emplace(e.tick, e.velocity ? e.note : -e.note);
        return all;
    };
    EXPECT_EQ(notes(a), notes(b));
    EXPECT_EQ(a.end_tick, b.end_tick);
    EXPECT_DOUBLE_EQ(song_seconds(a), song_seconds(b));
}

TEST(GeneralMidi, GeneratedFilesWithManyProgramsTempoChangesAndDrumsKeepEveryNoteAndTheirLength)
{
    for (uint32_t seed = 1; seed <= 4; ++seed) {
        std::mt19937 random(seed);
        const auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
        GmFile file;
        std::vector<std::pair<uint32_t, uint32_t>> tempos = {{0, 500000}};
        file.tempo(0, 500000);
        uint32_t last = 0;
        for (int bar = 0; bar < 16; ++bar) {
            const uint32_t t = static_cast<uint32_t>(bar) * 4 * kQuarter;
            if (pick(0, 2) == 0) {
                const uint32_t us = static_cast<uint32_t>(pick(300000, 900000));
                tempos.emplace_back(t, us);
                file.tempo(t, us);
            }
            for (int channel = 1; channel <= 16; ++channel) {
                if (channel % 3 == 0 && channel != 10) continue;
                if (channel != 10 && pick(0, 3) == 0) file.program(channel, t, static_cast<uint8_t>(pick(0, 127)));
                for (int n = pick(1, 6); n > 0; --n) {
                    const uint32_t at = t + static_cast<uint32_t>(pick(0, 15)) * kQuarter / 4;
                    const uint32_t length = static_cast<uint32_t>(pick(1, 8)) * kQuarter / 4;
                    file.note(channel, at, static_cast<uint8_t>(channel == 10 ? pick(27, 87) : pick(36, 96)), length,
                              static_cast<uint8_t>(pick(1, 127)));
                    last = std::max(last, at + length);
                }
            }
        }
        const Compiled c = compile(file.bytes());
        EXPECT_EQ(c.note_ons(), file.notes()) << "seed " << seed;
        EXPECT_EQ(c.song.end_tick, last) << "seed " << seed;
        EXPECT_NEAR(song_seconds(c.song), seconds_at(tempos, last), 1e-9) << "seed " << seed;
    }
}

TEST(StarterBank, ListsEveryFamilyAndDrumGroupAndWritesItsFilesBackAsTheyCompile)
{
    const std::string listing = starter_listing();
    for (const BankFamily& family : bank_families()) EXPECT_NE(listing.find(family.name), std::string::npos);
    for (int g = 0; g < kDrumGroupCount; ++g)
        EXPECT_NE(listing.find(drum_group_info(static_cast<DrumGroup>(g)).patch), std::string::npos);
    EXPECT_EQ(bank_families().size(), 128u / kFamilyPrograms);

    const std::string directory = ::testing::TempDir() + "starter-bank-" + std::to_string(::getpid());
    starter_write(directory, false);
    for (const BankSourceText& source : starter_sources()) {
        const std::vector<uint8_t> written = file_read_all(path_join(directory, std::string(source.name)));
        EXPECT_EQ(std::string(written.begin(), written.end()), source.text) << source.name;
    }
    EXPECT_NE(error_of([&] { starter_write(directory, false); }).find("not empty"), std::string::npos);
    EXPECT_EQ(error_of([&] { starter_write(directory, true); }), "no error");
    std::filesystem::remove_all(directory);
}

namespace {

// A song with a bass (program 33), a piano (no program) and drums, compiled
// from SONG.yaml text beside it.
struct YamlSong {
    MemoryFiles files;
    GmFile midi;

    explicit YamlSong(const std::string& yaml)
    {
        midi.program(1, 0, 33).note(1, 0, 40).note(2, 0, 60).note(10, 0, 36).note(10, 0, 42);
        files.add("song.mid", midi.bytes());
        files.add("my-bass.yaml", simple_patch_yaml());
        files.add("SONG.yaml", yaml);
    }
    Compiled compile() const
    {
        Compiled out;
        out.image = song_compile("SONG.yaml", files.reader(), out.warnings);
        out.song = song_read_image(out.image.data(), out.image.size(), "song.img");
        out.bank = song_read_patch_bank(out.song.patch_bank, "song.img");
        return out;
    }
};

std::vector<uint8_t> patch_of_yaml(const std::string& text)
{
    Warnings ignored;
    return patch_yaml_parse(text, "patch.yaml", ignored);
}

}  // namespace

TEST(BankInSongYaml, NamingTheBankAloneCompilesAsTheMidiFileAloneDoes)
{
    const YamlSong song("midi: song.mid\npatches: {bank: starter}\n");
    EXPECT_EQ(song.compile().image, ::compile(song.midi.bytes()).image);
}

TEST(BankInSongYaml, SongYamlReplacesTheProgramsItMapsAndKeepsTheBankForTheRest)
{
    const Compiled c = YamlSong("midi: song.mid\npatches: {bank: starter, 33: my-bass.yaml}\n").compile();
    EXPECT_EQ(c.patch(0), patch_of_yaml(simple_patch_yaml()));
    EXPECT_EQ(c.patch(1), family_patch(0));
    EXPECT_EQ(c.patch(9), starter_patch(drum_group_info(kDrumKick).patch));
    EXPECT_EQ(c.song.global_block, starter_globals());
    EXPECT_EQ(values_of(c.song.channels[0].controllers[kVolumeController - 1]).front().second, kDefaultMidiVolume);
}

TEST(BankInSongYaml, ChannelsSongYamlSetsItselfKeepTheirSettings)
{
    const Compiled c = YamlSong(
                           "midi: song.mid\n"
                           "patches: {bank: starter, 5: my-bass.yaml}\n"
                           "globals: {reverb: {level: 0}}\n"
                           "channels:\n"
                           "  1: {controllers: {7: none}}\n"
                           "  9: {program: 5}\n")
                           .compile();
    EXPECT_EQ(c.keys(9), (std::set<uint8_t>{36, 42})) << "a drum channel with a program of its own is not split";
    EXPECT_EQ(c.patch(9), patch_of_yaml(simple_patch_yaml()));
    EXPECT_TRUE(c.song.channels[1].controllers[kVolumeController - 1].empty());
    EXPECT_NE(c.song.global_block, starter_globals());
}

TEST(BankInSongYaml, OnlyTheStarterBankIsKnownAndSomePatchesAreNeeded)
{
    EXPECT_NE(error_of([] {
                  YamlSong("midi: song.mid\npatches: {bank: orchestra}\n").compile();
              }).find("SONG.yaml:2:17: the bank the tool carries is \"starter\""),
              std::string::npos);
    EXPECT_NE(error_of([] { YamlSong("midi: song.mid\npatches: {}\n").compile(); }).find("names no patches"),
              std::string::npos);
}

TEST(BankInSongYaml, TheSoundsOfASongGiveEveryProgramItsFamilysPatchWhereSongYamlMapsNone)
{
    const YamlSong song("midi: song.mid\npatches: {bank: starter, 33: my-bass.yaml}\n");
    Warnings warnings;
    const SongDescription desc = song_yaml_read("SONG.yaml", song.files.reader(), warnings);
    const std::vector<uint8_t> image = song_compile_sounds(desc);
    const SongData sounds = song_read_image(image.data(), image.size(), "sounds");
    const PatchBankContents bank = song_read_patch_bank(sounds.patch_bank, "sounds");
    ASSERT_EQ(bank.program_offsets.size(), 128u);
    const auto patch_of = [&](int program) {
        const auto at = std::find(bank.patch_offsets.begin(), bank.patch_offsets.end(), bank.program_offsets[program]);
        return bank.patches.at(static_cast<size_t>(at - bank.patch_offsets.begin()));
    };
    EXPECT_EQ(patch_of(33), patch_of_yaml(simple_patch_yaml()));
    for (int program : {0, 34, 40, 127}) EXPECT_EQ(patch_of(program), family_patch(static_cast<uint8_t>(program)));
}
