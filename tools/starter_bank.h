// The starter bank the tool carries, so that any MIDI file plays at once: a
// patch for each of the sixteen General MIDI instrument families (eight
// programs each), four drum patches for the groups the drum channel is split
// into (and one for a whole kit when groups must share a channel), the voice
// of the speech channel and the song-wide effects. Its sources are the files
// in data/bank/, carried as text.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

constexpr const char* kStarterBankName = "starter";
constexpr int kFamilyPrograms = 8;   // General MIDI programs per instrument family
constexpr int kMidiDrumChannel = 9;  // MIDI channel 10, counted from 0

struct BankFamily {
    const char* name;   // "chromatic percussion"
    const char* patch;  // "chromatic-percussion": the file data/bank/<patch>.yaml
};

// The family of General MIDI program p (0..127) is families()[p / 8].
std::span<const BankFamily> bank_families();

enum DrumGroup { kDrumKick, kDrumSnare, kDrumCymbals, kDrumToms, kDrumGroupCount };

struct DrumGroupInfo {
    const char* name;  // "hi-hats and cymbals"
    const char* patch;
    const char* keys;  // for listings: "42 44 46 49 51-53 55 57 59"
};

const DrumGroupInfo& drum_group_info(DrumGroup group);
// The group a General MIDI drum key belongs to; keys outside the standard
// kit go with the toms and other percussion.
DrumGroup drum_group_of_key(uint8_t key);

constexpr const char* kDrumKitPatch = "drum-kit";  // several groups on one channel
constexpr const char* kVoicePatch = "voice";       // the speech channel
constexpr const char* kBankGlobals = "globals";    // the song-wide effects

// A patch of the bank by name (kPatchHeaderBytes + 3 N bytes). Throws AuthorError for an
// unknown name.
const std::vector<uint8_t>& starter_patch(std::string_view name);
// The global block (kGlobalParamCount bytes) of a song compiled with the bank.
const std::vector<uint8_t>& starter_globals();

struct BankSourceText {
    std::string_view name;  // "piano.yaml"
    std::string_view text;
};
// Every source file of the bank, in name order.
std::vector<BankSourceText> starter_sources();

// Writes every source file into a directory, created when missing. Refuses
// (AuthorError) a directory that holds anything unless force is set; the
// files are written all or none.
void starter_write(const std::string& directory, bool force);

// What `bank --list` prints: programs to families, drum keys to groups, and
// the file of each.
std::string starter_listing();
