#include <gtest/gtest.h>

#include <lzma.h>

#include <string>
#include <vector>

#include "sequencer/song_trailer.h"
#include "tests/support/image_builder.h"
#include "tools/program_export.h"

namespace {

std::vector<uint8_t> unxz(const uint8_t* bytes, size_t size)
{
    std::vector<uint8_t> out(1 << 20);
    uint64_t memory = UINT64_MAX;
    size_t in_used = 0, out_used = 0;
    const lzma_ret result =
        lzma_stream_buffer_decode(&memory, 0, nullptr, bytes, &in_used, size, out.data(), &out_used, out.size());
    EXPECT_EQ(result, LZMA_OK);
    EXPECT_EQ(in_used, size) << "the compressed program runs to the end of the file";
    out.resize(out_used);
    return out;
}

}  // namespace

TEST(ProgramExport, APackedProgramIsAShellStubThatUnpacksFromTheByteItNames)
{
    std::vector<uint8_t> program(5000);
    for (size_t i = 0; i < program.size(); ++i) program[i] = static_cast<uint8_t>(i * 7 / 3);
    const std::vector<uint8_t> packed = program_pack(program);
    const std::string text(packed.begin(), packed.end());
    ASSERT_EQ(text.rfind("#!/bin/sh\n", 0), 0u);
    const size_t at = text.find("tail -c +");
    ASSERT_NE(at, std::string::npos);
    const size_t from = std::stoul(text.substr(at + 9)) - 1;  // tail counts from 1
    EXPECT_EQ(text.substr(from - 5, 5), "exit\n") << "the compressed bytes follow the stub's last line";
    EXPECT_EQ(unxz(packed.data() + from, packed.size() - from), program);
}

TEST(ProgramExport, TheComposedProgramEndsWithTheImageAndATrailerThatChecksOut)
{
    const std::vector<uint8_t> player = {0x7F, 'E', 'L', 'F', 1, 2, 3};
    image_builder::SongPlan song;
    song.channels[0].notes = {{0, 60, 100}, {96, 60, 0}};
    const std::vector<uint8_t> image = image_builder::build_song_image(song);
    const std::vector<uint8_t> program = program_compose(player, image, "Tide", 99);
    EXPECT_TRUE(std::equal(player.begin(), player.end(), program.begin()));
    AppendedSong found{};
    SongError error{};
    ASSERT_TRUE(song_appended_check(program.data() + player.size(), program.size() - player.size(), found, error))
        << error.message;
    EXPECT_EQ(std::vector<uint8_t>(found.image, found.image + found.image_size), image);
    EXPECT_STREQ(found.title, "Tide");
    EXPECT_EQ(found.end_frames, 99u);
    song_appended_release(found);
}

TEST(ProgramExport, AFileNameGivesTheTitleCutAtACharacterBoundary)
{
    EXPECT_EQ(program_title_from_file_name("songs/night-ferry.img"), "night-ferry");
    EXPECT_EQ(program_title_from_file_name("SONG.yaml"), "SONG");
    EXPECT_EQ(program_title_from_file_name(".hidden"), ".hidden");
    const std::string long_name = std::string(62, 'a') + "é.img";  // the é would end at byte 64
    EXPECT_EQ(program_title_from_file_name(long_name), std::string(62, 'a'));
    EXPECT_EQ(program_title_from_file_name("bell\a.img"), "") << "no valid title: --title must give one";
}
