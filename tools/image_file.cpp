#include "tools/image_file.h"

#include "data/embedded_song.h"
#include "sequencer/song.h"
#include "tools/author_common.h"

bool image_file_read(const std::string& path, std::vector<uint8_t>& bytes, std::string& error)
{
    bytes.clear();
    try {
        bytes = file_read_all(path);
    } catch (const AuthorError& e) {
        error = e.what();
        return false;
    }
    return true;
}

bool song_image_open(const std::string& path, SongImageFile& image, std::string& error)
{
    if (path.empty()) {
        image.name = "embedded song";
        image.bytes.assign(kEmbeddedSong, kEmbeddedSong + kEmbeddedSongSize);
    } else {
        image.name = path;
        if (!image_file_read(path, image.bytes, error)) return false;
    }
    SongError fault;
    if (!song_validate(image.bytes.data(), image.bytes.size(), fault)) {
        error = image.name + ": byte " + std::to_string(fault.offset) + ": " + fault.message;
        return false;
    }
    return true;
}
