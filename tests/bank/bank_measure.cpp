#include "tests/bank/bank_measure.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "tools/starter_bank.h"

namespace bank_measure {
namespace {

using sound_measure::Note;
using sound_measure::PatchPlay;
using sound_measure::Sound;

constexpr double kPlayed = 2.0;         // seconds a pitched note or chord is held
constexpr double kHit = 0.1;            // seconds a drum key is held
constexpr double kEarly = 0.2;          // seconds of the strike
constexpr double kLate = 0.3;           // seconds before the note-off
constexpr double kMinimumWindow = 0.5;  // seconds of a drum hit's spectrum

const char* const kSpoken = "!AA_ ";

double db(double level)
{
    return 20.0 * std::log10(std::max(level, 1e-15));
}

PatchPlay play_of(const PatchUse& use, double length)
{
    PatchPlay play;
    play.channel = use.channel;
    play.speech_text = use.text;
    play.seconds = kOnset + length + kTail;
    return play;
}

}  // namespace

const std::vector<PatchUse>& patch_uses()
{
    static const std::vector<PatchUse> uses = {
        {"piano", {48, 52, 55, 60, 64, 67, 72, 76}, 60, kPlayed},
        {"chromatic-percussion", {60, 64, 67, 72, 76, 79, 84, 88}, 72, kPlayed},
        {"organ", {48, 52, 55, 60, 64, 67, 72, 76}, 60, kPlayed},
        {"guitar", {40, 47, 52, 55, 59, 64}, 52, kPlayed},
        {"bass", {28, 40}, 36, kPlayed},
        {"strings", {48, 55, 60, 64, 67, 72, 76, 79}, 60, kPlayed},
        {"ensemble", {48, 55, 60, 64, 67, 72, 76, 79}, 60, kPlayed},
        {"brass", {48, 55, 60, 64, 67, 72}, 60, kPlayed},
        {"reed", {55, 60, 64, 67}, 60, kPlayed},
        {"pipe", {67, 72, 76, 79}, 72, kPlayed},
        {"synth-lead", {60, 64, 67, 72}, 72, kPlayed},
        {"synth-pad", {48, 55, 60, 64, 67, 72, 76, 79}, 60, kPlayed},
        {"synth-effects", {60, 64, 67, 72, 76, 79}, 72, kPlayed},
        {"ethnic", {55, 60, 64, 67}, 60, kPlayed},
        {"percussive", {60, 64, 67, 72, 76, 79}, 60, kPlayed},
        {"sound-effects", {48, 60, 72, 84}, 60, kPlayed},
        {"drum-kick", {35, 36}, 36, kHit},
        {"drum-snare", {37, 38, 39}, 38, kHit},
        {"drum-cymbals", {42, 46, 49, 51}, 46, kHit},
        {"drum-toms", {41, 45, 48, 50}, 45, kHit},
        {"drum-kit", {36, 38, 42, 49}, 38, kHit},
        {"voice", {60}, 60, kPlayed, 15, kSpoken},
    };
    return uses;
}

void PrintTo(const PatchUse& use, std::ostream* out)
{
    *out << use.name;
}

const PatchUse& patch_use(const std::string& name)
{
    for (const PatchUse& use : patch_uses())
        if (use.name == name) return use;
    throw std::out_of_range("no bank patch named " + name);
}

std::vector<uint8_t> bank_patch(const std::string& name)
{
    return starter_patch(name);
}

Sound play_chord(const std::vector<uint8_t>& patch, const PatchUse& use)
{
    PatchPlay play = play_of(use, use.hold);
    for (uint8_t key : use.chord) play.notes.push_back({kOnset, use.hold, key, 127});
    return sound_measure::play_patch(patch, play);
}

Sound play_note(const std::vector<uint8_t>& patch, const PatchUse& use, uint8_t key, uint8_t velocity, double length,
                uint8_t volume)
{
    PatchPlay play = play_of(use, length);
    play.controller7 = volume;
    play.notes.push_back({kOnset, length, key, velocity});
    return sound_measure::play_patch(patch, play);
}

Figures measure(const std::vector<uint8_t>& patch, const PatchUse& use)
{
    using namespace sound_measure;
    Figures f{};
    const Sound chord = play_chord(patch, use);
    f.chord_peak = peak(chord, 0.0, kOnset + use.hold + kTail);
    for (int i = 0; i < 3; ++i) {
        const Sound note = play_note(patch, use, use.key, kVelocities[i], kShortNote);
        f.short_peak[i] = peak(note, 0.0, kOnset + kShortNote + kTail);
        f.short_end[i] = note.voices_end < 0.0 ? -1.0 : note.voices_end - kOnset - kShortNote;
    }

    const Sound held = play_note(patch, use, use.key, kTypicalVelocity, use.hold, kTypicalVolume);
    const double off = kOnset + use.hold;
    const double window = std::max(use.hold, kMinimumWindow);
    f.rms_db = rms_db(held, kOnset, kOnset + kMinimumWindow);
    f.early_centroid = spectrum(held, kOnset, kOnset + kEarly).centroid;
    f.late_centroid = spectrum(held, std::max(kOnset, off - kLate), off).centroid;
    f.below_500 = spectrum(held, kOnset, kOnset + window).below(500.0);
    f.attack = attack_time(held, kOnset, off);
    const std::vector<double> levels = block_levels(held, kOnset, off);
    const double largest = levels.empty() ? 0.0 : *std::max_element(levels.begin(), levels.end());
    f.held_change_db = levels.empty() ? 0.0 : db(levels.back()) - db(largest);
    f.release = release_time(held, kOnset, off);
    f.voices_end = held.voices_end < 0.0 ? -1.0 : held.voices_end - off;
    return f;
}

}  // namespace bank_measure
