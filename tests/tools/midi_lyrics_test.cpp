#include <gtest/gtest.h>

#include <tuple>

#include "tests/tools/authoring_test_support.h"
#include "tools/midi_lyrics.h"

using namespace authoring_test;

namespace {

using Lyric = std::tuple<uint64_t, int, std::string>;  // tick, track, text

std::vector<uint8_t> lyric(const std::string& text)
{
    return meta_text_bytes(0x05, text);
}
std::vector<uint8_t> text_event(const std::string& text)
{
    return meta_text_bytes(0x01, text);
}

MidiFile read(const std::vector<std::vector<uint8_t>>& tracks)
{
    const std::vector<uint8_t> bytes = midi_bytes(1, 96, tracks);
    Warnings warnings;
    return midi_read(bytes.data(), bytes.size(), "in.mid", warnings);
}

std::vector<Lyric> lyrics_of(const MidiFile& file)
{
    std::vector<Lyric> out;
    for (const MidiLyric& l : midi_lyrics(file)) out.emplace_back(l.tick, l.track, l.text);
    return out;
}

}  // namespace

TEST(MidiLyrics, LyricEventsOfEveryTrackComeInTickOrderWithTheirTrack)
{
    const MidiFile file = read({
        track_chunk({{0, text_event("made with a sequencer")}, {0, {0x9F, 60, 100}}, {96, lyric("per ")}}),
        track_chunk({{0, lyric("Pa-")}, {96, {0x9F, 62, 100}}, {192, lyric("")}, {192, lyric("lan-")}}),
    });
    EXPECT_TRUE(midi_has_lyrics(file));
    EXPECT_EQ(lyrics_of(file), (std::vector<Lyric>{{0, 1, "Pa-"}, {96, 0, "per "}, {192, 1, "lan-"}}));
    const MidiLyric first = midi_lyrics(file).front();
    EXPECT_GT(first.offset, file.tracks[1].offset) << "the offset points into the second track";
}

TEST(MidiLyrics, KaraokeFilesCarryTheirLyricsAsTextEventsAfterTheirHeaders)
{
    const MidiFile karaoke = read({track_chunk({{0, text_event("@KMIDI KARAOKE FILE")},
                                                {0, text_event("@TLanterns")},
                                                {48, text_event("\\Pa")},
                                                {96, text_event("per")}})});
    EXPECT_EQ(lyrics_of(karaoke), (std::vector<Lyric>{{48, 0, "\\Pa"}, {96, 0, "per"}}));

    const MidiFile plain = read({track_chunk({{0, text_event("Copyright 2024")}, {96, text_event("verse")}})});
    EXPECT_FALSE(midi_has_lyrics(plain)) << "text events without the karaoke signature are comments";
    EXPECT_TRUE(midi_lyrics(plain).empty());

    const MidiFile both =
        read({track_chunk({{0, text_event("@KMIDI KARAOKE FILE")}, {48, text_event("Pa")}, {96, lyric("per")}})});
    EXPECT_EQ(lyrics_of(both), (std::vector<Lyric>{{96, 0, "per"}})) << "lyric events win over karaoke texts";

    const MidiFile headers_only = read({track_chunk({{0, text_event("@KMIDI KARAOKE FILE")}})});
    EXPECT_FALSE(midi_has_lyrics(headers_only));
}
