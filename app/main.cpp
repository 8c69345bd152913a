// cantilena: plays the song appended to its own file, else the one it carries.
#include "app/player_app.h"
#include "data/embedded_song.h"
#include "synth/voice_lanes.h"

// The player carries voices in 8 lanes (AVX2, the compact build) besides the
// scalar path: a song's voices rarely fill more, and each width costs kilobytes.
const VoiceLanesBuild* voice_lanes_builds(int& count)
{
#if defined(__x86_64__)
    static const VoiceLanesBuild kBuilds[] = {{8, voice_lanes_render_8_compact, kLaneAvx2}};
    count = 1;
    return kBuilds;
#else
    count = 0;
    return nullptr;
#endif
}

int main(int argc, char** argv)
{
    return cantilena_main(argc, argv, CarriedSong{kEmbeddedSong, kEmbeddedSongSize, kEmbeddedSongTitle});
}
