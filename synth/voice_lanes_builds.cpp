// Every lane width the engine has, for the programs that take the engine's
// own choice (the player carries fewer: see voice_lanes.h).
#include "synth/voice_lanes.h"

const VoiceLanesBuild* voice_lanes_builds(int& count)
{
#if defined(__x86_64__)
    static const VoiceLanesBuild kBuilds[] = {
        {4, voice_lanes_render_4, kLaneSse2},
        {8, voice_lanes_render_8, kLaneAvx2},
        {16, voice_lanes_render_16, kLaneAvx512},
    };
    count = 3;
    return kBuilds;
#else
    count = 0;
    return nullptr;
#endif
}
