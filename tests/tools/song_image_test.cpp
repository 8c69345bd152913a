#include <gtest/gtest.h>

#include "sequencer/song.h"
#include "synth/param_layout.h"
#include "tests/tools/authoring_test_support.h"
#include "tools/song_reader.h"
#include "tools/song_writer.h"

using namespace authoring_test;

namespace {

std::vector<uint8_t> one_patch_bank()
{
    std::vector<uint8_t> patch(kPatchHeaderBytes, 64);
    patch[kPatchModCountOffset] = 0;
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
    return error_of([&] { song_write_image(song); });
}

}  // namespace

TEST(SongImageWrite, TracksAreStoredColumnByColumnAsDeltasAndAnAbsentChannelTakesOneWord)
{
    EXPECT_EQ(song_write_image(small_song()).size(), 12u + 16 * 4 + 4 + 22 + 4 + one_patch_bank().size() + 4);

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
              (std::vector<uint8_t>{3, 0, 0, 0, 0x00, 0x01, 0xBD, 0x00, 0x00, 0x04, 0x00, 0x00, 0x01, 0x01, 0x00,
                                    0x00}));
    SongError fault{};
    EXPECT_TRUE(song_validate(image.data(), image.size(), fault)) << fault.message;
}

TEST(SongImageWrite, GapsBeyondTwentyFourBitsAndEventsOutOfOrderAreRefused)
{
    SongData song = small_song();
    song.channels[2].notes = {{0x1000000, 60, 1, {}}};
    EXPECT_EQ(write_error(song),
              "song channel 2's note track: the event at tick 16777216 comes 16777216 ticks after the "
              "one before it; a gap may be at most 16777215 ticks");
    song.channels[2].notes = {{10, 60, 1, {}}, {9, 60, 0, {}}};
    EXPECT_EQ(write_error(song),
              "song channel 2's note track: event 1 at tick 9 comes before the previous one at tick 10");
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
