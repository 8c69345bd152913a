// Plays one patch through the engine and measures what comes out: level,
// spectrum and envelope. Used to check sounds by their properties (a bass's
// energy lies low, a pad swells slowly, every release reaches silence)
// rather than by stored samples.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "synth/constants.h"
#include "synth/param_layout.h"

namespace sound_measure {

constexpr double kFrameRate = kSampleRate;

struct Note {
    double start;   // seconds
    double length;  // seconds from note-on to note-off
    uint8_t key;
    uint8_t velocity;
};

// The global block of a dry render: reverb and global delay silent, master
// filters open (only DC removed), no master dynamics.
std::array<uint8_t, kGlobalParamCount> dry_globals();

struct PatchPlay {
    std::vector<Note> notes;
    double seconds = 4.0;       // length of the render
    uint8_t channel = 0;        // the song channel that plays the patch
    uint8_t controller7 = 127;  // set before the first note
    // Reverb and global delay silent, master filters open, no master dynamics.
    std::array<uint8_t, kGlobalParamCount> globals = dry_globals();
    uint32_t seed = 1;
    const char* speech_text = nullptr;  // text 0 of the speech channel (15); none when null
};

struct Sound {
    std::vector<float> left;
    std::vector<float> right;
    double voices_end = -1.0;  // seconds at which the last voice was freed; -1 when one is still busy
};

// Renders the patch (86 + 3 N bytes) as the only program of a bank.
Sound play_patch(const std::vector<uint8_t>& patch, const PatchPlay& play);

// The largest sample magnitude of either side in [from, to) seconds.
double peak(const Sound& sound, double from, double to);
// RMS of the mono sum (left + right) / 2 in dB relative to full scale (1.0).
double rms_db(const Sound& sound, double from, double to);

// The mono sum's RMS per engine block (128 frames) from `from` onwards.
std::vector<double> block_levels(const Sound& sound, double from, double to);

// Seconds from `onset` until the level first reaches half its largest value
// before `until`.
double attack_time(const Sound& sound, double onset, double until);
// Seconds from `release` until the level stays 60 dB below the largest
// level in [onset, release); -1 if it never does before the end.
double release_time(const Sound& sound, double onset, double release);

struct Spectrum {
    double centroid;                // Hz, power-weighted
    double below(double hz) const;  // share of the power below hz, 0..1
    double between(double lo, double hi) const { return below(hi) - below(lo); }
    // Share of the power in the strongest hundredth of the bins: near 1 for
    // a few steady partials, small for noise.
    double tonal_share() const;
    std::vector<double> power;  // per bin
    double bin_hz;
};
// Power spectrum of the mono sum over [from, to), Hann windows of 4096
// frames with half overlap, averaged.
Spectrum spectrum(const Sound& sound, double from, double to);

// The frequency of the strongest bin between lo and hi Hz.
double strongest(const Spectrum& spectrum, double lo, double hi);

}  // namespace sound_measure
