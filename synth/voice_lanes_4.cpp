// Voices in 4 lanes (SSE2, which every x86-64 machine has); this source alone is built for that set.
#include "synth/voice_lanes_kernel.h"

void voice_lanes_render_4(SynthEngine& engine, const int* voices, int count, int n, VoiceLaneScratch& scratch)
{
    voice_lanes_render<4>(engine, voices, count, n, scratch);
}
