// The song the player carries, as the bytes of a song image.
#pragma once

#include <cstddef>
#include <cstdint>

extern const uint8_t kEmbeddedSong[];
extern const size_t kEmbeddedSongSize;
// The song's title as the banner shows it (from SONG.yaml's title: key).
extern const char kEmbeddedSongTitle[];
