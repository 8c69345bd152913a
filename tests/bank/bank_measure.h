// How the starter bank's patches are played for measurement: each in the
// register its instruments play in, a held chord of as many notes as the
// patch has voices, short notes at three velocities and one long note; and
// the figures taken from those renders. The tests check the figures against
// what each family is known to sound like; bank_report prints them.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/sound_measure.h"

namespace bank_measure {

struct PatchUse {
    std::string name;            // the patch file's name without ".yaml"
    std::vector<uint8_t> chord;  // struck together and held; at most the patch's polyphony
    uint8_t key;                 // the single notes
    double hold;                 // seconds the long note and the chord are held
    uint8_t channel = 0;
    const char* text = nullptr;  // speech text for the voice of channel 15
};

// Names the patch in test output.
void PrintTo(const PatchUse& use, std::ostream* out);

// Every patch of the bank with the way it is played.
const std::vector<PatchUse>& patch_uses();
const PatchUse& patch_use(const std::string& name);

// The patch's bytes, as the tool carries them.
std::vector<uint8_t> bank_patch(const std::string& name);

constexpr uint8_t kVelocities[] = {1, 64, 127};
constexpr double kOnset = 0.1;       // seconds before the first note
constexpr double kShortNote = 0.15;  // seconds
constexpr double kTail = 12.0;       // seconds rendered after the last note-off
constexpr uint8_t kTypicalVelocity = 100;
constexpr uint8_t kTypicalVolume = 100;  // the combined volume of a General MIDI channel at rest

struct Figures {
    double chord_peak;      // held chord, full velocity and volume
    double short_peak[3];   // short notes at kVelocities
    double short_end[3];    // seconds from the note-off until the last voice is freed; -1 never
    double rms_db;          // long note at the typical velocity and volume, over its first 0.5 s
    double early_centroid;  // Hz, its first 0.2 s
    double late_centroid;   // Hz, its last 0.3 held seconds
    double below_500;       // share of its power below 500 Hz while held
    double attack;          // seconds to half its largest level
    double held_change_db;  // level at the end of the hold against the largest level
    double release;         // seconds from the note-off to 60 dB below the held maximum
    double voices_end;      // seconds from the note-off until the voice is freed; -1 never
};

sound_measure::Sound play_chord(const std::vector<uint8_t>& patch, const PatchUse& use);
sound_measure::Sound play_note(const std::vector<uint8_t>& patch, const PatchUse& use, uint8_t key, uint8_t velocity,
                               double length, uint8_t volume = 127);
Figures measure(const std::vector<uint8_t>& patch, const PatchUse& use);

}  // namespace bank_measure
