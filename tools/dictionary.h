// The pronunciation dictionary the tool carries: about 126,000 English words
// with their pronunciations in ARPAbet ("AH0", "L", "OW1": vowels carry a
// stress digit, 1 primary, 2 secondary, 0 none), read from the compact table
// that data/dictionary/make_table.py writes and the build links in.
#pragma once

#include <string>
#include <vector>

using Pronunciation = std::vector<std::string>;

// The pronunciations of a word (lower case, apostrophes and hyphens as
// written), most common first; empty when the dictionary lacks the word.
std::vector<Pronunciation> dictionary_lookup(const std::string& word);

// The number of words the table holds.
size_t dictionary_size();
