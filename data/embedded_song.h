// The song the player carries, as the bytes of a song image.
#pragma once

#include <cstddef>
#include <cstdint>

extern const uint8_t kEmbeddedSong[];
extern const size_t kEmbeddedSongSize;
