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

TEST(Lyrics, WordsBecomeOneSyllableANoteWithTheVowelHeld)
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
        {"boy", "!bAOIH_", "a diphthong: its nucleus at the note's start, the off-glide held"},
        {"name", "!n3EHIH_m", "a short nucleus is stretched to about 12 steps before its glide"},
        {"light", "!lAAIH_t", "a long nucleus is not; the coda follows the note"},
        {"able", "!3EHIH_!bLL_", "the unstressed -le is a syllabic dark l"},
        {"brother", "!brAH_!vER_", "\"dh\" sung as \"v\""},
        {"jump", "!chAH_mp", "a word-initial \"j\" is sung as \"ch\""},
        {"about", "!AX_!b2AHUH_t", "an unstressed \"ah\" is the neutral vowel"},
        {"home+", "!h2OHUH_!_m", "each + holds the last syllable over one more note"},
        {"river+ +", "!rIH_!vER_!_!_", "a + standing alone belongs to the word before"},
        {"Home, home.", "!h2OHUH_m!h2OHUH_m", "sung, punctuation changes nothing"},
        {"don\xE2\x80\x99t", "!d2OHUH_nt", "a curly apostrophe is an apostrophe"},
        {"{hEH lOW}+", "!hEH_!lOW_!_", "inline phonemes: a group a syllable, its first vowel held"},
        {"lanterns on", "!lAE_n!tER_n!zAA_n", "a coda longer than the breath begins the next syllable"},
        {"finds the sea", "!fAAIH_n!vAX_!sIY_", "or, where it cannot, is left out"},
        {"sea lanterns", "!sIY_!lAE_n!tER_nz", "the last syllable keeps its coda"},
    };
    for (const Case& c : cases) EXPECT_EQ(sung(c.text), c.sung) << c.text << ": " << c.what;
}

TEST(Lyrics, SpokenTextWaitsForItsNoteSaysTheWordsAndHoldsSilence)
{
    EXPECT_EQ(spoken("hand"), "!h2AEnd _") << "a stressed vowel lasts about 10 steps";
    EXPECT_EQ(spoken("green"), "!grIYn _") << "a long one is not stretched";
    EXPECT_EQ(spoken("name"), "!n3EHIHm _") << "of a diphthong, the nucleus is stretched";
    EXPECT_EQ(spoken("window"), "!w2IHndOHUH _") << "an unstressed vowel keeps its length";
    EXPECT_EQ(spoken("{h3EH lOW}"), "!h3EHlOW _") << "inline phonemes are spoken as written";
    EXPECT_EQ(spoken("home, home."), "!h2OHUHm   h2OHUHm       _") << "a comma pauses, a full stop longer";
    EXPECT_EQ(spoken("that house"), "!v2AEt1h2AHUHs _") << "t and h are kept apart: \"th\" is another phoneme";
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
    EXPECT_EQ(error_of([&] {
                  lyrics_read(text, {"SONG.yaml", 40});
              }),
              "SONG.yaml:41: \"glimmerous\" is not in the pronunciation dictionary; write its sounds inline in "
              "braces, one syllable a group, for example {hEH lOW} for \"hello\"");
    EXPECT_EQ(error_of([] { sung("{hEH lOW"); }), "SONG.yaml:1: an inline group \"{\" without its \"}\"");
    EXPECT_EQ(error_of([] { sung("{hEH xOW}"); }),
              "SONG.yaml:1: \"x\" in {hEH xOW} starts no phoneme name (inline groups hold phonemes such as {hEH lOW})");
}

TEST(Lyrics, ThePronunciationThatFitsTheNotesIsTaken)
{
    EXPECT_EQ(sung("every light"), "!EH_!vER_!IY_!lAAIH_t") << "without notes, the most common pronunciation";
    EXPECT_EQ(sung("every light", 3), "!EH_v!rIY_!lAAIH_t") << "three notes: the two-syllable \"every\"";
    EXPECT_EQ(sung("every light", 7), sung("every light")) << "nothing fits: the most common pronunciations";
    EXPECT_EQ(sung("river-water"), sung("river water")) << "a compound the dictionary lacks is read word by word";
}

TEST(Lyrics, EveryTextParsesBackIntoTheIntendedPhonemes)
{
    // Junctions where two names could run together: t+h, n+g, s+h, d+h, l+l,
    // z+h, w+h; within words and across them, sung and spoken.
    const char* const texts[] = {
        "that house",
        "in going",
        "this shop",
        "adhere",
        "still life",
        "his hat",
        "how hard",
        "bad hat",
        "sing gold",
        "paper lanterns on the river carry all we could not say",
        "rise little lights over the water and remember the way back home",
        "{hEH lOW} jump boy able",
    };
    for (const char* text : texts) {
        const std::vector<SungWord> words = lyrics_read(text, {"SONG.yaml", 1});
        const std::vector<std::string> intended = intended_phonemes(words);
        EXPECT_EQ(parsed_phonemes(lyrics_write(words, LyricsStyle::spoken)), intended) << text;
        // Sung, a coda too long for the breath between notes may lose
        // consonants, never a vowel, and keeps the order of the rest.
        const std::vector<std::string> sung_names = parsed_phonemes(lyrics_write(words, LyricsStyle::sung));
        size_t at = 0;
        for (const std::string& name : intended) {
            if (at < sung_names.size() && sung_names[at] == name)
                ++at;
            else
                EXPECT_FALSE(phone_is_vowel(name)) << text << ": the vowel " << name << " is lost";
        }
        EXPECT_EQ(at, sung_names.size()) << text << ": phonemes out of order";
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
