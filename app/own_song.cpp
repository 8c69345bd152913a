#include "app/own_song.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sequencer/song_end.h"

const char kOwnProgramPath[] = "/proc/self/exe";

namespace {

bool read_fully(int fd, uint8_t* bytes, size_t size, off_t at)
{
    while (size > 0) {
        const ssize_t n = pread(fd, bytes, size, at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        size -= static_cast<size_t>(n);
        at += n;
    }
    return true;
}

void take_carried(const CarriedSong& carried, PlayerSong& song)
{
    song.image = carried.image;
    song.size = carried.size;
    song.what = "embedded song";
    song.title = carried.title;
    song.end_frames = kPlayerStopSeconds * kSampleRate;
}

// The bytes after the program's own, or none. Returns false on a read error.
bool read_appended(int fd, uint8_t*& appended, size_t& size, char* error, size_t error_size)
{
    appended = nullptr;
    size = 0;
    struct stat status;
    uint8_t head[kProgramHeadBytes];
    if (fstat(fd, &status) != 0) return true;
    const size_t head_size = static_cast<size_t>(status.st_size) < sizeof head ? status.st_size : sizeof head;
    uint64_t extent = 0;
    if (!read_fully(fd, head, head_size, 0) || !program_extent(head, head_size, extent) ||
        extent >= static_cast<uint64_t>(status.st_size))
        return true;
    size = static_cast<size_t>(status.st_size - extent);
    if (size > kMaxAppendedImageBytes + kTrailerBytes) {
        std::snprintf(error, error_size, "appended song: %zu bytes, more than a song can take", size);
        return false;
    }
    appended = static_cast<uint8_t*>(std::malloc(size));
    if (appended == nullptr || !read_fully(fd, appended, size, static_cast<off_t>(extent))) {
        std::snprintf(error, error_size, "appended song: cannot read it (%s)", std::strerror(errno));
        return false;
    }
    return true;
}

}  // namespace

bool own_song_find(const char* path, const CarriedSong& carried, PlayerSong& song, char* error, size_t error_size)
{
    take_carried(carried, song);
    uint8_t* appended = nullptr;
    size_t size = 0;
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        const bool read = read_appended(fd, appended, size, error, error_size);
        close(fd);
        if (!read) return false;
    }
    if (appended == nullptr) {
        if (carried.size > 0) return true;
        std::snprintf(error, error_size,
                      "this player carries no song (`strip` removes a song that `cantilena-tool export` appended)");
        return false;
    }

    AppendedSong found{};
    SongError fault{};
    const bool found_song = song_appended_check(appended, size, found, fault);
    std::free(appended);
    if (!found_song) {
        std::snprintf(error, error_size, "appended song: byte %zu: %s", fault.offset, fault.message);
        return false;
    }
    song.image = found.image;  // unpacked, kept for the life of the process
    song.size = found.image_size;
    song.what = "appended song";
    std::memcpy(song.appended_title, found.title, sizeof song.appended_title);
    song.title = song.appended_title;
    song.end_frames = found.end_frames;
    return true;
}
