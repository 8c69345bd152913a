#include <gtest/gtest.h>

#include "sequencer/scheduler.h"
#include "tests/sequencer/sequencer_test_support.h"

using namespace image_builder;
using Bytes = std::vector<uint8_t>;

namespace {

using Played = std::vector<std::pair<uint32_t, Bytes>>;  // tick, stream

// Every stream of a song, to its end.
Played play(const SongPlan& song)
{
    SchedulerRun run(build_song_image(song));
    Played out;
    for (const RecordedStream& stream : run.run()) out.emplace_back(stream.tick, stream.bytes);
    EXPECT_EQ(run.seq->running, 0u);
    return out;
}

}  // namespace

TEST(Scheduler, NotesOfOneTickShareAStatusByteEveryBufferStartsWithOneAndAnEmptySongHandsOverOnlyTheEnd)
{
    SongPlan song;
    song.channels[0].notes = {{0, 60, 100}, {0, 64, 80}};
    song.channels[2].notes = {{0, 60, 100}, {36, 60, 0}};
    EXPECT_EQ(play(song), (Played{{0, {0x90, 60, 100, 64, 80, 0x92, 60, 100, 0xFD}}, {36, {0x92, 60, 0, 0xFD}}}));
    EXPECT_EQ(play(SongPlan{}), (Played{{0xFFFFFFFFu, {0xFD}}}));  // at the "no event" tick
}

TEST(Scheduler, WithinATickGlobalComesFirstThenChannelsInOrderProgramControllersBendNotes)
{
    SongPlan song;
    for (int c : {3, 1}) {
        ChannelPlan& channel = song.channels[c];
        channel.notes.push_back({0, 60, 99});
        channel.programs.push_back({0, static_cast<uint8_t>(c)});
        channel.controllers[6].push_back({0, 127});
        channel.controllers[5].push_back({0, 12});
        channel.pitch_bends.push_back({0, 0x00, 0x40});
    }
    song.tempos.push_back({0, 250000});
    SchedulerRun run(build_song_image(song));
    run.run();
    EXPECT_EQ(run.seq->tempo, 250000u * 441u);
    EXPECT_EQ(play(song), (Played{{0, {0xC1, 1, 0xB1, 6, 12, 7, 127, 0xE1, 0x00, 0x40, 0x91, 60, 99,  //
                                       0xC3, 3, 0xB3, 6, 12, 7, 127, 0xE3, 0x00, 0x40, 0x93, 60, 99, 0xFD}}}));
}

TEST(Scheduler, EventsOfANonNoteTrackAtOneTickComeOneCallEach)
{
    SongPlan song;
    song.channels[0].notes = {{5, 60, 100}};
    song.channels[0].programs = {{0, 1}, {0, 2}};
    song.channels[0].controllers[0] = {{0, 10}, {0, 20}, {0, 30}};
    EXPECT_EQ(play(song), (Played{{0, {0xC0, 1, 0xB0, 1, 10, 0xFD}},
                                  {0, {0xC0, 2, 0xB0, 1, 20, 0xFD}},
                                  {0, {0xB0, 1, 30, 0xFD}},
                                  {5, {0x90, 60, 100, 0xFD}}}));
}

TEST(Scheduler, ASecondTempoEventAtTheSameTickTakesEffectInASecondCall)
{
    SongPlan song;
    song.channels[0].notes = {{10, 60, 100}};
    song.tempos = {{0, 500000}, {0, 250000}, {10, 300000}};
    SchedulerRun run(build_song_image(song));
    seq_emit_events(*run.seq);
    EXPECT_EQ(run.seq->tempo, 500000u * 441u);
    EXPECT_EQ(run.seq->next_event_tick, 0u);
    seq_emit_events(*run.seq);
    EXPECT_EQ(run.seq->tempo, 250000u * 441u);
    EXPECT_EQ(run.seq->next_event_tick, 10u);
    seq_emit_events(*run.seq);
    EXPECT_EQ(run.seq->tempo, 300000u * 441u);
    EXPECT_EQ(run.recorder.streams.back().bytes, (Bytes{0x90, 60, 100, 0xFD}));
    EXPECT_EQ(run.seq->running, 0u);
}

TEST(Scheduler, TheCallThatEmitsTheLastEventsHandsThemOverAndEndsTheSong)
{
    SongPlan song;
    song.channels[4].notes = {{0, 60, 100}, {200, 60, 0}};
    song.channels[4].controllers[6] = {{0, 100}, {300, 50}};
    SchedulerRun run(build_song_image(song));
    seq_emit_events(*run.seq);
    seq_emit_events(*run.seq);
    EXPECT_EQ(run.seq->running, 1u);
    seq_emit_events(*run.seq);
    EXPECT_EQ(run.seq->running, 0u);
    ASSERT_EQ(run.recorder.streams.size(), 3u);
    EXPECT_EQ(run.recorder.streams[2].tick, 300u);
    EXPECT_EQ(run.recorder.streams[2].bytes, (Bytes{0xB4, 7, 50, 0xFD}));
    seq_emit_events(*run.seq);  // nothing more once the song has ended
    EXPECT_EQ(run.recorder.streams.size(), 3u);
}

TEST(Scheduler, DataBytesAreMaskedToSevenBitsWhileRunningValuesKeepEight)
{
    SongPlan song;
    // Absolute values 200 and then 10: the second delta (66) wraps the running value.
    song.channels[0].notes = {{0, 200, 255}, {1, 10, 0}};
    song.channels[0].programs = {{0, 130}};
    song.channels[0].pitch_bends = {{0, 0x80, 0xFF}};
    EXPECT_EQ(play(song),
              (Played{{0, {0xC0, 2, 0xE0, 0x00, 0x7F, 0x90, 200 & 0x7F, 0x7F, 0xFD}}, {1, {0x90, 10, 0, 0xFD}}}));
    SchedulerRun run(build_song_image(song));
    run.run();
    EXPECT_EQ(run.seq->channels[0].notes.running[0], 10);
    EXPECT_EQ(run.seq->channels[0].program.running[0], 130);
}

TEST(Scheduler, ATickThatOverflowsTheBufferGoesOnInAFreshOne)
{
    SongPlan song;
    for (int i = 0; i < 2100; ++i)
        song.channels[0].notes.push_back({0, static_cast<uint8_t>(i % 128), static_cast<uint8_t>(1 + i % 100)});
    song.channels[1].notes = {{0, 50, 60}};
    SchedulerRun run(build_song_image(song));
    const auto& streams = run.run();
    ASSERT_EQ(streams.size(), 2u);
    const Bytes& first = streams[0].bytes;
    const Bytes& second = streams[1].bytes;
    // 0x90 and 2047 notes fill exactly 4096 bytes with the end byte.
    ASSERT_EQ(first.size(), kStreamBufferBytes);
    EXPECT_EQ(first.front(), 0x90);
    EXPECT_EQ(first.back(), 0xFD);
    EXPECT_EQ(second.front(), 0x90);  // the fresh buffer repeats the status
    EXPECT_EQ(second.size(), 1 + 2 * 53 + 3 + 1u);
    EXPECT_EQ((Bytes(second.end() - 4, second.end())), (Bytes{0x91, 50, 60, 0xFD}));
    EXPECT_EQ(streams[1].tick, 0u);
    // Every note arrives once, in order.
    Bytes notes;
    for (const auto& stream : streams)
        for (size_t i = 1; i + 1 < stream.bytes.size(); i += 2) {
            if (stream.bytes[i] == 0x91) break;
            notes.push_back(stream.bytes[i]);
        }
    ASSERT_EQ(notes.size(), 2100u);
    for (int i = 0; i < 2100; ++i) ASSERT_EQ(notes[i], i % 128);
}
