// Plays a General MIDI file with the starter bank: each MIDI channel on the
// song channel of its number, its programs through their instrument family's
// patch (or SONG.yaml's own patch where it maps the program), the drum
// channel split by key into up to four song channels with a drum patch each,
// MIDI channel 16 off the speech channel when the song does not sing, and
// volume (controller 7) and expression (controller 11) combined into the one
// controller each bank patch maps to the channel volume.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/author_common.h"
#include "tools/midi_import.h"
#include "tools/song_data.h"
#include "tools/starter_bank.h"

constexpr int kModulationWheel = 1;
constexpr int kMidiVolume = 7;
constexpr int kMidiExpression = 11;
constexpr int kMidiResetControllers = 121;   // sets expression back to 127 and the modulation wheel to 0
constexpr int kVolumeController = 7;         // the song controller that carries the combined volume
constexpr int kExpressionController = 6;     // where the reading parks expression until it is combined
constexpr int kResetController = 5;          // where it parks reset-all-controllers until they are applied
constexpr uint8_t kDefaultMidiVolume = 100;  // a General MIDI channel's volume before any controller 7
constexpr uint8_t kDefaultMidiExpression = 127;

// MIDI channel c feeds song channel c; the modulation wheel feeds controller
// 1, reset-all-controllers 5, expression 6 and volume 7; nothing else.
ImportOptions gm_import_options();

// Which song channels the General MIDI rules apply to. The defaults suit a
// song read with gm_import_options().
struct GmRouting {
    std::array<int, kSongChannels> midi_channel;     // the MIDI channel (0..15) feeding each song channel, -1 none
    std::array<bool, kSongChannels> combine_volume;  // controllers 5, 6 and 7 hold reset, expression and volume
    int drum_channel = kMidiDrumChannel;             // the song channel whose notes are split by key; -1 none
    bool move_channel_16 = true;                     // song channel 15 holds MIDI channel 16 as an ordinary instrument
    GmRouting();
};

struct GmSettings {
    GmRouting routing;
    bool sings = false;  // the song has speech texts or the file lyrics: song channel 15 keeps MIDI channel 16
    // SONG.yaml's own patches and, per program, the index of its patch or -1
    // where the bank's family patch plays.
    std::vector<std::vector<uint8_t>> own_patches;
    std::array<int, 128> own_program{};
    GmSettings() { own_program.fill(-1); }
};

// Rearranges a song read with gm_import_options() (every song channel fed by
// the MIDI channel of its number) as described above, and returns the patches
// of the image's programs: every program event is renumbered to index them,
// and every channel starts with a program change at tick 0 (General MIDI
// channels start on program 0). Pitch bends, which the synthesizer does not
// play, are reported once a channel; merged drum groups and channels that
// must share a song channel are reported too.
std::vector<std::vector<uint8_t>> gm_arrange(SongData& song, const GmSettings& settings, const std::string& name,
                                             Warnings& warnings);

// The combined volume of a channel: round(volume x expression / 127), as a
// track of controller values with one at tick 0.
std::vector<ValueEvent> gm_combined_volume(const std::vector<ValueEvent>& volume,
                                           const std::vector<ValueEvent>& expression);
