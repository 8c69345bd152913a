// The player program: plays the song image it is given on the default sound
// device until Esc, a stop signal or the stop point at 198 seconds.
#pragma once

#include <cstdint>

// The title of the song the player carries, quoted, as the banner prints it.
extern const char kSongName[];

// The whole program: returns the process exit status (0 played or stopped,
// 1 no sound output or the output was lost, 2 a usage error).
int cantilena_main(int argc, char** argv, const uint8_t* song_image);
