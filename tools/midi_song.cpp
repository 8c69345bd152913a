#include "tools/midi_song.h"

#include <algorithm>

#include "tools/song_compile.h"
#include "tools/song_yaml.h"

bool is_midi_file(const std::vector<uint8_t>& bytes)
{
    static constexpr uint8_t kMagic[] = {'M', 'T', 'h', 'd'};
    return bytes.size() >= sizeof kMagic && std::equal(kMagic, kMagic + sizeof kMagic, bytes.begin());
}

std::vector<uint8_t> song_compile_midi(const std::string& path, const FileReader& read, Warnings& warnings)
{
    SongDescription desc = song_description_of_midi(path);
    return song_compile_description(desc, read, warnings);
}
