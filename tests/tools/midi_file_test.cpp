#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

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
    EXPECT_TRUE(warnings.lines.empty()) << warnings.lines.front();
    return file;
}

// The error message for bytes that must not read.
std::string error_of(const std::vector<uint8_t>& bytes)
{
    Warnings warnings;
    try {
        read(bytes, warnings);
    } catch (const AuthorError& e) {
        return e.what();
    }
    return "no error";
}

std::string all(const Warnings& warnings)
{
    std::string out;
    for (const auto& line : warnings.lines) out += line + "\n";
    return out;
}

// A format 0 file with one track of raw body bytes (no end-of-track added).
std::vector<uint8_t> single_track(const std::vector<uint8_t>& body)
{
    return midi_bytes(0, 96, {track_chunk_raw(body)});
}

constexpr size_t kFirstEventByte = 14 + 8;  // header chunk, track chunk header

}  // namespace

TEST(MidiFileRead, RunningStatusAndBothNoteOffFormsReadAsWritten)
{
    const MidiFile file = read_clean(single_track({0x00, 0x90, 60, 100,  // note on
                                                   0x00, 62, 90,         // running status
                                                   0x60, 0x80, 60, 64,   // note off as 0x8n
                                                   0x00, 62, 0,          // running 0x80
                                                   0x10, 0x90, 64, 0,    // note off as velocity 0
                                                   0x00, 0xFF, 0x2F, 0x00}));
    ASSERT_EQ(file.tracks.size(), 1u);
    const auto& events = file.tracks[0].events;
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[1].status, 0x90);
    EXPECT_EQ(events[1].data[0], 62);
    EXPECT_EQ(events[1].offset, kFirstEventByte + 5);  // the first data byte under running status
    EXPECT_EQ(events[2].tick, 96u);
    EXPECT_EQ(events[3].status, 0x80);
    EXPECT_EQ(events[4].tick, 112u);
    EXPECT_EQ(events[4].data[1], 0);
    EXPECT_TRUE(file.tracks[0].has_end);
    EXPECT_EQ(file.tracks[0].end_tick, 112u);
}

TEST(MidiFileRead, RunningStatusCarriesOnAfterMetaAndSysexEvents)
{
    const MidiFile file = read_clean(single_track({0x00, 0x91, 60, 100,
                                                   0x00, 0xFF, 0x01, 0x03, 'a', 'b', 'c',  // text
                                                   0x00, 62, 100,                          // still 0x91
                                                   0x00, 0xF0, 0x03, 0x7E, 0x7F, 0xF7,     // sysex
                                                   0x00, 64, 100,                          // still 0x91
                                                   0x00, 0xFF, 0x2F, 0x00}));
    const auto& events = file.tracks[0].events;
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[2].status, 0x91);
    EXPECT_EQ(events[2].data[0], 62);
    EXPECT_EQ(events[3].status, 0xF0);
    EXPECT_EQ(events[3].payload, (std::vector<uint8_t>{0x7E, 0x7F, 0xF7}));
    EXPECT_EQ(events[4].status, 0x91);
    EXPECT_EQ(events[4].data[0], 64);
}

TEST(MidiFileRead, EveryKindOfMetaEventAndBothSysexFormsAreKept)
{
    const MidiFile file = read_clean(single_track({
        0x00, 0xFF, 0x00, 0x02, 0x00, 0x01,                    // sequence number
        0x00, 0xFF, 0x02, 0x02, 0xA9, 0xE9,                    // copyright in an 8-bit encoding
        0x00, 0xFF, 0x03, 0x04, 0xE6, 0x97, 0xA5, 0x31,        // track name in UTF-8
        0x00, 0xFF, 0x20, 0x01, 0x05,                          // channel prefix
        0x00, 0xFF, 0x21, 0x01, 0x02,                          // port prefix
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
}

TEST(MidiFileRead, EmptyTracksAndAnEmptyFormatOneFileRead)
{
    const MidiFile file =
        read_clean(midi_bytes(1, 480, {track_chunk({}), track_chunk({}), track_chunk({{0, {0x90, 60, 1}}})}));
    ASSERT_EQ(file.tracks.size(), 3u);
    EXPECT_TRUE(file.tracks[0].events.empty());
    EXPECT_TRUE(file.tracks[1].has_end);
    EXPECT_EQ(file.tracks[2].events.size(), 1u);
}

TEST(MidiFileRead, RepairsAreReportedWithTheirByteOffsets)
{
    // A track without an end-of-track event and an empty track chunk.
    Warnings warnings;
    MidiFile file = read(midi_bytes(1, 96, {track_chunk({{5, {0x90, 60, 1}}}, false), track_chunk_raw({})}), warnings);
    ASSERT_EQ(warnings.lines.size(), 2u);
    EXPECT_NE(warnings.lines[0].find("track 0 has no end-of-track event; it ends with its last event at tick 5"),
              std::string::npos);
    EXPECT_EQ(file.tracks[0].end_tick, 5u);

    // Bytes after the end-of-track event, inside the chunk.
    warnings = Warnings{};
    read(single_track({0x00, 0xFF, 0x2F, 0x00, 0x00, 0x90, 60}), warnings);
    EXPECT_EQ(all(warnings), "test.mid: byte 26: 3 bytes after the end-of-track event of track 0 are ignored\n");

    // Trailing bytes after the last track, and an extra track chunk.
    std::vector<uint8_t> bytes = midi_bytes(0, 96, {track_chunk({})});
    const size_t end = bytes.size();
    bytes.insert(bytes.end(), {0x00, 0x00, 0x0A});
    warnings = Warnings{};
    read(bytes, warnings);
    EXPECT_EQ(all(warnings), "test.mid: byte " + std::to_string(end) + ": 3 bytes after the last track are ignored\n");
    bytes.resize(end);
    const std::vector<uint8_t> extra = track_chunk({{0, {0x90, 60, 1}}});
    bytes.insert(bytes.end(), extra.begin(), extra.end());
    warnings = Warnings{};
    read(bytes, warnings);
    EXPECT_NE(all(warnings).find("byte " + std::to_string(end) + ": a track chunk beyond the 1 tracks the header declares"),
              std::string::npos);
}

TEST(MidiFileRead, OddStructuresAreReadAndReported)
{
    // An unknown chunk between tracks, a header longer than six bytes and a
    // header that promises more tracks than the file holds.
    std::vector<uint8_t> bytes{'M', 'T', 'h', 'd', 0, 0, 0, 8, 0, 1, 0, 3, 0, 96, 0xAB, 0xCD};
    const std::vector<uint8_t> alien{'X', 'F', 'I', 'H', 0, 0, 0, 2, 1, 2};
    const std::vector<uint8_t> track = track_chunk({{0, {0x90, 60, 1}}});
    bytes.insert(bytes.end(), alien.begin(), alien.end());
    bytes.insert(bytes.end(), track.begin(), track.end());
    Warnings warnings;
    const MidiFile file = read(bytes, warnings);
    EXPECT_EQ(file.tracks.size(), 1u);
    EXPECT_EQ(all(warnings),
              "test.mid: byte 14: 2 extra bytes in the header chunk are ignored\n"
              "test.mid: byte 16: unknown chunk \"XFIH\" of 2 bytes skipped\n"
              "test.mid: byte " + std::to_string(bytes.size()) + ": the header declares 3 tracks but the file holds 1\n");

    // The last track's length word promises more than the file holds.
    bytes = midi_bytes(0, 96, {track_chunk({{0, {0x90, 60, 1}}, {10, {0x80, 60, 1}}})});
    bytes[21] += 40;
    warnings = Warnings{};
    const MidiFile cut = read(bytes, warnings);
    EXPECT_EQ(cut.tracks[0].events.size(), 2u);
    EXPECT_NE(all(warnings).find("byte 18: track 0 declares 52 bytes but only 12 remain in the file; reading what is there"),
              std::string::npos);

    // A real-time byte has no place in a file: skipped, said so.
    warnings = Warnings{};
    const MidiFile clock = read(single_track({0x00, 0xF8, 0x00, 0x90, 60, 1, 0x00, 0xFF, 0x2F, 0x00}), warnings);
    EXPECT_EQ(clock.tracks[0].events.size(), 1u);
    EXPECT_EQ(all(warnings), "test.mid: byte 23: track 0: system message byte 0xF8 (not allowed in a file) skipped\n");
}

TEST(MidiFileRead, MalformedFilesGetAnErrorNamingTheByteOffset)
{
    EXPECT_EQ(error_of({'R', 'I', 'F', 'X', 0, 0}), "test.mid: byte 0: not a standard MIDI file (no \"MThd\" header chunk)");
    EXPECT_EQ(error_of({'M', 'T', 'h', 'd', 0, 0, 0, 4, 0, 0, 0, 1, 0, 0}),
              "test.mid: byte 4: the header chunk is 4 bytes, fewer than the 6 it needs");
    EXPECT_EQ(error_of(midi_bytes(0, 0, {track_chunk({})})),
              "test.mid: byte 12: the time division is 0 ticks per quarter note");
    EXPECT_EQ(error_of(midi_bytes(3, 96, {track_chunk({})})), "test.mid: byte 8: unknown MIDI file format 3");
    EXPECT_EQ(error_of(single_track({0x00, 60, 100})),
              "test.mid: byte 23: track 0: data byte 0x3C where a status byte is needed (no running status)");
    EXPECT_EQ(error_of(single_track({0x00, 0x90, 60, 0x90})),
              "test.mid: byte 25: track 0: status byte 0x90 where a data byte of a note-on is expected");
    EXPECT_EQ(error_of(single_track({0x00, 0xC0})), "test.mid: byte 23: track 0: the track ends inside a program change");
    EXPECT_EQ(error_of(single_track({0x81, 0x81, 0x81, 0x81, 0x01, 0x90, 60, 1})),
              "test.mid: byte 22: track 0: a delta time longer than four bytes");
    EXPECT_EQ(error_of(single_track({0x00, 0xFF, 0x01, 0x05, 'a'})),
              "test.mid: byte 23: track 0: a meta event of 5 bytes runs past the track's end");
    EXPECT_EQ(error_of(single_track({0x00, 0xF0, 0x83})), "test.mid: byte 24: track 0: the track ends inside a sysex length");
    std::vector<uint8_t> junk = midi_bytes(0, 96, {});
    junk[11] = 1;
    junk.insert(junk.end(), {0x00, 0x01, 0x02, 0x03, 0, 0, 0, 0});
    EXPECT_EQ(error_of(junk), "test.mid: byte 14: expected a track chunk (\"MTrk\") but found bytes 0x00 0x01 0x02 0x03");
}

TEST(MidiFileRead, ARiffWrappedFileIsReadFromItsDataChunk)
{
    const std::vector<uint8_t> inner = midi_bytes(0, 96, {track_chunk({{0, {0x90, 60, 1}}})});
    std::vector<uint8_t> riff{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'R', 'M', 'I', 'D', 'd', 'a', 't', 'a'};
    const auto size = static_cast<uint32_t>(inner.size());
    for (int i = 0; i < 4; ++i) riff.push_back(static_cast<uint8_t>(size >> (8 * i)));
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
    meter.events = {midi_tempo_event(0, 400000), midi_time_signature_event(0, 6, 3, 8), midi_tempo_event(1536, 9000000)};
    meter.end_tick = 5000;
    MidiTrack notes;
    notes.events = {midi_channel_event(0, 0xC9, 5),       midi_channel_event(0, 0x99, 36, 120),
                    midi_channel_event(0, 0x99, 42, 80),  midi_channel_event(200000000, 0x99, 36, 0),
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

TEST(MidiFileSeeds, SeedFilesForTheFuzzerAreWritten)
{
    const char* binary = std::getenv("CANTILENA_BINARY_DIR");
    if (!binary) GTEST_SKIP() << "CANTILENA_BINARY_DIR is not set";
    const std::filesystem::path directory = std::filesystem::path(binary) / "fuzz-corpus" / "midi_fuzz";
    std::filesystem::create_directories(directory);
    std::vector<std::vector<uint8_t>> seeds = {
        midi_bytes(0, 96, {track_chunk({{0, {0x90, 60, 100}}, {10, {62, 90}}, {20, {0x80, 60, 0}}, {30, {62, 0}}})}),
        midi_bytes(1, 480, {track_chunk({{0, tempo_bytes(500000)}, {0, time_signature_bytes(3, 2)}, {960, tempo_bytes(250000)}}),
                            track_chunk({{0, {0xC0, 3}}, {0, {0xB0, 7, 100}}, {0, {0x90, 60, 100}},
                                         {0, {0xFF, 0x01, 0x02, 'h', 'i'}}, {10, {64, 100}}, {20, {0xE0, 0, 64}},
                                         {40, {0x90, 60, 0}}, {40, {0xF0, 0x02, 0x7E, 0xF7}}, {40, {64, 0}}})}),
        midi_bytes(0, 0xE728, {track_chunk({{0, {0x99, 36, 100}}, {0, {0x99, 36, 0}}})}),
        midi_bytes(1, 96, {track_chunk({}), track_chunk({{0, {0x90, 60, 1}}}, false)}),
    };
    if (const char* source = std::getenv("CANTILENA_SOURCE_DIR"))
        seeds.push_back(file_read_all(std::string(source) + "/examples/first-song/song.mid"));
    for (size_t i = 0; i < seeds.size(); ++i) {
        std::ofstream out(directory / ("seed" + std::to_string(i) + ".mid"), std::ios::binary);
        out.write(reinterpret_cast<const char*>(seeds[i].data()), static_cast<std::streamsize>(seeds[i].size()));
        ASSERT_TRUE(out.good());
    }
}
