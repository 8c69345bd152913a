// For tools built before any song exists (the build's own song compiler):
// they carry no song of their own.
#include "data/embedded_song.h"

const uint8_t kEmbeddedSong[1] = {0};
const size_t kEmbeddedSongSize = 0;
const char kEmbeddedSongTitle[] = "";
