#include "plugin/plugin_song.h"

#include <algorithm>
#include <exception>

#include "data/embedded_song.h"
#include "tools/song_compile.h"
#include "tools/song_reader.h"
#include "tools/song_writer.h"
#include "tools/song_yaml.h"

namespace {

constexpr size_t kPrograms = 128;
constexpr const char* kEmbeddedName = "the embedded song";

std::unique_ptr<PluginSong> song_from_image(std::vector<uint8_t> image, const std::string& path,
                                            const ImportOptions& import)
{
    auto song = std::make_unique<PluginSong>();
    song->path = path;
    song->image = std::move(image);
    song->tables = SongTables{};
    song_load(song->image.data(), song->tables);
    std::copy(import.channels.begin(), import.channels.end(), song->routes.begin());
    return song;
}

}  // namespace

std::unique_ptr<PluginSong> plugin_song_embedded()
{
    SongData song = song_read_image(kEmbeddedSong, kEmbeddedSongSize, kEmbeddedName);
    // The same patches for the programs the song maps, the first patch for
    // every other program up to 127.
    const PatchBankContents bank = song_read_patch_bank(song.patch_bank, kEmbeddedName);
    std::vector<int> program_patch(std::max(kPrograms, bank.program_offsets.size()), -1);
    for (size_t p = 0; p < bank.program_offsets.size(); ++p) {
        const auto at = std::find(bank.patch_offsets.begin(), bank.patch_offsets.end(), bank.program_offsets[p]);
        program_patch[p] = static_cast<int>(at - bank.patch_offsets.begin());
    }
    SongData sounds;
    sounds.global_block = std::move(song.global_block);
    sounds.patch_bank = song_build_patch_bank(bank.patches, program_patch);
    sounds.speech_size_word = song.speech_size_word;
    sounds.speech_block = std::move(song.speech_block);
    return song_from_image(song_write_image(sounds), "", midi_import_default_options());
}

SongAttempt plugin_song_load(const std::string& song_yaml)
{
    SongAttempt attempt;
    const FileReader watched = file_reader_stamping(attempt.files);
    try {
        const SongDescription desc = song_yaml_read(song_yaml, watched, attempt.warnings);
        attempt.song = song_from_image(song_compile_sounds(desc), song_yaml, desc.import);
    } catch (const std::exception& e) {
        attempt.error = e.what();
    }
    if (attempt.files.empty()) attempt.files.push_back(file_stamp(song_yaml));
    return attempt;
}
