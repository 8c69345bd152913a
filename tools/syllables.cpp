#include "tools/syllables.h"

#include <algorithm>
#include <set>
#include <stdexcept>

namespace {

struct VowelRule {
    const char* arpabet;
    const char* nucleus;  // the first part of a diphthong, or the vowel
    const char* glide;    // the off-glide of a diphthong, or ""
};

// Diphthongs are split into two single vowels, so that the writer can time
// the nucleus (the synthesizer's own diphthongs give it a fixed 52 ms). The
// nuclei are the single vowels whose formants lie closest to the diphthongs'
// first parts.
const VowelRule kVowels[] = {
    {"AA", "aa", ""},   {"AE", "ae", ""},   {"AH", "ah", ""},   {"AO", "ao", ""},   {"AW", "ah", "uh"},
    {"AY", "aa", "ih"}, {"EH", "eh", ""},   {"ER", "er", ""},   {"EY", "eh", "ih"}, {"IH", "ih", ""},
    {"IY", "iy", ""},   {"OW", "oh", "uh"}, {"OY", "ao", "ih"}, {"UH", "uh", ""},   {"UW", "uw", ""},
};

// ARPAbet consonants and the inventory's names; "dh" is sung as "v" (the
// synthesizer's "dh" is a buzz that is heard as "z" or "d").
const std::pair<const char*, const char*> kConsonants[] = {
    {"B", "b"},   {"CH", "ch"}, {"D", "d"},   {"DH", "v"}, {"F", "f"},   {"G", "g"}, {"HH", "h"}, {"JH", "j"},
    {"K", "k"},   {"L", "l"},   {"M", "m"},   {"N", "n"},  {"NG", "ng"}, {"P", "p"}, {"R", "r"},  {"S", "s"},
    {"SH", "sh"}, {"T", "t"},   {"TH", "th"}, {"V", "v"},  {"W", "w"},   {"Y", "y"}, {"Z", "z"},  {"ZH", "zh"},
};

// Consonant runs that can start an English syllable.
const std::set<std::vector<std::string>> kOnsets = [] {
    std::set<std::vector<std::string>> onsets;
    for (const auto& [arpabet, name] : kConsonants)
        if (std::string(arpabet) != "NG") onsets.insert({arpabet});
    const char* const clusters[] = {
        "P R",  "P L",   "B R",   "B L",   "T R",   "D R",   "K R",   "K L",   "G R", "G L", "F R",
        "F L",  "TH R",  "SH R",  "S P",   "S T",   "S K",   "S M",   "S N",   "S L", "S W", "T W",
        "D W",  "K W",   "G W",   "TH W",  "P Y",   "B Y",   "K Y",   "G Y",   "M Y", "F Y", "V Y",
        "HH Y", "S P R", "S T R", "S K R", "S P L", "S K W", "S K Y", "S P Y",
    };
    for (const char* cluster : clusters) {
        std::vector<std::string> run;
        std::string text = cluster;
        for (size_t at = 0; at < text.size();) {
            const size_t end = std::min(text.find(' ', at), text.size());
            run.push_back(text.substr(at, end - at));
            at = end + 1;
        }
        onsets.insert(run);
    }
    return onsets;
}();

struct Split {
    std::string base;  // without the stress digit
    int stress;        // -1 for consonants
};

Split split(const std::string& phoneme)
{
    if (!phoneme.empty() && phoneme.back() >= '0' && phoneme.back() <= '2')
        return {phoneme.substr(0, phoneme.size() - 1), phoneme.back() - '0'};
    return {phoneme, -1};
}

const VowelRule* vowel_rule(const std::string& base)
{
    for (const VowelRule& rule : kVowels)
        if (base == rule.arpabet) return &rule;
    return nullptr;
}

std::string consonant_name(const std::string& base)
{
    for (const auto& [arpabet, name] : kConsonants)
        if (base == arpabet) return name;
    throw std::invalid_argument("not an ARPAbet phoneme: " + base);
}

}  // namespace

bool phones_begin_syllable(const std::vector<Phone>& consonants)
{
    std::vector<std::string> run;
    for (const Phone& phone : consonants) {
        const auto it = std::find_if(std::begin(kConsonants), std::end(kConsonants),
                                     [&](const auto& c) { return phone.name == c.second; });
        if (it == std::end(kConsonants)) return false;
        run.push_back(it->first);
    }
    return kOnsets.count(run) > 0;
}

bool phone_is_vowel(const std::string& name)
{
    static const std::set<std::string> vowels = {"ih", "eh", "ae", "ah", "oh", "uh", "ax", "iy", "er", "aa", "ao", "uw",
                                                 "ey", "ay", "oy", "aw", "ow", "ia", "ea", "ua", "ix", "ll", "el"};
    std::string lower = name;
    for (char& c : lower) c = static_cast<char>(c | 0x20);
    return vowels.count(lower) > 0;
}

int pronunciation_syllable_count(const Pronunciation& pronunciation)
{
    return static_cast<int>(std::count_if(pronunciation.begin(), pronunciation.end(),
                                          [](const std::string& p) { return split(p).stress >= 0; }));
}

std::vector<Syllable> syllables_from_pronunciation(const Pronunciation& pronunciation)
{
    std::vector<Split> phones;
    for (const std::string& p : pronunciation) phones.push_back(split(p));
    std::vector<size_t> vowels;
    for (size_t i = 0; i < phones.size(); ++i)
        if (phones[i].stress >= 0) vowels.push_back(i);
    if (vowels.empty()) throw std::invalid_argument("a pronunciation without a vowel");

    // Where each syllable starts: after the first vowel, at the longest legal
    // onset before each vowel.
    std::vector<size_t> starts{0};
    for (size_t v = 1; v < vowels.size(); ++v) {
        size_t start = vowels[v];
        for (size_t from = vowels[v - 1] + 1; from < vowels[v]; ++from) {
            std::vector<std::string> run;
            for (size_t i = from; i < vowels[v]; ++i) run.push_back(phones[i].base);
            if (kOnsets.count(run)) {
                start = from;
                break;
            }
        }
        starts.push_back(start);
    }
    starts.push_back(phones.size());

    std::vector<Syllable> syllables;
    for (size_t s = 0; s + 1 < starts.size(); ++s) {
        Syllable syllable;
        const size_t v = vowels[s];
        const Split& vowel = phones[v];
        const VowelRule* rule = vowel_rule(vowel.base);
        if (rule == nullptr) throw std::invalid_argument("not an ARPAbet vowel: " + vowel.base);
        syllable.stressed = vowel.stress > 0;
        for (size_t i = starts[s]; i < v; ++i) {
            std::string name = consonant_name(phones[i].base);
            // A word-initial "j" is heard better as "ch".
            if (i == 0 && name == "j") name = "ch";
            syllable.onset.push_back({name});
        }
        for (size_t i = v + 1; i < starts[s + 1]; ++i) syllable.coda.push_back({consonant_name(phones[i].base)});

        const bool syllabic_l = vowel.base == "AH" && vowel.stress == 0 && !syllable.onset.empty() &&
                                !syllable.coda.empty() && syllable.coda.front().name == "l";
        if (syllabic_l) {
            // The unstressed "-le" of "able": a dark l carries the note.
            syllable.nucleus = {"ll"};
            syllable.coda.erase(syllable.coda.begin());
        } else if (vowel.base == "AH" && !syllable.stressed) {
            syllable.nucleus = {"ax"};  // the neutral vowel of "away"
        } else {
            syllable.nucleus = {rule->nucleus};
            if (*rule->glide) syllable.glide.push_back({rule->glide});
        }
        syllables.push_back(std::move(syllable));
    }
    return syllables;
}
