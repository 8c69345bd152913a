#include "tools/image_file.h"

#include "data/embedded_song.h"
#include "sequencer/song.h"
#include "sequencer/song_end.h"
#include "sequencer/song_trailer.h"
#include "tools/author_common.h"

namespace {

std::string fault_text(const std::string& name, const SongError& fault)
{
    return name + ": byte " + std::to_string(fault.offset) + ": " + fault.message;
}

// A program's appended song replaces the file's bytes with the image alone.
bool take_appended_song(const std::string& path, uint64_t extent, SongImageFile& image, std::string& error)
{
    if (extent >= image.bytes.size()) {
        error = path + ": a program without an appended song";
        return false;
    }
    AppendedSong song{};
    SongError fault{};
    const size_t appended_size = image.bytes.size() - extent;
    if (!song_appended_check(image.bytes.data() + extent, appended_size, song, fault)) {
        error = fault_text(path + ": appended song", fault);
        return false;
    }
    image.what = "appended song";
    image.has_title = true;
    image.title = song.title;
    image.end_frames = song.end_frames;
    image.bytes = std::vector<uint8_t>(song.image, song.image + song.image_size);
    song_appended_release(song);
    return true;
}

}  // namespace

bool image_file_read(const std::string& path, std::vector<uint8_t>& bytes, std::string& error)
{
    bytes.clear();
    try {
        bytes = file_read_all(path, kImageFileLimit);
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
        image.what = image.name;
        image.bytes.assign(kEmbeddedSong, kEmbeddedSong + kEmbeddedSongSize);
        image.has_title = true;
        image.title = kEmbeddedSongTitle;
        image.end_frames = kPlayerStopSeconds * kSampleRate;
    } else {
        image.name = path;
        image.what = path;
        if (!image_file_read(path, image.bytes, error)) return false;
        uint64_t extent = 0;
        const size_t head = std::min(image.bytes.size(), kProgramHeadBytes);
        if (program_extent(image.bytes.data(), head, extent)) return take_appended_song(path, extent, image, error);
    }
    SongError fault;
    if (!song_validate(image.bytes.data(), image.bytes.size(), fault)) {
        error = fault_text(image.name, fault);
        return false;
    }
    return true;
}
