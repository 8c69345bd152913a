#include <gtest/gtest.h>

#include <cstring>

#include "sequencer/song.h"
#include "tests/support/image_builder.h"

using namespace image_builder;

namespace {

std::unique_ptr<SongTables> load(const std::vector<uint8_t>& image, int* result = nullptr)
{
    auto tables = std::make_unique<SongTables>();
    const int ok = song_load(image.data(), *tables);
    if (result) *result = ok;
    return tables;
}

SongPlan two_channel_song()
{
    SongPlan song;
    song.ticks_per_quarter = 96;
    song.tempos = {{0, 500000, 3, 4, 8}};
    song.channels[1].notes = {{0, 60, 100}, {96, 60, 0}};
    song.channels[1].programs = {{0, 2}};
    song.channels[1].controllers[6] = {{0, 100}, {50, 90}};
    song.channels[3].notes = {{10, 40, 80}};
    return song;
}

}  // namespace

TEST(SongLoad, ReadsTheHeaderTheGlobalTrackAndEveryPresentChannelsTracks)
{
    ImageLayout layout;
    const auto image = build_song_image(two_channel_song(), &layout);
    int ok = 0;
    auto tables = load(image, &ok);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(tables->ticks_per_quarter, 96u);
    EXPECT_EQ(tables->tick_divisor, 960000u);
    EXPECT_EQ(tables->end_tick, 96u);
    EXPECT_EQ(tables->global_count, 1u);
    EXPECT_EQ(tables->global_track, image.data() + 12);

    const ChannelTracks& one = tables->channels[1];
    EXPECT_EQ(one.notes.count, 2u);
    EXPECT_EQ(one.notes.data, image.data() + layout.channel[1] + 4);
    EXPECT_EQ(one.programs.count, 1u);
    EXPECT_EQ(one.programs.data, one.notes.data + 10 + 4);
    EXPECT_EQ(one.controllers[6].count, 2u);
    EXPECT_EQ(tables->channels[3].notes.count, 1u);

    EXPECT_EQ(tables->global_block, image.data() + layout.global_block_size + 4);
    EXPECT_EQ(tables->patch_bank, image.data() + layout.patch_bank_size + 4);
}

TEST(SongLoad, AnAbsentChannelConsumesExactlyItsCountWord)
{
    ImageLayout layout;
    const auto image = build_song_image(two_channel_song(), &layout);
    EXPECT_EQ(layout.channel[1], layout.channel[0] + 4);
    EXPECT_EQ(layout.channel[3], layout.channel[2] + 4);
    auto tables = load(image);
    EXPECT_EQ(tables->channels[0].notes.count, 0u);
    EXPECT_EQ(tables->channels[2].notes.count, 0u);
    EXPECT_EQ(tables->channels[1].notes.data, image.data() + layout.channel[0] + 8);
}

TEST(SongLoad, BlockSizesAtTheirLimitsLoadWhileOneByteMoreOrANegativeSizeFails)
{
    SongPlan song = two_channel_song();
    song.global_block.resize(16384, 0);
    std::vector<uint8_t> bank = song.patch_bank;
    bank.resize(1048576, 0);
    song.patch_bank = bank;
    ImageLayout layout;
    auto image = build_song_image(song, &layout);
    int ok = 0;
    load(image, &ok);
    EXPECT_EQ(ok, 1);

    auto bad = image;
    write_word(bad, layout.global_block_size, 16385);
    load(bad, &ok);
    EXPECT_EQ(ok, 0);

    write_word(bad, layout.global_block_size, 0x80000000u);  // negative
    load(bad, &ok);
    EXPECT_EQ(ok, 0);

    bad = image;
    write_word(bad, layout.patch_bank_size, 0xFFFFFFFFu);
    load(bad, &ok);
    EXPECT_EQ(ok, 0);
    write_word(bad, layout.patch_bank_size, 1048577);
    auto tables = load(bad, &ok);
    EXPECT_EQ(ok, 0);
    // What came before the failing block is stored.
    EXPECT_EQ(tables->global_block, bad.data() + layout.global_block_size + 4);
    EXPECT_EQ(tables->channels[1].notes.count, 2u);
}

TEST(SongLoad, WithoutASpeechBlockEveryTextIsTheOneBlankDefault)
{
    ImageLayout layout;
    auto image = build_song_image(two_channel_song(), &layout);
    for (uint32_t size : {0u, 8192u, 0xFFFFFFFFu}) {
        write_word(image, layout.speech_size, size);
        int ok = 0;
        auto tables = load(image, &ok);
        EXPECT_EQ(ok, 1);
        for (const char* text : tables->speech_texts) ASSERT_EQ(text, kDefaultSpeechText);
    }
    EXPECT_STREQ(kDefaultSpeechText, " ");
}

TEST(SongLoad, OneTextFillsEntryZeroAndLeavesTheOtherEntriesAsTheyWere)
{
    SongPlan song = two_channel_song();
    song.texts = {"!hEH_lOW"};
    ImageLayout layout;
    const auto image = build_song_image(song, &layout);
    SongTables tables{};
    const char* kept = "kept";
    for (const char*& text : tables.speech_texts) text = kept;
    EXPECT_EQ(song_load(image.data(), tables), 1);
    EXPECT_EQ(tables.speech_block, image.data() + layout.speech_size + 4);
    EXPECT_STREQ(tables.speech_texts[0], "!hEH_lOW");
    for (int i = 1; i < kSpeechTableSize; ++i) ASSERT_EQ(tables.speech_texts[i], kept);
}

TEST(SongLoad, OnlyTheFirst256TextsAreTaken)
{
    SongPlan song = two_channel_song();
    for (int i = 0; i < 300; ++i) song.texts.push_back("t" + std::to_string(i));
    const auto image = build_song_image(song);
    struct {
        SongTables tables;
        const char* after;
    } guarded{};
    guarded.after = "guard";
    EXPECT_EQ(song_load(image.data(), guarded.tables), 1);
    EXPECT_STREQ(guarded.tables.speech_texts[0], "t0");
    EXPECT_STREQ(guarded.tables.speech_texts[255], "t255");
    EXPECT_STREQ(guarded.after, "guard");
}
