#include "tools/lyrics.h"

#include <algorithm>
#include <climits>
#include <stdexcept>

#include "speech/phonemes.h"
#include "tools/author_common.h"

namespace {

constexpr int kCommaPause = 1;
constexpr int kStopPause = 2;
constexpr int kPauseSpaces[] = {0, 3, 6};  // spoken pauses: one space is 5 steps (44 ms)
constexpr int kMaxNumber = 999999999;
// Sung, a diphthong's nucleus sounds for about this many speech steps (104 ms
// at the default speed) at the start of its note, and the off-glide is held:
// heard through the note, the move from one to the other names the vowel,
// while a nucleus held alone is another vowel ("name" as "nem") and an
// off-glide after the note is lost in the release.
constexpr int kDiphthongNucleusSteps = 12;
// Sung, what follows a note before the next one may take about this many
// steps (70 ms at the brisk speed of two ticks a step, a thirty-second note's
// breath at 100 quarters a minute): a next note that comes while the text is
// still in the coda finds no "!" waiting, and the text falls a note behind.
constexpr int kSungCodaSteps = 12;
// Spoken, a stressed syllable's nucleus lasts about this many steps (87 ms):
// the synthesizer's short vowels (35-52 ms) beside its long consonants are
// heard as other words.
constexpr int kSpokenStressedSteps = 10;

struct Token {
    std::string text;  // the word, lower case; or the phonemes of an inline group
    std::string written;
    int line;
    bool inline_phonemes;
    int holds;
    int pause;
};

std::string where(const LyricsSource& source, int line)
{
    return source.name + ":" + std::to_string(line);
}

[[noreturn]] void fail(const LyricsSource& source, int line, const std::string& what)
{
    throw AuthorError(where(source, line), what);
}

// Curly quotes and dashes as ASCII, so that "don’t" finds "don't".
std::string plain_punctuation(const std::string& text)
{
    static const std::pair<const char*, const char*> kReplacements[] = {
        {"\xE2\x80\x98", "'"},   {"\xE2\x80\x99", "'"},   {"\xE2\x80\x9C", "\""},  {"\xE2\x80\x9D", "\""},
        {"\xE2\x80\x93", " - "}, {"\xE2\x80\x94", " - "}, {"\xE2\x80\xA6", "..."},
    };
    std::string out = text;
    for (const auto& [from, to] : kReplacements) {
        const std::string f = from;
        for (size_t at = out.find(f); at != std::string::npos; at = out.find(f, at + 1)) out.replace(at, f.size(), to);
    }
    return out;
}

bool is_letter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || static_cast<unsigned char>(c) >= 0x80;
}

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

int pause_of(char c)
{
    if (c == '.' || c == '!' || c == '?') return kStopPause;
    if (c == ',' || c == ';' || c == ':' || c == '-') return kCommaPause;
    return 0;
}

std::string lower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
    return text;
}

// Takes "+" and punctuation off the end of a token, and punctuation off its
// start.
void strip(Token& token)
{
    std::string& t = token.text;
    while (!t.empty() && !is_letter(t.back()) && !is_digit(t.back()) && t.back() != '\'' && t.back() != '}') {
        if (t.back() == '+') ++token.holds;
        token.pause = std::max(token.pause, pause_of(t.back()));
        t.pop_back();
    }
    size_t start = 0;
    while (start < t.size() && !is_letter(t[start]) && !is_digit(t[start]) && t[start] != '\'' && t[start] != '{')
        ++start;
    t.erase(0, start);
}

std::vector<Token> tokenize(const std::string& text, const LyricsSource& source)
{
    std::vector<Token> tokens;
    int line = source.first_line;
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\n') ++line;
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            ++i;
            continue;
        }
        Token token{"", "", line, false, 0, 0};
        if (c == '{') {
            const size_t close = text.find('}', i);
            if (close == std::string::npos) fail(source, line, "an inline group \"{\" without its \"}\"");
            token.text = text.substr(i + 1, close - i - 1);
            token.inline_phonemes = true;
            line += static_cast<int>(std::count(token.text.begin(), token.text.end(), '\n'));
            i = close + 1;
            size_t end = i;
            while (end < text.size() && text[end] != ' ' && text[end] != '\n' && text[end] != '\t' && text[end] != '{')
                ++end;
            Token tail{text.substr(i, end - i), "", line, false, 0, 0};
            strip(tail);
            if (!tail.text.empty()) fail(source, line, "\"" + tail.text + "\" directly after an inline group");
            token.holds = tail.holds;
            token.pause = tail.pause;
            token.written = "{" + token.text + "}";
            i = end;
        } else {
            size_t end = i;
            while (end < text.size() && text[end] != ' ' && text[end] != '\n' && text[end] != '\t' &&
                   text[end] != '\r' && text[end] != '{')
                ++end;
            token.text = text.substr(i, end - i);
            i = end;
            strip(token);
            token.written = token.text;
            token.text = lower(token.text);
            if (token.text.empty()) {
                // Punctuation standing alone belongs to the word before.
                if (!tokens.empty()) {
                    tokens.back().pause = std::max(tokens.back().pause, token.pause);
                    tokens.back().holds += token.holds;
                }
                continue;
            }
        }
        tokens.push_back(token);
    }
    return tokens;
}

const char* const kOnes[] = {"zero",     "one",     "two",     "three",     "four",     "five",    "six",
                             "seven",    "eight",   "nine",    "ten",       "eleven",   "twelve",  "thirteen",
                             "fourteen", "fifteen", "sixteen", "seventeen", "eighteen", "nineteen"};
const char* const kTens[] = {"", "", "twenty", "thirty", "forty", "fifty", "sixty", "seventy", "eighty", "ninety"};

std::string below_thousand(int n)
{
    std::string out;
    if (n >= 100) {
        out = std::string(kOnes[n / 100]) + " hundred";
        n %= 100;
        if (n == 0) return out;
        out += " ";
    }
    if (n < 20) return out + kOnes[n];
    out += kTens[n / 10];
    if (n % 10) out += std::string(" ") + kOnes[n % 10];
    return out;
}

// A pronunciation for each word, with as few changes from the first (most
// common) pronunciations as make the words take the given number of notes.
std::vector<size_t> choose(const std::vector<std::vector<int>>& syllable_counts, const std::vector<int>& holds,
                           int notes)
{
    const size_t n = syllable_counts.size();
    std::vector<size_t> chosen(n, 0);
    if (notes <= 0) return chosen;
    // cost[i][s]: fewest changes for the first i words taking s notes.
    std::vector<std::vector<int>> cost(n + 1, std::vector<int>(static_cast<size_t>(notes) + 1, INT_MAX));
    std::vector<std::vector<size_t>> pick(n + 1, std::vector<size_t>(static_cast<size_t>(notes) + 1, 0));
    cost[0][0] = 0;
    for (size_t i = 0; i < n; ++i)
        for (int s = 0; s <= notes; ++s) {
            if (cost[i][s] == INT_MAX) continue;
            for (size_t k = 0; k < syllable_counts[i].size(); ++k) {
                const int t = s + syllable_counts[i][k] + holds[i];
                if (t > notes) continue;
                const int c = cost[i][s] + (k == 0 ? 0 : 1);
                if (c < cost[i + 1][t]) {
                    cost[i + 1][t] = c;
                    pick[i + 1][t] = k;
                }
            }
        }
    if (cost[n][notes] == INT_MAX) return chosen;
    int s = notes;
    for (size_t i = n; i > 0; --i) {
        chosen[i - 1] = pick[i][s];
        s -= syllable_counts[i - 1][chosen[i - 1]] + holds[i - 1];
    }
    return chosen;
}

// The syllables of an inline group: phoneme names (with multipliers), a space
// between syllables; the first vowel of each is held.
std::vector<Syllable> inline_syllables(const Token& token, const LyricsSource& source)
{
    std::vector<Syllable> syllables;
    const std::string& text = token.text;
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == ' ' || text[i] == '\n' || text[i] == '\t') {
            ++i;
            continue;
        }
        Syllable syllable;
        bool has_nucleus = false;
        while (i < text.size() && text[i] != ' ' && text[i] != '\n' && text[i] != '\t') {
            int multiplier = 0;
            while (i < text.size() && is_digit(text[i])) multiplier = std::min(multiplier * 10 + (text[i++] - '0'), 99);
            int32_t length = 0;
            const int32_t entry = i < text.size() ? phoneme_match(text.c_str() + i, &length) : -1;
            if (entry < 0)
                fail(source, token.line,
                     "\"" + text.substr(i, 1) + "\" in " + token.written +
                         " starts no phoneme name (inline groups hold phonemes such as {hEH lOW})");
            Phone phone{lower(text.substr(i, static_cast<size_t>(length))), std::max(multiplier, 1)};
            i += static_cast<size_t>(length);
            if (!has_nucleus && phone_is_vowel(phone.name)) {
                syllable.nucleus = phone;
                has_nucleus = true;
            } else {
                (has_nucleus ? syllable.coda : syllable.onset).push_back(phone);
            }
        }
        if (!has_nucleus) {
            // No vowel: the last sound carries the note.
            syllable.nucleus = syllable.onset.back();
            syllable.onset.pop_back();
        }
        syllables.push_back(std::move(syllable));
    }
    if (syllables.empty()) fail(source, token.line, "an empty inline group {}");
    return syllables;
}

std::vector<Pronunciation> pronunciations(const Token& token, const LyricsSource& source)
{
    std::vector<Pronunciation> found = dictionary_lookup(token.text);
    if (found.empty() && token.text.size() > 1 && (token.text.front() == '\'' || token.text.back() == '\'')) {
        std::string bare = token.text;
        if (bare.front() == '\'') bare.erase(0, 1);
        if (!bare.empty() && bare.back() == '\'') bare.pop_back();
        found = dictionary_lookup(bare);
    }
    if (found.empty())
        fail(source, token.line,
             "\"" + token.written +
                 "\" is not in the pronunciation dictionary; write its "
                 "sounds inline in braces, one syllable a group, for example {hEH lOW} for \"hello\"");
    return found;
}

// Splits hyphenated words the dictionary lacks and spells out numbers.
std::vector<Token> words_of(const std::vector<Token>& tokens, const LyricsSource& source)
{
    std::vector<Token> words;
    for (const Token& token : tokens) {
        if (token.inline_phonemes) {
            words.push_back(token);
            continue;
        }
        std::string text = token.text;
        const bool grouped_number =
            std::all_of(text.begin(), text.end(), [](char c) { return is_digit(c) || c == ','; }) &&
            is_digit(text.front());
        if (grouped_number) text.erase(std::remove(text.begin(), text.end(), ','), text.end());
        std::vector<std::string> parts;
        if (std::all_of(text.begin(), text.end(), is_digit)) {
            const std::string spelled = lyrics_number_words(text);
            if (spelled.empty())
                fail(source, token.line,
                     "the number " + token.written + " is too large to spell out; write it in words");
            for (size_t at = 0; at < spelled.size();) {
                const size_t end = std::min(spelled.find(' ', at), spelled.size());
                parts.push_back(spelled.substr(at, end - at));
                at = end + 1;
            }
        } else if (std::any_of(text.begin(), text.end(), is_digit)) {
            fail(source, token.line, "\"" + token.written + "\" mixes digits with other characters; write it in words");
        } else if (text.find('-') != std::string::npos && dictionary_lookup(text).empty()) {
            for (size_t at = 0; at <= text.size();) {
                const size_t end = std::min(text.find('-', at), text.size());
                if (end > at) parts.push_back(text.substr(at, end - at));
                at = end + 1;
            }
        } else {
            parts.push_back(text);
        }
        for (size_t p = 0; p < parts.size(); ++p) {
            Token word = token;
            word.text = parts[p];
            word.written = parts.size() > 1 ? parts[p] : token.written;
            const bool last = p + 1 == parts.size();
            word.holds = last ? token.holds : 0;
            word.pause = last ? token.pause : 0;
            words.push_back(word);
        }
    }
    return words;
}

// The steps a phoneme plays: its rows' durations (a row of duration 0 takes
// one) times its multiplier.
int phone_steps(const Phone& phone)
{
    int32_t length = 0;
    const int32_t entry = phoneme_match(phone.name.c_str(), &length);
    int steps = 0;
    for (uint8_t row : kPhonemeEntries[entry].rows)
        if (row != kRowListEnd) steps += std::max(1, static_cast<int>(kPhonemeRows[row][kParamDuration]));
    return steps * phone.multiplier;
}

// The phoneme with the multiplier that makes it last about the given number
// of speech steps (never shorter than written).
Phone lasting(Phone phone, int steps)
{
    const int own = phone_steps({phone.name, 1});
    phone.multiplier = std::max(phone.multiplier, (steps + own / 2) / own);
    return phone;
}

// Sung codas made to fit between two notes: of a coda longer than
// kSungCodaSteps, what does not fit begins the next syllable where it can
// ("lanterns on" as lan-tern-zon), or is left out; the last syllable keeps
// its coda, since nothing follows it.
std::vector<SungWord> codas_fitted(std::vector<SungWord> words)
{
    std::vector<Syllable*> all;
    for (SungWord& word : words)
        for (Syllable& s : word.syllables) all.push_back(&s);
    for (size_t i = 0; i + 1 < all.size(); ++i) {
        std::vector<Phone>& coda = all[i]->coda;
        size_t kept = 0;
        for (int steps = 0; kept < coda.size(); ++kept) {
            steps += phone_steps(coda[kept]);
            if (kept > 0 && steps > kSungCodaSteps) break;
        }
        if (kept == coda.size()) continue;
        std::vector<Phone> moved(coda.begin() + static_cast<long>(kept), coda.end());
        coda.resize(kept);
        std::vector<Phone>& onset = all[i + 1]->onset;
        moved.insert(moved.end(), onset.begin(), onset.end());
        if (phones_begin_syllable(moved)) onset = moved;
    }
    return words;
}

std::string written_name(const Phone& phone)
{
    std::string name = phone.name;
    if (phone_is_vowel(name))
        for (char& c : name) c = static_cast<char>(c & ~0x20);
    return name;
}

// Phonetic text built phoneme by phoneme: a phoneme that would run into the
// one before as another name ("t" then "h" read as "th") is kept apart with
// the multiplier 1, which changes nothing else.
struct Writer {
    std::string text;
    std::string last;  // the name written last, or "" after a marker, a digit or a pause

    void phone(const Phone& p)
    {
        std::string digits = p.multiplier > 1 ? std::to_string(p.multiplier) : "";
        const std::string name = written_name(p);
        if (digits.empty() && !last.empty()) {
            const std::string joined = last + name;
            int32_t length = 0;
            phoneme_match(joined.c_str(), &length);
            if (static_cast<size_t>(length) != last.size()) digits = "1";
        }
        text += digits + name;
        last = name;
    }
    void phones(const std::vector<Phone>& list)
    {
        for (const Phone& p : list) phone(p);
    }
    void mark(const std::string& marks)
    {
        if (marks.empty()) return;
        text += marks;
        last.clear();
    }
};

}  // namespace

std::string lyrics_number_words(const std::string& digits)
{
    if (digits.empty() || digits.size() > 9 || !std::all_of(digits.begin(), digits.end(), is_digit)) return "";
    const long value = std::stol(digits);
    if (value > kMaxNumber) return "";
    if (value < 1000) return below_thousand(static_cast<int>(value));
    std::string out;
    const int millions = static_cast<int>(value / 1000000);
    const int thousands = static_cast<int>(value / 1000 % 1000);
    const int rest = static_cast<int>(value % 1000);
    if (millions) out += below_thousand(millions) + " million";
    if (thousands) out += (out.empty() ? "" : " ") + below_thousand(thousands) + " thousand";
    if (rest) out += (out.empty() ? "" : " ") + below_thousand(rest);
    return out;
}

std::vector<SungWord> lyrics_read(const std::string& text, const LyricsSource& source, int notes)
{
    const std::vector<Token> words = words_of(tokenize(plain_punctuation(text), source), source);
    std::vector<std::vector<Pronunciation>> found(words.size());
    std::vector<std::vector<int>> counts(words.size());
    std::vector<int> holds;
    for (size_t i = 0; i < words.size(); ++i) {
        holds.push_back(words[i].holds);
        if (words[i].inline_phonemes) {
            counts[i].push_back(static_cast<int>(inline_syllables(words[i], source).size()));
            continue;
        }
        found[i] = pronunciations(words[i], source);
        for (const Pronunciation& p : found[i]) counts[i].push_back(pronunciation_syllable_count(p));
    }
    const std::vector<size_t> chosen = choose(counts, holds, notes);
    std::vector<SungWord> out;
    for (size_t i = 0; i < words.size(); ++i) {
        SungWord word;
        word.text = words[i].written;
        word.line = words[i].line;
        word.holds = words[i].holds;
        word.pause = words[i].pause;
        word.syllables = words[i].inline_phonemes ? inline_syllables(words[i], source)
                                                  : syllables_from_pronunciation(found[i][chosen[i]]);
        out.push_back(std::move(word));
    }
    return out;
}

std::string lyrics_write(const std::vector<SungWord>& words, LyricsStyle style)
{
    Writer w;
    if (style == LyricsStyle::spoken) {
        w.mark("!");
        for (const SungWord& word : words) {
            for (const Syllable& s : word.syllables) {
                w.phones(s.onset);
                w.phone(s.stressed ? lasting(s.nucleus, kSpokenStressedSteps) : s.nucleus);
                w.phones(s.glide);
                w.phones(s.coda);
            }
            w.mark(std::string(static_cast<size_t>(kPauseSpaces[word.pause]), ' '));
        }
        w.mark(" _");
        return w.text;
    }
    for (const SungWord& word : codas_fitted(words)) {
        for (size_t i = 0; i < word.syllables.size(); ++i) {
            const Syllable& s = word.syllables[i];
            w.mark("!");
            w.phones(s.onset);
            Phone nucleus = s.nucleus;
            nucleus.multiplier = 1;  // held: its length is the note's
            w.phone(s.glide.empty() ? nucleus : lasting(nucleus, kDiphthongNucleusSteps));
            w.phones(s.glide);
            w.mark("_");
            const int holds = s.holds + (i + 1 == word.syllables.size() ? word.holds : 0);
            for (int h = 0; h < holds; ++h) w.mark("!_");
            w.phones(s.coda);
        }
    }
    return w.text;
}

std::string lyrics_to_phonetic(const std::string& text, LyricsStyle style, const LyricsSource& source, int notes)
{
    return lyrics_write(lyrics_read(text, source, notes), style);
}
