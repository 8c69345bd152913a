#include <gtest/gtest.h>

#include "speech/phonemes.h"
#include "tests/tools/authoring_test_support.h"
#include "tools/dictionary.h"
#include "tools/lyrics.h"

using namespace authoring_test;

namespace {

std::string sung(const std::string& text, int notes = 0)
{
    return lyrics_to_phonetic(text, LyricsStyle::sung, {"SONG.yaml", 1}, notes);
}

std::string spoken(const std::string& text)
{
    return lyrics_to_phonetic(text, LyricsStyle::spoken, {"SONG.yaml", 1});
}

// The phonemes the speech synthesizer reads from a text, by its own matcher:
// markers, digits and pauses skipped.
std::vector<std::string> parsed_phonemes(const std::string& text)
{
    std::vector<std::string> names;
    for (size_t i = 0; i < text.size();) {
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
        int32_t length = 0;
        const int32_t entry = i < text.size() ? phoneme_match(text.c_str() + i, &length) : -1;
        if (entry < 0) {
            ++i;
            continue;
        }
        names.push_back(kPhonemeEntries[entry].name);
        i += static_cast<size_t>(length);
    }
    return names;
}

std::vector<std::string> intended_phonemes(const std::vector<SungWord>& words)
{
    std::vector<std::string> names;
    for (const SungWord& word : words)
        for (const Syllable& s : word.syllables) {
            for (const Phone& p : s.onset) names.push_back(p.name);
            names.push_back(s.nucleus.name);
            for (const Phone& p : s.glide) names.push_back(p.name);
            for (const Phone& p : s.coda) names.push_back(p.name);
        }
    return names;
}

}  // namespace

TEST(Lyrics, WordsBecomeOneSyllableANoteWithTheNucleusHeld)
{
    struct Case {
        const char* text;
        const char* sung;
        const char* what;
    };
    const Case cases[] = {
        {"water", "!wAO_!tER_", "a syllable a note, the vowel held until the note ends"},
        {"lanterns", "!lAE_n!tER_nz", "maximal onset: \"nt\" begins no word, so the n closes the first syllable"},
        {"extra", "!EH_k!strAX_", "maximal onset: \"str\" begins the second syllable"},
        {"boy", "!bAO_IH", "a diphthong holds its nucleus and sings its off-glide after the note"},
        {"light", "!lAA_IHt", "the off-glide comes before the coda"},
        {"able", "!EH_IH!bLL_", "the unstressed -le is a syllabic dark l"},
        {"brother", "!brAA_!vER_", "a stressed \"uh\" sung as \"aa\", \"dh\" as \"v\""},
        {"jump", "!chAA_mp", "a word-initial \"j\" is sung as \"ch\""},
        {"home+", "!hOH_!_UHm", "each + holds the last syllable over one more note"},
        {"river+ +", "!rIH_!vER_!_!_", "a + standing alone belongs to the word before"},
        {"Home, home.", "!hOH_UHm!hOH_UHm", "sung, punctuation changes nothing"},
        {"don\xE2\x80\x99t", "!dOH_UHnt", "a curly apostrophe is an apostrophe"},
        {"{hEH lOW}+", "!hEH_!lOW_!_", "inline phonemes: a group a syllable, its first vowel held"},
    };
    for (const Case& c : cases) EXPECT_EQ(sung(c.text), c.sung) << c.text << ": " << c.what;
}

TEST(Lyrics, SpokenTextWaitsForItsNoteSaysTheWordsAndHoldsSilence)
{
    EXPECT_EQ(spoken("hand"), "!h2AEnd _") << "a stressed lax vowel is doubled";
    EXPECT_EQ(spoken("home, home."), "!hOHUHm   hOHUHm       _") << "a comma pauses, a full stop longer";
    EXPECT_EQ(spoken("that house"), "!v2AEt1hAHUHs _") << "t and h are kept apart: \"th\" is another phoneme";
}

TEST(Lyrics, NumbersAreSpelledOutOrRefused)
{
    EXPECT_EQ(lyrics_number_words("0"), "zero");
    EXPECT_EQ(lyrics_number_words("115"), "one hundred fifteen");
    EXPECT_EQ(lyrics_number_words("2024"), "two thousand twenty four");
    EXPECT_EQ(lyrics_number_words("3000042"), "three million forty two");
    EXPECT_EQ(lyrics_number_words("1000000000"), "");
    EXPECT_EQ(sung("42 lights"), sung("forty two lights"));
    EXPECT_EQ(sung("1,000"), sung("one thousand"));
    EXPECT_EQ(error_of([] { sung("3.5"); }),
              "SONG.yaml:1: \"3.5\" mixes digits with other characters; write it in words");
    EXPECT_EQ(error_of([] { sung("1234567890"); }),
              "SONG.yaml:1: the number 1234567890 is too large to spell out; write it in words");
}

TEST(Lyrics, ErrorsNameTheLineAndTheWay)
{
    const std::string text = "carry us home\nover the glimmerous water";
    EXPECT_EQ(error_of([&] { lyrics_read(text, {"SONG.yaml", 40}); }),
              "SONG.yaml:41: \"glimmerous\" is not in the pronunciation dictionary; write its sounds inline in "
              "braces, one syllable a group, for example {hEH lOW} for \"hello\"");
    EXPECT_EQ(error_of([] { sung("{hEH lOW"); }), "SONG.yaml:1: an inline group \"{\" without its \"}\"");
    EXPECT_EQ(error_of([] { sung("{hEH xOW}"); }),
              "SONG.yaml:1: \"x\" in {hEH xOW} starts no phoneme name (inline groups hold phonemes such as {hEH lOW})");
}

TEST(Lyrics, ThePronunciationThatFitsTheNotesIsTaken)
{
    EXPECT_EQ(sung("every light"), "!EH_!vER_!IY_!lAA_IHt") << "without notes, the most common pronunciation";
    EXPECT_EQ(sung("every light", 3), "!EH_v!rIY_!lAA_IHt") << "three notes: the two-syllable \"every\"";
    EXPECT_EQ(sung("every light", 7), sung("every light")) << "nothing fits: the most common pronunciations";
    EXPECT_EQ(sung("river-water"), sung("river water")) << "a compound the dictionary lacks is read word by word";
}

TEST(Lyrics, EveryTextParsesBackIntoTheIntendedPhonemes)
{
    // Junctions where two names could run together: t+h, n+g, s+h, d+h, l+l,
    // z+h, w+h; within words and across them, sung and spoken.
    const char* const texts[] = {
        "that house", "in going", "this shop", "adhere", "still life", "his hat", "how hard", "bad hat",
        "sing gold", "paper lanterns on the river carry all we could not say",
        "rise little lights over the water and remember the way back home", "{hEH lOW} jump boy able",
    };
    for (const char* text : texts) {
        const std::vector<SungWord> words = lyrics_read(text, {"SONG.yaml", 1});
        for (LyricsStyle style : {LyricsStyle::sung, LyricsStyle::spoken})
            EXPECT_EQ(parsed_phonemes(lyrics_write(words, style)), intended_phonemes(words)) << text;
    }
}

TEST(Dictionary, TheTableHoldsTheWholeDictionaryInItsOrder)
{
    EXPECT_GT(dictionary_size(), 120000u);
    const std::vector<Pronunciation> every = dictionary_lookup("every");
    ASSERT_EQ(every.size(), 2u);
    EXPECT_EQ(every[0], (Pronunciation{"EH1", "V", "ER0", "IY0"}));
    EXPECT_EQ(every[1], (Pronunciation{"EH1", "V", "R", "IY0"}));
    for (const char* word : {"'bout", "a", "aardvark", "don't", "x-ray", "zebra"})
        EXPECT_FALSE(dictionary_lookup(word).empty()) << word;
    for (const char* word : {"", "Every", "glimmerous", "zzzzzzzz", "aaaaaaab"})
        EXPECT_TRUE(dictionary_lookup(word).empty()) << word;
}
