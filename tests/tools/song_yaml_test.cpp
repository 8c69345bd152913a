#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <tuple>

#include "synth/patch.h"
#include "tests/tools/authoring_test_support.h"
#include "tools/patch_params.h"
#include "tools/patch_yaml.h"
#include "tools/song_yaml.h"

using namespace authoring_test;

namespace {

std::vector<uint8_t> parse(const std::string& text)
{
    Warnings warnings;
    return patch_yaml_parse(text, "p.yaml", warnings);
}

std::string patch_error(const std::string& text)
{
    return error_of([&] { parse(text); });
}

// Each (patch byte, value) pair holds in the patch.
void expect_bytes(const std::vector<uint8_t>& patch, std::initializer_list<std::pair<int, int>> bytes)
{
    for (const auto& [index, value] : bytes) EXPECT_EQ(patch.at(index), value) << "byte " << index;
}

SongDescription read_song(const std::string& yaml, Warnings& warnings)
{
    MemoryFiles files;
    files.add("dir/SONG.yaml", yaml);
    files.add("dir/lead.yaml", "osc1: {mode: pulse}\n");
    files.add("dir/song.mid", std::string());
    return song_yaml_read("dir/SONG.yaml", files.reader(), warnings);
}

std::string song_error(const std::string& yaml)
{
    Warnings warnings;
    return error_of([&] { read_song(yaml, warnings); });
}

}  // namespace

TEST(PatchParams, EveryByteHasOneNameAndDestinationsResolveBothWays)
{
    std::set<int> patch_bytes;
    std::set<std::string> names;
    for (const ParamInfo& param : patch_params()) {
        EXPECT_TRUE(patch_bytes.insert(param.index).second) << param.name;
        EXPECT_TRUE(names.insert(std::string(param.group) + "." + param.name).second);
        EXPECT_TRUE(param.symbols.empty() || param_symbol_name(param, param.fallback)) << param.name;
    }
    EXPECT_EQ(patch_bytes.size(), 85u);
    EXPECT_EQ(*patch_bytes.rbegin(), 84);
    std::set<int> global_bytes;
    for (const ParamInfo& param : global_params()) global_bytes.insert(param.index);
    EXPECT_EQ(global_bytes.size(), 22u);
    EXPECT_EQ(*global_bytes.rbegin(), 21);
    for (int d = 0; d < 84; ++d) {
        uint8_t back = 255;
        ASSERT_TRUE(mod_destination_find(mod_destination_name(static_cast<uint8_t>(d)), back)) << d;
        EXPECT_EQ(back, d);
    }
    EXPECT_EQ(mod_destination_name(37), "envelope1.gain");
    EXPECT_EQ(mod_destination_name(59), "channel.volume");
    EXPECT_EQ(mod_destination_name(50), "lfo1.amount");
    EXPECT_EQ(mod_destination_name(84), "");
}

TEST(PatchYaml, APatchThatNamesNothingIsTheDocumentedNeutralSound)
{
    const std::vector<uint8_t> patch = parse("");
    ASSERT_EQ(patch.size(), 86u);
    // osc1 ramp with a triangle colour, osc2 off, filter 1 off, full sustain, channel volume 100, channel delay
    // bypassed (wet 0), channel dynamics off, polyphony 8, no modulation.
    expect_bytes(patch, {{2, 1}, {6, 64}, {8, 0}, {20, 0}, {34, 128}, {59, 100}, {68, 64}, {75, 0}, {84, 8}, {85, 0}});
}

TEST(PatchYaml, SymbolsNumbersAndFlagsSetTheirBytes)
{
    const std::vector<uint8_t> patch = parse(
        "voice: {pan: 0, phase_reset: yes}\n"
        "osc2: {mode: noise, ring: on, color: 128}\n"
        "filter2: {response: peak}\n"
        "filters: {routing: parallel}\n"
        "distortion: {mode: crush, a: 3}\n"
        "lfo2: {waveform: sample_hold, polarity: negative, key_sync: true}\n"
        "channel: {effect_order: delay_first}\n"
        "channel_distortion: {mode: 12}\n"
        "channel_dynamics: {detector: rms, stereo: per_side}\n"
        "polyphony: 1\n"
        "modulation:\n"
        "  - {source: controller7, amount: 127, destination: channel.volume}\n"
        "  - {source: 200, amount: 0, destination: 99}\n");
    expect_bytes(patch, {{0, 0},
                         {58, 1},
                         {8, 4},
                         {9, 1},
                         {12, 128},
                         {23, 5},
                         {26, 2},
                         {28, 3},
                         {30, 3},
                         {51, 4},
                         {56, 1},
                         {52, 1},
                         {62, 1},
                         {64, 12},
                         {75, 2},
                         {76, 1},
                         {84, 1}});
    ASSERT_EQ(patch.size(), 92u);
    EXPECT_EQ(std::vector<uint8_t>(patch.begin() + 85, patch.end()), (std::vector<uint8_t>{2, 7, 127, 59, 200, 0, 99}));
}

TEST(PatchYaml, MistakesAreReportedWithLineAndColumn)
{
    EXPECT_EQ(patch_error("osc1: {mode: ramp}\nfliter1: {cutoff: 3}\n"),
              "p.yaml:2:1: unknown key \"fliter1\" (known: voice, osc1, osc2, osc3, filter1, filter2, filters, "
              "distortion, envelope1, envelope2, lfo1, lfo2, channel, channel_distortion, channel_delay, "
              "channel_dynamics, polyphony, modulation)");
    EXPECT_EQ(patch_error("filter1:\n  response: lowpass\n  cutof: 30\n"),
              "p.yaml:3:3: unknown parameter \"cutof\" in group \"filter1\" (it has: response, cutoff, resonance)");
    EXPECT_EQ(patch_error("osc1: {mode: saw}\n"),
              "p.yaml:1:14: osc1.mode must be off, ramp, pulse, sine, noise or "
              "phase_mod or a number 0..128");
    EXPECT_EQ(patch_error("envelope1: {attack: 300}\n"),
              "p.yaml:1:21: envelope1.attack is 300; a parameter is a byte, 0..128 on its scale");
    EXPECT_EQ(patch_error("envelope1: {attack: 1.5}\n"), "p.yaml:1:21: envelope1.attack must be a number 0..128");
    EXPECT_EQ(patch_error("osc1: {gain: 3}\nosc1: {gain: 4}\n"), "p.yaml:2:1: \"osc1\" appears twice in the file");
    EXPECT_EQ(patch_error("osc1: {gain: 3\n"), "p.yaml:2:1: not valid YAML: end of map flow not found");
    EXPECT_EQ(patch_error("modulation:\n  - {source: velocity, amount: 100}\n"),
              "p.yaml:2:5: a modulation entry needs source, amount and destination");
    EXPECT_EQ(patch_error("modulation:\n  - {source: velocity, amount: 100, destination: env1.gain}\n"),
              "p.yaml:2:50: unknown modulation destination \"env1.gain\" (a patch parameter as group.key, such as "
              "envelope1.gain or channel.volume, or a number)");
    Warnings warnings;
    patch_yaml_parse("osc1: {gain: 200}\n", "p.yaml", warnings);
    ASSERT_EQ(warnings.lines.size(), 1u);
    EXPECT_EQ(warnings.lines[0], "p.yaml:1:14: osc1.gain is 200, above the top of the 0..128 scale");
}

TEST(SongYaml, ChannelsFollowTheirMidiChannelUnlessOneIsClaimedElsewhere)
{
    Warnings warnings;
    const SongDescription desc = read_song(
        "midi: {file: song.mid, events: as_written}\n"
        "patches: {0: lead.yaml, 5: lead.yaml, 7: {osc1: {mode: sine}}}\n"
        "channels:\n"
        "  0: {midi_channel: 10, transpose: -12, program: 5, sustain: off, controllers: {7: 11, 2: none}}\n"
        "  4: {midi_channel: none}\n",
        warnings);
    EXPECT_EQ(desc.midi_file, "dir/song.mid");
    EXPECT_TRUE(desc.import.as_written);
    EXPECT_EQ(desc.patches.size(), 2u);  // lead.yaml once, the inline patch
    ASSERT_EQ(desc.programs.size(), 3u);
    EXPECT_EQ(desc.programs[1].patch, 0);
    EXPECT_EQ(desc.programs[2].patch, 1);
    const auto& channels = desc.import.channels;
    const ChannelRoute& first = channels[0];
    EXPECT_EQ(std::tuple(first.midi_channel, first.transpose, first.program, first.sustain),
              std::tuple(9, -12, 5, false));
    EXPECT_EQ(first.controller_source, (std::array<int, 7>{1, -1, 3, 4, 5, 6, 11}));
    // MIDI channel 10 went to song channel 0, song channel 4 takes none, the others keep their own.
    EXPECT_EQ(std::tuple(channels[9].midi_channel, channels[4].midi_channel, channels[5].midi_channel),
              std::tuple(-1, -1, 5));
    EXPECT_EQ(desc.global_block.size(), static_cast<size_t>(kGlobalParamCount));
    EXPECT_FALSE(desc.has_speech);
}

TEST(SongYaml, GlobalsAndSpeechTextsAreRead)
{
    Warnings warnings;
    const SongDescription desc = read_song(
        "midi: song.mid\npatches: {0: lead.yaml}\n"
        "globals:\n  reverb: {level: 0}\n  master: {high_cut: 90}\n"
        "speech:\n  - \"!hEH_ lOW\"\n  - \"caf\\xE9 \xC3\xA9\"\n",
        warnings);
    EXPECT_EQ(desc.global_block[kGlobalReverb + ReverbParam::kInput], 0);
    EXPECT_EQ(desc.global_block[kGlobalHighCut], 90);
    EXPECT_EQ(desc.global_block[kGlobalReverb + ReverbParam::kDecay], 64);  // the default
    ASSERT_EQ(desc.texts.size(), 2u);
    EXPECT_EQ(desc.texts[1], "caf\xE9 \xE9");
    const SongDescription empty = read_song("midi: song.mid\npatches: {0: lead.yaml}\nspeech: []\n", warnings);
    EXPECT_TRUE(empty.has_speech);
    EXPECT_TRUE(empty.texts.empty());
    EXPECT_EQ(empty.title, "");
    EXPECT_EQ(read_song("title: Überfahrt – Nacht\nmidi: song.mid\npatches: {0: lead.yaml}\n", warnings).title,
              "Überfahrt – Nacht");
}

TEST(SongYaml, MistakesAreReportedWithLineAndColumn)
{
    EXPECT_EQ(song_error("midi: song.mid\npatches: {0: lead.yaml}\ntempo: 120\n"),
              "dir/SONG.yaml:3:1: unknown key \"tempo\" (known: title, midi, patches, globals, speech, channels, "
              "ticks_per_quarter, end_tick)");
    EXPECT_EQ(song_error("title: \"" + std::string(64, 'a') + "\"\nmidi: song.mid\npatches: {0: lead.yaml}\n"),
              "dir/SONG.yaml:1:8: the title must be printable text of at most 63 bytes (UTF-8)");
    EXPECT_EQ(song_error("title: \"tab\\there\"\nmidi: song.mid\npatches: {0: lead.yaml}\n"),
              "dir/SONG.yaml:1:8: the title must be printable text of at most 63 bytes (UTF-8)");
    EXPECT_EQ(song_error("patches: {0: lead.yaml}\n"),
              "dir/SONG.yaml:1:1: SONG.yaml names no MIDI file (midi: song.mid)");
    EXPECT_EQ(song_error("midi: song.mid\npatches: {0: lead.yaml, 128: lead.yaml}\n"),
              "dir/SONG.yaml:2:25: a program number is 128; it must be from 0 to 127");
    EXPECT_EQ(song_error("midi: song.mid\npatches: {0: missing.yaml}\n"),
              "dir/missing.yaml: No such file or directory");
    EXPECT_EQ(song_error("midi: song.mid\npatches: {0: lead.yaml}\nchannels: {3: {midi_channel: 17}}\n"),
              "dir/SONG.yaml:3:30: midi_channel is 17; it must be from 1 to 16");
    EXPECT_EQ(song_error("midi: song.mid\npatches: {0: lead.yaml}\nspeech:\n  - \"caf\xE9\"\n"),
              "dir/SONG.yaml:4:5: byte 4 of this text (0xE9) is not valid UTF-8: save the file as UTF-8");
    EXPECT_EQ(song_error("midi: song.mid\npatches: {0: lead.yaml}\nspeech: [\"\\u0100\"]\n"),
              "dir/SONG.yaml:3:10: character 1 of this text (U+0100) is not an 8-bit character (U+0001..U+00FF)");
    EXPECT_EQ(song_error("midi: song.mid\npatches: {0: lead.yaml}\nspeech:\n  - !hEH_ lOW_\n"),
              "dir/SONG.yaml:4:5: the value carries the YAML tag \"!hEH_\"; write it in double quotes");
    EXPECT_EQ(song_error("midi: song.mid\npatches: {0: lead.yaml}\nspeech: [\"" + std::string(8200, 'a') + "\"]\n"),
              "dir/SONG.yaml:3:9: the speech texts take 8209 bytes; the song format allows 8191");
}

TEST(AuthoringGuide, ListsEveryParameterFromTheSharedTable)
{
    const char* source = std::getenv("CANTILENA_SOURCE_DIR");
    if (!source) GTEST_SKIP() << "CANTILENA_SOURCE_DIR is not set";
    std::ifstream in(std::string(source) + "/docs/authoring.md");
    ASSERT_TRUE(in.good());
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find(params_reference_markdown()), std::string::npos)
        << "docs/authoring.md's parameter reference differs from `cantilena-tool compile --parameters`";
}

TEST(TextCheck, ARawByteIsNotUtf8AndACharacterBeyondLatin1IsNotEightBit)
{
    std::string latin1;
    TextFault fault;
    EXPECT_TRUE(latin1_from_utf8("caf\xC3\xA9", latin1, fault));
    EXPECT_EQ(latin1, "caf\xE9");
    struct Case {
        std::string text;
        std::string message;
    };
    const Case cases[] = {
        {"caf\xE9 ok", "byte 4 of this text (0xE9) is not valid UTF-8: save the file as UTF-8"},
        {"\xC3\xA9t\xE9", "byte 4 of this text (0xE9) is not valid UTF-8: save the file as UTF-8"},
        {"ab\xC3", "byte 3 of this text (0xC3) is not valid UTF-8: save the file as UTF-8"},        // cut short
        {"\xC0\xA1", "byte 1 of this text (0xC0) is not valid UTF-8: save the file as UTF-8"},      // overlong "!"
        {"\xED\xA0\x80", "byte 1 of this text (0xED) is not valid UTF-8: save the file as UTF-8"},  // a surrogate
        {"\xC3\xA9\xE2\x98\xBA", "character 2 of this text (U+263A) is not an 8-bit character (U+0001..U+00FF)"},
        {std::string("a\0", 2), "character 2 of this text (U+0000) is not an 8-bit character (U+0001..U+00FF)"},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(latin1_from_utf8(c.text, latin1, fault)) << c.message;
        EXPECT_EQ(text_fault_message(fault), c.message);
    }
}
