#include <gtest/gtest.h>

#include "tests/tools/authoring_test_support.h"
#include "tools/lyrics.h"
#include "tools/midi_song.h"
#include "tools/song_compile.h"
#include "tools/song_lyrics.h"
#include "tools/song_reader.h"

using namespace authoring_test;

namespace {

constexpr uint8_t kVoiceNoteOn = 0x9F;  // MIDI channel 16
constexpr uint8_t kVoiceController = 0xBF;
constexpr uint64_t kEighth = 48;  // at 96 ticks a quarter

std::vector<uint8_t> lyric(const std::string& text, uint8_t type = 0x05)
{
    return meta_text_bytes(type, text);
}

// Channel 16 plays an eighth note on every tick given; a track of its own
// holds the lyrics, each at its tick.
std::vector<uint8_t> sung_file(const std::vector<uint64_t>& notes,
                               const std::vector<std::pair<uint64_t, std::vector<uint8_t>>>& lyrics,
                               const std::vector<TimedBytes>& extra = {})
{
    std::vector<TimedBytes> voice = extra;
    for (uint64_t tick : notes) {
        voice.push_back({tick, {kVoiceNoteOn, 69, 100}});
        voice.push_back({tick + kEighth - 8, {kVoiceNoteOn, 69, 0}});
    }
    std::stable_sort(voice.begin(), voice.end(),
                     [](const TimedBytes& a, const TimedBytes& b) { return a.tick < b.tick; });
    std::vector<TimedBytes> words;
    for (const auto& [tick, bytes] : lyrics) words.push_back({tick, bytes});
    return midi_bytes(1, 96, {track_chunk(words), track_chunk(voice)});
}

std::vector<uint64_t> eighths(int count, uint64_t from = 0)
{
    std::vector<uint64_t> ticks;
    for (int i = 0; i < count; ++i) ticks.push_back(from + static_cast<uint64_t>(i) * kEighth);
    return ticks;
}

struct Compiled {
    std::vector<std::string> texts;
    std::string warnings;
};

Compiled compile(const std::vector<uint8_t>& midi, const std::string& speech = "")
{
    MemoryFiles files;
    files.add("song.mid", midi);
    files.add("voice.yaml", simple_patch_yaml());
    files.add("SONG.yaml", "midi: song.mid\npatches: {0: voice.yaml}\n" + speech);
    Warnings warnings;
    const std::vector<uint8_t> image = song_compile("SONG.yaml", files.reader(), warnings);
    const SongData song = song_read_image(image.data(), image.size(), "song.img");
    Compiled out;
    if (song.speech_size_word != 0) out.texts = song_read_speech_texts(song.speech_block, "song.img");
    out.warnings = joined(warnings);
    return out;
}

std::string sung(const std::string& words, int notes = 0)
{
    return lyrics_to_phonetic(words, LyricsStyle::sung, {"lyrics", 1}, notes);
}

}  // namespace

TEST(SongLyrics, LyricEventsOnTheVoicesNotesBecomeTextZero)
{
    // "Pa-per lan-terns", a melisma note after "per", and the lyric track
    // apart from the notes' track.
    const Compiled c = compile(
        sung_file(eighths(5), {{0, lyric("Pa-")}, {48, lyric("per")}, {144, lyric("lan-")}, {192, lyric("terns")}}));
    ASSERT_EQ(c.texts.size(), 1u);
    EXPECT_EQ(c.texts[0], sung("paper+ lanterns"));
    EXPECT_EQ(c.warnings, "");
}

TEST(SongLyrics, KaraokeTextEventsSplitWordsAtSpacesAndLineMarks)
{
    const Compiled c = compile(sung_file(eighths(4), {{0, lyric("@KMIDI KARAOKE FILE", 0x01)},
                                                      {0, lyric("/Pa", 0x01)},
                                                      {48, lyric("per ", 0x01)},
                                                      {96, lyric("lan", 0x01)},
                                                      {144, lyric("terns", 0x01)}}));
    ASSERT_EQ(c.texts.size(), 1u);
    EXPECT_EQ(c.texts[0], sung("paper lanterns"));
}

TEST(SongLyrics, EveryNoteKeepsItsPlaceWhateverTheLyricsSay)
{
    struct Case {
        std::vector<uint64_t> notes;
        std::vector<std::pair<uint64_t, std::vector<uint8_t>>> lyrics;
        std::string text;
        const char* what;
    };
    const Case cases[] = {
        {eighths(3), {{48, lyric("home")}}, "!_" + sung("home+"), "a note before the first lyric is silent"},
        {eighths(2),
         {{0, lyric("ev-")}, {48, lyric("ery")}},
         sung("every", 2),
         "the pronunciation that fits the notes"},
        {eighths(1), {{0, lyric("every")}}, "!EH_vERIY", "syllables beyond the notes are sung after the last one"},
        {eighths(3),
         {{0, lyric("home")}, {48, lyric("-")}, {96, lyric("~")}},
         sung("home++"),
         "\"-\" and \"~\" continue the syllable before"},
        {eighths(2), {{0, lyric("the sea")}}, sung("the sea"), "an event of two words gives each a note"},
    };
    for (const Case& c : cases) EXPECT_EQ(compile(sung_file(c.notes, c.lyrics)).texts.at(0), c.text) << c.what;
}

TEST(SongLyrics, LyricsAwayFromTheNotesAndUnknownWordsAreReported)
{
    const Compiled c = compile(sung_file(eighths(1), {{0, lyric("home")}, {20, lyric("stray")}}));
    EXPECT_EQ(c.texts.at(0), sung("home"));
    EXPECT_NE(c.warnings.find("tick 20: the lyric \"stray\" stands at no note-on of MIDI channel 16; it is left out"),
              std::string::npos)
        << c.warnings;
    const std::string error = error_of([] { compile(sung_file(eighths(1), {{0, lyric("glimmerous")}})); });
    EXPECT_NE(error.find("song.mid: byte "), std::string::npos) << error;
    EXPECT_NE(error.find("tick 0: \"glimmerous\" is not in the pronunciation dictionary"), std::string::npos) << error;
}

TEST(SongLyrics, AFileWithoutLyricsOrASongWithItsOwnTextsCompilesAsBefore)
{
    EXPECT_TRUE(compile(sung_file(eighths(2), {{0, lyric("a comment", 0x01)}})).texts.empty())
        << "text events of a file that is no karaoke file are not lyrics";
    const Compiled own =
        compile(sung_file(eighths(2), {{0, lyric("home")}, {48, lyric("town")}}), "speech: [\"!hEH_!lOW_\"]\n");
    EXPECT_EQ(own.texts, std::vector<std::string>{"!hEH_!lOW_"}) << "SONG.yaml's texts come first";
    EXPECT_EQ(own.warnings, "");
}

TEST(SongLyrics, AMidiFileAloneSingsItsLyricsWithTheStarterBank)
{
    MemoryFiles files;
    files.add("song.mid", sung_file(eighths(2), {{0, lyric("Pa-")}, {48, lyric("per")}}));
    Warnings warnings;
    const std::vector<uint8_t> image = song_compile_midi("song.mid", files.reader(), warnings);
    const SongData song = song_read_image(image.data(), image.size(), "song.img");
    EXPECT_EQ(song_read_speech_texts(song.speech_block, "song.img"), std::vector<std::string>{sung("paper")});
}

TEST(SongLyrics, CompileWarnsWhereNotesAndSyllablesDoNotPairUp)
{
    const std::string two_texts = "speech: [\"!hOW_m!tAW_n\", \"!rAY_z\"]\n";
    struct Case {
        int notes;
        std::vector<TimedBytes> selections;
        const char* warning;  // "" for none
        const char* what;
    };
    const Case cases[] = {
        {2, {}, "", "a syllable a note"},
        {4, {}, "", "a text sung twice over"},
        {1,
         {},
         "song channel 15 sings text 0 to 1 note (ticks 0 to 0), but the text has 2 syllables: the last has no note",
         "a syllable without a note"},
        {3,
         {},
         "song channel 15 sings text 0 to 3 notes (ticks 0 to 96), but the text has 2 syllables: the last note starts it again",
         "a note beyond the syllables"},
        {3,
         {{96, {kVoiceController, 4, 1}}},
         "song channel 15 sings text 1 to 1 note (ticks 96 to 96)",
         "no: text 1 has one syllable"},
        {3, {{96, {kVoiceController, 4, 70}}}, "the last note starts it again", "a speed is no text selection"},
    };
    for (const Case& c : cases) {
        const std::string warnings = compile(sung_file(eighths(c.notes), {}, c.selections), two_texts).warnings;
        if (std::string(c.what).rfind("no:", 0) == 0)
            EXPECT_EQ(warnings.find(c.warning), std::string::npos) << c.what << "\n" << warnings;
        else if (*c.warning == '\0')
            EXPECT_EQ(warnings, "") << c.what;
        else
            EXPECT_NE(warnings.find(c.warning), std::string::npos) << c.what << "\n" << warnings;
    }
}

TEST(SongLyrics, SongYamlTakesTextsInWordsFittedToTheirNotes)
{
    const std::string speech =
        "speech:\n  - {lyrics: \"every light\"}\n  - {spoken: \"carry us home\"}\n  - \"!hEH_\"\n";
    const Compiled three = compile(sung_file(eighths(3), {}), speech);
    EXPECT_EQ(three.texts,
              (std::vector<std::string>{sung("every light", 3),
                                        lyrics_to_phonetic("carry us home", LyricsStyle::spoken, {"lyrics", 1}),
                                        "!hEH_"}));
    EXPECT_EQ(three.texts[0], "!EH_v!rIY_!lAAIH_t") << "three notes: ev-ery";
    EXPECT_EQ(three.warnings, "");
    EXPECT_EQ(compile(sung_file(eighths(4), {}), speech).texts[0], sung("every light", 4)) << "four notes: ev-er-y";
    EXPECT_EQ(compile(sung_file(eighths(5), {}), speech).texts[0], sung("every light")) << "nothing fits: as written";
}

TEST(SongLyrics, TextsInWordsAreCheckedWhereTheyStandAndDecompileWritesTheirPhonemes)
{
    const std::vector<uint8_t> midi = sung_file(eighths(2), {});
    EXPECT_EQ(error_of([&] { compile(midi, "speech:\n  - {lyric: \"home\"}\n"); }),
              "SONG.yaml:4:6: a speech text in words is {lyrics: \"...\"} (sung) or {spoken: \"...\"}");
    EXPECT_EQ(error_of([&] { compile(midi, "speech:\n  - {lyrics: \"home\", spoken: \"home\"}\n"); }),
              "SONG.yaml:4:5: a speech text in words is {lyrics: \"...\"} (sung) or {spoken: \"...\"}");
    EXPECT_EQ(error_of([&] { compile(midi, "speech:\n  - \"!hEH_\"\n  - {lyrics: \"glimmerous home\"}\n"); }),
              "SONG.yaml:5: \"glimmerous\" is not in the pronunciation dictionary; write its sounds inline in braces, "
              "one syllable a group, for example {hEH lOW} for \"hello\"");

    MemoryFiles files;
    files.add("song.mid", midi);
    files.add("voice.yaml", simple_patch_yaml());
    files.add("SONG.yaml", "midi: song.mid\npatches: {0: voice.yaml}\nspeech:\n  - {lyrics: \"carry home\"}\n");
    Warnings warnings;
    const std::vector<uint8_t> image = song_compile("SONG.yaml", files.reader(), warnings);
    for (const SourceFile& file : song_decompile(image, "song.img"))
        if (file.name == "SONG.yaml") {
            const std::string text(file.bytes.begin(), file.bytes.end());
            EXPECT_NE(text.find("  - \"" + sung("carry home", 2) + "\"\n"), std::string::npos) << text;
        }
}
