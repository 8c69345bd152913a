#include "tools/midi_song.h"

#include <algorithm>

#include "sequencer/song.h"
#include "tools/general_midi.h"
#include "tools/midi_file.h"
#include "tools/midi_lyrics.h"
#include "tools/song_lyrics.h"
#include "tools/song_writer.h"
#include "tools/starter_bank.h"

bool is_midi_file(const std::vector<uint8_t>& bytes)
{
    static constexpr uint8_t kMagic[] = {'M', 'T', 'h', 'd'};
    return bytes.size() >= sizeof kMagic && std::equal(kMagic, kMagic + sizeof kMagic, bytes.begin());
}

std::vector<uint8_t> song_compile_midi(const std::string& path, const FileReader& read, Warnings& warnings)
{
    const std::vector<uint8_t> bytes = read(path);
    const MidiFile midi = midi_read(bytes.data(), bytes.size(), path, warnings);
    SongData song = midi_import(midi, gm_import_options(), path, warnings);
    if (std::all_of(song.channels.begin(), song.channels.end(), [](const ChannelEvents& c) { return c.notes.empty(); }))
        warnings.add(path, "the song has no notes");
    GmSettings settings;
    settings.sings = midi_has_lyrics(midi);
    const std::vector<std::vector<uint8_t>> patches = gm_arrange(song, settings, path, warnings);
    std::vector<int> programs(patches.size());
    for (size_t p = 0; p < programs.size(); ++p) programs[p] = static_cast<int>(p);
    song.patch_bank = song_build_patch_bank(patches, programs);
    song.global_block = starter_globals();
    const std::string sung = song_lyrics_from_midi(midi, path, warnings);
    if (!sung.empty()) {
        song.speech_block = song_build_speech_block({sung});
        song.speech_size_word = static_cast<uint32_t>(song.speech_block.size());
        song_check_sung_notes(song, {sung}, path, warnings);
    }
    std::vector<uint8_t> image;
    try {
        image = song_write_image(song);
    } catch (const AuthorError& e) {
        throw AuthorError(path, e.what_wrong);
    }
    SongError fault{};
    if (!song_validate(image.data(), image.size(), fault))
        throw AuthorError(path, "the compiled image fails the song loader's check at byte " + std::to_string(fault.offset) +
                                    ": " + fault.message);
    return image;
}
