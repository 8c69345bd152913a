// The phoneme inventory and the parameter rows it plays: 52 named entries, each
// a list of up to four rows of 19 parameters, and the case-blind name matching
// that the text sequencer uses.
#pragma once

#include <cstdint>

#include "speech/speech.h"

// Parameter index within a row. Frequencies and bandwidths in Hz, levels in
// level units (70 = unity gain, 6 units per doubling), duration in steps.
enum PhonemeParam : int {
    kParamF1Freq = 0,
    kParamF1Bandwidth = 1,
    kParamF2Freq = 2,
    kParamF2Bandwidth = 3,
    kParamF3Freq = 4,
    kParamF3Bandwidth = 5,
    kParamNasalFreq = 6,
    kParamVoiceLevel = 7,
    kParamAspirationLevel = 8,
    kParamFricationLevel = 9,
    kParamBypassLevel = 10,
    kParamF1Level = 11,
    kParamF2Level = 12,
    kParamF3Level = 13,
    kParamF4Level = 14,
    kParamNasalLevel = 15,
    kParamHighLevel = 16,
    kParamDuration = 17,     // whole steps, 0..16
    kParamBlendWeight = 18,  // 2 (vowels) .. 31
};

constexpr int kPhonemeRowSlots = 4;
// Every unused slot of a row list holds this, so a segment index that steps
// past the first one still reads "end".
constexpr uint8_t kRowListEnd = 0xFF;
constexpr int32_t kPauseEntry = 51;         // " ", played for unmatched characters
constexpr int32_t kMatchedEntryCount = 51;  // entries 0..50 take part in matching

struct PhonemeEntry {
    char name[4];  // 1..3 lower-case letters, NUL padded
    uint8_t rows[kPhonemeRowSlots];
};

extern const PhonemeEntry kPhonemeEntries[kPhonemeEntryCount];
extern const float kPhonemeRows[kPhonemeRowCount][kPhonemeParamCount];

// Matches the entries 0..50 in table order against the text, letters in either
// case. Returns the first entry that matches and stores its name length, or -1
// when none does. Never reads past the text's terminating NUL.
int32_t phoneme_match(const char* text, int32_t* length);
