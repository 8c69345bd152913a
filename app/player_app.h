// The player program: plays its song on the default sound device until Esc,
// a stop signal or the song's end (198 seconds for the song it was built
// with, the end export measured for an appended one).
#pragma once

#include "app/own_song.h"

// The whole program: returns the process exit status (0 played or stopped,
// 1 no song it can play, no sound output or the output was lost, 2 a usage
// error).
int cantilena_main(int argc, char** argv, const CarriedSong& carried);
