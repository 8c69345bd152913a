#include <gtest/gtest.h>

#include <cstdlib>
#include <tuple>

#include "tests/tools/authoring_test_support.h"
#include "tools/midi_file.h"

using namespace authoring_test;

namespace {

MidiFile read(const std::vector<uint8_t>& bytes, Warnings& warnings)
{
    return midi_read(bytes.data(), bytes.size(), "test.mid", warnings);
}

MidiFile read_clean(const std::vector<uint8_t>& bytes)
{
    Warnings warnings;
    MidiFile file = read(bytes, warnings);
    EXPECT_EQ(joined(warnings), "");
    return file;
}

std::string read_error(const std::vector<uint8_t>& bytes)
{
    Warnings warnings;
    return error_of([&] { read(bytes, warnings); });
}

// A format 0 file with one track of raw body bytes (no end-of-track added).
std::vector<uint8_t> single_track(const std::vector<uint8_t>& body)
{
    return midi_bytes(0, 96, {track_chunk_raw(body)});
}

constexpr size_t kFirstEventByte = 14 + 8;  // header chunk, track chunk header

}  // namespace

TEST(MidiFileRead, RunningStatusBothNoteOffFormsAndStatusCarriedOverMetaAndSysexReadAsWritten)
{
    const MidiFile file = read_clean(single_track({0x00, 0x90, 60,   100,                    // note on
                                                   0x00, 62,   90,                           // running status
                                                   0x60, 0x80, 60,   64,                     // note off as 0x8n
                                                   0x00, 62,   0,                            // running 0x80
                                                   0x10, 0x91, 64,   0,                      // note off as velocity 0
                                                   0x00, 0xFF, 0x01, 0x03, 'a',  'b',  'c',  // text
                                                   0x00, 65,   100,                          // still 0x91
                                                   0x00, 0xF0, 0x03, 0x7E, 0x7F, 0xF7,       // sysex
                                                   0x00, 67,   100,                          // still 0x91
                                                   0x00, 0xFF, 0x2F, 0x00}));
    ASSERT_EQ(file.tracks.size(), 1u);
    const auto& events = file.tracks[0].events;
    ASSERT_EQ(events.size(), 9u);
    std::vector<std::tuple<uint64_t, int, int, int>> notes;  // tick, status, data
    for (const MidiEvent& e : events)
        if (e.status < 0xF0) notes.emplace_back(e.tick, e.status, e.data[0], e.data[1]);
    EXPECT_EQ(notes, (std::vector<std::tuple<uint64_t, int, int, int>>{{0, 0x90, 60, 100},
                                                                       {0, 0x90, 62, 90},
                                                                       {96, 0x80, 60, 64},
                                                                       {96, 0x80, 62, 0},
                                                                       {112, 0x91, 64, 0},
                                                                       {112, 0x91, 65, 100},
                                                                       {112, 0x91, 67, 100}}));
    EXPECT_EQ(events[1].offset, kFirstEventByte + 5);  // the first data byte under running status
    EXPECT_EQ(events[7].payload, (std::vector<uint8_t>{0x7E, 0x7F, 0xF7}));
    EXPECT_TRUE(file.tracks[0].has_end);
    EXPECT_EQ(file.tracks[0].end_tick, 112u);
}

TEST(MidiFileRead, EveryKindOfMetaEventAndBothSysexFormsAreKept)
{
    const MidiFile file =
        read_clean(single_track({0x00, 0xFF, 0x00, 0x02, 0x00, 0x01,              // sequence number
                                 0x00, 0xFF, 0x02, 0x02, 0xA9, 0xE9,              // copyright in an 8-bit encoding
                                 0x00, 0xFF, 0x03, 0x04, 0xE6, 0x97, 0xA5, 0x31,  // track name in UTF-8
                                 0x00, 0xFF, 0x20, 0x01, 0x05,                    // channel prefix
                                 0x00, 0xFF, 0x21, 0x01, 0x02,                    // port prefix
                                 0x00, 0xFF, 0x54, 0x05, 0x60, 0x00, 0x00, 0x00, 0x00,  // SMPTE offset
                                 0x00, 0xFF, 0x59, 0x02, 0xFD, 0x01,                    // key signature
                                 0x00, 0xFF, 0x06, 0x00,                                // empty marker
                                 0x00, 0xFF, 0x7F, 0x03, 0x00, 0x00, 0x41,              // sequencer specific
                                 0x00, 0xFF, 0x60, 0x01, 0x00,                          // a meta type nobody defined
                                 0x00, 0xF0, 0x02, 0x43, 0xF7,                          // sysex
                                 0x00, 0xF7, 0x02, 0x01, 0x02,                          // escape / continued sysex
                                 0x00, 0xFF, 0x2F, 0x00}));
    const auto& events = file.tracks[0].events;
    ASSERT_EQ(events.size(), 12u);
    EXPECT_EQ(events[1].payload, (std::vector<uint8_t>{0xA9, 0xE9}));
    EXPECT_EQ(events[6].meta_type, 0x59);
    EXPECT_TRUE(events[7].payload.empty());
    EXPECT_EQ(events[11].status, 0xF7);

    const MidiFile empty =
        read_clean(midi_bytes(1, 480, {track_chunk({}), track_chunk({}), track_chunk({{0, {0x90, 60, 1}}})}));
    ASSERT_EQ(empty.tracks.size(), 3u);
    EXPECT_TRUE(empty.tracks[0].events.empty());
    EXPECT_TRUE(empty.tracks[1].has_end);
}

TEST(MidiFileRead, RepairsAndOddStructuresAreReadAndReportedWithTheirByteOffsets)
{
    struct Case {
        std::vector<uint8_t> bytes;
        std::string warning;
        size_t first_track_events;
    };
    const std::vector<uint8_t> note = track_chunk({{0, {0x90, 60, 1}}});
    const auto join = [](std::vector<uint8_t> a, std::initializer_list<std::vector<uint8_t>> parts) {
        for (const auto& part : parts) a.insert(a.end(), part.begin(), part.end());
        return a;
    };
    const std::vector<uint8_t> one_track = midi_bytes(0, 96, {track_chunk({})});  // 26 bytes
    // A header two bytes too long that promises 3 tracks, and an unknown chunk before the one track.
    const std::vector<uint8_t> odd_header = join({'M', 'T', 'h', 'd', 0, 0, 0, 8, 0, 1, 0, 3, 0, 96, 0xAB, 0xCD},
                                                 {{'X', 'F', 'I', 'H', 0, 0, 0, 2, 1, 2}, note});
    std::vector<uint8_t> cut = midi_bytes(0, 96, {track_chunk({{0, {0x90, 60, 1}}, {10, {0x80, 60, 1}}})});
    cut[21] += 40;  // the last track's length word promises more than the file holds

    const Case cases[] = {
        {midi_bytes(1, 96, {track_chunk({{5, {0x90, 60, 1}}}, false), track_chunk_raw({})}),
         "track 0 has no end-of-track event; it ends with its last event at tick 5\n", 1},
        {single_track({0x00, 0xFF, 0x2F, 0x00, 0x00, 0x90, 60}),
         "test.mid: byte 26: 3 bytes after the end-of-track event of track 0 are ignored\n", 0},
        {join(one_track, {{0x00, 0x00, 0x0A}}), "test.mid: byte 26: 3 bytes after the last track are ignored\n", 0},
        {join(one_track, {note}), "test.mid: byte 26: a track chunk beyond the 1 tracks the header declares", 0},
        {odd_header,
         "test.mid: byte 14: 2 extra bytes in the header chunk are ignored\n"
         "test.mid: byte 16: unknown chunk \"XFIH\" of 2 bytes skipped\n"
         "test.mid: byte 42: the header declares 3 tracks but the file holds 1\n",
         1},
        {cut, "test.mid: byte 18: track 0 declares 52 bytes but only 12 remain in the file; reading what is there\n",
         2},
        {single_track({0x00, 0xF8, 0x00, 0x90, 60, 1, 0x00, 0xFF, 0x2F, 0x00}),  // a real-time byte has no place here
         "test.mid: byte 23: track 0: system message byte 0xF8 (not allowed in a file) skipped\n", 1},
    };
    for (const Case& c : cases) {
        Warnings warnings;
        const MidiFile file = read(c.bytes, warnings);
        EXPECT_NE(joined(warnings).find(c.warning), std::string::npos) << joined(warnings);
        ASSERT_FALSE(file.tracks.empty());
        EXPECT_EQ(file.tracks[0].events.size(), c.first_track_events) << c.warning;
    }
}

TEST(MidiFileRead, MalformedFilesGetAnErrorNamingTheByteOffset)
{
    EXPECT_EQ(read_error({'R', 'I', 'F', 'X', 0, 0}),
              "test.mid: byte 0: not a standard MIDI file (no \"MThd\" header chunk)");
    EXPECT_EQ(read_error({'M', 'T', 'h', 'd', 0, 0, 0, 4, 0, 0, 0, 1, 0, 0}),
              "test.mid: byte 4: the header chunk is 4 bytes, fewer than the 6 it needs");
    EXPECT_EQ(read_error(midi_bytes(0, 0, {track_chunk({})})),
              "test.mid: byte 12: the time division is 0 ticks per quarter note");
    EXPECT_EQ(read_error(midi_bytes(3, 96, {track_chunk({})})), "test.mid: byte 8: unknown MIDI file format 3");
    EXPECT_EQ(read_error(single_track({0x00, 60, 100})),
              "test.mid: byte 23: track 0: data byte 0x3C where a status byte is needed (no running status)");
    EXPECT_EQ(read_error(single_track({0x00, 0x90, 60, 0x90})),
              "test.mid: byte 25: track 0: status byte 0x90 where a data byte of a note-on is expected");
    EXPECT_EQ(read_error(single_track({0x00, 0xC0})),
              "test.mid: byte 23: track 0: the track ends inside a program change");
    EXPECT_EQ(read_error(single_track({0x81, 0x81, 0x81, 0x81, 0x01, 0x90, 60, 1})),
              "test.mid: byte 22: track 0: a delta time longer than four bytes");
    EXPECT_EQ(read_error(single_track({0x00, 0xFF, 0x01, 0x05, 'a'})),
              "test.mid: byte 23: track 0: a meta event of 5 bytes runs past the track's end");
    EXPECT_EQ(read_error(single_track({0x00, 0xF0, 0x83})),
              "test.mid: byte 24: track 0: the track ends inside a sysex length");
    std::vector<uint8_t> junk = midi_bytes(0, 96, {});
    junk[11] = 1;
    junk.insert(junk.end(), {0x00, 0x01, 0x02, 0x03, 0, 0, 0, 0});
    EXPECT_EQ(read_error(junk),
              "test.mid: byte 14: expected a track chunk (\"MTrk\") but found bytes 0x00 0x01 0x02 0x03");
}

TEST(MidiFileRead, ARiffWrappedFileIsReadFromItsDataChunk)
{
    const std::vector<uint8_t> inner = midi_bytes(0, 96, {track_chunk({{0, {0x90, 60, 1}}})});
    std::vector<uint8_t> riff{
        'R', 'I', 'F', 'F', 0, 0, 0, 0, 'R', 'M', 'I', 'D', 'd', 'a', 't', 'a', static_cast<uint8_t>(inner.size()),
        0,   0,   0};
    riff.insert(riff.end(), inner.begin(), inner.end());
    const MidiFile file = read_clean(riff);
    ASSERT_EQ(file.tracks.size(), 1u);
    EXPECT_EQ(file.tracks[0].events[0].offset, 20u + kFirstEventByte + 1);  // offsets count from the file's start
}

TEST(MidiFileWrite, WhatIsWrittenReadsBackWithRunningStatus)
{
    MidiFile file;
    file.format = 1;
    file.division = 384;
    MidiTrack meter;
    meter.events = {midi_tempo_event(0, 400000), midi_time_signature_event(0, 6, 3, 8),
                    midi_tempo_event(1536, 9000000)};
    meter.end_tick = 5000;
    MidiTrack notes;
    notes.events = {midi_channel_event(0, 0xC9, 5), midi_channel_event(0, 0x99, 36, 120),
                    midi_channel_event(0, 0x99, 42, 80), midi_channel_event(200000000, 0x99, 36, 0),
                    midi_channel_event(200000000, 0xE9, 0, 64)};
    file.tracks = {meter, notes};
    const std::vector<uint8_t> bytes = midi_write(file);
    const MidiFile back = read_clean(bytes);
    ASSERT_EQ(back.tracks.size(), 2u);
    EXPECT_EQ(back.division, 384);
    EXPECT_EQ(back.tracks[0].end_tick, 5000u);
    EXPECT_EQ(back.tracks[0].events[1].payload, (std::vector<uint8_t>{6, 3, 24, 8}));
    ASSERT_EQ(back.tracks[1].events.size(), 5u);
    EXPECT_EQ(back.tracks[1].events[3].tick, 200000000u);
    EXPECT_EQ(back.tracks[1].events[3].data[1], 0);
    EXPECT_EQ(back.tracks[1].end_tick, 200000000u);  // the end never comes before the last event
    // 0x99 is written once for the three notes: running status.
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), 0x99), 1);
}
