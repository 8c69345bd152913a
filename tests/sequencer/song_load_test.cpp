#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "sequencer/song.h"
#include "tests/support/image_builder.h"

using namespace image_builder;

namespace {

// What song_load returns for an image, and the tables it filled.
std::pair<bool, std::unique_ptr<SongTables>> load(const std::vector<uint8_t>& image)
{
    auto tables = std::make_unique<SongTables>();
    const bool ok = song_load(image.data(), *tables);
    return {ok, std::move(tables)};
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

TEST(SongLoad, ReadsTheHeaderTheGlobalTrackAndEveryPresentChannelsTracksWhileAnAbsentChannelTakesOnlyItsCount)
{
    ImageLayout layout;
    const auto image = build_song_image(two_channel_song(), &layout);
    const auto [ok, tables] = load(image);
    EXPECT_TRUE(ok);
    EXPECT_EQ(std::tuple(tables->ticks_per_quarter, tables->tick_divisor, tables->end_tick, tables->global_count),
              std::tuple(96u, 960000u, 96u, 1u));
    EXPECT_EQ(tables->global_track, image.data() + 12);
    const ChannelTracks& one = tables->channels[1];
    EXPECT_EQ(std::tuple(one.notes.count, one.programs.count, one.controllers[6].count), std::tuple(2u, 1u, 2u));
    EXPECT_EQ(one.notes.data, image.data() + layout.channel[0] + 4 + 4);  // channel 0: its count word only
    EXPECT_EQ(one.programs.data, one.notes.data + 10 + 4);
    EXPECT_EQ(tables->channels[3].notes.count, 1u);
    EXPECT_EQ(tables->channels[3].notes.data, image.data() + layout.channel[3] + 4);
    EXPECT_EQ(tables->channels[0].notes.count + tables->channels[2].notes.count, 0u);
    EXPECT_EQ(tables->global_block, image.data() + layout.global_block_size + 4);
    EXPECT_EQ(tables->patch_bank, image.data() + layout.patch_bank_size + 4);
}

TEST(SongLoad, BlockSizesAtTheirLimitsLoadWhileOneByteMoreOrANegativeSizeFails)
{
    SongPlan song = two_channel_song();
    song.global_block.resize(16384, 0);
    song.patch_bank.resize(1048576, 0);
    ImageLayout layout;
    const auto image = build_song_image(song, &layout);
    EXPECT_EQ(load(image).first, 1);
    for (const auto& [at, size] : {std::pair{layout.global_block_size, 16385u},
                                   {layout.global_block_size, 0x80000000u},
                                   {layout.patch_bank_size, 0xFFFFFFFFu},
                                   {layout.patch_bank_size, 1048577u}}) {
        auto bad = image;
        write_word(bad, at, size);
        const auto [ok, tables] = load(bad);
        EXPECT_FALSE(ok) << at << " " << size;
        if (at == layout.patch_bank_size) {  // what came before the failing block is stored
            EXPECT_EQ(tables->global_block, bad.data() + layout.global_block_size + 4);
            EXPECT_EQ(tables->channels[1].notes.count, 2u);
        }
    }
}

TEST(SongLoad, WithoutASpeechBlockEveryTextIsTheOneBlankDefault)
{
    ImageLayout layout;
    auto image = build_song_image(two_channel_song(), &layout);
    for (uint32_t size : {0u, 8192u, 0xFFFFFFFFu}) {
        write_word(image, layout.speech_size, size);
        const auto [ok, tables] = load(image);
        EXPECT_TRUE(ok);
        for (const char* text : tables->speech_texts) ASSERT_EQ(text, kDefaultSpeechText);
    }
    EXPECT_STREQ(kDefaultSpeechText, " ");
}

TEST(SongLoad, TextsFillTheirEntriesLeaveTheOthersAsTheyWereAndOnlyTheFirst256AreTaken)
{
    SongPlan song = two_channel_song();
    song.texts = {"!hEH_lOW"};
    ImageLayout layout;
    const auto image = build_song_image(song, &layout);
    struct {
        SongTables tables;
        const char* after;
    } guarded{};
    const char* kept = "kept";
    for (const char*& text : guarded.tables.speech_texts) text = kept;
    guarded.after = "guard";
    EXPECT_TRUE(song_load(image.data(), guarded.tables));
    EXPECT_EQ(guarded.tables.speech_block, image.data() + layout.speech_size + 4);
    EXPECT_STREQ(guarded.tables.speech_texts[0], "!hEH_lOW");
    for (int i = 1; i < kSpeechTableSize; ++i) ASSERT_EQ(guarded.tables.speech_texts[i], kept);

    song.texts.clear();
    for (int i = 0; i < 300; ++i) song.texts.push_back("t" + std::to_string(i));
    const auto many = build_song_image(song);
    EXPECT_TRUE(song_load(many.data(), guarded.tables));
    EXPECT_STREQ(guarded.tables.speech_texts[0], "t0");
    EXPECT_STREQ(guarded.tables.speech_texts[255], "t255");
    EXPECT_STREQ(guarded.after, "guard");
}
