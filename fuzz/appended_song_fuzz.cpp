// Fuzzes the checks a player makes of its own file: where the program's ELF
// bytes end, and whether what follows them is an image and its trailer. Every
// appended song the check accepts must load.
#include <cstddef>
#include <cstdint>

#include "sequencer/song.h"
#include "sequencer/song_trailer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    uint64_t extent = 0;
    program_extent(data, size < kProgramHeadBytes ? size : kProgramHeadBytes, extent);

    AppendedSong song{};
    SongError error{};
    if (!song_appended_check(data, size, song, error)) return 0;
    static SongTables tables;
    if (!song_load(song.image, tables)) __builtin_trap();  // checked songs always load
    song_appended_release(song);
    return 0;
}
