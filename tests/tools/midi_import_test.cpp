#include <gtest/gtest.h>

#include <tuple>

#include "tests/tools/authoring_test_support.h"
#include "tools/midi_import.h"

using namespace authoring_test;

namespace {

using Note = std::tuple<uint32_t, int, int>;  // tick, key, velocity (0 = off)
using Notes = std::vector<Note>;

struct Imported {
    SongData song;
    Warnings warnings;
};

Imported import(const std::vector<uint8_t>& bytes, const ImportOptions& options = midi_import_default_options())
{
    Imported out;
    const MidiFile file = midi_read(bytes.data(), bytes.size(), "in.mid", out.warnings);
    out.song = midi_import(file, options, "in.mid", out.warnings);
    return out;
}

std::string import_error(const std::vector<uint8_t>& bytes,
                         const ImportOptions& options = midi_import_default_options())
{
    return error_of([&] { import(bytes, options); });
}

Notes notes_of(const SongData& song, int channel)
{
    Notes out;
    for (const NoteEvent& e : song.channels[channel].notes) out.emplace_back(e.tick, e.note, e.velocity);
    return out;
}

std::vector<int> values(const std::vector<ValueEvent>& events)
{
    std::vector<int> out;
    for (const ValueEvent& e : events) out.push_back(e.value);
    return out;
}

// A format 0 file of one track.
std::vector<uint8_t> one_track(const std::vector<TimedBytes>& events, uint16_t division = 96)
{
    return midi_bytes(0, division, {track_chunk(events)});
}

ImportOptions as_written()
{
    ImportOptions options = midi_import_default_options();
    options.as_written = true;
    return options;
}

}  // namespace

TEST(MidiImportNotes, NotesAreOrderedAndEndedSoThatNoVoiceHangs)
{
    struct Case {
        const char* what;
        std::vector<TimedBytes> events;
        Notes notes;
        std::string warnings;
    };
    const Case cases[] = {
        {"the new note-on of a sounding key is written before the old note's off",
         {{0, {0x90, 60, 100}}, {96, {0x90, 60, 90}}, {96, {0x80, 60, 0}}, {192, {0x80, 60, 0}}},
         {{0, 60, 100}, {96, 60, 0}, {96, 60, 90}, {192, 60, 0}},
         ""},
        {"zero-length notes keep their on before their off",
         {{10, {0x90, 60, 100}},
          {10, {0x80, 60, 0}},
          {10, {0x90, 60, 80}},
          {10, {0x90, 60, 0}},
          {10, {0x90, 64, 70}},
          {20, {0x80, 64, 0}}},
         {{10, 60, 100}, {10, 60, 0}, {10, 60, 80}, {10, 60, 0}, {10, 64, 70}, {20, 64, 0}},
         ""},
        {"at a chord change the offs come first, then the ons in file order",
         {{0, {0x90, 60, 100}},
          {0, {64, 100}},
          {96, {0x90, 62, 90}},
          {96, {65, 90}},
          {96, {0x80, 60, 0}},
          {96, {64, 0}},
          {192, {0x80, 62, 0}},
          {192, {65, 0}}},
         {{0, 60, 100}, {0, 64, 100}, {96, 60, 0}, {96, 64, 0}, {96, 62, 90}, {96, 65, 90}, {192, 62, 0}, {192, 65, 0}},
         ""},
        {"overlapping notes of one key: the sounding one ends where the next starts",
         {{0, {0x90, 60, 100}}, {10, {0x90, 60, 90}}, {20, {0x80, 60, 0}}, {30, {0x80, 60, 0}}},
         {{0, 60, 100}, {10, 60, 0}, {10, 60, 90}, {30, 60, 0}},
         "in.mid: byte 27: track 0, tick 10: song channel 0: 1 note of a key that was still sounding (the first: key 60 "
         "here); the sounding note ends where the new one starts\n"},
        {"stray offs are dropped and unreleased notes end at the end of the file",
         {{0, {0x80, 50, 0}},
          {0, {0x90, 60, 100}},
          {48, {0x90, 62, 100}},
          {96, {0x80, 62, 0}},
          {300, {0xFF, 0x01, 0x01, 'x'}}},
         {{0, 60, 100}, {48, 62, 100}, {96, 62, 0}, {300, 60, 0}},
         "in.mid: byte 27: track 0, tick 0: song channel 0: 1 note never released (the first: key 60 here); released "
         "at tick 300, the end of the file\n"
         "in.mid: byte 23: track 0, tick 0: song channel 0: 1 note-off without a sounding note (the first: key 50 "
         "here) ignored\n"},
        {"all notes off and all sound off release the channel",
         {{0, {0x90, 60, 100}},
          {0, {64, 100}},
          {10, {0xB0, 123, 0}},
          {20, {0x90, 67, 100}},
          {30, {0xB0, 120, 0}},
          {40, {0x80, 67, 0}}},
         {{0, 60, 100}, {0, 64, 100}, {10, 60, 0}, {10, 64, 0}, {20, 67, 100}, {30, 67, 0}},
         "in.mid: byte 42: track 0, tick 40: song channel 0: 1 note-off without a sounding note (the first: key 67 "
         "here) ignored\n"},
    };
    for (const Case& c : cases) {
        const Imported in = import(one_track(c.events));
        EXPECT_EQ(notes_of(in.song, 0), c.notes) << c.what;
        EXPECT_EQ(joined(in.warnings), c.warnings) << c.what;
    }

    // As written, every note event is taken as it stands.
    const Imported literal = import(
        one_track(
            {{0, {0x80, 50, 0}}, {0, {0x90, 60, 100}}, {10, {0x90, 60, 90}}, {10, {0x80, 60, 0}}, {20, {0x90, 61, 1}}}),
        as_written());
    EXPECT_EQ(notes_of(literal.song, 0), (Notes{{0, 50, 0}, {0, 60, 100}, {10, 60, 90}, {10, 60, 0}, {20, 61, 1}}));
    EXPECT_EQ(joined(literal.warnings), "");
}

TEST(MidiImportNotes, TheSustainPedalHoldsReleasedNotesUntilItIsLifted)
{
    const std::vector<uint8_t> file = one_track({{0, {0x90, 60, 100}},
                                                 {5, {0xB0, 64, 127}},
                                                 {10, {0x80, 60, 0}},
                                                 {20, {0xB0, 64, 0}},
                                                 {30, {0x90, 62, 100}},
                                                 {31, {0xB0, 64, 100}},
                                                 {32, {0x80, 62, 0}},
                                                 {40, {0x90, 62, 90}},
                                                 {50, {0xB0, 64, 0}},
                                                 {60, {0x80, 62, 0}}});
    // Key 62 is struck again while the pedal holds it: the held note ends there.
    EXPECT_EQ(notes_of(import(file).song, 0),
              (Notes{{0, 60, 100}, {20, 60, 0}, {30, 62, 100}, {40, 62, 0}, {40, 62, 90}, {60, 62, 0}}));
    ImportOptions options = midi_import_default_options();
    options.channels[0].sustain = false;
    EXPECT_EQ(notes_of(import(file, options).song, 0),
              (Notes{{0, 60, 100}, {10, 60, 0}, {30, 62, 100}, {32, 62, 0}, {40, 62, 90}, {60, 62, 0}}));
}

TEST(MidiImportChannels, MidiChannelsFeedSongChannelsWithTheirOptions)
{
    const std::vector<uint8_t> file =
        midi_bytes(1, 96,
                   {track_chunk({{0, {0xC0, 5}},
                                 {0, {0xB0, 1, 30}},
                                 {0, {0xB0, 11, 99}},
                                 {0, {0xB0, 7, 100}},
                                 {0, {0xE0, 0, 64}},
                                 {0, {0x90, 60, 100}},
                                 {10, {0x80, 60, 0}}}),
                    track_chunk({{0, {0x99, 36, 120}}, {5, {0x89, 36, 0}}, {7, {0x92, 40, 1}}, {8, {0x82, 40, 0}}})});
    ImportOptions options = midi_import_default_options();
    options.channels[3].midi_channel = 0;  // song channel 3 plays MIDI channel 1 too
    options.channels[3].transpose = -12;
    options.channels[3].controller_source[6] = 11;  // expression feeds controller 7
    options.channels[3].program = 9;
    options.channels[2].midi_channel = -1;
    Imported in = import(file, options);
    EXPECT_EQ(notes_of(in.song, 0), (Notes{{0, 60, 100}, {10, 60, 0}}));
    EXPECT_EQ(notes_of(in.song, 3), (Notes{{0, 48, 100}, {10, 48, 0}}));
    EXPECT_EQ(notes_of(in.song, 9), (Notes{{0, 36, 120}, {5, 36, 0}}));
    const auto& channels = in.song.channels;
    EXPECT_TRUE(channels[2].notes.empty());
    EXPECT_EQ(values(channels[0].controllers[6]), (std::vector<int>{100}));
    EXPECT_EQ(values(channels[3].controllers[6]), (std::vector<int>{99}));
    EXPECT_EQ(values(channels[0].controllers[0]), (std::vector<int>{30}));
    EXPECT_EQ(values(channels[3].programs), (std::vector<int>{9, 5}));
    ASSERT_EQ(channels[0].bends.size(), 1u);
    EXPECT_EQ(channels[0].bends[0].second, 64);
    EXPECT_EQ(joined(in.warnings), "in.mid: MIDI channel 3 holds 1 note but feeds no song channel; it is left out\n");

    // A transposition past the key range is an error at the note.
    options.channels[3].transpose = 70;
    EXPECT_EQ(
        import_error(file, options),
        "in.mid: byte 42: track 0, tick 0: key 60 transposed by 70 for song channel 3 becomes 130, outside 0..127");

    // A channel without notes is left out, with a warning.
    const Imported bare =
        import(one_track({{0, {0xC1, 3}}, {0, {0xB1, 7, 90}}, {0, {0x90, 60, 1}}, {1, {0x80, 60, 1}}}));
    EXPECT_TRUE(bare.song.channels[1].programs.empty() && bare.song.channels[1].controllers[6].empty());
    EXPECT_EQ(joined(bare.warnings),
              "in.mid: song channel 1 (MIDI channel 2) has program, controller or pitch-bend "
              "events but no notes; a channel without notes is left out of the song\n");
}

TEST(MidiImportTiming, TheFilesDivisionIsQAndTempoEventsOfOneTickMakeOneGlobalEvent)
{
    const std::vector<uint8_t> file =
        midi_bytes(1, 960,
                   {track_chunk({{0, time_signature_bytes(6, 3)},
                                 {0, tempo_bytes(600000)},
                                 {3840, tempo_bytes(600000)},
                                 {7680, tempo_bytes(300000)},
                                 {7680, time_signature_bytes(3, 2)}}),
                    track_chunk({{0, tempo_bytes(600000)}, {0, {0x90, 60, 1}}, {20000, {0x80, 60, 1}}})});
    const Imported in = import(file);
    EXPECT_EQ(in.song.ticks_per_quarter, 960u);
    ASSERT_EQ(in.song.globals.size(), 2u);  // the repeated 600000 changes nothing
    const GlobalEvent& first = in.song.globals[0];
    const GlobalEvent& second = in.song.globals[1];
    EXPECT_EQ(std::tuple(first.tick, first.tempo, first.numerator, first.denominator), std::tuple(0u, 600000u, 6, 8));
    EXPECT_EQ(std::tuple(second.tick, second.tempo, second.numerator, second.subdivision),
              std::tuple(7680u, 300000u, 3, 8));
    EXPECT_EQ(in.song.end_tick, 20000u);

    // As written, each tempo event makes a global event and a time signature
    // right after a tempo event joins it.
    const Imported literal = import(file, as_written());
    ASSERT_EQ(literal.song.globals.size(), 5u);
    EXPECT_EQ(literal.song.globals[0].tempo, kDefaultTempoWord);  // the time signature came first
    EXPECT_EQ(literal.song.globals[0].numerator, 6);
    EXPECT_EQ(literal.song.globals[2].tick, 0u);  // the second track's tempo event
    EXPECT_EQ(literal.song.globals[3].tick, 3840u);
    EXPECT_EQ(literal.song.globals[4].numerator, 3);
    EXPECT_EQ(literal.song.globals[4].tempo, 300000u);
}

TEST(MidiImportTiming, SmpteTimeBecomesAnExactTempoMap)
{
    const Imported in = import(one_track({{0, tempo_bytes(400000)}, {0, {0x90, 60, 1}}, {40, {0x80, 60, 1}}}, 0xE728));
    EXPECT_EQ(in.song.ticks_per_quarter, 1000u);  // 25 frames x 40 ticks: a tick is a millisecond
    ASSERT_EQ(in.song.globals.size(), 1u);
    EXPECT_EQ(in.song.globals[0].tempo, 1000000u);
    EXPECT_EQ(in.warnings.lines.size(), 2u);  // the conversion and the ignored tempo event
    const Imported drop = import(one_track({{0, {0x90, 60, 1}}}, 0xE350));  // 29.97 frames, 80 ticks each
    EXPECT_EQ(drop.song.ticks_per_quarter, 2400u);
    EXPECT_EQ(drop.song.globals[0].tempo, 1001000u);
}

TEST(MidiImportErrors, TooLongGapsTempoFaultsAndFormatTwoNameTheirPlace)
{
    EXPECT_EQ(import_error(
                  midi_bytes(1, 96, {track_chunk({}), track_chunk({{0, {0x90, 60, 1}}, {0x1000000, {0x80, 60, 0}}})})),
              "in.mid: byte 42: track 1, tick 16777216: this event comes 16777216 ticks after the previous event of "
              "song channel 0's notes (at tick 0); the song format allows at most 16777215 ticks (24 bits) between "
              "two events of a track");
    EXPECT_EQ(import_error(one_track({{0, tempo_bytes(9739155)}})),
              "in.mid: byte 23: track 0, tick 0: a tempo of 9739155 microseconds per quarter note; the song format "
              "allows at most 9739154 (about 6.2 quarter notes a minute)");
    EXPECT_EQ(import_error(one_track({{7, tempo_bytes(0)}})),
              "in.mid: byte 23: track 0, tick 7: a tempo of 0 microseconds per quarter note");
    EXPECT_EQ(import_error(midi_bytes(2, 96, {track_chunk({})})),
              "in.mid: byte 8: format 2 (a set of independent sequences) cannot be played as one song; save the file "
              "as format 0 or 1");
    // A gap that fits 24 bits but lasts longer than the 32-bit frame countdown at the slowest tempo.
    EXPECT_NE(import_error(
                  midi_bytes(0, 1,
                             {track_chunk({{0, tempo_bytes(9000000)}, {0, {0x90, 60, 1}}, {0xFFFFFF, {0x80, 60, 0}}})}))
                  .find("more than 2^32 frames at the song's slowest tempo"),
              std::string::npos);
}
