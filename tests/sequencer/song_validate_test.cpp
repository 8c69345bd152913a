#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "data/embedded_song.h"
#include "sequencer/song.h"
#include "tests/sequencer/sequencer_test_support.h"

using namespace image_builder;
using Bytes = std::vector<uint8_t>;

namespace {

struct Verdict {
    bool valid;
    size_t offset;
    std::string message;
};

Verdict check(const Bytes& image)
{
    SongError error{};
    const bool valid = song_validate(image.data(), image.size(), error);
    return {valid, error.offset, error.message};
}

SongPlan small_song()
{
    SongPlan song;
    song.tempos = {{0, 400000}};
    song.channels[0].notes = {{0, 60, 100}, {64, 60, 0}};
    song.channels[0].programs = {{0, 1}};
    song.channels[5].notes = {{32, 36, 90}, {40, 36, 0}};
    song.channels[5].controllers[6] = {{0, 100}};
    song.texts = {"!lAA_ ", "!lIY_ "};
    return song;
}

// The rejection names the byte and says what is wrong.
void expect_rejected(const Bytes& image, size_t offset, const std::string& words)
{
    const Verdict verdict = check(image);
    EXPECT_FALSE(verdict.valid) << "expected a fault at byte " << offset << " (" << words << ")";
    EXPECT_EQ(verdict.offset, offset) << verdict.message;
    EXPECT_NE(verdict.message.find(words), std::string::npos) << verdict.message;
}

}  // namespace

TEST(SongValidate, AcceptsBuiltImagesAndTheEmbeddedSong)
{
    EXPECT_TRUE(check(build_song_image(small_song())).valid) << check(build_song_image(small_song())).message;
    EXPECT_TRUE(check(build_song_image(busy_song())).valid);
    const Bytes embedded(kEmbeddedSong, kEmbeddedSong + kEmbeddedSongSize);
    const Verdict verdict = check(embedded);
    EXPECT_TRUE(verdict.valid) << "byte " << verdict.offset << ": " << verdict.message;
}

TEST(SongValidate, RejectsAFaultyHeader)
{
    Bytes image = build_song_image(small_song());
    expect_rejected(Bytes(image.begin(), image.begin() + 8), 8, "header");

    Bytes bad = image;
    write_word(bad, 0, 0);
    expect_rejected(bad, 0, "ticks per quarter note is 0");
    write_word(bad, 0, 429497);
    expect_rejected(bad, 0, "32 bits");

    bad = image;
    write_word(bad, 8, 100000);
    expect_rejected(bad, 8, "global track has 100000 events");
}

TEST(SongValidate, TempoWordsMustLieInTheFormatsRange)
{
    ImageLayout layout;
    SongPlan song = small_song();
    song.tempos.push_back({100, 9739154});  // the slowest tempo the format holds
    const Bytes image = build_song_image(song, &layout);
    EXPECT_TRUE(check(image).valid);
    const size_t second_tempo = layout.global_track + 3 * 2 + 4;
    Bytes bad = image;
    write_word(bad, second_tempo, 9739155);
    expect_rejected(bad, second_tempo, "tempo 9739155");
    write_word(bad, second_tempo, 0);
    expect_rejected(bad, second_tempo, "tempo 0");
}

TEST(SongValidate, RejectsATrackThatRunsPastTheImage)
{
    ImageLayout layout;
    Bytes image = build_song_image(small_song(), &layout);
    write_word(image, layout.channel[5], 1000000);
    expect_rejected(image, layout.channel[5], "channel 5's note track has 1000000 events");

    image = build_song_image(small_song(), &layout);
    const size_t program_count = layout.channel[0] + 4 + 2 * 5;
    write_word(image, program_count, 0xFFFFFFFFu);
    expect_rejected(image, program_count, "channel 0's program track");

    image = build_song_image(small_song(), &layout);
    expect_rejected(Bytes(image.begin(), image.begin() + layout.channel[5] + 2), layout.channel[5],
                    "the image ends inside channel 5's note count");
}

TEST(SongValidate, RejectsEventsPastTheLastUsableTick)
{
    SongPlan song;
    for (uint32_t i = 0; i < 257; ++i) song.channels[0].notes.push_back({i, 60, 0});
    ImageLayout layout;
    Bytes image = build_song_image(song, &layout);
    // Every gap becomes 2^24 - 1 ticks: event 255 falls at 4294967040, event 256 past 2^32 - 2.
    const size_t times = layout.channel[0] + 4;
    for (size_t i = 0; i < 3 * 257; ++i) image[times + i] = 0xFF;
    expect_rejected(image, times + 256, "event 256 falls at tick 4311744255");
}

TEST(SongValidate, RejectsAGapLongerThanTheFrameCountdown)
{
    SongPlan song;
    song.ticks_per_quarter = 1;
    song.tempos = {{0, 9739154}};
    song.channels[0].notes = {{0, 60, 100}, {0xFFFFFF, 60, 0}};
    ImageLayout layout;
    const Bytes image = build_song_image(song, &layout);
    expect_rejected(image, layout.channel[0] + 4 + 1, "lasts more than 2^32 frames");
}

TEST(SongValidate, RejectsBlockSizesOutOfRange)
{
    ImageLayout layout;
    const Bytes image = build_song_image(small_song(), &layout);
    Bytes bad = image;
    write_word(bad, layout.global_block_size, 16385);
    expect_rejected(bad, layout.global_block_size, "at most 16384");
    write_word(bad, layout.global_block_size, 0x80000000u);
    expect_rejected(bad, layout.global_block_size, "negative");
    write_word(bad, layout.global_block_size, 5000);
    expect_rejected(bad, layout.global_block_size, "only");
    write_word(bad, layout.global_block_size, 21);
    expect_rejected(bad, layout.global_block_size, "the engine reads 22");

    bad = image;
    write_word(bad, layout.patch_bank_size, 1048577);
    expect_rejected(bad, layout.patch_bank_size, "at most 1048576");
}

TEST(SongValidate, RejectsPatchOffsetsAndModulationOutsideTheBank)
{
    ImageLayout layout;
    const Bytes image = build_song_image(small_song(), &layout);
    const size_t bank = layout.patch_bank_size + 4;
    const uint32_t bank_size = read_word(image, layout.patch_bank_size);
    EXPECT_EQ(song_bank_program_count(image.data() + bank, bank_size), 4u);

    Bytes bad = image;
    write_word(bad, bank + 4 * 2, bank_size - 85);
    expect_rejected(bad, bank + 8, "program 2's patch");

    bad = image;
    write_word(bad, bank + 4 * 3, 8);
    expect_rejected(bad, bank + 12, "points into the 4-entry offset table");

    // The last patch's modulation count claims more entries than the bank holds.
    bad = image;
    const uint32_t last = read_word(image, bank + 12);
    bad[bank + last + 85] = 200;
    expect_rejected(bad, bank + last + 85, "modulation entries run");

    bad = image;
    write_word(bad, layout.patch_bank_size, 3);
    expect_rejected(bad, layout.patch_bank_size, "too small for the offset of program 0");
}

TEST(SongValidate, EveryProgramTheSongSelectsNeedsAnOffsetTableEntry)
{
    SongPlan song = small_song();
    song.channels[0].programs = {{0, 3}, {10, 132}};  // 132 selects program 4 (low seven bits)
    ImageLayout layout;
    const Bytes image = build_song_image(song, &layout);
    const size_t second_value = layout.channel[0] + 4 + 2 * 5 + 4 + 3 * 2 + 1;
    expect_rejected(image, second_value, "program 4 is selected but the patch bank has only 4 programs");

    song.channels[0].programs = {{0, 3}, {10, 128}};  // program 0
    EXPECT_TRUE(check(build_song_image(song)).valid);
}

TEST(SongValidate, SpeechTextsMustLieInTheirBlockAndEndThere)
{
    ImageLayout layout;
    const Bytes image = build_song_image(small_song(), &layout);
    const size_t block = layout.speech_size + 4;
    const uint32_t block_size = read_word(image, layout.speech_size);

    Bytes bad = image;
    write_word(bad, block + 8, block_size);
    expect_rejected(bad, block + 8, "speech text 1 starts at offset");

    bad = image;
    bad.back() = 'x';  // the last text loses its terminator
    expect_rejected(bad, block + read_word(image, block + 8), "speech text 1 is not terminated");

    bad = image;
    write_word(bad, block, 5000);
    expect_rejected(bad, block, "cannot hold their offsets");

    bad = image;
    write_word(bad, layout.speech_size, block_size + 1);
    expect_rejected(bad, layout.speech_size, "only");
}

TEST(SongValidate, RejectsBytesAfterTheEnd)
{
    Bytes image = build_song_image(small_song());
    const size_t end = image.size();
    image.insert(image.end(), {1, 2, 3});
    expect_rejected(image, end, "3 unexpected bytes after the speech text block");

    SongPlan song = small_song();
    song.texts.clear();
    image = build_song_image(song);
    image.push_back(0);
    expect_rejected(image, image.size() - 1, "1 unexpected bytes");
}

TEST(SongValidate, NeverReadsPastTheImageWhateverItIsCutTo)
{
    const Bytes image = build_song_image(small_song());
    for (size_t size = 0; size < image.size(); ++size) {
        // A copy of exactly size bytes, so that a read past its end is caught.
        const Bytes cut(image.begin(), image.begin() + size);
        ASSERT_FALSE(check(cut).valid) << size;
    }
}

TEST(SongValidate, ValidImagesSeedTheFuzzCorpus)
{
    const char* binary = std::getenv("CANTILENA_BINARY_DIR");
    if (!binary) GTEST_SKIP() << "CANTILENA_BINARY_DIR is not set";
    const std::filesystem::path corpus = std::filesystem::path(binary) / "fuzz-corpus" / "song_fuzz";
    std::filesystem::create_directories(corpus);
    SongPlan empty;
    SongPlan tiny;
    tiny.channels[0].notes = {{0, 60, 100}, {30, 60, 0}};
    const std::vector<std::pair<std::string, Bytes>> seeds = {
        {"small.img", build_song_image(small_song())},
        {"busy.img", build_song_image(busy_song(1))},
        {"empty.img", build_song_image(empty)},
        {"tiny.img", build_song_image(tiny)},
        {"embedded.img", Bytes(kEmbeddedSong, kEmbeddedSong + kEmbeddedSongSize)},
    };
    for (const auto& [name, bytes] : seeds) {
        ASSERT_TRUE(check(bytes).valid) << name;
        std::ofstream out(corpus / name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        ASSERT_TRUE(out.good()) << name;
    }
}
