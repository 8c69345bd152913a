// The song a player program plays: the one appended to its own file (by
// `cantilena-tool export`), else the one it was built with. The appended
// bytes are untrusted: they are checked completely before anything plays them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sequencer/song_trailer.h"

// The song a player was built with (size 0: none, as for the player export carries).
struct CarriedSong {
    const uint8_t* image;
    size_t size;
    const char* title;
};

struct PlayerSong {
    const uint8_t* image;
    size_t size;
    const char* what;  // "embedded song" or "appended song"
    const char* title;
    uint32_t end_frames;  // where playback ends
    char appended_title[kTrailerTitleBytes];
};

// The player's own file.
extern const char kOwnProgramPath[];

// Looks at the program file at path for an appended song. Returns true and
// fills song, or false with a one-line message in error: the appended song
// is damaged (what and where), or there is no song at all.
bool own_song_find(const char* path, const CarriedSong& carried, PlayerSong& song, char* error, size_t error_size);
