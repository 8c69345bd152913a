#include <gtest/gtest.h>

#include <cmath>

#include "sequencer/song_end.h"
#include "tests/sequencer/sequencer_test_support.h"

using namespace image_builder;

namespace {

constexpr uint8_t kNoiseDrum = 2;  // fades by itself: its envelope decays to nothing
constexpr uint8_t kPad = 1;        // sustains for as long as its note is held

// One note on channel 0 at tick 0, released at release_tick (0: never).
std::vector<uint8_t> one_note_song(uint8_t program, uint32_t release_tick)
{
    SongPlan song;
    ChannelPlan& channel = song.channels[0];
    channel.programs.push_back({0, program});
    channel.controllers[6].push_back({0, 110});
    channel.notes.push_back({0, 57, 100});
    if (release_tick) channel.notes.push_back({release_tick, 57, 0});
    return build_song_image(song);
}

SongEnd measured(const std::vector<uint8_t>& image, SynthEngine& engine)
{
    SongEnd end{};
    EXPECT_TRUE(song_measure_end(image.data(), engine, end));
    return end;
}

SongEnd measured(const std::vector<uint8_t>& image)
{
    return measured(image, *std::make_unique<SynthEngine>());
}

bool quiet_frame(const Frames& frames, uint64_t frame)
{
    return std::fabs(frames[2 * frame]) < kSongEndQuietLevel && std::fabs(frames[2 * frame + 1]) < kSongEndQuietLevel;
}

}  // namespace

TEST(SongEnd, ASongEndsAfterTheFirstQuietSecondThatFollowsItsLastEvent)
{
    const std::vector<uint8_t> image = one_note_song(kNoiseDrum, 64);
    const SongEnd end = measured(image);
    EXPECT_EQ(end.last_event_frame, dry_streams(image).back().frame);
    ASSERT_GT(end.end_frame, end.last_event_frame + kSongEndQuietFrames);
    ASSERT_LT(end.end_frame, end.last_event_frame + kSongEndMaxTailFrames);

    Rig rig(image, kSongEndSeed);
    const Frames frames = rig.render(static_cast<uint32_t>(end.end_frame));
    const uint64_t quiet_from = end.end_frame - kSongEndQuietFrames;
    for (uint64_t f = quiet_from; f < end.end_frame; ++f) ASSERT_TRUE(quiet_frame(frames, f)) << "frame " << f;
    EXPECT_FALSE(quiet_frame(frames, quiet_from - 1)) << "a quiet second began earlier";
}

TEST(SongEnd, ASoundThatNeverFadesEndsThirtySecondsAfterTheLastEvent)
{
    const SongEnd end = measured(one_note_song(kPad, 0));
    EXPECT_EQ(end.last_event_frame, 0u);
    EXPECT_EQ(end.end_frame, kSongEndMaxTailFrames);
}

TEST(SongEnd, ASongWithoutEventsEndsAfterOneSecondOfSilence)
{
    const SongEnd end = measured(build_song_image(SongPlan{}));
    EXPECT_EQ(end.last_event_frame, 0u);
    EXPECT_EQ(end.end_frame, kSongEndQuietFrames);
}

TEST(SongEnd, TheMeasurementNeitherDependsOnNorDisturbsTheCallersSeed)
{
    const std::vector<uint8_t> image = one_note_song(kNoiseDrum, 64);
    auto engine = std::make_unique<SynthEngine>();
    seed_source_fix(engine->seeds, 7);
    EXPECT_EQ(seed_source_read(engine->seeds), 7u);
    const SongEnd first = measured(image, *engine);
    EXPECT_EQ(seed_source_read(engine->seeds), 8u);

    seed_source_vary(engine->seeds);
    const SongEnd second = measured(image, *engine);
    EXPECT_FALSE(seed_source_is_fixed(engine->seeds));
    EXPECT_EQ(first.end_frame, second.end_frame);
}

TEST(SongEnd, ProgressCountsUpToTheEnd)
{
    struct Seen {
        uint64_t done = 0, most = 0;
        bool rising = true;
    } seen;
    auto engine = std::make_unique<SynthEngine>();
    SongEnd end{};
    const std::vector<uint8_t> image = one_note_song(kPad, 0);
    ASSERT_TRUE(song_measure_end(
        image.data(), *engine, end,
        [](void* context, uint64_t done, uint64_t most) {
            auto& s = *static_cast<Seen*>(context);
            s.rising = s.rising && done > s.done && done <= most;
            s.done = done;
            s.most = most;
        },
        &seen));
    EXPECT_TRUE(seen.rising);
    EXPECT_EQ(seen.done, end.end_frame);
    EXPECT_EQ(seen.most, kSongEndMaxTailFrames);
}

TEST(SongEnd, AnImageThatDoesNotLoadHasNoEnd)
{
    ImageLayout layout{};
    std::vector<uint8_t> image = build_song_image(SongPlan{}, &layout);
    write_word(image, layout.global_block_size, kMaxGlobalBlockBytes + 1);
    auto engine = std::make_unique<SynthEngine>();
    SongEnd end{};
    SongLastEvent last{};
    EXPECT_FALSE(song_find_last_event(image.data(), last));
    EXPECT_FALSE(song_measure_end(image.data(), *engine, end));
}
