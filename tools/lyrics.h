// Lyrics in plain English to the phonetic text the voice on channel 15 sings.
//
// Words are looked up in the pronunciation dictionary and split into
// syllables (tools/syllables.h). Sung, every syllable takes one note: "!"
// waits for the note, the nucleus is held until the note ends ("_"), and the
// off-glide and the coda follow in the note's release. A "+" after a word
// holds its last syllable over one more note, once per "+". Spoken, the text
// waits for one note, says the words at the speech speed without holds and
// then holds silence until the note ends, so that it does not start again
// while the note sounds. Commas and full stops are pauses when spoken.
// Numbers are spelled out; phonemes may be written inline in braces, one
// syllable per group: "{hEH lOW}".
#pragma once

#include <string>
#include <vector>

#include "tools/syllables.h"

enum class LyricsStyle { sung, spoken };

struct LyricsSource {
    std::string name;    // the file (or "lyrics") for messages
    int first_line = 1;  // the line the text starts on
};

// One word as the voice sings it: its syllables (pronunciation chosen) and
// the extra notes its last syllable is held over.
struct SungWord {
    std::string text;  // as written, for messages and for the reader
    int line = 1;
    std::vector<Syllable> syllables;
    int holds = 0;  // one per "+"
    int pause = 0;  // pauses after the word when spoken: 1 a comma, 2 a full stop
    int notes() const { return static_cast<int>(syllables.size()) + holds; }
};

// Reads the text. When notes is above 0, the pronunciations (of words that
// have several) are chosen so that the words take that many notes, where a
// choice does. Throws AuthorError naming the line of an unknown word or a
// number that cannot be spelled out.
std::vector<SungWord> lyrics_read(const std::string& text, const LyricsSource& source, int notes = 0);

// The phonetic text of the words.
std::string lyrics_write(const std::vector<SungWord>& words, LyricsStyle style);

// Both steps.
std::string lyrics_to_phonetic(const std::string& text, LyricsStyle style, const LyricsSource& source, int notes = 0);

// The words of a whole number, 0 .. 999999999 ("one hundred twenty three");
// empty when it is out of that range.
std::string lyrics_number_words(const std::string& digits);
