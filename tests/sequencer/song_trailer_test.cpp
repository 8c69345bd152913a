#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "sequencer/song_trailer.h"
#include "tests/support/image_builder.h"

using namespace image_builder;

namespace {

constexpr uint32_t kEnd = 1234567;

// What export appends to a program: the image packed, then its trailer.
std::vector<uint8_t> appended(const std::vector<uint8_t>& image, const std::string& title = "Night Ferry")
{
    std::vector<uint8_t> bytes(song_appended_bound(image.size()));
    bytes.resize(song_appended_write(bytes.data(), image.data(), static_cast<uint32_t>(image.size()), title.data(),
                                     title.size(), kEnd));
    return bytes;
}

std::vector<uint8_t> small_image()
{
    SongPlan song;
    song.channels[0].notes = {{0, 60, 100}, {64, 60, 0}};
    return build_song_image(song);
}

// Rewrites the checksum after a deliberate change, as a forger would.
void reseal(std::vector<uint8_t>& bytes)
{
    const size_t trailer = bytes.size() - kTrailerBytes;
    const uint32_t crc =
        song_checksum(bytes.data() + trailer, kTrailerChecksumAt, song_checksum(bytes.data(), trailer));
    write_word(bytes, trailer + kTrailerChecksumAt, crc);
}

std::string failure(const std::vector<uint8_t>& bytes)
{
    AppendedSong song{};
    SongError error{};
    if (song_appended_check(bytes.data(), bytes.size(), song, error)) return "accepted";
    return error.message;
}

}  // namespace

TEST(AppendedSong, AnAppendedImageIsFoundWithItsTitleAndEnd)
{
    const std::vector<uint8_t> image = small_image();
    const std::vector<uint8_t> bytes = appended(image, "Über die Brücke");
    AppendedSong song{};
    SongError error{};
    ASSERT_TRUE(song_appended_check(bytes.data(), bytes.size(), song, error)) << error.message;
    EXPECT_EQ(std::vector<uint8_t>(song.image, song.image + song.image_size), image);
    EXPECT_EQ(song.end_frames, kEnd);
    EXPECT_STREQ(song.title, "Über die Brücke");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()) + bytes.size() - kTrailerMarkBytes,
                          kTrailerMarkBytes),
              kTrailerMark);
    EXPECT_LT(bytes.size(), image.size() + kTrailerBytes) << "the image is stored packed";
    song_appended_release(song);
}

TEST(AppendedSong, BytesCutShortAtAnyLengthAreRefused)
{
    const std::vector<uint8_t> bytes = appended(small_image());
    for (size_t length = 0; length < bytes.size(); ++length) {
        const std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
        const std::string why = failure(cut);
        EXPECT_TRUE(why.find("cut short") != std::string::npos) << length << ": " << why;
    }
}

TEST(AppendedSong, EveryFlippedBitIsCaught)
{
    const std::vector<uint8_t> bytes = appended(small_image());
    for (size_t bit = 0; bit < 8 * bytes.size(); ++bit) {
        std::vector<uint8_t> damaged = bytes;
        damaged[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
        ASSERT_NE(failure(damaged), "accepted") << "bit " << bit;
    }
    std::vector<uint8_t> damaged = bytes;
    damaged[bytes.size() - kTrailerBytes + kTrailerChecksumAt] ^= 0xFF;
    EXPECT_EQ(failure(damaged), "the checksum does not match: the song is damaged");
}

TEST(AppendedSong, ASealedTrailerIsStillCheckedFieldByField)
{
    const std::vector<uint8_t> image = small_image();
    const size_t trailer = appended(image).size() - kTrailerBytes;

    std::vector<uint8_t> claims_more = appended(image);
    write_word(claims_more, trailer + kTrailerSizeAt, static_cast<uint32_t>(trailer + 1000));
    reseal(claims_more);
    EXPECT_EQ(failure(claims_more), "the trailer claims a " + std::to_string(trailer + 1000) +
                                        "-byte packed image, but " + std::to_string(trailer) + " bytes precede it");
    for (const uint32_t claimed : {static_cast<uint32_t>(image.size() - 1), static_cast<uint32_t>(image.size() + 1)}) {
        std::vector<uint8_t> unpacks_otherwise = appended(image);
        write_word(unpacks_otherwise, trailer + kTrailerImageSizeAt, claimed);
        reseal(unpacks_otherwise);
        EXPECT_NE(failure(unpacks_otherwise).find("unpacks to"), std::string::npos) << claimed;
    }
    std::vector<uint8_t> huge = appended(image);
    write_word(huge, trailer + kTrailerImageSizeAt, static_cast<uint32_t>(kMaxAppendedImageBytes + 1));
    reseal(huge);
    EXPECT_EQ(failure(huge), "the trailer claims an image larger than a song can take");

    std::vector<uint8_t> invalid_image = image;
    write_word(invalid_image, 0, 0);  // ticks per quarter
    const std::vector<uint8_t> invalid = appended(invalid_image);
    AppendedSong song{};
    SongError error{};
    ASSERT_FALSE(song_appended_check(invalid.data(), invalid.size(), song, error));
    SongError direct{};
    ASSERT_FALSE(song_validate(invalid_image.data(), invalid_image.size(), direct));
    EXPECT_STREQ(error.message, direct.message);  // the very check an image file gets
    EXPECT_EQ(error.offset, direct.offset);

    std::vector<uint8_t> escape = appended(image, "evil\x1B[2J");
    EXPECT_EQ(failure(escape), "the title is not printable UTF-8 text");
    std::vector<uint8_t> unterminated = appended(image);
    std::memset(unterminated.data() + trailer, 'a', kTrailerTitleBytes);
    reseal(unterminated);
    EXPECT_EQ(failure(unterminated), "the title is not printable UTF-8 text");
    std::vector<uint8_t> hidden = appended(image, "a");
    hidden[trailer + 5] = 'x';
    reseal(hidden);
    EXPECT_EQ(failure(hidden), "the title is not followed by zeros");
}

TEST(SongTitle, PrintableUtf8OfAtMost63Bytes)
{
    const std::string good_titles[] = {"",       "Lanterns on the Water", "Nuit étoilée", "夜の船",
                                       "🎵 song", std::string(63, 'x')};
    for (const std::string& good : good_titles) EXPECT_TRUE(song_title_valid(good.data(), good.size())) << good;
    const std::string bad[] = {std::string(64, 'x'),
                               "tab\there",
                               "bell\x07",
                               "del\x7F",
                               "c1 \xC2\x9B",
                               "overlong \xC0\xAF",
                               "surrogate \xED\xA0\x80",
                               "cut \xE5\xA4",
                               "stray \x80",
                               "beyond \xF4\x90\x80\x80"};
    for (const std::string& title : bad) EXPECT_FALSE(song_title_valid(title.data(), title.size())) << title;
}

TEST(ProgramExtent, ThePlayerWithoutASongEndsWhereItsFileEnds)
{
    const char* binary = std::getenv("CANTILENA_BINARY_DIR");
    if (!binary) GTEST_SKIP() << "CANTILENA_BINARY_DIR is not set";
    std::ifstream in(std::string(binary) + "/app/cantilena-songless.stripped", std::ios::binary);
    if (!in) GTEST_SKIP() << "the player is not built";
    const std::vector<uint8_t> program{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    uint64_t extent = 0;
    ASSERT_TRUE(program_extent(program.data(), std::min(program.size(), kProgramHeadBytes), extent));
    EXPECT_EQ(extent, program.size());

    std::vector<uint8_t> head(program.begin(), program.begin() + 64);
    EXPECT_FALSE(program_extent(head.data(), head.size(), extent)) << "its program headers lie beyond the head";
    head[0] = 'M';
    EXPECT_FALSE(program_extent(head.data(), head.size(), extent));
    const std::vector<uint8_t> image = small_image();
    EXPECT_FALSE(program_extent(image.data(), image.size(), extent));
}
