#include <gtest/gtest.h>

#include "sequencer/song.h"
#include "tools/author_common.h"
#include "tools/song_reader.h"
#include "tools/song_writer.h"

namespace {

std::vector<uint8_t> one_patch_bank()
{
    std::vector<uint8_t> patch(86, 64);
    patch[85] = 0;
    return song_build_patch_bank({patch}, {0, 0});
}

SongData small_song()
{
    SongData song;
    song.ticks_per_quarter = 128;
    song.global_block.assign(22, 0);
    song.patch_bank = one_patch_bank();
    return song;
}

std::string write_error(const SongData& song)
{
    try {
        song_write_image(song);
    } catch (const AuthorError& e) {
        return e.what();
    }
    return "no error";
}

}  // namespace

TEST(SongImageWrite, TracksAreStoredColumnByColumnAsDeltas)
{
    // The program track of the format's worked example: programs at ticks 0,
    // 1 and 66750, the running program becoming 1 and staying there.
    SongData song = small_song();
    song.channels[1].notes = {{0, 60, 100, {}}, {20, 20, 0, {}}};
    song.channels[1].programs = {{0, 1, {}}, {1, 1, {}}, {66750, 1, {}}};
    const std::vector<uint8_t> image = song_write_image(song);
    // Header, empty global track, channel 0 absent (one word), channel 1's notes.
    const size_t programs = 12 + 4 + 4 + 2 * 5;
    EXPECT_EQ(std::vector<uint8_t>(image.begin() + 20, image.begin() + programs),
              (std::vector<uint8_t>{0x00, 0x14, 0, 0, 0, 0, 0x3C, 0xD8, 0x64, 0x9C}));
    EXPECT_EQ(std::vector<uint8_t>(image.begin() + programs, image.begin() + programs + 16),
              (std::vector<uint8_t>{3, 0, 0, 0, 0x00, 0x01, 0xBD, 0x00, 0x00, 0x04, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00}));
    SongError fault{};
    EXPECT_TRUE(song_validate(image.data(), image.size(), fault)) << fault.message;
}

TEST(SongImageWrite, WhatIsWrittenReadsBackEventForEvent)
{
    SongData song = small_song();
    song.ticks_per_quarter = 960;
    song.end_tick = 90000;
    song.globals = {{0, 600000, 6, 8, 8, {}}, {0, 500000, 4, 4, 8, {}}, {70000, 5000000, 7, 16, 12, {}}};
    for (int c : {0, 9, 15}) {
        ChannelEvents& channel = song.channels[c];
        channel.notes = {{0, 36, 127, {}}, {0, 38, 1, {}}, {10, 36, 0, {}}, {0xFFFFFF, 38, 0, {}}};
        channel.programs = {{0, 0, {}}};
        channel.bends = {{5, 0, 64, {}}, {5, 127, 127, {}}};
        channel.controllers[6] = {{0, 100, {}}, {80000, 3, {}}};
        channel.controllers[3] = {{2, 62, {}}};
    }
    song.speech_block = song_build_speech_block({"!hEH_ ", "lOW"});
    song.speech_size_word = static_cast<uint32_t>(song.speech_block.size());
    const std::vector<uint8_t> image = song_write_image(song);
    SongError fault{};
    ASSERT_TRUE(song_validate(image.data(), image.size(), fault)) << fault.message;

    const SongData back = song_read_image(image.data(), image.size(), "x.img");
    EXPECT_EQ(back.end_tick, 90000u);
    ASSERT_EQ(back.globals.size(), 3u);
    EXPECT_EQ(back.globals[2].tempo, 5000000u);
    EXPECT_EQ(back.globals[2].denominator, 16);
    for (int c = 0; c < 16; ++c) {
        const ChannelEvents& a = song.channels[c];
        const ChannelEvents& b = back.channels[c];
        ASSERT_EQ(a.notes.size(), b.notes.size()) << "channel " << c;
        for (size_t i = 0; i < a.notes.size(); ++i) {
            EXPECT_EQ(a.notes[i].tick, b.notes[i].tick);
            EXPECT_EQ(a.notes[i].note, b.notes[i].note);
            EXPECT_EQ(a.notes[i].velocity, b.notes[i].velocity);
        }
        ASSERT_EQ(a.bends.size(), b.bends.size());
        for (size_t i = 0; i < a.bends.size(); ++i) EXPECT_EQ(a.bends[i].first, b.bends[i].first);
        for (int k = 0; k < 7; ++k) ASSERT_EQ(a.controllers[k].size(), b.controllers[k].size());
    }
    EXPECT_EQ(back.channels[9].controllers[6][1].tick, 80000u);
    EXPECT_EQ(song_read_speech_texts(back.speech_block, "x"), (std::vector<std::string>{"!hEH_ ", "lOW"}));
    EXPECT_EQ(song_write_image(back), image);
}

TEST(SongImageWrite, AnAbsentChannelTakesOneWordAndEmptyBlocksTakeTheirSizeWords)
{
    const std::vector<uint8_t> image = song_write_image(small_song());
    EXPECT_EQ(image.size(), 12u + 16 * 4 + 4 + 22 + 4 + one_patch_bank().size() + 4);
}

TEST(SongImageWrite, GapsBeyondTwentyFourBitsAndEventsOutOfOrderAreRefused)
{
    SongData song = small_song();
    song.channels[2].notes = {{0x1000000, 60, 1, {}}};
    EXPECT_EQ(write_error(song), "song channel 2's note track: the event at tick 16777216 comes 16777216 ticks after the "
                                 "one before it; a gap may be at most 16777215 ticks");
    song.channels[2].notes = {{10, 60, 1, {}}, {9, 60, 0, {}}};
    EXPECT_EQ(write_error(song), "song channel 2's note track: event 1 at tick 9 comes before the previous one at tick 10");
    song.channels[2].notes.clear();
    song.channels[2].programs = {{0, 1, {}}};
    EXPECT_EQ(write_error(song), "song channel 2 has events but no notes; the image cannot hold such a channel");
}

TEST(SongImageBlocks, UnmappedProgramsPointAtTheFirstPatch)
{
    std::vector<uint8_t> a(86, 1), b(89, 2);
    a[85] = 0;
    b[85] = 1;  // one modulation entry: 86 + 3 bytes
    const std::vector<uint8_t> bank = song_build_patch_bank({a, b}, {-1, 1, -1, 0});
    const PatchBankContents contents = song_read_patch_bank(bank, "bank");
    EXPECT_EQ(contents.program_offsets, (std::vector<uint32_t>{16, 102, 16, 16}));
    ASSERT_EQ(contents.patches.size(), 2u);
    EXPECT_EQ(contents.patches[1], b);
}
