#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "sequencer/song.h"
#include "tests/support/image_builder.h"
#include "tests/tools/authoring_test_support.h"
#include "tools/patch_yaml.h"
#include "tools/song_compile.h"
#include "tools/song_writer.h"

using namespace authoring_test;

namespace {

// Decompiles an image and compiles the sources again, all in memory.
std::vector<uint8_t> round_trip(const std::vector<uint8_t>& image, std::string* song_yaml = nullptr)
{
    const std::vector<SourceFile> sources = song_decompile(image, "in.img");
    MemoryFiles files;
    for (const SourceFile& file : sources) files.add("out/" + file.name, file.bytes);
    if (song_yaml) {
        const auto& bytes = files.files["out/SONG.yaml"];
        *song_yaml = std::string(bytes.begin(), bytes.end());
    }
    Warnings warnings;
    return song_compile("out/SONG.yaml", files.reader(), warnings);
}

std::string decompile_error(const std::vector<uint8_t>& image)
{
    return error_of([&] { song_decompile(image, "in.img"); });
}

uint32_t pick(std::mt19937& random, uint32_t low, uint32_t high)
{
    return std::uniform_int_distribution<uint32_t>(low, high)(random);
}

template <typename Event, typename Make>
std::vector<Event> random_track(std::mt19937& random, size_t count, uint32_t max_gap, Make make)
{
    std::vector<Event> events;
    uint32_t tick = 0;
    for (size_t i = 0; i < count; ++i) {
        if (pick(random, 0, 3) != 0) tick += pick(random, 0, max_gap);  // a quarter of the events share a tick
        events.push_back(make(tick));
    }
    return events;
}

std::vector<uint8_t> random_image(std::mt19937& random)
{
    SongData song;
    const uint32_t quarter_choices[] = {1, 24, 96, 480, 960, 32767, 32768, 100000, 429496};
    song.ticks_per_quarter = pick(random, 0, 3) == 0 ? pick(random, 1, 429496) : quarter_choices[pick(random, 0, 8)];

    // Tempo map first: the longest gap a track may hold depends on its slowest tempo.
    const size_t global_count = pick(random, 0, 5);
    std::vector<uint32_t> tempos;
    uint64_t slowest = 500000;
    for (size_t i = 0; i < global_count; ++i) {
        tempos.push_back(pick(random, 0, 2) == 0 ? pick(random, 1, 9739154) : pick(random, 200000, 1500000));
        slowest = std::max<uint64_t>(slowest, tempos.back());
    }
    const uint64_t fit = (0xFFFFFFFDull * song.ticks_per_quarter * 10000) / (slowest * 441);
    const uint32_t max_gap =
        static_cast<uint32_t>(std::min<uint64_t>({fit, 0xFFFFFF, pick(random, 0, 1) ? 2000u : 0xFFFFFFu}));
    size_t tempo_index = 0;
    song.globals = random_track<GlobalEvent>(random, global_count, max_gap, [&](uint32_t tick) {
        return GlobalEvent{tick,
                           tempos[tempo_index++],
                           static_cast<uint8_t>(pick(random, 0, 255)),
                           static_cast<uint8_t>(1u << pick(random, 0, 7)),
                           static_cast<uint8_t>(pick(random, 0, 255)),
                           {}};
    });

    const uint32_t programs = pick(random, 1, 10);
    const auto byte7 = [&random] { return static_cast<uint8_t>(pick(random, 0, 127)); };
    for (int c = 0; c < 16; ++c) {
        if (pick(random, 0, 1) == 0) continue;
        ChannelEvents& channel = song.channels[c];
        channel.notes = random_track<NoteEvent>(random, pick(random, 1, 40), max_gap, [&](uint32_t tick) {
            return NoteEvent{tick, byte7(), static_cast<uint8_t>(pick(random, 0, 2) == 0 ? 0 : byte7()), {}};
        });
        channel.programs = random_track<ValueEvent>(random, pick(random, 0, 3), max_gap, [&](uint32_t tick) {
            return ValueEvent{tick, static_cast<uint8_t>(pick(random, 0, programs - 1)), {}};
        });
        channel.bends = random_track<BendEvent>(random, pick(random, 0, 3), max_gap, [&](uint32_t tick) {
            return BendEvent{tick, byte7(), byte7(), {}};
        });
        for (auto& track : channel.controllers)
            track = random_track<ValueEvent>(random, pick(random, 0, 2), max_gap, [&](uint32_t tick) {
                return ValueEvent{tick, byte7(), {}};
            });
    }
    song.end_tick = song_last_event_tick(song) + (pick(random, 0, 1) ? 0 : pick(random, 1, 1000));

    for (int i = 0; i < kGlobalParamCount; ++i) song.global_block.push_back(static_cast<uint8_t>(pick(random, 0, 255)));
    // Every patch is selected by at least one program; programs share patches.
    const uint32_t patch_count = pick(random, 1, programs);
    std::vector<std::vector<uint8_t>> patches(patch_count);
    for (auto& patch : patches) {
        const uint32_t entries = pick(random, 0, 4);
        for (uint32_t i = 0; i < kPatchHeaderBytes + kModEntryBytes * entries; ++i)
            patch.push_back(static_cast<uint8_t>(pick(random, 0, 255)));
        patch[kPatchModCountOffset] = static_cast<uint8_t>(entries);
    }
    std::vector<int> program_patch(programs);
    for (uint32_t p = 0; p < programs; ++p)
        program_patch[p] = p < patch_count ? static_cast<int>(p) : static_cast<int>(pick(random, 0, patch_count - 1));
    std::shuffle(program_patch.begin(), program_patch.end(), random);
    // Number the patches in the order the table first names them, as compile stores them.
    std::vector<int> order;
    for (int index : program_patch)
        if (std::find(order.begin(), order.end(), index) == order.end()) order.push_back(index);
    std::vector<std::vector<uint8_t>> stored;
    for (int index : order) stored.push_back(patches[index]);
    for (int& index : program_patch)
        index = static_cast<int>(std::find(order.begin(), order.end(), index) - order.begin());
    song.patch_bank = song_build_patch_bank(stored, program_patch);

    const uint32_t speech = pick(random, 0, 2);
    if (speech > 0) {
        std::vector<std::string> texts(speech == 1 ? 0 : pick(random, 1, 4));
        for (auto& text : texts)
            for (uint32_t i = pick(random, 0, 30); i > 0; --i) text.push_back(static_cast<char>(pick(random, 1, 255)));
        song.speech_block = song_build_speech_block(texts);
        song.speech_size_word = static_cast<uint32_t>(song.speech_block.size());
    }
    return song_write_image(song);
}

std::vector<uint8_t> compiled_example()
{
    MemoryFiles files;
    files.add("song.mid",
              midi_bytes(1, 480,
                         {track_chunk(
                              {{0, tempo_bytes(450000)}, {0, time_signature_bytes(3, 2)}, {1440, tempo_bytes(400000)}}),
                          track_chunk({{0, {0xC0, 1}},
                                       {0, {0xB0, 7, 100}},
                                       {0, {0x90, 60, 100}},
                                       {0, {64, 90}},
                                       {480, {0x80, 60, 0}},
                                       {480, {0x90, 62, 80}},
                                       {960, {0x80, 62, 0}},
                                       {1000, {0xE0, 0, 70}},
                                       {1440, {0x90, 64, 0}}}),
                          track_chunk({{0, {0x99, 36, 120}}, {0, {0x99, 36, 0}}, {240, {0x99, 38, 100}}})}));
    files.add("SONG.yaml",
              "midi: song.mid\npatches: {1: lead.yaml, 3: lead.yaml, 0: {osc1: {mode: noise}}}\n"
              "speech: [\"!lAA_ \"]\n");
    files.add("lead.yaml", simple_patch_yaml());
    Warnings warnings;
    return song_compile("SONG.yaml", files.reader(), warnings);
}

}  // namespace

TEST(DecompileRoundTrip, ACompiledSongComesBackByteForByteAndReadsTidily)
{
    const std::vector<uint8_t> image = compiled_example();
    std::string yaml;
    EXPECT_EQ(round_trip(image, &yaml), image);
    EXPECT_NE(yaml.find("events: tidy"), std::string::npos) << yaml;
    EXPECT_NE(yaml.find("  1: \"patches/program_001.yaml\"\n  3: \"patches/program_001.yaml\"\n"
                        "  0: \"patches/program_000.yaml\"\n"),
              std::string::npos)
        << yaml;
}

TEST(DecompileRoundTrip, ImagesOfTheTestImageBuilderComeBackByteForByte)
{
    namespace ib = image_builder;
    ib::SongPlan plan;
    plan.ticks_per_quarter = 96;
    plan.tempos = {{0, 500000}, {0, 400000, 3, 4, 8}, {384, 700000, 7, 8, 16}};
    plan.channels[0].notes = {{0, 60, 100}, {0, 64, 90}, {96, 60, 0}, {96, 64, 0}, {96, 60, 0}};
    plan.channels[0].programs = {{0, 1}, {0, 2}, {200, 0}};
    plan.channels[0].pitch_bends = {{10, 0, 64}, {10, 127, 127}};
    plan.channels[0].controllers[6] = {{0, 100}, {50, 20}};
    plan.channels[15].notes = {{3, 72, 1}};               // never released
    plan.channels[9].notes = {{0, 36, 0}, {0, 36, 100}};  // an off before its on
    plan.texts = {"!hEH_ lOW_", ""};
    const std::vector<uint8_t> image = ib::build_song_image(plan);
    std::string yaml;
    EXPECT_EQ(round_trip(image, &yaml), image);
    EXPECT_NE(yaml.find("events: as_written"), std::string::npos);
}

TEST(DecompileRoundTrip, RandomValidImagesComeBackByteForByte)
{
    std::mt19937 random(2024);
    for (int round = 0; round < 120; ++round) {
        const std::vector<uint8_t> image = random_image(random);
        SongError fault{};
        ASSERT_TRUE(song_validate(image.data(), image.size(), fault)) << "round " << round << ": " << fault.message;
        std::vector<uint8_t> again;
        ASSERT_EQ(error_of([&] { again = round_trip(image); }), "no error") << "round " << round;
        ASSERT_EQ(again, image) << "round " << round;
    }
}

TEST(DecompileRefusals, ImagesASourceCannotHoldAreRefusedWithTheReason)
{
    namespace ib = image_builder;
    ib::SongPlan plan;
    plan.channels[4].notes = {{0, 60, 100}, {5, 200, 0}};
    EXPECT_EQ(decompile_error(ib::build_song_image(plan)),
              "in.img: cannot be decompiled: song channel 4 reaches note number 200 at tick 5; a MIDI file holds "
              "0..127 only");

    plan.channels[4].notes = {{0, 60, 100}};
    plan.tempos = {{0, 500000, 5, 3, 8}};
    EXPECT_EQ(decompile_error(ib::build_song_image(plan)),
              "in.img: cannot be decompiled: the time signature at tick 0 has denominator 3, which a MIDI file cannot "
              "hold (powers of two 1..128)");

    // A bank with two spare bytes between its offset table and its patch.
    plan.tempos.clear();
    std::vector<uint8_t> bank{6, 0, 0, 0, 0xEE, 0xEE};
    Warnings ignored;
    const std::vector<uint8_t> patch = patch_yaml_parse("", "p.yaml", ignored);
    bank.insert(bank.end(), patch.begin(), patch.end());
    plan.patch_bank = bank;
    const std::vector<uint8_t> gapped = ib::build_song_image(plan);
    SongError fault{};
    ASSERT_TRUE(song_validate(gapped.data(), gapped.size(), fault)) << fault.message;
    EXPECT_NE(decompile_error(gapped).find(
                  "in.img: cannot be decompiled: the sources compile to different bytes from byte"),
              std::string::npos);

    std::vector<uint8_t> cut = ib::build_song_image(ib::SongPlan{});
    cut.pop_back();
    EXPECT_EQ(
        decompile_error(cut).rfind("in.img: byte " + std::to_string(cut.size() - 3) + ": not a valid song image: ", 0),
        0u)
        << decompile_error(cut);
}

TEST(AuthoringCommands, CompileWritesNothingOnErrorAndDecompileWritesTheSources)
{
    const char* binary = std::getenv("CANTILENA_BINARY_DIR");
    if (!binary) GTEST_SKIP() << "CANTILENA_BINARY_DIR is not set";
    const std::filesystem::path tool = std::filesystem::path(binary) / "tools" / "cantilena-tool";
    if (!std::filesystem::exists(tool)) GTEST_SKIP() << "cantilena-tool is not built";
    const std::filesystem::path dir = std::filesystem::path(binary) / "authoring-command-test";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::string t = tool.string(), d = dir.string();
    output_write_file(d + "/old.img", std::vector<uint8_t>{1, 2, 3});
    const std::string bad_yaml = "midi: x.mid\n";
    output_write_file(d + "/bad.yaml", std::vector<uint8_t>(bad_yaml.begin(), bad_yaml.end()));
    EXPECT_NE(std::system((t + " compile " + d + "/bad.yaml -o " + d + "/old.img 2>/dev/null").c_str()), 0);
    EXPECT_EQ(std::filesystem::file_size(dir / "old.img"), 3u);

    output_write_file(d + "/song.img", compiled_example());
    ASSERT_EQ(std::system((t + " decompile " + d + "/song.img -o " + d + "/src").c_str()), 0);
    EXPECT_TRUE(std::filesystem::exists(dir / "src" / "song.mid"));
    EXPECT_TRUE(std::filesystem::exists(dir / "src" / "patches" / "program_001.yaml"));
    ASSERT_EQ(std::system((t + " compile " + d + "/src/SONG.yaml -o " + d + "/again.img").c_str()), 0);
    EXPECT_EQ(file_read_all((dir / "again.img").string()), compiled_example());
    // Only the image itself is left behind: no temporary files.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}),
              5);  // old.img, bad.yaml, song.img, src, again.img
}
