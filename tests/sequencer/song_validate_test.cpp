#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "data/embedded_song.h"
#include "sequencer/song.h"
#include "tests/sequencer/sequencer_test_support.h"
#include "tools/author_common.h"

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

TEST(SongValidate, AWrongCountSizeOffsetOrTempoWordIsRejectedAtItsByte)
{
    ImageLayout layout;
    SongPlan song = small_song();
    song.tempos.push_back({100, 9739154});  // the slowest tempo the format holds
    const Bytes image = build_song_image(song, &layout);
    ASSERT_TRUE(check(image).valid);
    const size_t second_tempo = layout.global_track + 3 * 2 + 4;
    const size_t program_count = layout.channel[0] + 4 + 2 * 5;
    const size_t bank = layout.patch_bank_size + 4;
    const uint32_t bank_size = read_word(image, layout.patch_bank_size);
    const size_t texts = layout.speech_size + 4;
    const uint32_t texts_size = read_word(image, layout.speech_size);
    EXPECT_EQ(song_bank_program_count(image.data() + bank, bank_size), 4u);

    struct Case {
        size_t at;
        uint32_t word;
        const char* words;
    };
    const Case cases[] = {
        {0, 0, "ticks per quarter note is 0"},
        {0, 429497, "32 bits"},
        {8, 100000, "global track has 100000 events"},
        {second_tempo, 9739155, "tempo 9739155"},
        {second_tempo, 0, "tempo 0"},
        {layout.channel[5], 1000000, "channel 5's note track has 1000000 events"},
        {program_count, 0xFFFFFFFFu, "channel 0's program track"},
        {layout.global_block_size, 16385, "at most 16384"},
        {layout.global_block_size, 0x80000000u, "negative"},
        {layout.global_block_size, 5000, "only"},
        {layout.global_block_size, 21, "the engine reads 22"},
        {layout.patch_bank_size, 1048577, "at most 1048576"},
        {layout.patch_bank_size, 3, "too small for the offset of program 0"},
        {layout.patch_bank_size, 1, "the patch bank is 1 byte, too small"},
        {bank + 4 * 2, bank_size - 85, "program 2's patch"},
        {bank + 4 * 3, 8, "points into the 4-entry offset table"},
        {texts + 8, texts_size, "speech text 1 starts at offset"},
        {texts, 5000, "cannot hold their offsets"},
        {layout.speech_size, texts_size + 1, "only"},
    };
    for (const Case& c : cases) {
        Bytes bad = image;
        write_word(bad, c.at, c.word);
        expect_rejected(bad, c.at, c.words);
    }

    // The last patch's modulation count claims more entries than the bank holds.
    Bytes bad = image;
    const uint32_t last = read_word(image, bank + 12);
    bad[bank + last + 85] = 200;
    expect_rejected(bad, bank + last + 85, "modulation entries run");
    bad = image;
    bad.back() = 'x';  // the last text loses its terminator
    expect_rejected(bad, texts + read_word(image, texts + 8), "speech text 1 is not terminated");
    expect_rejected(Bytes(image.begin(), image.begin() + 8), 8,
                    "the image is 8 bytes, shorter than its 12-byte header");
    expect_rejected(Bytes(image.begin(), image.begin() + 1), 1, "the image is 1 byte, shorter");
    expect_rejected(Bytes(image.begin(), image.begin() + layout.channel[5] + 2), layout.channel[5],
                    "the image ends inside channel 5's note count");
    bad = image;
    bad.insert(bad.end(), {1, 2, 3});
    expect_rejected(bad, image.size(), "3 unexpected bytes after the speech text block");
    song.texts.clear();
    bad = build_song_image(song);
    bad.push_back(0);
    expect_rejected(bad, bad.size() - 1, "1 unexpected byte after the speech text block size word");
}

TEST(SongValidate, RejectsEventsPastTheLastUsableTickAndGapsLongerThanTheFrameCountdown)
{
    SongPlan song;
    for (uint32_t i = 0; i < 257; ++i) song.channels[0].notes.push_back({i, 60, 0});
    ImageLayout layout;
    Bytes image = build_song_image(song, &layout);
    // Every gap becomes 2^24 - 1 ticks: event 255 falls at 4294967040, event 256 past 2^32 - 2.
    const size_t times = layout.channel[0] + 4;
    for (size_t i = 0; i < 3 * 257; ++i) image[times + i] = 0xFF;
    expect_rejected(image, times + 256, "event 256 falls at tick 4311744255");

    SongPlan slow;
    slow.ticks_per_quarter = 1;
    slow.tempos = {{0, 9739154}};
    slow.channels[0].notes = {{0, 60, 100}, {0xFFFFFF, 60, 0}};
    image = build_song_image(slow, &layout);
    expect_rejected(image, layout.channel[0] + 4 + 1, "lasts more than 2^32 frames");
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

TEST(SongValidate, NeverReadsPastTheImageWhateverItIsCutTo)
{
    const Bytes image = build_song_image(small_song());
    for (size_t size = 0; size < image.size(); ++size) {
        // A copy of exactly size bytes, so that a read past its end is caught.
        const Bytes cut(image.begin(), image.begin() + size);
        ASSERT_FALSE(check(cut).valid) << size;
    }
}

TEST(SongValidate, AcceptsBuiltImagesAndTheEmbeddedSong)
{
    SongPlan tiny;
    tiny.channels[0].notes = {{0, 60, 100}, {30, 60, 0}};
    const std::vector<std::pair<std::string, Bytes>> images = {
        {"small", build_song_image(small_song())},
        {"busy", build_song_image(busy_song(1))},
        {"empty", build_song_image(SongPlan{})},
        {"tiny", build_song_image(tiny)},
        {"embedded", Bytes(kEmbeddedSong, kEmbeddedSong + kEmbeddedSongSize)},
    };
    for (const auto& [name, bytes] : images) {
        const Verdict verdict = check(bytes);
        EXPECT_TRUE(verdict.valid) << name << ": byte " << verdict.offset << ": " << verdict.message;
    }
}
