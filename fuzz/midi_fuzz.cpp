// Fuzzes the MIDI reader and everything a compile does with what it reads:
// import in both readings, the General MIDI arrangement with the starter
// bank, the image writer and the song loader's check of the result, and the
// MIDI writer, whose output must read back unchanged.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sequencer/song.h"
#include "synth/param_layout.h"
#include "tools/general_midi.h"
#include "tools/midi_file.h"
#include "tools/midi_import.h"
#include "tools/song_writer.h"
#include "tools/starter_bank.h"

namespace {

// One patch that every program number selects.
std::vector<uint8_t> full_bank()
{
    std::vector<uint8_t> patch(kPatchHeaderBytes, 64);
    patch[kPatchModCountOffset] = 0;
    return song_build_patch_bank({patch}, std::vector<int>(kProgramCount, 0));
}

// The events that matter, without the empty text events the writer bridges long gaps with.
std::vector<const MidiEvent*> kept(const MidiTrack& track)
{
    std::vector<const MidiEvent*> out;
    for (const MidiEvent& e : track.events)
        if (!(e.status == kMidiMeta && e.meta_type == kMetaText && e.payload.empty())) out.push_back(&e);
    return out;
}

bool same_events(const MidiFile& a, const MidiFile& b)
{
    if (a.tracks.size() != b.tracks.size()) return false;
    for (size_t t = 0; t < a.tracks.size(); ++t) {
        const auto x = kept(a.tracks[t]);
        const auto y = kept(b.tracks[t]);
        if (x.size() != y.size()) return false;
        for (size_t i = 0; i < x.size(); ++i) {
            if (x[i]->tick != y[i]->tick || x[i]->status != y[i]->status || x[i]->payload != y[i]->payload)
                return false;
            if (x[i]->status == kMidiMeta && x[i]->meta_type != y[i]->meta_type) return false;
            if (x[i]->status < 0xF0 && (x[i]->data[0] != y[i]->data[0] || x[i]->data[1] != y[i]->data[1])) return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::vector<uint8_t> bank = full_bank();
    Warnings warnings;
    MidiFile file;
    try {
        file = midi_read(data, size, "fuzz.mid", warnings);
    } catch (const AuthorError&) {
        return 0;
    }
    for (bool as_written : {false, true}) {
        ImportOptions options = midi_import_default_options();
        options.as_written = as_written;
        SongData song;
        try {
            song = midi_import(file, options, "fuzz.mid", warnings);
        } catch (const AuthorError&) {
            continue;
        }
        song.global_block.assign(22, 0);
        song.patch_bank = bank;
        const std::vector<uint8_t> image = song_write_image(song);  // an error here is a fault of the importer
        SongError fault{};
        if (!song_validate(image.data(), image.size(), fault)) __builtin_trap();
    }
    try {
        SongData song = midi_import(file, gm_import_options(), "fuzz.mid", warnings);
        const std::vector<std::vector<uint8_t>> patches = gm_arrange(song, GmSettings{}, "fuzz.mid", warnings);
        std::vector<int> programs(patches.size());
        for (size_t p = 0; p < programs.size(); ++p) programs[p] = static_cast<int>(p);
        song.global_block = starter_globals();
        song.patch_bank = song_build_patch_bank(patches, programs);
        // Splitting the drums by key may leave a group a gap too long for a track: an error, not a fault.
        const std::vector<uint8_t> image = song_write_image(song);
        SongError fault{};
        if (!song_validate(image.data(), image.size(), fault)) __builtin_trap();
    } catch (const AuthorError&) {
    }
    const std::vector<uint8_t> written = midi_write(file);
    Warnings again_warnings;
    const MidiFile again = midi_read(written.data(), written.size(), "again.mid", again_warnings);
    if (!again_warnings.lines.empty() || !same_events(file, again)) __builtin_trap();
    return 0;
}
