// From a dictionary pronunciation to the syllables the voice sings, in the
// speech synthesizer's own phonemes.
//
// Syllables are split by the maximal-onset rule: of the consonants between
// two vowels, the longest run that can begin an English word starts the next
// syllable. Each syllable then becomes an onset, one nucleus, an off-glide
// (the second half of a diphthong) and a coda. The substitutions that make the synthesizer
// understood are made here too; see syllables.cpp.
#pragma once

#include <string>
#include <vector>

#include "tools/dictionary.h"

struct Phone {
    std::string name;    // a name of the phoneme inventory, lower case
    int multiplier = 1;  // duration multiplier (written as a digit when above 1)
};

struct Syllable {
    std::vector<Phone> onset;
    Phone nucleus;
    std::vector<Phone> glide;  // off-glide of a diphthong
    std::vector<Phone> coda;
    bool stressed = false;
    int holds = 0;  // sung: the notes it is held over after its own
};

// Throws std::invalid_argument for a phoneme that is no ARPAbet name.
std::vector<Syllable> syllables_from_pronunciation(const Pronunciation& pronunciation);

// The number of vowels of a pronunciation: its syllables.
int pronunciation_syllable_count(const Pronunciation& pronunciation);

// Whether the consonants (inventory names) can begin an English syllable.
bool phones_begin_syllable(const std::vector<Phone>& consonants);

// Whether a phoneme of the inventory can carry a held note (vowels, and the
// syllabic l).
bool phone_is_vowel(const std::string& name);
