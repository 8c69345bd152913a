// The compact pronunciation table (data/dictionary/english.dict), linked in
// as it stands.
#pragma once

#include <cstdint>

extern "C" const uint8_t kEnglishDictionary[];
extern "C" const uint8_t kEnglishDictionaryEnd[];
