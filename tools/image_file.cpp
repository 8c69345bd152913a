#include "tools/image_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "data/embedded_song.h"
#include "sequencer/song.h"

bool image_file_read(const std::string& path, std::vector<uint8_t>& bytes, std::string& error)
{
    bytes.clear();
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    uint8_t chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
    const bool failed = std::ferror(file) != 0;
    const int saved = errno;
    std::fclose(file);
    if (failed) {
        error = path + ": " + std::strerror(saved);
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
